#pragma once

#include "runobserver.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>

#include <functional>

// A sync's progress line on a terminal: files done of the total and an
// estimate of the time left, drawn at most ten times a second.
class SyncProgress : public RunObserver {
public:
    // `total` is asked at each drawing: a sync knows it once planning is done.
    explicit SyncProgress(std::function<int()> total) : m_total(std::move(total)) { m_clock.start(); }

    void rowStarted(int row) override;
    void rowProgress(int row, int done, int total) override;
    void rowFinished(int row, const RowResult &result) override;
    void runFinished() override;

    // "12/200 files, 3:05 left"; the time once enough is done to tell.
    static QString text(int finished, int total, double done, qint64 elapsedMs);

private:
    void draw(bool now);

    std::function<int()> m_total;
    int m_finished = 0;
    QHash<int, double> m_running; // rows in progress: the part done
    QElapsedTimer m_clock;
    qint64 m_drawnAt = -1000;
    bool m_drawn = false;
};
