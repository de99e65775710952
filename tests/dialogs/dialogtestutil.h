#pragma once

#include <QDir>
#include <QPushButton>
#include <QWidget>

// Both dialogs must fit their fixed sizes: every visible control lies inside
// the window and the buttons sit below everything else.
inline bool controlsFit(const QWidget &dialog, const QWidget &above, const QPushButton &ok,
                        const QPushButton &cancel)
{
    const QRect client = dialog.rect();
    for (const QWidget *w :
         {&above, static_cast<const QWidget *>(&ok), static_cast<const QWidget *>(&cancel)}) {
        if (!w->isVisible() || !client.contains(w->geometry()))
            return false;
    }
    return above.geometry().bottom() < ok.geometry().top() && !ok.geometry().intersects(cancel.geometry()) &&
           ok.geometry().width() >= ok.sizeHint().width();
}

// Screenshots for looking at the dialogs by eye: set SONBREL_GRAB_DIR.
inline void saveGrab(QWidget &dialog, const QString &name)
{
    const QString dir = qEnvironmentVariable("SONBREL_GRAB_DIR");
    if (!dir.isEmpty())
        dialog.grab().save(QDir(dir).filePath(name + QStringLiteral(".png")));
}
