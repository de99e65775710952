#pragma once

#include <QString>

// File operations that need more than Qt offers; the only file of the core
// that speaks to the operating system directly.
namespace PlatformFiles {

enum class RenameResult { Done, NameTaken, Failed };

// Gives `from` the name `to` unless something already carries that name:
// an existing file is never replaced. `reason` says why on Failed.
RenameResult renameWithoutReplacing(const QString &from, const QString &to, QString *reason);

} // namespace PlatformFiles
