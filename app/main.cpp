#include "messageboxsink.h"
#include "tfm_dir.h"
#include "tfm_id3.h"
#include "tfm_main.h"
#include "tfm_set.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sonbrel"));
    QApplication::setApplicationVersion(QStringLiteral(SONBREL_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.sonbrel.Sonbrel"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Converts audio files to WMA."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("files"),
                                 QStringLiteral("Files or folders to add to the list."));
    parser.process(app);

    MessageBoxSink messageBoxes;
    Messages::setSink(&messageBoxes);

    // Created once, in this order, and kept until exit.
    Tfm_main mainWindow;
    Tfm_dir fm_dir(&mainWindow);
    Tfm_set fm_set(&mainWindow);
    Tfm_id3 fm_id3(&mainWindow);
    mainWindow.setDialogs(&fm_dir, &fm_set, &fm_id3);

    mainWindow.show();
    if (!parser.positionalArguments().isEmpty())
        mainWindow.AddPaths(parser.positionalArguments());
    const int result = QApplication::exec();
    Messages::setSink(nullptr);
    return result;
}
