#include "id3v1.h"

#include "genrenames.h"
#include "tagtext.h"

#include <QFile>

namespace {

constexpr qsizetype TrailerSize = 128;

// A field ends at its first zero byte; the rest is padding.
QString field(const QByteArray &trailer, qsizetype offset, qsizetype length)
{
    QByteArray bytes = trailer.mid(offset, length);
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    return TrimControl(QString::fromLatin1(bytes));
}

} // namespace

ID3StructV2 parseID3v1(const QByteArray &trailer)
{
    ID3StructV2 tag;
    if (trailer.size() != TrailerSize || !trailer.startsWith("TAG"))
        return tag;
    tag.Title = field(trailer, 3, 30);
    tag.Artist = field(trailer, 33, 30);
    tag.Album = field(trailer, 63, 30);
    tag.Year = field(trailer, 93, 4);
    tag.Comment = field(trailer, 97, 30);
    // Version 1.1 keeps the track number in the comment's last byte.
    if (trailer[125] == '\0' && trailer[126] != '\0')
        tag.Track = QString::number(quint8(trailer[126]));
    const int genre = quint8(trailer[127]);
    if (genre < GenreNameCount)
        tag.Genre = genreNames().at(genre);
    return tag;
}

ID3TagKind ReadID3(const QString &fileName)
{
    ID3Tag = {};
    try {
        QFile file;
        if (!openRegularFile(fileName, file))
            return ID3TagKind::None;
        if (hasID3v2Tag(file)) {
            ID3Tag = parseID3v2(file);
            return ID3TagKind::V2;
        }
        if (file.size() < TrailerSize || !file.seek(file.size() - TrailerSize))
            return ID3TagKind::None;
        const QByteArray trailer = file.read(TrailerSize);
        if (!trailer.startsWith("TAG"))
            return ID3TagKind::None;
        ID3Tag = parseID3v1(trailer);
        return ID3TagKind::V1;
    } catch (...) {
        ID3Tag = {};
        return ID3TagKind::None;
    }
}

bool readId3Source(const QString &fileName, AudioFileinfo &tags)
{
    ReadID3(fileName);
    tags.title = ID3Tag.Title;
    tags.artist = ID3Tag.Artist;
    tags.album = ID3Tag.Album;
    tags.comment = ID3Tag.Comment;
    tags.genre = ID3Tag.Genre;
    tags.year = ID3Tag.Year;
    tags.track = leadingNumber(ID3Tag.Track);
    tags.disc = leadingNumber(ID3Tag.Disc);
    tags.cover = sharedCover(ID3Tag.Cover);
    return true;
}
