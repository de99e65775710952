#pragma once

#include "runobserver.h"

#include <QString>

class FileListModel;

// How a command-line run shows itself: a redrawn line with the whole batch's
// progress while it runs (on a terminal only), then one line per row and the
// exit code.
class RunReport : public RunRecord {
public:
    RunReport(const FileListModel &list, bool interactive) : m_list(list), m_interactive(interactive) {}

    void rowStarted(int row) override;
    void rowProgress(int row, int done, int total) override;
    void rowFinished(int row, const RowResult &result) override;
    void runFinished() override;

    // "status<TAB>output<TAB>source" for every row, in row order.
    QStringList rowLines() const;
    // 0 when every row was converted with nothing missing, 1 otherwise.
    int exitCode() const;

private:
    void draw();

    const FileListModel &m_list;
    bool m_interactive;
    bool m_drawn = false;
    QString m_label;
    int m_finished = 0;
    QHash<int, double> m_running; // rows in progress: the part done
};
