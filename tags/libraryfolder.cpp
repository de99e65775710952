#include "libraryfolder.h"

#include <QCoreApplication>
#include <QDir>

namespace {
QString overrideFolder;
}

QString libraryFolder()
{
    if (!overrideFolder.isEmpty())
        return overrideFolder;
    const QString fromEnvironment = qEnvironmentVariable("SONBREL_LIBRARY_DIR");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QCoreApplication::applicationDirPath();
}

void setLibraryFolder(const QString &folder)
{
    overrideFolder = folder;
}

QString libraryPath(const QString &fileName)
{
    return QDir(libraryFolder()).filePath(fileName);
}
