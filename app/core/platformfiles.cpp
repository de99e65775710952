#include "platformfiles.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PlatformFiles {

RenameResult renameWithoutReplacing(const QString &from, const QString &to, QString *reason)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return RenameResult::Done;
    int error = errno;
    if (error == EINVAL || error == ENOSYS || error == ENOTSUP) {
        // File systems without the flag: a hard link refuses an existing name too.
        if (::link(source.constData(), target.constData()) == 0) {
            ::unlink(source.constData());
            return RenameResult::Done;
        }
        error = errno;
        if (error != EEXIST) {
            // Neither (FAT drives): look, then rename, which leaves the
            // smallest gap this file system allows.
            struct stat status {};
            if (::lstat(target.constData(), &status) == 0)
                return RenameResult::NameTaken;
            if (::rename(source.constData(), target.constData()) == 0)
                return RenameResult::Done;
            error = errno;
        }
    }
    if (error == EEXIST)
        return RenameResult::NameTaken;
    if (reason)
        *reason = QString::fromLocal8Bit(std::strerror(error));
    return RenameResult::Failed;
}

} // namespace PlatformFiles
