#pragma once

#include "audiofileinfo.h"
#include "messageerror.h"

#include <QList>
#include <QString>

#include <array>
#include <cstddef>
#include <memory>

struct vorbis_comment;

struct OGGTag {
    QString Album, Title, Artist, Comment, Genre, Date, TrackNumber;
};

// The lower-case comment names read, aligned with the fields of OGGTag.
inline constexpr std::array<const char *, 7> OggCommentKeys{"album", "title", "artist",     "comment",
                                                            "genre", "date",  "tracknumber"};

// Raised when the comment library cannot open the file or its stream; the
// message is "Cannot open <file>: <reason>".
class OggReadError : public MessageError {
public:
    using MessageError::MessageError;
};

struct TStrComment {
    QString Name;  // empty when the text has no valid name before its first "="
    QString Value; // decoded from UTF-8
    QString Line;  // Name=Value, or Value alone when Name is empty
};

using TStrComments = QList<TStrComment>;

void FreeComments(TStrComments *comments);

struct TStrCommentsDeleter {
    void operator()(TStrComments *comments) const { FreeComments(comments); }
};
using TStrCommentsPtr = std::unique_ptr<TStrComments, TStrCommentsDeleter>;

// Every comment of the block, in block order; each takes exactly its
// declared number of bytes.
TStrCommentsPtr ParseComments(const vorbis_comment *comments);

// The comment library's callbacks; the data source is the QIODevice read or
// written.
size_t StreamReadCallback(void *buffer, size_t size, size_t count, void *dataSource);
size_t StreamWriteCallback(const void *buffer, size_t size, size_t count, void *dataSource);

// Fills all seven fields from the file's comments. Leaves the record untouched
// when libvcedit.so (or one of its entry points) is missing; throws
// OggReadError when the file or its stream cannot be opened.
void ReadOggComments(const QString &fileName, OGGTag &tag);

// Reads the file's comments once into every tag field of `tags`: the seven
// fields above (the year from the date), DISCNUMBER and the front cover, else
// the first picture (METADATA_BLOCK_PICTURE or COVERART). False, with `tags`
// untouched, when libvcedit.so is missing; throws OggReadError as
// ReadOggComments does.
bool readOggSource(const QString &fileName, AudioFileinfo &tags);
