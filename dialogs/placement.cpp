#include "placement.h"

#include "geometry.h"

#include <QWidget>

void placeCentredOver(QWidget *dialog, const QWidget *over)
{
    if (!over)
        return;
    const QRect ownerFrame = over->frameGeometry();
    QSize frameSize = dialog->frameGeometry().size();
    if (frameSize == dialog->size())
        frameSize += ownerFrame.size() - over->size();
    dialog->move(centredOver(ownerFrame, frameSize));
}
