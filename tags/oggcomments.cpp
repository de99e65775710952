#include "oggcomments.h"

#include "libraryfolder.h"
#include "taglibtags.h"
#include "tagtext.h"
#include "vcedit.h"

#include <QFile>
#include <QFileInfo>
#include <QLibrary>

#include <limits>
#include <optional>

namespace {

// Characters allowed in a comment name: printable ASCII except "=" and "~".
bool isNameByte(unsigned char byte)
{
    return byte >= 0x20 && byte <= 0x7D && byte != 0x3D;
}

QString asciiLower(QString text)
{
    for (QChar &c : text) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + ('a' - 'A'));
    }
    return text;
}

TStrComment parseComment(const QByteArray &text)
{
    TStrComment comment;
    const qsizetype equals = text.indexOf('=');
    bool named = equals >= 0;
    for (qsizetype i = 0; named && i < equals; ++i)
        named = isNameByte(static_cast<unsigned char>(text.at(i)));
    if (named) {
        comment.Name = QString::fromLatin1(text.left(equals));
        comment.Value = QString::fromUtf8(text.mid(equals + 1));
    } else {
        comment.Value = QString::fromUtf8(text);
    }
    comment.Line = comment.Name.isEmpty() ? comment.Value : comment.Name + QLatin1Char('=') + comment.Value;
    return comment;
}

struct LibraryUnloader {
    void operator()(QLibrary *library) const { library->unload(); }
};

template <typename Function> Function resolve(QLibrary &library, const char *name)
{
    return reinterpret_cast<Function>(library.resolve(name));
}

constexpr std::array<QString OGGTag::*, OggCommentKeys.size()> OggTagFields{
    &OGGTag::Album, &OGGTag::Title, &OGGTag::Artist,     &OGGTag::Comment,
    &OGGTag::Genre, &OGGTag::Date,  &OGGTag::TrackNumber};

} // namespace

void FreeComments(TStrComments *comments)
{
    delete comments;
}

TStrCommentsPtr ParseComments(const vorbis_comment *comments)
{
    TStrCommentsPtr list(new TStrComments);
    if (!comments || !comments->user_comments || !comments->comment_lengths)
        return list;
    for (int i = 0; i < comments->comments; ++i) {
        const char *bytes = comments->user_comments[i];
        const int length = comments->comment_lengths[i];
        list->append(parseComment(bytes && length > 0 ? QByteArray(bytes, length) : QByteArray()));
    }
    return list;
}

size_t StreamReadCallback(void *buffer, size_t size, size_t count, void *dataSource)
{
    if (size == 0 || count == 0)
        return 0;
    auto *device = static_cast<QIODevice *>(dataSource);
    if (!device || !buffer || count > std::numeric_limits<qint64>::max() / size)
        return 0;
    const qint64 wanted = static_cast<qint64>(size * count);
    qint64 done = 0;
    while (done < wanted) {
        const qint64 read = device->read(static_cast<char *>(buffer) + done, wanted - done);
        if (read < 0)
            return 0;
        if (read == 0)
            break;
        done += read;
    }
    return static_cast<size_t>(done) / size;
}

size_t StreamWriteCallback(const void *buffer, size_t size, size_t count, void *dataSource)
{
    if (size == 0)
        return static_cast<size_t>(-1);
    auto *device = static_cast<QIODevice *>(dataSource);
    if (!device || (!buffer && count > 0) || count > std::numeric_limits<qint64>::max() / size)
        return 0;
    const qint64 written =
        device->write(static_cast<const char *>(buffer), static_cast<qint64>(size * count));
    if (written < 0)
        return 0;
    return static_cast<size_t>(written) / size;
}

namespace {

// Every comment of the file through the comment library; none when the
// library or one of its entry points is missing.
std::optional<TStrComments> readComments(const QString &fileName)
{
    QLibrary library(libraryPath(QStringLiteral("libvcedit.so")));
    if (!library.load())
        return std::nullopt;
    const std::unique_ptr<QLibrary, LibraryUnloader> unloadOnExit(&library);
    const auto newState = resolve<decltype(&vcedit_new_state)>(library, "vcedit_new_state");
    const auto openCallbacks = resolve<decltype(&vcedit_open_callbacks)>(library, "vcedit_open_callbacks");
    const auto comments = resolve<decltype(&vcedit_comments)>(library, "vcedit_comments");
    const auto clear = resolve<decltype(&vcedit_clear)>(library, "vcedit_clear");
    // A library without its entry points is as good as none.
    if (!newState || !openCallbacks || !comments || !clear)
        return std::nullopt;

    // Opening a pipe would wait for a writer, and a device may never end.
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile())
        throw OggReadError(QStringLiteral("Cannot open %1: not a regular file").arg(fileName));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw OggReadError(QStringLiteral("Cannot open %1: %2").arg(fileName, file.errorString()));
    const std::unique_ptr<vcedit_state, decltype(clear)> state(newState(), clear);
    if (!state)
        throw OggReadError(QStringLiteral("Cannot open %1: out of memory").arg(fileName));
    if (openCallbacks(state.get(), static_cast<QIODevice *>(&file), StreamReadCallback,
                      StreamWriteCallback) != 0) {
        const QString reason =
            state->lasterror ? QString::fromUtf8(state->lasterror) : QStringLiteral("unknown error");
        throw OggReadError(QStringLiteral("Cannot open %1: %2").arg(fileName, reason));
    }
    return std::move(*ParseComments(comments(state.get())));
}

// The last value of each of the seven names wins.
OGGTag oggTagOf(const TStrComments &list)
{
    std::array<QString, OggCommentKeys.size()> values;
    for (const TStrComment &comment : list) {
        const QString name = asciiLower(comment.Name);
        for (size_t i = 0; i < OggCommentKeys.size(); ++i) {
            if (name == QLatin1String(OggCommentKeys[i])) {
                values[i] = comment.Value;
                break;
            }
        }
    }
    OGGTag tag;
    for (size_t i = 0; i < OggTagFields.size(); ++i)
        tag.*OggTagFields[i] = TrimControl(values[i]);
    return tag;
}

} // namespace

void ReadOggComments(const QString &fileName, OGGTag &tag)
{
    if (const std::optional<TStrComments> list = readComments(fileName))
        tag = oggTagOf(*list);
}

bool readOggSource(const QString &fileName, AudioFileinfo &tags)
{
    const std::optional<TStrComments> list = readComments(fileName);
    if (!list)
        return takeDiscAndCover(fileName, tags);
    const OGGTag tag = oggTagOf(*list);
    QString disc;
    QList<XiphPictureField> pictures;
    for (const TStrComment &comment : *list) {
        const QString name = asciiLower(comment.Name);
        if (name == QLatin1String("discnumber") &&
            !comment.Value.isEmpty()) // as TagLib, which drops empty values
            disc = comment.Value;
        else if (name == QLatin1String("metadata_block_picture") || name == QLatin1String("coverart"))
            pictures.append(
                {.legacy = name.startsWith(QLatin1Char('c')), .base64 = comment.Value.toLatin1()});
    }
    tags.title = tag.Title;
    tags.artist = tag.Artist;
    tags.album = tag.Album;
    tags.comment = tag.Comment;
    tags.genre = tag.Genre;
    tags.year = yearFromDate(tag.Date);
    tags.track = leadingNumber(tag.TrackNumber);
    tags.disc = leadingNumber(TrimControl(disc));
    tags.cover = xiphCommentCover(pictures);
    return true;
}
