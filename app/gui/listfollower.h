#pragma once

#include "runobserver.h"

class QAbstractItemView;

// Keeps the row being converted in sight, so a long list follows its run.
class ListFollower : public RunObserver {
public:
    explicit ListFollower(QAbstractItemView &view) : m_view(view) {}

    void rowStarted(int row) override;

private:
    QAbstractItemView &m_view;
};
