#include "id3v2.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const ID3StructV2 tag = parseID3v2(bytes);
    // Touch every field so a broken string is noticed by the sanitizers.
    volatile qsizetype total = tag.Title.size() + tag.Artist.size() + tag.Album.size() + tag.Year.size() +
                               tag.Track.size() + tag.Comment.size() + tag.Genre.size() + tag.Disc.size() +
                               tag.Cover.data.size() + tag.Cover.mimeType.size();
    (void)total;
    return 0;
}
