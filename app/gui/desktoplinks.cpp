#include "desktoplinks.h"

#include <QDir>
#include <QFileInfo>

namespace DesktopLinks {

Result<> outputFolderShowable(const QString &folder)
{
    if (folder.isEmpty())
        return Failure{QStringLiteral("Please choose an output folder!")};
    const QFileInfo info(folder);
    if (info.isDir())
        return {};
    const QString shown = QDir::toNativeSeparators(folder);
    if (info.exists() || info.isSymLink())
        return Failure{QStringLiteral("The output folder %1 is not a folder.").arg(shown)};
    return Failure{QStringLiteral("The output folder %1 does not exist yet: the first conversion creates it.")
                       .arg(shown)};
}

Result<> helpPageShowable(const QString &page)
{
    if (QFileInfo(page).isFile())
        return {};
    return Failure{QStringLiteral("The help page %1 is missing.").arg(QDir::toNativeSeparators(page))};
}

QString noLauncherMessage(const QString &path)
{
    return QStringLiteral("No program on this desktop could open %1.").arg(QDir::toNativeSeparators(path));
}

} // namespace DesktopLinks
