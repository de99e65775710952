#pragma once

#include "audiofileinfo.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Reads the tag of a FLAC (plain or in Ogg), Opus, Ogg Vorbis, MP4 audio (AAC
// or ALAC), AIFF or WavPack file, each in its own format's way through
// TagLib: Vorbis comments, MP4 atoms, the ID3v2 chunk of AIFF, the APE tag of
// WavPack. The kind is told by the file's content, not its name. When the
// file is one of those kinds, every tag field of `tags` is replaced (the
// cover: the front cover, else the first picture) and the result is true;
// otherwise (another kind, unreadable, damaged) `tags` is left as it was.
// Never throws and never changes the file.
bool readTagLibSource(const QString &fileName, AudioFileinfo &tags);

// Where a kind's own reader is missing (its library is not installed), TagLib
// still finds the disc number and cover: only those are taken. False when
// TagLib cannot read the file either.
bool takeDiscAndCover(const QString &fileName, AudioFileinfo &tags);

// The kind the file's content shows: "flac", "opus", "oggflac" (FLAC in Ogg),
// "vorbis", "mp4", "aiff", "wavpack", or empty for anything else (an MP3
// named ".opus" included).
QString TagLibContentKind(const QString &fileName);

// A picture field of a Vorbis comment, as stored: METADATA_BLOCK_PICTURE holds
// a FLAC picture block, the older COVERART (`legacy`) the image itself.
struct XiphPictureField {
    bool legacy = false;
    QByteArray base64;
};
// The pictures of a comment's fields, in comment order, read as TagLib reads
// them: the front cover, else the first picture; empty when none decodes.
CoverPicture xiphCommentCover(const QList<XiphPictureField> &fields);
