#include "tagintake.h"

#include "coverfit.h"
#include "filelistmodel.h"
#include "id3v1.h"
#include "oggcomments.h"
#include "rules.h"
#include "sourcekinds.h"
#include "taglibtags.h"

#include <QFileInfo>

namespace {

// What the intake takes from whichever tag the file has, the year included.
struct IntakeValues {
    QString title, artist, album, comment, genre, year;
    quint16 track = 0, disc = 0;
    CoverPicture cover;
};

// The Ogg Vorbis and WMA readers leave out disc number and cover; a second
// read of the file takes them.
void takeDiscAndCover(const QString &path, IntakeValues &values)
{
    const DiscAndCover more = ReadDiscAndCover(path);
    values.disc = more.DiscNumber;
    values.cover = more.Cover;
}

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

bool readTags(const QString &path, IntakeValues &values)
{
    switch (readerOf(path)) {
    case TagReader::Wma: {
        WMATagInfo tag{}; // stays empty where ReadWMATag cannot read the file
        ReadWMATag(path, tag);
        values = {wmaTagText(tag.Title),
                  wmaTagText(tag.Artist),
                  wmaTagText(tag.Album),
                  wmaTagText(tag.Comment),
                  wmaTagText(tag.Genre),
                  wmaTagText(tag.Year),
                  tag.TrackNumber,
                  0,
                  {}};
        takeDiscAndCover(path, values);
        return true;
    }
    case TagReader::Ogg: {
        OGGTag tag;
        ReadOggComments(path, tag);
        values = {tag.Title,
                  tag.Artist,
                  tag.Album,
                  tag.Comment,
                  tag.Genre,
                  yearFromDate(tag.Date),
                  leadingNumber(tag.TrackNumber),
                  0,
                  {}};
        takeDiscAndCover(path, values);
        return true;
    }
    case TagReader::Id3: {
        ReadID3(path);
        values = {ID3Tag.Title,
                  ID3Tag.Artist,
                  ID3Tag.Album,
                  ID3Tag.Comment,
                  ID3Tag.Genre,
                  ID3Tag.Year,
                  leadingNumber(ID3Tag.Track),
                  0,
                  {}};
        values.disc = leadingNumber(ID3Tag.Disc);
        values.cover = sharedCover(ID3Tag.Cover);
        return true;
    }
    case TagReader::TagLib: {
        TagLibTag tag;
        ReadTagLibTag(path, tag);
        values = {tag.Title, tag.Artist,      tag.Album,      tag.Comment, tag.Genre,
                  tag.Year,  tag.TrackNumber, tag.DiscNumber, tag.Cover};
        return true;
    }
    case TagReader::None:
        break;
    }
    return false;
}

} // namespace

void TagIntake(const QString &path, FileListModel &list, int row)
{
    IntakeValues values;
    if (!readTags(path, values))
        return;
    const QString title = TrimControl(CleanTitle(values.title));
    if (!title.isEmpty())
        list.setCaption(row, title);
    AudioFileinfo &record = list.record(row);
    record.title = title;
    record.artist = values.artist;
    record.album = values.album;
    record.comment = values.comment;
    record.genre = values.genre;
    record.year = values.year;
    record.track = values.track;
    record.disc = values.disc;
    record.cover = values.cover;
}

QString CarryTags(const QString &outputPath, const AudioFileinfo &record)
{
    // Every output is WMA; its name does not say so while it is still partial.
    WMATagInfo tag{}; // the comment is never carried
    setWmaTagText(tag.Title, record.title);
    setWmaTagText(tag.Artist, record.artist);
    setWmaTagText(tag.Album, record.album);
    setWmaTagText(tag.Year, record.year);
    setWmaTagText(tag.Genre, record.genre);
    tag.TrackNumber = record.track;
    // A cover goes where every player reads it, or is left out with a note.
    const FittedCover cover = fitCover(record.cover);
    const TagWriteResult result = WriteWMATagChecked(outputPath, tag, {record.disc, cover.picture});
    if (!result.written)
        return result.reason;
    return record.cover.note.isEmpty() ? cover.note : record.cover.note;
}
