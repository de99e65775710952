#pragma once

#include "coverpicture.h"

#include <QString>

class QByteArray;
class QIODevice;

struct ID3StructV2 {
    QString Title, Artist, Album, Year, Track, Comment, Genre;
    QString Disc;       // TPOS ("1/2"); empty from an ID3v1 trailer
    CoverPicture Cover; // APIC: the front cover, else the first picture
};

extern ID3StructV2 ID3Tag;               // the module's one shared record
extern const char *const ID3FrameIDs[7]; // "TIT2","TPE1","TALB","TRCK","TYER","TCON","COMM"

// Empties ID3Tag, then fills it from the ID3v2 tag at the start of the file.
// Never throws and never changes the file or its permissions.
void ReadID3v2(const QString &fileName);

// The parser behind ReadID3v2. The device must be open, random-access and
// positioned anywhere; it reads no byte at or beyond device.size() and
// allocates no more than that size at once, but for a compressed frame's
// inflated content (at most 16 MB, and at most what its bytes can inflate to).
ID3StructV2 parseID3v2(QIODevice &device);
ID3StructV2 parseID3v2(const QByteArray &fileBytes);
// True when the device starts with an ID3v2 tag that fits in it.
bool hasID3v2Tag(QIODevice &device);
