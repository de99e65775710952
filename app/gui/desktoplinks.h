#pragma once

#include <QString>

// What stands in the way of showing a local file or folder on the desktop:
// empty when it can be handed to the desktop's opener, otherwise the
// message for the user. Nothing is created on the way.
namespace DesktopLinks {

QString outputFolderProblem(const QString &folder);
QString helpPageProblem(const QString &page);
// The desktop has no program that opens `path`.
QString noLauncherMessage(const QString &path);

} // namespace DesktopLinks
