#pragma once

#include "coverpicture.h"

#include <QString>

// The tag of a FLAC (plain or in Ogg), Opus, Ogg Vorbis, MP4 audio (AAC or
// ALAC), AIFF or WavPack file, each read in its own format's way through
// TagLib: Vorbis comments, MP4 atoms, the ID3v2 chunk of AIFF, the APE tag
// of WavPack.
struct TagLibTag {
    QString Title, Artist, Album, Year, Comment, Genre;
    quint16 TrackNumber = 0; // 0: none
    quint16 DiscNumber = 0;  // 0: none
    CoverPicture Cover;      // the front cover, else the first picture; empty when none
};

// The kind is told by the file's content, not its name. When the file is one
// of the kinds above, the whole record is replaced; otherwise (another kind,
// unreadable, damaged) it is left as it was. Never throws and never changes
// the file.
void ReadTagLibTag(const QString &fileName, TagLibTag &tag);

// What an Ogg Vorbis or WMA source has beyond what its own reader takes:
// DISCNUMBER or WM/PartOfSet, and the front cover, else the first picture
// (METADATA_BLOCK_PICTURE or WM/Picture). Told by content; all empty for
// other files, damaged tags and covers beyond MaxCoverBytes. Never throws
// and never changes the file.
struct DiscAndCover {
    quint16 DiscNumber = 0; // 0: none
    CoverPicture Cover;
};
DiscAndCover ReadDiscAndCover(const QString &fileName);

// The kind the file's content shows: "flac", "opus", "oggflac" (FLAC in Ogg),
// "vorbis", "mp4", "aiff", "wavpack", or empty for anything else (an MP3
// named ".opus" included).
QString TagLibContentKind(const QString &fileName);

// "2005-09-05T12:00" names its year in its first four digits; other texts stay whole.
QString yearFromDate(const QString &date);
// The leading number of "3" or "3/12"; 0 when there is none or it does not fit.
quint16 leadingNumber(const QString &text);
