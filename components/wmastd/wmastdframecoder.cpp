#include "wmastdframecoder.h"

#include "wmastdpsycho.h"

#include <algorithm>
#include <cmath>

namespace wmastd {
namespace {

constexpr int kFirstExponent = 36; // the decoder's starting point for exponent deltas
constexpr int kMaxExponent = 95;
constexpr int kMinExponent = -60;
constexpr int kMaxDelta = 60;
constexpr int kMaxTotalGain = 250;
// Rounding offset of the quantiser: below one half saves bits on values
// that barely reach the next step, for less noise than a coarser gain.
constexpr float kRounding = 0.40f;
// Silence below this coefficient magnitude leaves a channel uncoded.
constexpr float kSilence = 1e-7f;

} // namespace

struct FrameCoder::Channel {
    std::vector<float> coefs;
    std::vector<float> threshold;
    std::vector<int> exponents;
    std::vector<float> stepScale; // per band, relative to the total gain's step
    std::vector<int> q;
    int exponentBits = 0;
    int coefBits = 0;
    bool coded = false;
};

FrameCoder::FrameCoder(const StreamLayout &layout)
    : layout_(layout), mdct_(layout.frameLength), channels_(static_cast<size_t>(layout.channels))
{
    const std::vector<float> slope = sineSlope(layout.frameLength);
    window_ = slope;
    window_.insert(window_.end(), slope.rbegin(), slope.rend());
    codes_.emplace_back(layout.coefTable * 2, layout.frameLengthBits);
    codes_.emplace_back(layout.coefTable * 2 + 1, layout.frameLengthBits);
    for (Channel &c : channels_) {
        c.coefs.resize(static_cast<size_t>(layout.frameLength));
        c.q.resize(static_cast<size_t>(layout.frameLength));
    }
}

FrameCoder::~FrameCoder() = default;

namespace {

// Perceptual entropy estimate: bits a spectrum needs with steps sized to its thresholds.
float entropy(const std::vector<float> &coefs, const std::vector<float> &threshold, const BlockLayout &block)
{
    float bits = 0;
    int pos = 0;
    for (size_t b = 0; b < block.exponentBands.size(); ++b) {
        const float inverseStep = 1.0f / std::sqrt(12.0f * threshold[b]);
        for (int i = pos; i < pos + block.exponentBands[b] && i < block.codedEnd; ++i)
            bits += std::log2(1.0f + std::abs(coefs[static_cast<size_t>(i)]) * inverseStep);
        pos += block.exponentBands[b];
    }
    return bits;
}

} // namespace

void FrameCoder::code(const std::vector<const float *> &signal, bool restateSizes, int budget, BitWriter &out)
{
    const BlockLayout &block = layout_.blocks[0];
    const int n = block.length;
    std::vector<float> windowed(static_cast<size_t>(2 * n));
    for (size_t ch = 0; ch < channels_.size(); ++ch) {
        for (int i = 0; i < 2 * n; ++i)
            windowed[static_cast<size_t>(i)] = signal[ch][i] * window_[static_cast<size_t>(i)];
        mdct_.forward(windowed.data(), channels_[ch].coefs.data());
        channels_[ch].threshold = maskingThreshold(channels_[ch].coefs.data(), block, layout_.sampleRate);
    }

    midSide_ = false;
    if (channels_.size() == 2) {
        Channel &l = channels_[0];
        Channel &r = channels_[1];
        std::vector<float> mid(static_cast<size_t>(n)), side(static_cast<size_t>(n));
        for (size_t i = 0; i < size_t(n); ++i) {
            mid[i] = (l.coefs[i] + r.coefs[i]) * 0.5f;
            side[i] = (l.coefs[i] - r.coefs[i]) * 0.5f;
        }
        // Noise in mid or side lands in both outputs, so both take the lower threshold.
        std::vector<float> shared(l.threshold.size());
        for (size_t b = 0; b < shared.size(); ++b)
            shared[b] = std::min(l.threshold[b], r.threshold[b]);
        const float leftRight = entropy(l.coefs, l.threshold, block) + entropy(r.coefs, r.threshold, block);
        const float midSide = entropy(mid, shared, block) + entropy(side, shared, block);
        if (midSide < leftRight) {
            midSide_ = true;
            l.coefs = std::move(mid);
            r.coefs = std::move(side);
            l.threshold = shared;
            r.threshold = std::move(shared);
        }
    }

    const float unit = std::sqrt(2.0f / float(n)) / 32768.0f; // coefficient of one quantum at gain 0 dB
    for (Channel &c : channels_) {
        float peak = 0;
        for (int i = 0; i < block.codedEnd; ++i)
            peak = std::max(peak, std::abs(c.coefs[static_cast<size_t>(i)]));
        c.coded = peak > kSilence;
        if (!c.coded)
            continue;
        // Step sizes follow the threshold: noise of a uniform quantiser is step^2 / 12.
        const size_t bands = block.exponentBands.size();
        std::vector<float> raw(bands);
        float top = -1e9f;
        for (size_t b = 0; b < bands; ++b) {
            raw[b] = 8.0f * std::log10(12.0f * c.threshold[b]);
            top = std::max(top, raw[b]);
        }
        c.exponents.resize(bands);
        int previous = kFirstExponent;
        c.exponentBits = 0;
        for (size_t b = 0; b < bands; ++b) {
            int e = int(std::lround(raw[b] - top)) + kMaxExponent;
            e = std::clamp(e, std::max(kMinExponent, previous - kMaxDelta), std::min(kMaxExponent, previous + kMaxDelta));
            c.exponentBits += exponentDeltaBits(e - previous);
            c.exponents[b] = e;
            previous = e;
        }
        const int emax = *std::max_element(c.exponents.begin(), c.exponents.end());
        c.stepScale.resize(bands);
        for (size_t b = 0; b < bands; ++b)
            c.stepScale[b] = unit * std::pow(10.0f, float(c.exponents[b] - emax) / 16.0f);
    }

    // The coarsest gain that fits is the one that fits with the least noise.
    int lo = 1, hi = kMaxTotalGain;
    if (quantise(lo) + headerBits(lo, restateSizes) <= budget) {
        hi = lo;
    } else {
        while (hi - lo > 1) {
            const int mid = (lo + hi) / 2;
            if (quantise(mid) + headerBits(mid, restateSizes) <= budget)
                hi = mid;
            else
                lo = mid;
        }
    }
    quantise(hi);
    write(hi, restateSizes, out);
}

int FrameCoder::quantise(int totalGain)
{
    const BlockLayout &block = layout_.blocks[0];
    const int escapeBits = escapeLevelBits(totalGain);
    const int maxLevel = (1 << escapeBits) - 1;
    const float gain = std::pow(10.0f, float(totalGain) / 20.0f);
    int total = 0;
    for (size_t ch = 0; ch < channels_.size(); ++ch) {
        Channel &c = channels_[ch];
        if (!c.coded)
            continue;
        int pos = 0;
        for (size_t b = 0; b < block.exponentBands.size() && pos < block.codedEnd; ++b) {
            // The decoder's synthesis is negated: code the opposite sign.
            const float inverse = -1.0f / (gain * c.stepScale[b]);
            const int end = std::min(pos + block.exponentBands[b], block.codedEnd);
            for (int i = pos; i < end; ++i) {
                const float v = c.coefs[static_cast<size_t>(i)] * inverse;
                const int level = std::min(int(std::abs(v) + kRounding), maxLevel);
                c.q[static_cast<size_t>(i)] = v < 0 ? -level : level;
            }
            pos = end;
        }
        const CoefCode &code = codes_[ch == 1 && midSide_ ? 1 : 0];
        c.coefBits = code.cost(c.q.data(), block.codedEnd, escapeBits);
        total += c.coefBits + c.exponentBits;
    }
    return total;
}

int FrameCoder::headerBits(int totalGain, bool restateSizes) const
{
    int bits = layout_.blockSizeBits * (restateSizes ? 3 : 1);
    bits += layout_.channels == 2 ? 1 : 0;
    bits += layout_.channels;
    bool any = false;
    for (const Channel &c : channels_) {
        any = any || c.coded;
        if (c.coded && layout_.noiseCoding)
            bits += int(layout_.blocks[0].highBands.size());
    }
    if (any)
        bits += 7 * ((totalGain - 1) / 127 + 1);
    return bits;
}

void FrameCoder::write(int totalGain, bool restateSizes, BitWriter &out) const
{
    const BlockLayout &block = layout_.blocks[0];
    // Only long blocks so far: every size field says "the frame's length".
    for (int i = 0; i < (restateSizes ? 3 : 1); ++i)
        out.put(0, layout_.blockSizeBits);
    if (layout_.channels == 2)
        out.put(midSide_ ? 1 : 0, 1);
    bool any = false;
    for (const Channel &c : channels_) {
        out.put(c.coded ? 1 : 0, 1);
        any = any || c.coded;
    }
    if (!any)
        return;
    for (int rest = totalGain - 1;; rest -= 127) {
        out.put(static_cast<uint32_t>(std::min(rest, 127)), 7);
        if (rest < 127)
            break;
    }
    if (layout_.noiseCoding)
        for (const Channel &c : channels_)
            if (c.coded)
                out.put(0, int(block.highBands.size())); // no band left to noise yet
    for (const Channel &c : channels_) {
        if (!c.coded)
            continue;
        int previous = kFirstExponent;
        for (int e : c.exponents) {
            writeExponentDelta(e - previous, out);
            previous = e;
        }
    }
    const int escapeBits = escapeLevelBits(totalGain);
    for (size_t ch = 0; ch < channels_.size(); ++ch)
        if (channels_[ch].coded)
            codes_[ch == 1 && midSide_ ? 1 : 0].write(channels_[ch].q.data(), block.codedEnd, escapeBits, out);
}

} // namespace wmastd
