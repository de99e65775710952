#include "wmaudsdk.h"

#include "asfattributes.h"
#include "wmaudioinfo.h"

#define WMAUDSDK_EXPORT __attribute__((visibility("default")))

extern "C" WMAUDSDK_EXPORT std::int32_t WMAudioCreateInfo(const char16_t *fileName, IWMAudioInfo **info)
{
    if (!info)
        return WMA_E_INVALIDARG;
    *info = nullptr;
    if (!fileName || fileName[0] == 0)
        return WMA_E_INVALIDARG;
    try {
        std::u16string name;
        for (std::size_t i = 0; fileName[i] != 0 && i < 65536; ++i)
            name.push_back(fileName[i]);
        WMAudioInfo *opened = WMAudioInfo::open(utf16ToUtf8(name));
        if (!opened)
            return WMA_E_NOTASF;
        *info = opened;
        return WMA_S_OK;
    } catch (...) {
        return WMA_E_FAIL;
    }
}
