#pragma once

#include "appsettings.h"
#include "audiofileinfo.h"
#include "runobserver.h"

#include <QList>
#include <QSet>
#include <QString>

#include <functional>

class FileListModel;
class ProfileFile;
class TAudioFile2;

// Converts every row of the file list into a WMA file, top row first, on the
// calling thread: pending window messages are processed between steps so
// Stop and the other commands keep working while it runs. It keeps the rows'
// states in the list and tells its observers how the run goes.
class ConversionRun {
public:
    using Pump = std::function<void()>;
    // Writes the row's tags into the output; returns why it could not, or
    // an empty text.
    using TagWriter = std::function<QString(const QString &outputPath, const AudioFileinfo &record)>;

    ConversionRun(FileListModel &list, TAudioFile2 &reader, TAudioFile2 &writer, AppSettings &held);

    void setSettings(const ProfileFile *settings) { m_settings = settings; }
    void setPump(Pump pump) { m_pump = std::move(pump); }
    void setTagWriter(TagWriter writer) { m_tagWriter = std::move(writer); }
    // Not owned; must outlive the run's use.
    void addObserver(RunObserver &observer) { m_observers << &observer; }

    // A profile number that wins over the stored one (the command line's --format).
    void setProfileOverride(int profileNumber) { m_profileOverride = profileNumber; }

    bool ConversionActive() const { return m_active; }
    // "stop" and closing the window: the run ends at its next check.
    void Stop() { m_active = false; }

    void ConvertAll();
    void SetUpEncoder();

    static constexpr int kReadFrames = 2034;

private:
    RowResult convertRow(int row, const QString &folder, QString &createdOutput);
    // Gives the finished partial file its final name, moving on to the next
    // free name while a name turns out taken; empty when none is left.
    static QString publish(const QString &partial, QString output,
                           const std::function<QString(const QString &)> &nextAfterTaken);
    void pump() const;
    void abandonRun(int currentRow, const QString &createdOutput, const QString &message);
    template <typename Event> void notify(Event event) const
    {
        for (RunObserver *observer : m_observers)
            event(*observer);
    }

    FileListModel &m_list;
    TAudioFile2 &m_reader;
    TAudioFile2 &m_writer;
    AppSettings &m_held;
    const ProfileFile *m_settings = nullptr;
    Pump m_pump;
    TagWriter m_tagWriter;
    QList<RunObserver *> m_observers;
    bool m_active = false;
    int m_profileOverride = 0;
};
