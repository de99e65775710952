#include "wmaheaderreader.h"
#include "wmatags.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    WMATagInfo tag{};
    std::memset(&tag, 0x5A, sizeof tag);
    const WMATagInfo before = tag;
    const bool read = ReadWmaHeader(QByteArrayView(data, qsizetype(size)), tag);
    // The texts must always come back terminated, and a refused file leaves the record alone.
    if (read && (strnlen(tag.Title, sizeof tag.Title) == sizeof tag.Title ||
                 strnlen(tag.Comment, sizeof tag.Comment) == sizeof tag.Comment ||
                 strnlen(tag.Genre, sizeof tag.Genre) == sizeof tag.Genre || tag.Found != -1))
        __builtin_trap();
    if (!read && std::memcmp(&tag, &before, sizeof tag) != 0)
        __builtin_trap();
    return 0;
}
