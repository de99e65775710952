#pragma once

#include "result.h"

#include <QString>

// Whether a local file or folder can be handed to the desktop's opener; the
// failure is the message for the user. Nothing is created on the way.
namespace DesktopLinks {

Result<> outputFolderShowable(const QString &folder);
Result<> helpPageShowable(const QString &page);
// The desktop has no program that opens `path`.
QString noLauncherMessage(const QString &path);

} // namespace DesktopLinks
