// Arbitrary bytes behind the opening of each kind the TagLib reader takes
// (the first byte picks it): reading must never crash, never change the file,
// and leave the record alone when the content is none of its kinds. The
// picture parsers of Vorbis comments and WM/Picture values get the bytes too.
#include "taglibtags.h"
#include "wmatags.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QTemporaryDir dir;
    // Openings that get the fuzzer past each kind's check; the last is none.
    static const QByteArray kOpenings[] = {
        QByteArray("fLaC"),
        QByteArray("OggS\0\2\0\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\0\0\0\1\x13OpusHead", 36),
        QByteArray("\0\0\0\x18"
                   "ftypM4A \0\0\0\0M4A isom",
                   24),
        QByteArray("FORM\0\0\0\0AIFF", 12),
        QByteArray("wvpk"),
        QByteArray(),
    };
    static const char *const kSuffixes[] = {"flac", "opus", "m4a", "aiff", "wv", "mp3"};
    if (size < 1 || !dir.isValid())
        return 0;
    const int pick = data[0] % 6;
    const QString path = dir.filePath(QStringLiteral("input.") + QLatin1String(kSuffixes[pick]));
    const QByteArray bytes =
        kOpenings[pick] + QByteArray(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            return 0;
    }
    AudioFileinfo tag{.title = QStringLiteral("untouched")};
    readTagLibSource(path, tag);
    // The same bytes as a Vorbis comment's picture and as a WM/Picture value.
    const CoverPicture comment = xiphCommentCover({{.legacy = false, .base64 = bytes.toBase64()}});
    const std::optional<CoverPicture> wmaPicture = wmaPictureFromValue(bytes);
    if (TagLibContentKind(path).isEmpty() && tag.title != QStringLiteral("untouched"))
        __builtin_trap();
    if (tag.cover.data.size() > MaxCoverBytes || comment.data.size() > MaxCoverBytes)
        __builtin_trap();
    if (wmaPicture && wmaPicture->data.size() > bytes.size())
        __builtin_trap();
    if (fileBytes(path) != bytes)
        __builtin_trap();
    // Touch every text so a broken one is noticed by the sanitizers.
    volatile qsizetype total = tag.title.size() + tag.artist.size() + tag.album.size() + tag.year.size() +
                               tag.comment.size() + tag.genre.size() + tag.cover.mimeType.size() +
                               comment.mimeType.size() + (wmaPicture ? wmaPicture->mimeType.size() : 0);
    (void)total;
    return 0;
}
