#include "tagintake.h"

#include "filelistmodel.h"
#include "id3v2.h"
#include "oggcomments.h"
#include "rules.h"
#include "wmatags.h"

#include <QFileInfo>

namespace {

// The five values the intake takes from whichever tag the file has.
struct IntakeValues {
    QString title, artist, album, comment, genre;
};

QString lowerExtension(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot).toLower();
}

bool readTags(const QString &path, IntakeValues &values)
{
    const QString extension = lowerExtension(path);
    if (extension == QLatin1String(".wma")) {
        WMATagInfo tag{};  // every field empty: nothing of an earlier file remains
        ReadWMATag(path, tag);
        values = {wmaTagText(tag.Title), wmaTagText(tag.Artist), wmaTagText(tag.Album), wmaTagText(tag.Comment),
                  wmaTagText(tag.Genre)};
        return true;
    }
    if (extension == QLatin1String(".ogg")) {
        OGGTag tag;
        ReadOggComments(path, tag);
        values = {tag.Title, tag.Artist, tag.Album, tag.Comment, tag.Genre};
        return true;
    }
    if (extension == QLatin1String(".mp3")) {
        ReadID3v2(path);
        values = {ID3Tag.Title, ID3Tag.Artist, ID3Tag.Album, ID3Tag.Comment, ID3Tag.Genre};
        return true;
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
}

QString CarryTags(const QString &outputPath, const AudioFileinfo &record)
{
    // Every output is WMA; its name does not say so while it is still partial.
    WMATagInfo tag{};  // the comment and track number are never carried
    setWmaTagText(tag.Title, record.title);
    setWmaTagText(tag.Artist, record.artist);
    setWmaTagText(tag.Album, record.album);
    setWmaTagText(tag.Year, record.year);
    setWmaTagText(tag.Genre, record.genre);
    WriteWMATag(outputPath, tag);
    return {};
}
