#pragma once

class QWidget;

// Moves `dialog` so that its frame sits centred over `over`'s frame. A dialog
// that has never been shown has no frame yet; it is assumed to get one as
// wide as its owner's, so the first opening lands where later ones do.
void placeCentredOver(QWidget *dialog, const QWidget *over);
