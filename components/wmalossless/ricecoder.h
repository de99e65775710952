#pragma once

#include <cstdint>

class BitWriter;

namespace wmalossless {

// Adaptive Rice coding of one channel's residuals in a tile. The parameter
// follows a moving average of past magnitudes kept in `aveSum`, which
// carries over from tile to tile until the next seekable tile.
struct RiceChannel {
    const int32_t *residues = nullptr;
    int count = 0;
    bool seekable = false;    // first residual sent verbatim, average sent up front
    int firstSampleBits = 16; // one more when the channels are decorrelated
};

uint32_t initialAverage(const int32_t *residues, int count);
int64_t riceCost(const RiceChannel &channel, int moveAverageScaling, uint32_t aveSum);
// riceCost() of a seekable channel for each averaging scaling 0 .. kRiceScalings - 1.
inline constexpr int kRiceScalings = 8;
void riceCostsByScaling(const RiceChannel &channel, int64_t (&bits)[kRiceScalings]);
void riceEncode(BitWriter &out, const RiceChannel &channel, int moveAverageScaling, uint32_t &aveSum);

} // namespace wmalossless
