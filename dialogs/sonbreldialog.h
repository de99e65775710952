#pragma once

#include <QDialog>

class QHBoxLayout;
class QPushButton;

// What the program's dialogs share: created once and reused, opened modally
// centred over a window, told when they open, and ending in an Ok/Cancel row.
class SonbrelDialog : public QDialog {
    Q_OBJECT
protected:
    SonbrelDialog(QWidget *parent, Qt::WindowFlags flags);

    // Every opening, not a restore from minimised; `first` on the first one.
    virtual void opened(bool first) = 0;
    // Modal, centred over `over`; returns the dialog's result code.
    int execOver(QWidget *over);
    // Right-aligned Ok (the default button) and Cancel, with these object names.
    QHBoxLayout *okCancelRow(QPushButton *&ok, const QString &okName, QPushButton *&cancel,
                             const QString &cancelName);

    void showEvent(QShowEvent *event) override;

private:
    bool m_openedBefore = false;
};
