#pragma once

#include <cstdint>
#include <vector>

// One stream packet; times are in samples per channel, and stand for the
// samples the decoder gives out once it has the packet.
struct WmaLosslessPacket {
    std::vector<uint8_t> data;
    int64_t pts = 0;
    int64_t duration = 0;
};
