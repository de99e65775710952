#include "asfpacketsize.h"

AsfPacketLayout asfPayloadLayout(int blockAlign)
{
    if (blockAlign <= 0 || blockAlign + kAsfSinglePayloadOverhead > kAsfMaxPacketSize)
        return {};
    return {kAsfSinglePayloadOverhead + blockAlign};
}
