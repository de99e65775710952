#pragma once

#include "result.h"

#include <QString>

// File operations that need more than Qt offers; the only file of the core
// that speaks to the operating system directly.
namespace PlatformFiles {

enum class Renamed { Done, NameTaken };

// Gives `from` the name `to` unless something already carries that name:
// an existing file is never replaced. Fails when the system refuses the rename.
Result<Renamed> renameWithoutReplacing(const QString &from, const QString &to);

// A file name on disk need not be valid UTF-8 (old Latin-1 disks); Qt's
// texts cannot hold such a name, so the program reaches the file through an
// alias: a link with the readable name (invalid bytes shown as U+FFFD) in a
// private temporary folder. The alias lives until the program ends.

// One file of a folder: its readable name and the path that opens it.
struct FolderFile {
    QString name;
    Result<QString> path; // fails with why no path could be made
};
// The regular files of `folder`, hidden ones included, not its subfolders.
QList<FolderFile> folderFiles(const QString &folder);

// A path that opens the file `path` names: `path` itself when it exists,
// otherwise the alias of the one file whose name reads as `path` does.
// Fails when there is none or more than one.
Result<QString> findOnDisk(const QString &path);

// The readable original of an alias; any other path as it is.
QString shownPath(const QString &path);

} // namespace PlatformFiles
