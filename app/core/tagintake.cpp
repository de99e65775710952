#include "tagintake.h"

#include "coverfit.h"
#include "filelistmodel.h"
#include "id3v1.h"
#include "oggcomments.h"
#include "rules.h"
#include "sourcekinds.h"
#include "taglibtags.h"
#include "wmatags.h"

#include <QFileInfo>

namespace {

// The reader for the file; an Ogg file's is chosen by the stream it holds.
TagReader readerOf(const QString &path)
{
    const SourceKind *kind = sourceKindOf(path);
    if (!kind)
        return TagReader::None;
    if (kind->reader != TagReader::Ogg)
        return kind->reader;
    const QString content = TagLibContentKind(path);
    if (content == QLatin1String("vorbis"))
        return TagReader::Ogg;
    return content.isEmpty() ? TagReader::None : TagReader::TagLib;
}

// Each source is read once, by its kind's reader, into one record.
bool readTags(const QString &path, AudioFileinfo &tags)
{
    switch (readerOf(path)) {
    case TagReader::Wma:
        return readWmaSource(path, tags);
    case TagReader::Ogg:
        return readOggSource(path, tags);
    case TagReader::Id3:
        return readId3Source(path, tags);
    case TagReader::TagLib:
        return readTagLibSource(path, tags);
    case TagReader::None:
        break;
    }
    return false;
}

} // namespace

void TagIntake(const QString &path, FileListModel &list, int row)
{
    AudioFileinfo tags;
    if (!readTags(path, tags))
        return;
    const QString title = TrimControl(CleanTitle(tags.title));
    if (!title.isEmpty())
        list.setCaption(row, title);
    AudioFileinfo &record = list.record(row);
    tags.title = title;
    tags.duration = record.duration;
    record = std::move(tags);
}

Result<> CarryTags(const QString &outputPath, const AudioFileinfo &record)
{
    // Every output is WMA; its name does not say so while it is still partial.
    AudioFileinfo carried = record;
    carried.comment.clear(); // the comment is never carried
    // A cover goes where every player reads it, or is left out with a note.
    const FittedCover cover = fitCover(record.cover);
    carried.cover = cover.picture;
    const Result<> written = WriteWMATagChecked(outputPath, carried);
    if (!written)
        return written;
    const QString note = record.cover.note.isEmpty() ? cover.note : record.cover.note;
    return note.isEmpty() ? Result<>() : Failure{note};
}
