#include "sonbreldialog.h"

#include "placement.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QShowEvent>

SonbrelDialog::SonbrelDialog(QWidget *parent, Qt::WindowFlags flags) : QDialog(parent, flags) {}

int SonbrelDialog::execOver(QWidget *over)
{
    placeCentredOver(this, over);
    return exec();
}

QHBoxLayout *SonbrelDialog::okCancelRow(QPushButton *&ok, const QString &okName, QPushButton *&cancel,
                                        const QString &cancelName)
{
    ok = new QPushButton(QStringLiteral("Ok"), this);
    ok->setObjectName(okName);
    ok->setDefault(true);
    cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(cancelName);
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(ok);
    row->addWidget(cancel);
    return row;
}

void SonbrelDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    opened(!m_openedBefore);
    m_openedBefore = true;
}
