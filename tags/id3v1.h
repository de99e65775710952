#pragma once

#include "audiofileinfo.h"
#include "id3v2.h"

class QByteArray;

// The 128-byte ID3v1 trailer at the end of a file: "TAG", title, artist and
// album of 30 bytes each, year of 4, comment of 30 (of 28 and a track byte
// after a zero in version 1.1) and a genre number, named through the
// editor's genre table. Texts are Latin-1. All fields are empty when the
// bytes do not start with "TAG".
ID3StructV2 parseID3v1(const QByteArray &trailer);

enum class ID3TagKind { None, V2, V1 };

// Fills ID3Tag from the ID3v2 tag when the file starts with one, else from
// its ID3v1 trailer; a file with both is read from its ID3v2 tag only.
// Never throws and never changes the file or its permissions.
ID3TagKind ReadID3(const QString &fileName);

// Reads the file as ReadID3 does and puts ID3Tag's values into every tag field
// of `tags` (all empty when the file has no tag); always true.
bool readId3Source(const QString &fileName, AudioFileinfo &tags);
