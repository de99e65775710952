#include "listfollower.h"

#include <QAbstractItemView>

void ListFollower::rowStarted(int row)
{
    if (const QAbstractItemModel *model = m_view.model())
        m_view.scrollTo(model->index(row, 0), QAbstractItemView::EnsureVisible);
}
