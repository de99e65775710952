#include "asfpacketsize.h"

#include <algorithm>

AsfPacketLayout asfPacketLayout(int blockAlign)
{
    if (blockAlign <= 0 || blockAlign + kAsfSinglePayloadOverhead > kAsfMaxPacketSize)
        return {};
    AsfPacketLayout layout;
    layout.blocksPerObject = std::max(1, (kAsfTargetPacketSize - kAsfSinglePayloadOverhead) / blockAlign);
    layout.packetSize = kAsfSinglePayloadOverhead + layout.blocksPerObject * blockAlign;
    return layout;
}
