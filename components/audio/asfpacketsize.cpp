#include "asfpacketsize.h"

#include <algorithm>

AsfPacketLayout asfPayloadLayout(int blockAlign)
{
    if (blockAlign <= 0 || blockAlign + kAsfSinglePayloadOverhead > kAsfMaxPacketSize)
        return {};
    const int perPayload = kAsfMultiPayloadOverhead + blockAlign;
    // Two payloads a packet at most: the muxer pads the last packet to full
    // size, which at low rates would add several percent to a short file.
    int payloads = std::min(kAsfMaxPayloadsPerPacket,
                            (kAsfTargetPacketSize - kAsfMultiPayloadPacketOverhead) / perPayload);
    payloads = std::max(payloads,
                        (kAsfMinPacketSize - kAsfMultiPayloadPacketOverhead + perPayload - 1) / perPayload);
    AsfPacketLayout layout;
    layout.packetSize = payloads >= 2 ? kAsfMultiPayloadPacketOverhead + payloads * perPayload
                                      : kAsfSinglePayloadOverhead + blockAlign;
    return layout;
}
