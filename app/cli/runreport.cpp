#include "runreport.h"

#include "filelistmodel.h"
#include "platformfiles.h"

#include <QStringList>

#include <algorithm>
#include <cstdio>

void RunReport::rowStarted(int row)
{
    m_label = m_list.caption(row);
    m_running.insert(row, 0.0);
    draw();
}

void RunReport::rowProgress(int row, int done, int total)
{
    m_running.insert(row, total > 0 ? std::clamp(double(done) / total, 0.0, 1.0) : 0.0);
    draw();
}

void RunReport::rowFinished(int row, const RowResult &result)
{
    RunRecord::rowFinished(row, result);
    m_running.remove(row);
    ++m_finished;
    draw();
}

void RunReport::draw()
{
    if (!m_interactive || m_list.count() == 0)
        return;
    double done = m_finished;
    for (const double part : std::as_const(m_running))
        done += part;
    const int percent = std::clamp(int(done * 100 / m_list.count()), 0, 100);
    constexpr int width = 30;
    const int filled = percent * width / 100;
    const QString bar = QString(filled, QLatin1Char('#')) + QString(width - filled, QLatin1Char('-'));
    std::fprintf(stderr, "\r[%s] %3d%% %s\x1b[K", qPrintable(bar), percent, qPrintable(m_label.left(40)));
    std::fflush(stderr);
    m_drawn = true;
}

void RunReport::runFinished()
{
    if (m_drawn)
        std::fprintf(stderr, "\r\x1b[K");
    m_drawn = false;
}

QStringList RunReport::rowLines() const
{
    QStringList lines;
    for (int row = 0; row < m_list.count(); ++row) {
        const RowResult *done = result(row);
        lines << QStringLiteral("%1\t%2\t%3")
                     .arg(m_list.cell(row, FileListModel::Status), done ? done->output : QString(),
                          PlatformFiles::shownPath(m_list.cell(row, FileListModel::Path)));
    }
    return lines;
}

int RunReport::exitCode() const
{
    for (int row = 0; row < m_list.count(); ++row) {
        const RowResult *done = result(row);
        if (!done || !done->clean())
            return 1;
    }
    return 0;
}
