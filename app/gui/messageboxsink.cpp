#include "messageboxsink.h"

#include <QApplication>
#include <QMessageBox>

void MessageBoxSink::information(const QString &text)
{
    QMessageBox::information(QApplication::activeWindow(), QStringLiteral("Sonbrel"), text);
}

void MessageBoxSink::error(const QString &text)
{
    QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Sonbrel"), text);
}
