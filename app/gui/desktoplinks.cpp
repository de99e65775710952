#include "desktoplinks.h"

#include <QDir>
#include <QFileInfo>

namespace DesktopLinks {

QString outputFolderProblem(const QString &folder)
{
    if (folder.isEmpty())
        return QStringLiteral("Please choose an output folder!");
    const QFileInfo info(folder);
    if (info.isDir())
        return {};
    const QString shown = QDir::toNativeSeparators(folder);
    if (info.exists() || info.isSymLink())
        return QStringLiteral("The output folder %1 is not a folder.").arg(shown);
    return QStringLiteral("The output folder %1 does not exist yet: the first conversion creates it.")
        .arg(shown);
}

QString helpPageProblem(const QString &page)
{
    if (QFileInfo(page).isFile())
        return {};
    return QStringLiteral("The help page %1 is missing.").arg(QDir::toNativeSeparators(page));
}

QString noLauncherMessage(const QString &path)
{
    return QStringLiteral("No program on this desktop could open %1.").arg(QDir::toNativeSeparators(path));
}

} // namespace DesktopLinks
