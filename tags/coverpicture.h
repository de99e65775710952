#pragma once

#include <QByteArray>
#include <QString>

// A picture carried from a source's tag into its output, as it was stored.
struct CoverPicture {
    QByteArray data;  // empty: no picture
    QString mimeType; // "image/jpeg", "image/png", ...
    quint8 type = 3;  // the picture type shared by ID3v2, FLAC and ASF; 3 is the front cover

    bool isEmpty() const { return data.isEmpty(); }
    bool operator==(const CoverPicture &) const = default;
};

// The MIME type of JPEG, PNG, GIF, BMP or WebP bytes; empty for anything else.
QString pictureMimeType(const QByteArray &data);
