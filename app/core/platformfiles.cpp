#include "platformfiles.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <dirent.h>
#include <memory>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PlatformFiles {

Result<Renamed> renameWithoutReplacing(const QString &from, const QString &to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return Renamed::Done;
    int error = errno;
    if (error == EINVAL || error == ENOSYS || error == ENOTSUP) {
        // File systems without the flag: a hard link refuses an existing name too.
        if (::link(source.constData(), target.constData()) == 0) {
            ::unlink(source.constData());
            return Renamed::Done;
        }
        error = errno;
        if (error != EEXIST) {
            // Neither (FAT drives): look, then rename, which leaves the
            // smallest gap this file system allows.
            struct stat status {};
            if (::lstat(target.constData(), &status) == 0)
                return Renamed::NameTaken;
            if (::rename(source.constData(), target.constData()) == 0)
                return Renamed::Done;
            error = errno;
        }
    }
    if (error == EEXIST)
        return Renamed::NameTaken;
    return Failure{QString::fromLocal8Bit(std::strerror(error))};
}

namespace {

bool isUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes); // decoding is lazy until converted
    return !decoder.hasError();
}

QString reasonOf(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

struct Aliases {
    QTemporaryDir folder{QDir::tempPath() + QStringLiteral("/sonbrel-names-XXXXXX")};
    QHash<QByteArray, QString> byTarget;
    QHash<QString, QString> shown; // alias -> readable original
    int count = 0;
};

Aliases &aliases()
{
    static Aliases instance;
    return instance;
}

// `raw` is an absolute path in the file system's own bytes.
Result<QString> openablePath(const QByteArray &raw)
{
    if (isUtf8(raw))
        return QString::fromUtf8(raw);
    Aliases &all = aliases();
    if (const auto it = all.byTarget.constFind(raw); it != all.byTarget.constEnd())
        return *it;
    if (!all.folder.isValid())
        return Failure{all.folder.errorString()};
    // One subfolder per alias: two names may read alike once made readable.
    const QString folder = all.folder.filePath(QString::number(++all.count));
    const qsizetype slash = raw.lastIndexOf('/');
    const QString alias = folder + QLatin1Char('/') + QString::fromUtf8(raw.mid(slash + 1));
    if (!QDir().mkdir(folder) || ::symlink(raw.constData(), QFile::encodeName(alias).constData()) != 0)
        return Failure{reasonOf(errno)};
    all.byTarget.insert(raw, alias);
    all.shown.insert(alias, QString::fromUtf8(raw));
    return alias;
}

struct RawEntry {
    QByteArray name;
    bool regular;
};

std::vector<RawEntry> rawEntries(const QByteArray &folder)
{
    std::vector<RawEntry> entries;
    const std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(folder.constData()), ::closedir);
    if (!dir)
        return entries;
    while (const dirent *entry = ::readdir(dir.get())) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        struct stat status {};
        const bool regular =
            ::stat((folder + '/' + name).constData(), &status) == 0 && S_ISREG(status.st_mode);
        entries.push_back({name, regular});
    }
    return entries;
}

} // namespace

QList<FolderFile> folderFiles(const QString &folder)
{
    const QByteArray raw = QFile::encodeName(QDir(folder).absolutePath());
    QList<FolderFile> files;
    for (const RawEntry &entry : rawEntries(raw)) {
        if (!entry.regular)
            continue;
        files << FolderFile{.name = QString::fromUtf8(entry.name),
                            .path = openablePath(raw + '/' + entry.name)};
    }
    return files;
}

Result<QString> findOnDisk(const QString &path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) == 0 ||
        !path.contains(QChar::ReplacementCharacter))
        return path;
    // Walk down from the root; a part that is not there as written is
    // looked for among the names that read like it.
    QByteArray raw;
    for (const QString &part :
         QDir::cleanPath(QDir(path).absolutePath()).split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        const QByteArray written = raw + '/' + QFile::encodeName(part);
        if (::lstat(written.constData(), &status) == 0) {
            raw = written;
            continue;
        }
        QList<QByteArray> matches;
        for (const RawEntry &entry : rawEntries(raw.isEmpty() ? QByteArray("/") : raw)) {
            if (QString::fromUtf8(entry.name) == part)
                matches << entry.name;
        }
        if (matches.size() != 1)
            return Failure{
                matches.isEmpty()
                    ? reasonOf(ENOENT)
                    : QStringLiteral("%1 files have names that read like this one").arg(matches.size())};
        raw += '/' + matches.first();
    }
    return openablePath(raw);
}

QString shownPath(const QString &path)
{
    return aliases().shown.value(path, path);
}

} // namespace PlatformFiles
