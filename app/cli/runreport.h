#pragma once

#include "runobserver.h"

#include <QByteArray>
#include <QString>

#include <functional>

class FileListModel;

// How a command-line run shows itself: a redrawn line with the whole batch's
// progress while it runs (on a terminal only), then one line per row and the
// exit code.
class RunReport : public RunRecord {
public:
    using Write = std::function<void(const QByteArray &)>; // to the terminal
    using Clock = std::function<qint64()>;                 // milliseconds, never going back

    // Without `write` the line goes to standard error; without `clock` the
    // monotonic clock times the redraws.
    RunReport(const FileListModel &list, bool interactive, Write write = {}, Clock clock = {});

    void rowStarted(int row) override;
    void rowProgress(int row, int done, int total) override;
    void rowFinished(int row, const RowResult &result) override;
    void runFinished() override;

    // "status<TAB>output<TAB>source" for every row, in row order.
    QStringList rowLines() const;
    // 0 when every row was converted with nothing missing, 1 otherwise.
    int exitCode() const;

    // A terminal's line is redrawn at most this often.
    static constexpr qint64 kRedrawMs = 100;

private:
    void draw();

    const FileListModel &m_list;
    bool m_interactive;
    Write m_write;
    Clock m_clock;
    QByteArray m_shown; // the line on the terminal, empty when none
    qint64 m_shownAt = 0;
    QString m_label;
    double m_finished = 0;        // rows done, a stopped one counting the part it got through
    QHash<int, double> m_running; // rows in progress: the part done
};
