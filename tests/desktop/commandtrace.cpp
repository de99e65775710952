// Linked into the program the desktop test starts: SONBREL_TRACE_COMMANDS
// names a file that receives one line per element name the main window
// dispatches, so the test can tell which click arrived where.
#include "tfm_main.h"

#include <QApplication>
#include <QFile>
#include <QTimer>

namespace {

void traceTo(const QString &path, const QString &name)
{
    QFile trace(path);
    if (trace.open(QIODevice::Append | QIODevice::Text))
        trace.write(name.toUtf8() + '\n');
}

// The window exists once the event loop runs; it is found and followed then.
void followMainWindow()
{
    const QString path = qEnvironmentVariable("SONBREL_TRACE_COMMANDS");
    if (path.isEmpty())
        return;
    QTimer::singleShot(0, qApp, [path] {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *window = qobject_cast<Tfm_main *>(widget))
                QObject::connect(window, &Tfm_main::dispatched, window,
                                 [path](const QString &name) { traceTo(path, name); });
    });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(followMainWindow)
