#pragma once

#include "appsettings.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class ConversionRun;
class RunObserver;
struct RowResult;

// Keeps a mirror of music folders in WMA: every audio file under the inputs
// gets its output in the same relative folder under the output folder, and
// a record there (SyncRecord) lets the next sync convert only what changed,
// re-tag outputs whose sources changed only their tags and make again the
// outputs someone deleted. Files it did not make are never touched. One
// source that cannot be read is reported and the others go on.
class LibrarySync {
public:
    enum class Outcome { Converted, Retagged, UpToDate, Failed, Stopped };
    struct Report {
        Outcome outcome;
        QString source;
        QString output; // absolute; empty when there is none
        QString note;   // why it failed, or what is worth knowing
        bool planned;   // a dry run's "would be"
    };
    struct Options {
        QString outputFolder; // absolute
        int profile = 0;      // 1..47
        AppSettings held;     // fades; its output folder is ignored
        int jobs = 1;
        bool dryRun = false; // reports what would be done, writes nothing
    };
    using Listener = std::function<void(const Report &)>;

    explicit LibrarySync(Options options);

    void setListener(Listener listener) { m_listener = std::move(listener); }
    // Told about the conversions, which may come in several runs; not owned.
    void addObserver(RunObserver &observer) { m_observers << &observer; }
    // Called between steps; may call stop().
    void setPump(std::function<void()> pump) { m_pump = std::move(pump); }
    void stop();

    // 0 when every source is up to date at the end, 1 otherwise.
    int run(const QStringList &inputs);
    // Lines worth telling that belong to no source (a damaged record).
    QStringList notices() const { return m_notices; }
    // How many conversions the run has; known once planning is done.
    int conversions() const { return m_conversions; }

    static QString outcomeName(Outcome outcome, bool planned);

private:
    struct Work;
    class Session;

    void report(Outcome outcome, const QString &source, const QString &output, const QString &note = {},
                bool planned = false);
    void plan(Session &session, const QStringList &inputs, QList<Work> &work);
    bool add(Session &session, Work &item);
    void check(Session &session, Work &item);
    bool adopt(Session &session, Work &item);
    void retag(Session &session, Work &item);
    void convert(Session &session, QList<Work> &work);
    // `row`: the item's row in the list as it is now.
    void finish(Session &session, Work &item, int row, const RowResult &result);
    QString outputPath(const QString &relative) const;
    QString outputFolderOf(const Work &item) const;
    void pump();

    Options m_options;
    Listener m_listener;
    QList<RunObserver *> m_observers;
    std::function<void()> m_pump;
    QStringList m_notices;
    ConversionRun *m_run = nullptr;
    bool m_stopped = false;
    bool m_failed = false;
    int m_conversions = 0;
};
