#pragma once

#include <QByteArray>
#include <QString>

// A picture carried from a source's tag into its output, as it was stored.
struct CoverPicture {
    QByteArray data;  // empty: no picture
    QString mimeType; // "image/jpeg", "image/png", ...
    quint8 type = 3;  // the picture type shared by ID3v2, FLAC and ASF; 3 is the front cover
    QString note{};   // why the source's cover is not carried (data empty); empty when nothing was left out

    bool isEmpty() const { return data.isEmpty(); }
    bool operator==(const CoverPicture &) const = default;
};

// Pictures beyond this are not carried: no album cover comes near it, and
// each row keeps its cover in memory until the conversion.
inline constexpr qsizetype MaxCoverBytes = 16 * 1024 * 1024;

// The stand-in for a cover beyond MaxCoverBytes: no data, and a note that
// tells the user it was left out.
CoverPicture oversizedCover(qint64 bytes);

// The MIME type of JPEG, PNG, GIF, BMP or WebP bytes; empty for anything else.
QString pictureMimeType(const QByteArray &data);

// A picture as a tag stored it, made fit to carry: its MIME type in lower
// case, told from the bytes when the tag names none or only a format
// ("JPG", "image/"); empty when there are no bytes, oversizedCover when
// there are too many.
CoverPicture carriedPicture(const QByteArray &data, const QString &storedMimeType, int type);

// The tracks of an album are added one after the other and carry the same
// cover: equal covers of recent calls share one copy in memory.
CoverPicture sharedCover(const CoverPicture &cover);
