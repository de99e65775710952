#pragma once

#include "wmastdbitwriter.h"
#include "wmastdcoefcode.h"
#include "wmastdlayout.h"
#include "wmastdmdct.h"

#include <memory>
#include <vector>

namespace wmastd {

// Codes one frame (one long block) of every channel: MDCT, masking-shaped
// exponents, mid/side when it saves bits, and the coarsest total gain
// whose coefficients fit the bit budget.
class FrameCoder {
public:
    explicit FrameCoder(const StreamLayout &layout);
    ~FrameCoder();

    // `signal[c]` holds the 2N samples under the frame's block. The first
    // frame of a superframe restates the block sizes (`restateSizes`).
    void code(const std::vector<const float *> &signal, bool restateSizes, int budget, BitWriter &out);

private:
    struct Channel;

    int quantise(int totalGain);
    int headerBits(int totalGain, bool restateSizes) const;
    void write(int totalGain, bool restateSizes, BitWriter &out) const;

    const StreamLayout &layout_;
    Mdct mdct_;
    std::vector<float> window_;
    std::vector<CoefCode> codes_; // normal channel, side channel
    std::vector<Channel> channels_;
    bool midSide_ = false;
};

} // namespace wmastd
