#pragma once

#include <QByteArray>
#include <QString>

#include "coverpicture.h"
#include "tagtext.h"

// Byte- and text-level rules of ID3v2 frames, kept free of any I/O.

// Encoding byte 0 ISO-8859-1, 1 UTF-16 with byte-order mark, 2 UTF-16BE,
// 3 UTF-8. Any other value: the bytes are Latin-1 text.
QString decodeID3Text(quint8 encoding, const QByteArray &bytes);

// The first value of a text frame's content (encoding byte included):
// decoded, trimmed, cut at an inner terminator and trimmed again.
QString id3FrameText(const QByteArray &content);

struct ID3Comment {
    QString description, text;
};
// A COMM frame's content: encoding byte, three language bytes, the short
// description with its terminator, then the comment text.
ID3Comment id3CommentText(const QByteArray &content);

// An attached picture's content: encoding byte, MIME type with its
// terminator (in version 2.2 a format of three letters, "JPG"), picture
// type, description with its terminator, then the picture. Empty when the
// content is cut short, holds a link ("-->") or a picture beyond MaxCoverBytes.
CoverPicture id3PictureContent(const QByteArray &content, bool v22);

// Undoes the unsynchronisation scheme: every FF 00 pair becomes FF.
QByteArray removeUnsynchronisation(const QByteArray &bytes);

// Four 7-bit groups, most significant first; the high bits are ignored.
quint32 synchsafeValue(const QByteArray &bytes, qsizetype offset);
quint32 bigEndianValue(const QByteArray &bytes, qsizetype offset, int length);
