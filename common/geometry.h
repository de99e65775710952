#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// Where a window of `size` goes to sit centred over `owner` (frame
// rectangles): each half truncated toward zero.
inline QPoint centredOver(const QRect &owner, const QSize &size)
{
    return {owner.left() + (owner.width() - size.width()) / 2,
            owner.top() + (owner.height() - size.height()) / 2};
}
