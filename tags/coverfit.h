#pragma once

#include "coverpicture.h"

#include <QString>

// Most players read a WMA file's pictures only from the header's extended
// content description, whose values hold at most this many bytes.
inline constexpr qsizetype UsualPictureValueBytes = 0xFFFF;
// The longest side of a cover made to fit that place.
inline constexpr int FittedCoverSide = 600;

struct FittedCover {
    CoverPicture picture; // empty when the cover is dropped
    QString note;         // why the cover is dropped; empty otherwise
};

// The cover as a WMA output carries it: the original bytes when its picture
// value fits `valueLimit`, otherwise a JPEG copy scaled to at most
// FittedCoverSide pixels on its longest side (aspect kept) that fits. A
// picture that cannot be decoded is dropped with a note.
FittedCover fitCover(const CoverPicture &cover, qsizetype valueLimit = UsualPictureValueBytes);

struct PictureSize {
    int width = 0, height = 0; // 0 x 0: not decodable
};
// The pixel size of JPEG, PNG, GIF, BMP or WebP bytes, decoded to be sure.
PictureSize pictureSize(const QByteArray &data);
