#include "syncplan.h"

#include "audiofileinfo.h"
#include "filelist.h"
#include "partialfile.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace SyncPlan {

Stamp stampOf(const QString &path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return {};
    return {qint64(status.st_size), qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

Need needOf(const SyncRecord::Entry *recorded, const Stamp &source, const Stamp &output, int profile)
{
    if (!recorded)
        return Need::New;
    if (!output.exists())
        return Need::Remake;
    const bool sourceSame = source == Stamp{recorded->sourceSize, recorded->sourceModified};
    if (output != Stamp{recorded->outputSize, recorded->outputModified})
        return sourceSame && recorded->profile == profile ? Need::OutputEdited : Need::New;
    if (recorded->profile != profile)
        return Need::Reencode;
    return sourceSame ? Need::UpToDate : Need::Check;
}

namespace {

bool inside(const QString &path, const QString &folder)
{
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

void walk(const QString &root, const QString &folder, const QString &skip, QList<Source> &sources)
{
    if (inside(folder, skip))
        return;
    const QString relative = QDir(root).relativeFilePath(folder);
    const QString target = relative == QLatin1String(".") ? QString() : relative;
    for (const PlatformFiles::FolderFile &file : FileList::folderEntries(folder)) {
        if (FileList::hasFolderExtension(file.name) && file.path)
            sources << Source{*file.path, target};
    }
    QStringList subfolders = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot |
                                                    QDir::NoSymLinks); // no hidden ones (a trash)
    std::sort(subfolders.begin(), subfolders.end(),
              [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    for (const QString &name : std::as_const(subfolders))
        walk(root, folder + QLatin1Char('/') + name, skip, sources);
}

} // namespace

Result<QList<Source>> sourcesOf(const QString &input, const QString &outputFolder)
{
    const QFileInfo info(input);
    const QString path = QDir::cleanPath(info.absoluteFilePath());
    if (info.isFile())
        return QList<Source>{{path, {}}};
    if (!info.isDir())
        return Failure{QStringLiteral("no such file or folder")};
    QList<Source> sources;
    walk(path, path, QDir::cleanPath(QFileInfo(outputFolder).absoluteFilePath()), sources);
    return sources;
}

int removeStalePartials(const QString &folder)
{
    int removed = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (PartialFile::isPartialName(it.fileName()) && PartialFile::removeIfStale(path))
            ++removed;
    }
    return removed;
}

QByteArray tagDigest(const AudioFileinfo &record)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << record.title << record.artist << record.album << record.year << record.genre << record.track
           << record.disc << record.cover.data << record.cover.mimeType << record.cover.type;
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5);
}

} // namespace SyncPlan
