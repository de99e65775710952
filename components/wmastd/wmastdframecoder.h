#pragma once

#include "bitwriter.h"
#include "wmastdcoefcode.h"
#include "wmastdlayout.h"
#include "wmastdmdct.h"
#include "wmastdpsycho.h"

#include <vector>

namespace wmastd {

// The blocks of one frame, as size indices (0 = the frame's length, k =
// length >> k), and the sizes next to them in the frames around.
struct FramePlan {
    std::vector<int> sizes;
    int previous = 0; // last block of the previous frame
    int next = 0;     // first block of the next frame
};

// Codes one frame of every channel block by block: MDCT under the format's
// windows, masking-shaped exponents, mid/side when it saves bits, and the
// total gain that puts the noise at the level asked for.
class FrameCoder {
public:
    explicit FrameCoder(const StreamLayout &layout);

    // `signal[c]` starts at the frame's position; the frame's blocks reach
    // at most 2N samples from there. The first frame of a superframe
    // restates the block sizes (`restateSizes`). Noise sits `noiseDb` above
    // the masking threshold unless the frame would cost more than `maxBits`
    // or less than `minBits`. Returns the bits written.
    int code(const std::vector<const float *> &signal, const FramePlan &plan, bool restateSizes,
             float noiseDb, int minBits, int maxBits, BitWriter &out);

private:
    struct Channel {
        std::vector<float> coefs;
        std::vector<float> threshold;
        std::vector<int> exponents;
        std::vector<float> step; // per coefficient, relative to the total gain's step
        std::vector<int> q;
        int exponentBits = 0;
        std::vector<int> sent; // the exponents the decoder holds
        int sentSize = -1;     // for blocks of this size
        int sentTop = 0;       // their loudest, as written
        bool coded = false;
    };
    struct Block {
        int size = 0; // index
        int previous = 0;
        int next = 0;
        int position = 0; // within the frame
        bool restate = false;
    };

    int codeBlock(const std::vector<const float *> &signal, const Block &block, float noiseDb, int minBits,
                  int maxBits, BitWriter &out);
    void analyse(const std::vector<const float *> &signal, const Block &block);
    float shapeExponents(const BlockLayout &layout, int length, int size);
    bool reuseExponents(int size, float unit);
    float reusedGain(const BlockLayout &layout) const;
    void setSteps(Channel &c, float unit, int size, int exponentSize) const;
    bool keepsLongCurves(int size) const;
    int exponentShift(const Channel &c, int length, int totalGain) const;
    int keptCurveGainLimit(int length) const;
    static int noiseCodingGainLimit(int length);
    int ditherGainLimit(const BlockLayout &layout, float noiseDb) const;
    bool truncateToFit(const BlockLayout &layout, int totalGain, int budget);
    bool mustCode(size_t channel) const;
    int quantise(const BlockLayout &layout, int totalGain);
    void keepBandEnergy(Channel &c, const BlockLayout &layout, float gain, int maxLevel) const;
    int headerBits(const Block &block, int totalGain) const;
    int limitClipping(const Block &block, int totalGain, int maxBits);
    void synthesise(const Block &block, int totalGain);
    float unliftForPeaks(const Block &block, int totalGain, int maxBits, float peak);
    float pullPeaksIn(const Block &block, int totalGain, int maxBits, float limit, float peak);
    float peakAt(const Block &block, float scale,
                 size_t count) const; // over the block's first `count` samples
    size_t completed(const Block &block) const;
    float ditherPeak(const BlockLayout &layout, int totalGain) const;
    void write(const Block &block, int totalGain, BitWriter &out) const;

    const StreamLayout &m_layout;
    std::vector<Mdct> m_mdcts;
    std::vector<MaskingModel> m_models;
    std::vector<std::vector<float>> m_slopes;
    std::vector<CoefCode> m_codes; // normal channel, side channel
    std::vector<Channel> m_channels;
    std::vector<float> m_windowed;
    const std::vector<float> *m_window = nullptr; // of the block being coded, 2n samples (one of m_windows)
    std::vector<std::vector<float>> m_windows;    // by size, previous and next size; built when first used
    std::vector<std::vector<float>> m_output;     // what the decoder will play, from the frame's start
    std::vector<std::vector<float>> m_synthesis;  // per channel, the block's share of it
    std::vector<float> m_plain;                   // the block under the plain window
    std::vector<float> m_dequantised;             // the coded block's spectrum, as the decoder sees it
    std::vector<float> m_mid, m_side, m_shared;   // mid/side trial
    std::vector<std::vector<float>> m_over;       // per coded channel, what passes the peak limit
    std::vector<float> m_correction;              // its spectrum
    std::vector<std::vector<int>> m_kept;         // the best quantised values so far
    std::vector<std::vector<float>> m_source;     // per channel, the coefficients before any pulling
    bool m_midSide = false;
    bool m_sentMidSide = false; // when the exponents the decoder holds were sent
    bool m_reuse = false;       // this block keeps them
    int m_blockSize = 0;        // of the block being coded
    int m_shiftGain = 0;        // the gain the exponents are lifted for (before any clipping cut)
    float m_sourcePeak = 0;     // under the block being coded
    float m_rounding;           // of the quantiser, by the rate
    float m_exponentHold;       // steps within which a band keeps the exponent before it
    float m_reuseSteps;         // how close a short block's curve must be to the held one to keep it
    bool m_lowRate;             // below one bit a sample
    bool m_liftRounding = true; // keepBandEnergy may lift roundings
};

} // namespace wmastd
