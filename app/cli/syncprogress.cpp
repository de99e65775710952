#include "syncprogress.h"

#include <algorithm>
#include <cstdio>

void SyncProgress::rowStarted(int row)
{
    m_running.insert(row, 0.0);
    draw(false);
}

void SyncProgress::rowProgress(int row, int done, int total)
{
    m_running.insert(row, total > 0 ? std::clamp(double(done) / total, 0.0, 1.0) : 0.0);
    draw(false);
}

void SyncProgress::rowFinished(int row, const RowResult &)
{
    m_running.remove(row);
    ++m_finished;
    draw(true);
}

void SyncProgress::runFinished()
{
    if (m_drawn)
        std::fprintf(stderr, "\r\x1b[K");
    m_drawn = false;
}

QString SyncProgress::text(int finished, int total, double done, qint64 elapsedMs)
{
    QString line = QStringLiteral("%1/%2 files").arg(finished).arg(total);
    // Too early a guess swings wildly: wait for 2% or two seconds.
    if (done > 0 && total > 0 && (done / total >= 0.02 || elapsedMs >= 2000)) {
        const qint64 left = qint64(elapsedMs / done * (total - done) / 1000 + 0.5);
        line += left >= 3600
                    ? QStringLiteral(", %1:%2:%3 left")
                          .arg(left / 3600)
                          .arg(left / 60 % 60, 2, 10, QLatin1Char('0'))
                          .arg(left % 60, 2, 10, QLatin1Char('0'))
                    : QStringLiteral(", %1:%2 left").arg(left / 60).arg(left % 60, 2, 10, QLatin1Char('0'));
    }
    return line;
}

void SyncProgress::draw(bool now)
{
    const qint64 elapsed = m_clock.elapsed();
    if (!now && elapsed - m_drawnAt < 100)
        return;
    m_drawnAt = elapsed;
    double done = m_finished;
    for (const double part : std::as_const(m_running))
        done += part;
    std::fprintf(stderr, "\r%s\x1b[K", qPrintable(text(m_finished, m_total(), done, elapsed)));
    std::fflush(stderr);
    m_drawn = true;
}
