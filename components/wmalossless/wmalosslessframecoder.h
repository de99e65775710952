#pragma once

#include "cdlmsfilter.h"
#include "ricecoder.h"
#include "wmalosslesssettings.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class BitWriter;

namespace wmalossless {

// Codes one frame (a single tile per channel) and keeps the predictor state
// exactly as the decoder will have it after that frame.
class FrameCoder {
public:
    FrameCoder(int channels, int frameSize, const WmaLosslessSettings &settings);

    // `planar` holds frameSize samples per channel; only the first
    // `validSamples` are kept by the decoder (the last frame's end skip).
    // Returns whether the tile went out seekable: a raw one never needs to.
    // `raw`: raw samples whatever coding would save.
    bool encode(const std::vector<std::vector<int32_t>> &planar, int validSamples, bool seekable,
                BitWriter &out, bool raw = false);

    static int64_t maxFrameBits(int channels, int frameSize);

private:
    struct ChannelState {
        std::vector<CdlmsFilter> lms;
        int updateSpeed = 0;
        uint32_t aveSum = 0;
        int32_t acPrev[16] = {};
    };

    void writeSeekableHeader(BitWriter &out) const;
    bool differenceHelps(const std::vector<std::vector<int32_t>> &planar, int count) const;
    void setUpdateSpeed(ChannelState &state, int speed);
    void configureLms(const std::vector<WmaLosslessLmsStage> &stages);
    bool codeBest(const std::vector<std::vector<int32_t>> &planar, bool seekable, int64_t rawBits,
                  BitWriter &body);
    // Leaves the residuals in m_work and what coding them needs in m_rice;
    // false where a seekable tile's first residual does not fit its field.
    bool predict(const std::vector<std::vector<int32_t>> &planar, bool seekable);
    int64_t codedBits() const;
    void writeCoded(BitWriter &body);
    int64_t writeTile(bool seekable, BitWriter &out);
    void writeRaw(const std::vector<std::vector<int32_t>> &planar, BitWriter &body) const;

    int m_channels;
    int m_frameSize;
    WmaLosslessSettings m_settings;
    bool m_decorrelate;
    bool m_acOn = false;
    int m_moveAverageScaling = 0;
    // Frames between trials of every cascade; the seekable tiles in between keep the last choice.
    static constexpr int kMinTrialInterval = 8;
    static constexpr int kMaxTrialInterval = 64;
    int m_trialInterval = kMinTrialInterval;
    std::vector<std::vector<WmaLosslessLmsStage>> m_lmsCandidates;
    std::size_t m_cascade = 0;
    int m_framesSinceTrial = kMinTrialInterval;
    std::vector<ChannelState> m_state;
    std::vector<std::vector<int32_t>> m_work;
    std::vector<bool> m_channelCoded;
    std::vector<RiceChannel> m_rice;
};

} // namespace wmalossless
