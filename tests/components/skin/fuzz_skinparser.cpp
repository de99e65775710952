#include "skinerror.h"
#include "skinparser.h"

#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    try {
        ParseSkin(QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)),
                  QStringLiteral("fuzz"));
    } catch (const SkinError &) {
    }
    return 0;
}
