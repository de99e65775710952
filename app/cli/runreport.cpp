#include "runreport.h"

#include "filelistmodel.h"
#include "platformfiles.h"

#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cstdio>

RunReport::RunReport(const FileListModel &list, bool interactive, Write write, Clock clock)
    : m_list(list), m_interactive(interactive), m_write(std::move(write)), m_clock(std::move(clock))
{
    if (!m_write) {
        m_write = [](const QByteArray &bytes) {
            std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
            std::fflush(stderr);
        };
    }
    if (!m_clock) {
        m_clock = [] {
            using namespace std::chrono;
            return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
        };
    }
}

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
    // A stopped row got only part of the way.
    m_finished += result.kind == RowResult::Stopped ? m_running.value(row) : 1.0;
    m_running.remove(row);
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
    const QByteArray line =
        QStringLiteral("\r[%1] %2% %3\x1b[K").arg(bar).arg(percent, 3).arg(m_label.left(40)).toUtf8();
    // Only a change is drawn, and not faster than a terminal is read.
    const qint64 now = m_clock();
    if (line == m_shown || (!m_shown.isEmpty() && now - m_shownAt < kRedrawMs))
        return;
    m_write(line);
    m_shown = line;
    m_shownAt = now;
}

void RunReport::runFinished()
{
    if (!m_shown.isEmpty())
        m_write(QByteArrayLiteral("\r\x1b[K"));
    m_shown.clear();
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
