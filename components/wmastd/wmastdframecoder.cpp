#include "wmastdframecoder.h"

#include "wmastdfastmath.h"
#include "wmastdpsycho.h"

#include <algorithm>
#include <cmath>

namespace wmastd {
namespace {

constexpr int kFirstExponent = 36; // the decoder's starting point for exponent deltas
// Fixed-point decoders look exponents up in a table from -60 to 67 and
// divide the total gain's step by the loudest exponent in 32 bits. A
// channel's curve is shaped with its loudest band at kLowestTop and lifted
// when written as far as the gain allows (exponentShift), never out of the table.
constexpr int kLowestTop = 10; // leaves 70 steps (87 dB) below the loudest band
constexpr int kMaxExponent = 67;
constexpr int kMinExponent = -60;
constexpr int kMaxDelta = 60;
constexpr int kMaxTotalGain = 250;
// Rounding offset of the quantiser: below one half saves bits on values
// that barely reach the next step, for less noise than a coarser gain.
// Below about 1.5 bits a sample, where most values are 0 or 1, a wider
// dead zone pays more: a coarse step costs more there than a lost one.
constexpr float kRounding = 0.40f;
constexpr float kLowRateRounding = 0.30f;
constexpr float kLowRateBitsPerSample = 1.5f;
// How much of a band's energy the coded band keeps at least, where a
// rounding up to kMostRounding allows (keepBandEnergy).
constexpr float kEnergyKept = 0.8f;
constexpr float kMostRounding = 0.45f;
constexpr float kLowRateEnergyKept = 1.0f;
constexpr float kLowRateMostRounding = 0.5f;
constexpr float kRoundingStep = 0.05f;
constexpr double kBandFloor = 0.25; // mean square value in steps
// How far on average (in exponent steps per band) a short block's curve
// may be from the one the decoder holds for it to be kept: a new curve
// costs a large share of a short block at low rates.
constexpr float kReuseSteps = 4.0f;
constexpr float kLowRateReuseSteps = 8.0f;
constexpr float kLowerRateBitsPerSample = 1.0f;
// An unchanged exponent costs one bit, a change of one three or four: at
// low rates a band keeps its neighbour's exponent when it is within this
// many steps (1.25 dB each) of its own, fewer as the rate rises.
float exponentHold(float bitsPerSample)
{
    return std::clamp(3.5f - 2.0f * bitsPerSample, 0.0f, 3.0f);
}
// One coefficient's coded value: the decoder's synthesis is negated, so the
// opposite sign; its magnitude rounded up from `rounding`, capped at what
// the escape code carries.
int quantised(float coef, float unit, float rounding, int maxLevel)
{
    const float v = coef * (-1.0f / unit);
    const int level = int(std::min(std::abs(v) + rounding, float(maxLevel)));
    return v < 0 ? -level : level;
}

float bitsPerSample(const StreamLayout &layout)
{
    return float(layout.bitRate) / float(layout.channels * layout.sampleRate);
}
// Silence below this coefficient magnitude leaves a channel uncoded.
constexpr float kSilence = 1e-7f;
// Coarse quantisation and band limiting overshoot a loud source's peaks
// (a clipped one's square edges most): the output may pass the block's own
// peak by about 1 dB. Where taking the overshoot off the coefficients does
// not bring it within, the block is turned down, at most this far.
constexpr int kMaxClipCutDb = 6;
constexpr float kNearFullScale = 0.98f; // a source this loud is taken for a clipped master
constexpr float kQuiet = 0.05f;         // blocks this quiet are not checked
constexpr float kLoud = 0.5f;           // nor turned down unless this loud
constexpr float kPeakAllowance = 1.12f; // about 1 dB: the output may pass the source's peak by that
constexpr float kPullTarget = 0.97f;    // what is over the limit is taken down to a little under it
constexpr int kPullRounds = 8;
// The decoders add noise to every coded value, uniform with this rms in
// quantiser steps. Under a kept curve it may pass the coding noise asked
// for by this much (where coding noise sits at the threshold it is 23 dB
// under it): a finer cap makes click-laden blocks dear and band-limited.
constexpr float kDecoderDither = 0.02f;
constexpr float kDitherHeadroomDb = 12.0f;

// Perceptual entropy estimate: bits a spectrum needs with steps sized to its thresholds.
float entropy(const std::vector<float> &coefs, const std::vector<float> &threshold, const BlockLayout &block)
{
    Log2Sum bits;
    int pos = 0;
    for (size_t b = 0; b < block.exponentBands.size(); ++b) {
        const float inverseStep = 1.0f / std::sqrt(12.0f * threshold[b]);
        const float *band = coefs.data() + pos;
        // Coefficient over step: far inside the range Log2Sum takes.
        bits.add(std::min(pos + block.exponentBands[b], block.codedEnd) - pos,
                 [&](int i) { return 1.0f + std::abs(band[i]) * inverseStep; });
        pos += block.exponentBands[b];
    }
    return float(bits.value());
}

} // namespace

FrameCoder::FrameCoder(const StreamLayout &layout)
    : m_layout(layout), m_channels(static_cast<size_t>(layout.channels)),
      m_windowed(static_cast<size_t>(2 * layout.frameLength)),
      m_rounding(bitsPerSample(layout) < kLowRateBitsPerSample ? kLowRateRounding : kRounding),
      m_exponentHold(exponentHold(bitsPerSample(layout))),
      m_reuseSteps(bitsPerSample(layout) < kLowerRateBitsPerSample ? kLowRateReuseSteps : kReuseSteps),
      m_lowRate(bitsPerSample(layout) < kLowerRateBitsPerSample)
{
    for (const BlockLayout &b : layout.blocks) {
        m_mdcts.emplace_back(b.length);
        m_models.emplace_back(b, layout.sampleRate);
        m_slopes.push_back(sineSlope(b.length));
    }
    m_codes.emplace_back(layout.coefTable * 2, layout.frameLengthBits);
    m_codes.emplace_back(layout.coefTable * 2 + 1, layout.frameLengthBits);
    for (Channel &c : m_channels) {
        c.coefs.resize(static_cast<size_t>(layout.frameLength));
        c.q.resize(static_cast<size_t>(layout.frameLength));
    }
    m_output.assign(m_channels.size(), std::vector<float>(static_cast<size_t>(2 * layout.frameLength), 0.0f));
    m_synthesis.assign(m_channels.size(),
                       std::vector<float>(static_cast<size_t>(2 * layout.frameLength), 0.0f));
}

int FrameCoder::code(const std::vector<const float *> &signal, const FramePlan &plan, bool restateSizes,
                     float noiseDb, int minBits, int maxBits, BitWriter &out)
{
    const int blocks = int(plan.sizes.size());
    const int64_t start = out.bitCount();
    int position = 0;
    for (int j = 0; j < blocks; ++j) {
        Block block;
        block.size = plan.sizes[static_cast<size_t>(j)];
        block.previous = j > 0 ? plan.sizes[static_cast<size_t>(j - 1)] : plan.previous;
        block.next = j + 1 < blocks ? plan.sizes[static_cast<size_t>(j + 1)] : plan.next;
        block.position = position;
        block.restate = restateSizes && j == 0;
        // Each block may spend its share of what the frame has left.
        const int64_t used = out.bitCount() - start;
        const int left = blocks - j;
        codeBlock(signal, block, noiseDb, int((minBits - used) / left), int((maxBits - used) / left), out);
        position += m_layout.blocks[static_cast<size_t>(block.size)].length;
    }
    const auto n = static_cast<std::ptrdiff_t>(m_layout.frameLength);
    for (std::vector<float> &o : m_output) {
        std::copy(o.begin() + n, o.end(), o.begin());
        std::fill(o.begin() + n, o.end(), 0.0f);
    }
    return int(out.bitCount() - start);
}

void FrameCoder::analyse(const std::vector<const float *> &signal, const Block &block)
{
    const BlockLayout &layout = m_layout.blocks[static_cast<size_t>(block.size)];
    const int n = layout.length;
    // The window: the slope of the shorter neighbour on each side, centred
    // in its half, flat in between, zero outside.
    const int left = std::min(n, m_layout.blocks[static_cast<size_t>(block.previous)].length);
    const int right = std::min(n, m_layout.blocks[static_cast<size_t>(block.next)].length);
    const std::vector<float> &leftSlope = m_slopes[static_cast<size_t>(std::max(block.size, block.previous))];
    const std::vector<float> &rightSlope = m_slopes[static_cast<size_t>(std::max(block.size, block.next))];
    const int leftZeros = (n - left) / 2;
    const int rightOnes = (n - right) / 2;
    const int offset = m_layout.frameLength / 2 + block.position - n / 2;
    // A window depends only on the three sizes: each is built once.
    const size_t sizes = m_layout.blocks.size();
    m_windows.resize(sizes * sizes * sizes);
    std::vector<float> &window =
        m_windows[(static_cast<size_t>(block.size) * sizes + static_cast<size_t>(block.previous)) * sizes +
                  static_cast<size_t>(block.next)];
    if (window.empty()) {
        window.resize(static_cast<size_t>(2 * n));
        for (int i = 0; i < n; ++i) {
            const int s = i - leftZeros;
            window[static_cast<size_t>(i)] = s < 0      ? 0.0f
                                             : s < left ? leftSlope[static_cast<size_t>(s)]
                                                        : 1.0f;
            const int t = i - rightOnes;
            window[static_cast<size_t>(n + i)] = t < 0       ? 1.0f
                                                 : t < right ? rightSlope[static_cast<size_t>(right - 1 - t)]
                                                             : 0.0f;
        }
    }
    m_window = &window;
    float peak = 0;
    for (size_t ch = 0; ch < m_channels.size(); ++ch) {
        const float *x = signal[ch] + offset;
        for (size_t i = 0; i < size_t(2 * n); ++i)
            m_windowed[i] = x[i] * (*m_window)[i];
        peak = largest(
            size_t(2 * n), [x](size_t i) { return std::abs(x[i]); }, peak);
        m_channels[ch].coefs.resize(static_cast<size_t>(n));
        Mdct &mdct = m_mdcts[static_cast<size_t>(block.size)];
        mdct.forward(m_windowed.data(), m_channels[ch].coefs.data());
        MaskingModel &model = m_models[static_cast<size_t>(block.size)];
        if (left == n && right == n) {
            model.threshold(m_channels[ch].coefs.data(), int(ch), m_channels[ch].threshold);
            continue;
        }
        // A window cut short next to a short block leaks: a tone would look
        // like noise. The masking model sees the block under the plain window.
        const std::vector<float> &slope = m_slopes[static_cast<size_t>(block.size)];
        for (size_t i = 0; i < size_t(n); ++i) {
            m_windowed[i] = x[i] * slope[i];
            m_windowed[size_t(2 * n) - 1 - i] = x[size_t(2 * n) - 1 - i] * slope[i];
        }
        m_plain.resize(static_cast<size_t>(n));
        mdct.forward(m_windowed.data(), m_plain.data());
        model.threshold(m_plain.data(), int(ch), m_channels[ch].threshold);
    }
    m_sourcePeak = peak;

    m_midSide = false;
    if (m_channels.size() == 2) {
        Channel &l = m_channels[0];
        Channel &r = m_channels[1];
        // Scratch kept between blocks: no allocation per block.
        std::vector<float> &mid = m_mid, &side = m_side, &shared = m_shared;
        mid.resize(static_cast<size_t>(n));
        side.resize(static_cast<size_t>(n));
        for (size_t i = 0; i < size_t(n); ++i) {
            mid[i] = (l.coefs[i] + r.coefs[i]) * 0.5f;
            side[i] = (l.coefs[i] - r.coefs[i]) * 0.5f;
        }
        // Noise in mid or side lands in both outputs, so both take the lower threshold.
        shared.resize(l.threshold.size());
        for (size_t b = 0; b < shared.size(); ++b)
            shared[b] = std::min(l.threshold[b], r.threshold[b]);
        const float leftRight = entropy(l.coefs, l.threshold, layout) + entropy(r.coefs, r.threshold, layout);
        const float midSide = entropy(mid, shared, layout) + entropy(side, shared, layout);
        // A short block keeping the long block's curves keeps its channels too.
        if (keepsLongCurves(block.size) ? m_sentMidSide : midSide < leftRight) {
            m_midSide = true;
            l.coefs.swap(mid);
            r.coefs.swap(side);
            l.threshold = shared;
            r.threshold.swap(shared);
        }
    }
}

float FrameCoder::shapeExponents(const BlockLayout &layout, int length, int size)
{
    const float unit = std::sqrt(2.0f / float(length)) / 32768.0f; // coefficient of one quantum at gain 0 dB
    float loudest = -1e9f; // exponent of the band with the coarsest step
    for (Channel &c : m_channels) {
        float peak = 0;
        for (int i = 0; i < layout.codedEnd; ++i)
            peak = std::max(peak, std::abs(c.coefs[static_cast<size_t>(i)]));
        c.coded = peak > kSilence;
        if (!c.coded)
            continue;
        // Step sizes follow the threshold: noise of a uniform quantiser is step^2 / 12.
        const size_t bands = layout.exponentBands.size();
        std::vector<float> raw(bands);
        float top = -1e9f;
        for (size_t b = 0; b < bands; ++b) {
            raw[b] = 8.0f * std::log10(12.0f * c.threshold[b]);
            top = std::max(top, raw[b]);
        }
        loudest = std::max(loudest, top);
        c.exponents.resize(bands);
        int previous = kFirstExponent;
        c.exponentBits = 0;
        for (size_t b = 0; b < bands; ++b) {
            const float want = raw[b] - top + float(kLowestTop);
            int e = std::abs(want - float(previous)) <= m_exponentHold ? previous : int(std::lround(want));
            e = std::clamp(e, std::max(kMinExponent, previous - kMaxDelta),
                           std::min(kLowestTop, previous + kMaxDelta));
            c.exponentBits += exponentDeltaBits(e - previous);
            c.exponents[b] = e;
            previous = e;
        }
        setSteps(c, unit, size, size);
    }
    // A silent channel that must be coded (see mustCode) is coded as zeros.
    for (size_t ch = 0; ch < m_channels.size(); ++ch) {
        Channel &c = m_channels[ch];
        if (c.coded || !mustCode(ch))
            continue;
        c.coded = true;
        c.exponents.assign(layout.exponentBands.size(), kLowestTop);
        c.exponentBits = exponentDeltaBits(kLowestTop - kFirstExponent) + int(c.exponents.size()) - 1;
        setSteps(c, unit, size, size);
    }
    // Exponents are in 1/16 decade of amplitude, the gain in dB.
    const float gain = 1.25f * loudest - 20.0f * std::log10(unit);
    return reuseExponents(size, unit) ? reusedGain(layout) : gain;
}

// How far a channel's curve is lifted when written. A fixed-point decoder's
// quotient of the gain's step (10^(gain/20) * 2/length) over the loudest
// exponent (10^((e+1)/16) in its table) is kept at most 2^17 of its units:
// any 13-bit level times it fits 32 bits, and it keeps 17 bits of precision.
// Lifting moves every exponent alike: the float decoders' output is the same.
int FrameCoder::exponentShift(const Channel &c, int length, int totalGain) const
{
    const int emax = *std::max_element(c.exponents.begin(), c.exponents.end());
    if (!m_layout.noiseCoding) {
        const int ideal = int(std::ceil(0.8f * float(totalGain) - 16.0f * std::log10(float(length)))) - 1;
        return std::clamp(ideal - emax, 0, kMaxExponent - emax);
    }
    // Under noise coding they scale levels by that quotient with 18 more bits
    // dropped, and hold exponents to 16 bits after the point: the loudest
    // exponent goes where the two roundings balance, the quotient (gain's
    // step over loudest exponent) at most 16: a short block keeping the curve
    // has 2^9 of room left for its shorter length and a coarser gain.
    const float step = 0.05f * float(totalGain) + std::log10(2.0f / float(length)); // log10
    const float top = std::max(8.0f * (step - std::log10(4.0f)), 16.0f * (step - std::log10(16.0f)));
    const int emin = *std::min_element(c.exponents.begin(), c.exponents.end());
    const int lowest = std::max(kMinExponent - emin, kFirstExponent - kMaxDelta - c.exponents[0]);
    return std::clamp(int(std::lround(top)) - emax, lowest, kMaxExponent - emax);
}

// The coarsest gain a short block keeping the long block's curves may take
// under noise coding: the quotient above stays 2^13 at most, a quarter of
// what fixed-point decoders hold.
int FrameCoder::keptCurveGainLimit(int length) const
{
    int limit = kMaxTotalGain;
    for (const Channel &c : m_channels)
        if (c.coded)
            limit = std::min(limit, int(std::floor(20.0f * (std::log10(8192.0f * float(length) / 2.0f) +
                                                            float(c.sentTop) / 16.0f))));
    return limit;
}

// The coarsest gain any block may take under noise coding. Fixed-point
// decoders there hold a coefficient's step (10^(gain/20) * 2/length at the
// loudest exponent) with 14 bits after the point in 32 bits, before the
// level multiplies it: past 2^17 the step wraps round, and even a zero
// level plays its dither at the wrapped, often opposite, step.
int FrameCoder::noiseCodingGainLimit(int length)
{
    return int(std::floor(20.0 * std::log10(131072.0 * double(length) / 2.0)));
}

// Under a kept curve a band's step can be far coarser than the block needs
// there (a click on a held tone): where everything in it rounds to zero the
// decoders' dither still plays, at 2% of the step. The gain stays where that
// noise is within kDitherHeadroomDb of the coding noise asked for (`noiseDb`
// over the threshold, never under it) and of what the band holds, in every
// band the source has.
int FrameCoder::ditherGainLimit(const BlockLayout &layout, float noiseDb) const
{
    const float headroom = std::pow(10.0f, kDitherHeadroomDb / 10.0f);
    const float noise = std::pow(10.0f, std::max(0.0f, noiseDb) / 10.0f);
    float limit = float(kMaxTotalGain);
    for (const Channel &c : m_channels) {
        const auto end = c.coefs.begin() + layout.codedEnd;
        if (!c.coded || std::none_of(c.coefs.begin(), end, [](float v) { return std::abs(v) > kSilence; }))
            continue;
        int pos = 0;
        for (size_t b = 0; b < layout.exponentBands.size() && pos < layout.codedEnd; ++b) {
            const int from = pos;
            pos = std::min(pos + layout.exponentBands[b], layout.codedEnd);
            float step = 0, energy = 0;
            for (int i = from; i < pos; ++i) {
                step = std::max(step, c.step[static_cast<size_t>(i)]);
                energy += c.coefs[static_cast<size_t>(i)] * c.coefs[static_cast<size_t>(i)];
            }
            const float threshold = c.threshold[b];
            const float allowed =
                headroom * std::max(threshold, std::min(threshold * noise, energy / float(pos - from)));
            limit = std::min(limit, 10.0f * std::log10(allowed + 1e-30f) -
                                        20.0f * std::log10(kDecoderDither * step));
        }
    }
    // Clamped as a float: the int conversion must not see an overflow.
    return int(std::floor(std::clamp(limit, 1.0f, float(kMaxTotalGain))));
}

// Zeroes the highest values until the block's coefficients fit `budget`
// bits; false if nothing fits (then every value is zero).
bool FrameCoder::truncateToFit(const BlockLayout &layout, int totalGain, int budget)
{
    const int escapeBits = escapeLevelBits(totalGain);
    m_kept.resize(m_channels.size());
    for (size_t ch = 0; ch < m_channels.size(); ++ch)
        m_kept[ch] = m_channels[ch].q;
    const auto bitsBelow = [&](int end) {
        int total = 0;
        for (size_t ch = 0; ch < m_channels.size(); ++ch) {
            Channel &c = m_channels[ch];
            if (!c.coded)
                continue;
            std::copy(m_kept[ch].begin(), m_kept[ch].begin() + end, c.q.begin());
            std::fill(c.q.begin() + end, c.q.begin() + layout.codedEnd, 0);
            total += m_codes[ch == 1 && m_midSide ? 1 : 0].cost(c.q.data(), layout.codedEnd, escapeBits) +
                     c.exponentBits;
        }
        return total;
    };
    if (bitsBelow(0) > budget)
        return false;
    int lo = 0, hi = layout.codedEnd;
    while (hi - lo > 1) {
        const int mid = (lo + hi) / 2;
        (bitsBelow(mid) <= budget ? lo : hi) = mid;
    }
    bitsBelow(lo);
    return true;
}

// Decoders differ on what an uncoded channel plays where its block overlaps
// the next: the float ones overlap silence, fixed-point ones for players
// repeat what they held there. Only the side channel beside a coded mid
// plays the same in both (the mid's output), so every other channel is
// coded, as zeros when it has nothing.
bool FrameCoder::mustCode(size_t channel) const
{
    // Under noise coding every channel needs a long block's curve for the
    // short blocks to keep (keepsLongCurves).
    return !m_midSide || channel == 0 ||
           (m_layout.noiseCoding && m_blockSize == 0 && m_channels[channel].sentSize != 0);
}

// Each coefficient's step relative to the total gain's: the loudest
// exponent's step is `unit`. The decoder reads a curve sent for blocks of
// size `exponentSize` at index (i << size) >> exponentSize.
void FrameCoder::setSteps(Channel &c, float unit, int size, int exponentSize) const
{
    const int emax = *std::max_element(c.exponents.begin(), c.exponents.end());
    const std::vector<int> &bands = m_layout.blocks[static_cast<size_t>(exponentSize)].exponentBands;
    const int n = m_layout.blocks[static_cast<size_t>(size)].length;
    c.step.resize(static_cast<size_t>(n));
    size_t b = 0;
    int end = bands[0];
    float step = unit * std::pow(10.0f, float(c.exponents[0] - emax) / 16.0f);
    for (int i = 0; i < n; ++i) {
        const int k = (i << size) >> exponentSize;
        if (k >= end) {
            while (k >= end)
                end += bands[++b];
            step = unit * std::pow(10.0f, float(c.exponents[b] - emax) / 16.0f);
        }
        c.step[static_cast<size_t>(i)] = step;
    }
}

// Under noise coding a short block keeps the curves of the last long block:
// decoders disagree on where they read a short block's own curve above the
// first noise band (fixed-point ones for players step through it at the long
// block's stride), and agree on a long block's. Once every channel holds one.
bool FrameCoder::keepsLongCurves(int size) const
{
    return m_layout.noiseCoding && size > 0 &&
           std::all_of(m_channels.begin(), m_channels.end(),
                       [](const Channel &c) { return c.sentSize == 0; });
}

// A short block may keep the exponents the decoder already has: when every
// coded channel's new curve is close in shape to the one sent last for a
// block of the same size, the bits of a new one buy little.
bool FrameCoder::reuseExponents(int size, float unit)
{
    m_reuse = false;
    const bool keepLong = keepsLongCurves(size);
    if (!keepLong && (size == 0 || m_layout.noiseCoding || m_midSide != m_sentMidSide))
        return false;
    for (const Channel &c : m_channels) {
        if (!c.coded)
            continue;
        if (keepLong)
            continue;
        if (c.sentSize != size)
            return false;
        const int emax = *std::max_element(c.exponents.begin(), c.exponents.end());
        const int smax = *std::max_element(c.sent.begin(), c.sent.end());
        float difference = 0;
        for (size_t b = 0; b < c.exponents.size(); ++b)
            difference += float(std::abs((c.exponents[b] - emax) - (c.sent[b] - smax)));
        if (difference > m_reuseSteps * float(c.exponents.size()))
            return false;
    }
    m_reuse = true;
    for (Channel &c : m_channels) {
        if (!c.coded)
            continue;
        c.exponents = c.sent;
        c.exponentBits = 0;
        setSteps(c, unit, size, c.sentSize);
    }
    return true;
}

// The gain that puts each channel's noise at its threshold on average over
// its bands, under a curve that is not quite its own; the coarser channel's.
float FrameCoder::reusedGain(const BlockLayout &layout) const
{
    float gain = -1e9f;
    for (const Channel &c : m_channels) {
        if (!c.coded)
            continue;
        float sum = 0;
        int pos = 0;
        for (size_t b = 0; b < layout.exponentBands.size(); ++b) {
            const int end = pos + layout.exponentBands[b];
            float logStep = 0; // geometric mean over the band
            for (int i = pos; i < end; ++i)
                logStep += std::log10(c.step[static_cast<size_t>(i)]);
            sum += 10.0f * std::log10(12.0f * c.threshold[b]) - 20.0f * logStep / float(end - pos);
            pos = end;
        }
        gain = std::max(gain, sum / float(layout.exponentBands.size()));
    }
    return gain;
}

int FrameCoder::codeBlock(const std::vector<const float *> &signal, const Block &block, float noiseDb,
                          int minBits, int maxBits, BitWriter &out)
{
    const BlockLayout &layout = m_layout.blocks[static_cast<size_t>(block.size)];
    m_blockSize = block.size;
    analyse(signal, block);
    const float gainAtMask = shapeExponents(layout, layout.length, block.size);

    // Past the gain at which every value rounds to zero nothing gets cheaper,
    // and the decoder's dither, proportional to the step, grows without end.
    float loudest = 0;
    for (const Channel &c : m_channels)
        for (size_t i = 0; c.coded && i < size_t(layout.codedEnd); ++i)
            loudest = std::max(loudest, std::abs(c.coefs[i]) / c.step[i]);
    // Clamped as floats: an overflowed spectrum must not reach an int conversion.
    int silentGain = int(std::clamp(std::ceil(20.0f * std::log10(loudest / (1.0f - m_rounding) + 1e-30f)) + 1,
                                    1.0f, float(kMaxTotalGain)));
    // Below this gain the loudest value would not fit an escaped level.
    int finestGain = 1;
    while (finestGain < silentGain && loudest * std::pow(10.0f, -float(finestGain) / 20.0f) + m_rounding >
                                          float((1 << escapeLevelBits(finestGain)) - 1))
        ++finestGain;
    // A kept curve allows only so coarse a gain: fixed-point decoders'
    // range, and the decoders' dither where its steps are far coarser than
    // the block needs (but never so fine that the loudest value overflows).
    // Past what fits the frame at that gain the block is band-limited
    // (truncateToFit) rather than given a curve of its own.
    const bool keptCurve = m_reuse && m_layout.noiseCoding;
    // Under noise coding the step's range binds, not the bit budget, on a
    // loud block that could not be coded at all: it is coded band-limited
    // within its fair share, not at the expense of the blocks after it.
    const int rangeLimit = m_layout.noiseCoding ? noiseCodingGainLimit(layout.length) : kMaxTotalGain;
    const bool overRange = silentGain > rangeLimit;
    silentGain = std::min(silentGain, rangeLimit);
    finestGain = std::min(finestGain, silentGain);
    if (keptCurve) {
        const int range = std::max(1, keptCurveGainLimit(layout.length));
        finestGain = std::min(finestGain, range);
        silentGain = std::min({silentGain, range, std::max(finestGain, ditherGainLimit(layout, noiseDb))});
    }
    // The gain that puts the noise where asked; then the nearest that the limits allow.
    const float wanted = gainAtMask + noiseDb;
    int gain = std::isfinite(wanted)
                   ? int(std::lround(std::clamp(wanted, float(finestGain), float(silentGain))))
                   : silentGain;
    const auto bitsAt = [&](int g) { return quantise(layout, g) + headerBits(block, g); };
    const int bits = bitsAt(gain);
    if (bits > maxBits) {
        // The finest gain that still fits.
        int lo = gain, hi = silentGain;
        while (hi - lo > 1) {
            const int mid = (lo + hi) / 2;
            (bitsAt(mid) <= maxBits ? hi : lo) = mid;
        }
        gain = hi;
    } else if (bits < minBits && gain > finestGain) {
        // Spend what would otherwise be padding: the coarsest gain that uses it.
        int lo = finestGain, hi = gain;
        while (hi - lo > 1) {
            const int mid = (lo + hi) / 2;
            (bitsAt(mid) >= minBits ? lo : hi) = mid;
        }
        gain = bitsAt(lo) <= maxBits ? lo : hi;
    }
    m_shiftGain = gain;
    // A block that fits at no gain (only an overflowed spectrum could) is
    // left silent rather than overrun the frame.
    bool fits = bitsAt(gain) <= maxBits;
    const bool capped = overRange && silentGain == rangeLimit;
    if (!fits && (keptCurve || capped))
        fits = truncateToFit(layout, gain, (capped ? minBits : maxBits) - headerBits(block, gain));
    // A channel with nothing left to code says so in one bit, where it may.
    for (size_t ch = 0; ch < m_channels.size(); ++ch) {
        Channel &c = m_channels[ch];
        if (!fits)
            std::fill(c.q.begin(), c.q.end(), 0);
        c.coded = c.coded && (mustCode(ch) || std::any_of(c.q.begin(), c.q.begin() + layout.codedEnd,
                                                          [](int v) { return v != 0; }));
    }
    gain = limitClipping(block, gain, maxBits);
    const int64_t before = out.bitCount();
    write(block, gain, out);
    for (Channel &c : m_channels)
        if (c.coded && !m_reuse) {
            c.sent = c.exponents;
            c.sentSize = block.size;
            c.sentTop = *std::max_element(c.sent.begin(), c.sent.end()) +
                        exponentShift(c, layout.length, m_shiftGain);
            m_sentMidSide = m_midSide;
        }
    return int(out.bitCount() - before);
}

// The block as the decoder will synthesise it (without its small dither),
// per output channel, into m_synthesis.
void FrameCoder::synthesise(const Block &block, int totalGain)
{
    const BlockLayout &layout = m_layout.blocks[static_cast<size_t>(block.size)];
    const int n = layout.length;
    const float gain = std::pow(10.0f, float(totalGain) / 20.0f);
    std::vector<float> &coefs = m_dequantised;
    coefs.resize(static_cast<size_t>(n));
    for (size_t ch = 0; ch < m_channels.size(); ++ch) {
        const Channel &c = m_channels[ch];
        std::vector<float> &y = m_synthesis[ch];
        std::fill(coefs.begin(), coefs.end(), 0.0f);
        for (size_t i = 0; c.coded && i < size_t(layout.codedEnd); ++i)
            coefs[i] = -float(c.q[i]) * gain * c.step[i];
        m_mdcts[static_cast<size_t>(block.size)].inverse(coefs.data(), y.data());
        for (size_t i = 0; i < size_t(2 * n); ++i)
            y[i] *= (*m_window)[i];
    }
    if (m_midSide) {
        for (size_t i = 0; i < size_t(2 * n); ++i) {
            const float mid = m_synthesis[0][i], side = m_synthesis[1][i];
            m_synthesis[0][i] = mid + side;
            m_synthesis[1][i] = mid - side;
        }
    }
}

// Where the completed output would pass `limit`, takes what passes it off
// the coefficients (through the block's own analysis) and quantises again,
// a few times: the peaks come in, the level stays. Keeps the last result
// that lowered the peak and fits `maxBits`. Returns the peak.
float FrameCoder::pullPeaksIn(const Block &block, int totalGain, int maxBits, float limit, float peak)
{
    const BlockLayout &layout = m_layout.blocks[static_cast<size_t>(block.size)];
    const int n = layout.length;
    const size_t offset = static_cast<size_t>(m_layout.frameLength / 2 + block.position - n / 2);
    Mdct &mdct = m_mdcts[static_cast<size_t>(block.size)];
    m_kept.resize(m_channels.size());
    for (size_t ch = 0; ch < m_channels.size(); ++ch)
        m_kept[ch] = m_channels[ch].q;
    m_over.resize(m_channels.size());
    m_correction.resize(static_cast<size_t>(n));
    const float target = limit * kPullTarget;
    float boost = 1.0f;
    float whole = peakAt(block, 1.0f, size_t(2 * n));
    for (int round = 0; round < kPullRounds; ++round) {
        for (size_t ch = 0; ch < m_channels.size(); ++ch) {
            std::vector<float> &over = m_over[ch];
            over.assign(static_cast<size_t>(2 * n), 0.0f);
            // Only what this block completes: the next block sees the rest.
            for (size_t i = 0; i < completed(block); ++i) {
                const float v = m_output[ch][offset + i] + m_synthesis[ch][i];
                over[i] = v - std::clamp(v, -target, target);
            }
        }
        if (m_midSide)
            for (size_t i = 0; i < completed(block); ++i) {
                const float l = m_over[0][i], r = m_over[1][i];
                m_over[0][i] = (l + r) * 0.5f;
                m_over[1][i] = (l - r) * 0.5f;
            }
        for (size_t ch = 0; ch < m_channels.size(); ++ch) {
            Channel &c = m_channels[ch];
            if (!c.coded)
                continue;
            for (size_t i = 0; i < size_t(2 * n); ++i)
                m_windowed[i] = m_over[ch][i] * (*m_window)[i];
            mdct.forward(m_windowed.data(), m_correction.data());
            // Only where values are coded already: spread over the quiet
            // bands' fine steps the correction would cost more than the block.
            for (size_t i = 0; i < size_t(layout.codedEnd); ++i)
                if (m_kept[ch][i] != 0)
                    c.coefs[i] -= boost * m_correction[i];
        }
        const int bits = quantise(layout, totalGain) + headerBits(block, totalGain);
        synthesise(block, totalGain);
        const float now = peakAt(block, 1.0f, completed(block));
        // Under coarse steps one round's correction may round back to the
        // same values: it then adds up, doubled each round, until some move.
        bool moved = false;
        for (size_t ch = 0; ch < m_channels.size() && !moved; ++ch)
            moved = m_channels[ch].q != m_kept[ch];
        if (bits > maxBits || (moved && now >= peak))
            break;
        if (!moved) {
            boost *= 2.0f;
            continue;
        }
        // A boosted correction must not push the peaks into the half the
        // next block completes.
        const float all = peakAt(block, 1.0f, size_t(2 * n));
        if (boost > 1.0f && all > std::max(whole, limit))
            break;
        whole = all;
        peak = now;
        for (size_t ch = 0; ch < m_channels.size(); ++ch)
            m_kept[ch] = m_channels[ch].q;
        if (peak <= limit)
            break;
    }
    for (size_t ch = 0; ch < m_channels.size(); ++ch)
        m_channels[ch].q.swap(m_kept[ch]);
    synthesise(block, totalGain);
    return peak;
}

// The peak of the output this block completes (its first half over what
// the block before left), with the block scaled by `scale`.
float FrameCoder::peakAt(const Block &block, float scale, size_t count) const
{
    const int n = m_layout.blocks[static_cast<size_t>(block.size)].length;
    const size_t offset = static_cast<size_t>(m_layout.frameLength / 2 + block.position - n / 2);
    float peak = 0;
    for (size_t ch = 0; ch < m_channels.size(); ++ch) {
        const float *output = m_output[ch].data() + offset;
        const float *synthesis = m_synthesis[ch].data();
        peak = largest(
            count, [=](size_t i) { return std::abs(output[i] + scale * synthesis[i]); }, peak);
    }
    return peak;
}

// About the largest sample of the decoders' dither over the block: 2% of a
// step (rms) on every coded value, summed over the output channels, at four
// standard deviations.
float FrameCoder::ditherPeak(const BlockLayout &layout, int totalGain) const
{
    const float gain = kDecoderDither * std::pow(10.0f, float(totalGain) / 20.0f);
    double power = 0;
    for (const Channel &c : m_channels)
        for (size_t i = 0; c.coded && i < size_t(layout.codedEnd); ++i)
            power += double(gain * c.step[i]) * double(gain * c.step[i]);
    // An inverse transform of n values spreads their power over n samples.
    return 4.0f * float(std::sqrt(power / double(layout.length)));
}

// Samples from the block's start that no later block changes: its first
// half, and where a shorter block follows, the flat part of its second
// half before that block's slope begins.
size_t FrameCoder::completed(const Block &block) const
{
    const int n = m_layout.blocks[static_cast<size_t>(block.size)].length;
    const int next = std::min(n, m_layout.blocks[static_cast<size_t>(block.next)].length);
    return size_t(n + (n - next) / 2);
}

// Lifting a band's rounding to keep its energy rounds values up, and with
// coarse steps that can throw a block's peaks over where pulling cannot
// take them back in the bits there are: such a block goes back to plain
// rounding when that comes out lower over the whole block (its second
// half is what the next block starts from). Returns the peak of what the
// block completes.
float FrameCoder::unliftForPeaks(const Block &block, int totalGain, int maxBits, float peak)
{
    const BlockLayout &layout = m_layout.blocks[static_cast<size_t>(block.size)];
    const size_t whole = size_t(2 * layout.length);
    const float lifted = peakAt(block, 1.0f, whole);
    m_kept.resize(m_channels.size());
    for (size_t ch = 0; ch < m_channels.size(); ++ch) {
        m_kept[ch] = m_channels[ch].q;
        m_channels[ch].coefs.swap(m_source[ch]);
    }
    m_liftRounding = false;
    const int bits = quantise(layout, totalGain) + headerBits(block, totalGain);
    m_liftRounding = true;
    synthesise(block, totalGain);
    if (bits <= maxBits && peakAt(block, 1.0f, whole) < lifted)
        return peakAt(block, 1.0f, completed(block));
    for (size_t ch = 0; ch < m_channels.size(); ++ch)
        m_channels[ch].q.swap(m_kept[ch]);
    synthesise(block, totalGain);
    return peak;
}

int FrameCoder::limitClipping(const Block &block, int totalGain, int maxBits)
{
    const BlockLayout &layout = m_layout.blocks[static_cast<size_t>(block.size)];
    const int n = layout.length;
    const size_t offset = static_cast<size_t>(m_layout.frameLength / 2 + block.position - n / 2);
    if (m_sourcePeak < kQuiet)
        return totalGain;
    synthesise(block, totalGain);
    // The limit follows the block's own source, full scale or not: a cut to
    // stay under full scale turned clipped masters down by several dB, block
    // by block, and still left the float decoders' peaks over it.
    const float limit = m_sourcePeak * kPeakAllowance;
    float peak = peakAt(block, 1.0f, completed(block));
    m_source.resize(m_channels.size());
    for (size_t ch = 0; ch < m_channels.size() && m_lowRate; ++ch)
        m_source[ch] = m_channels[ch].coefs;
    if (peak > limit)
        peak = pullPeaksIn(block, totalGain, maxBits, limit, peak);
    if (m_lowRate && std::max(peak, peakAt(block, 1.0f, size_t(2 * n))) > limit)
        peak = unliftForPeaks(block, totalGain, maxBits, peak);
    // What still passes: turn the block down in whole dB until it stays
    // within, or as far as that helps where the block before already went over.
    // The cut looks at the output that is final: the rest still carries
    // aliasing the next block cancels, which passes a steady loud tone's
    // peak and turned it down for nothing. A source at full scale (a
    // clipped master) has no room for the tail the next block's pulling
    // rarely takes back, and a block under a kept curve can leave one its
    // coarse steps cannot: those are checked whole. A kept curve's dither,
    // which may pass what it codes, counts at its likely peak.
    int cut = 0;
    const bool kept = m_reuse && m_layout.noiseCoding;
    const size_t checked = kept || m_sourcePeak >= kNearFullScale ? size_t(2 * n) : completed(block);
    const float dither = kept ? ditherPeak(layout, totalGain) : 0.0f;
    if (m_sourcePeak >= kLoud && peakAt(block, 1.0f, checked) + dither > limit) {
        const int most = std::min(kMaxClipCutDb, totalGain - 1);
        float peaks[kMaxClipCutDb + 1];
        int tried = 0;
        while (tried <= most) {
            const float scale = std::pow(10.0f, -float(tried) / 20.0f);
            peaks[tried] = peakAt(block, scale, checked) + scale * dither;
            if (peaks[tried++] <= limit)
                break;
        }
        const float reachable = std::max(limit, *std::min_element(peaks, peaks + tried));
        while (peaks[cut] > reachable * 1.01f)
            ++cut;
    }
    const float scale = std::pow(10.0f, -float(cut) / 20.0f);
    for (size_t ch = 0; ch < m_channels.size(); ++ch)
        for (size_t i = 0; i < size_t(2 * n); ++i)
            m_output[ch][offset + i] += scale * m_synthesis[ch][i];
    return totalGain - cut;
}

// The dead zone takes a band's small values to zero and its others a
// little down: at low rates a band comes out several dB quieter than its
// source. Where it would, the band's rounding rises towards a half (the
// least squared error) until the coded band holds kEnergyKept of the
// source's energy. Only in bands that reach half a step (rms), and at the
// higher rates only in long blocks: lifted there, a short block's values
// added noise where little masks it (clicks over silence lost 1 dB of
// noise-to-mask). Below one bit a sample, where the loss is largest,
// short blocks are lifted too, and long ones towards all of the energy:
// the rounding that comes closest to it (in dB) is taken. Short blocks aim
// no higher, or the bits their larger values cost coarsen the steps and
// the noise before a click grows.
void FrameCoder::keepBandEnergy(Channel &c, const BlockLayout &layout, float gain, int maxLevel) const
{
    const bool whole = m_lowRate && m_blockSize == 0;
    const float kept = whole ? kLowRateEnergyKept : kEnergyKept;
    const float most = whole ? kLowRateMostRounding : kMostRounding;
    int pos = 0;
    for (size_t b = 0; b < layout.exponentBands.size() && pos < layout.codedEnd; ++b) {
        const size_t from = size_t(pos);
        pos = std::min(pos + layout.exponentBands[b], layout.codedEnd);
        const size_t to = size_t(pos);
        double source = 0, coded = 0;
        for (size_t i = from; i < to; ++i) {
            const float v = c.coefs[i] / (gain * c.step[i]);
            source += double(v) * double(v);
            coded += double(c.q[i]) * double(c.q[i]);
        }
        if (source < double(to - from) * kBandFloor)
            continue;
        const auto off = [source](double e) { return std::abs(std::log((e + 1e-9) / source)); };
        float best = m_rounding;
        double bestOff = off(coded);
        for (float r = m_rounding + kRoundingStep; coded < kept * source && r <= most + 1e-3f;
             r += kRoundingStep) {
            coded = 0;
            for (size_t i = from; i < to; ++i) {
                const int q = quantised(c.coefs[i], gain * c.step[i], r, maxLevel);
                coded += double(q) * double(q);
            }
            if (!m_lowRate || off(coded) < bestOff) {
                bestOff = off(coded);
                best = r;
            }
        }
        if (best != m_rounding)
            for (size_t i = from; i < to; ++i)
                c.q[i] = quantised(c.coefs[i], gain * c.step[i], best, maxLevel);
    }
}

int FrameCoder::quantise(const BlockLayout &layout, int totalGain)
{
    const int escapeBits = escapeLevelBits(totalGain);
    const int maxLevel = (1 << escapeBits) - 1;
    const float gain = std::pow(10.0f, float(totalGain) / 20.0f);
    int total = 0;
    for (size_t ch = 0; ch < m_channels.size(); ++ch) {
        Channel &c = m_channels[ch];
        if (!c.coded)
            continue;
        for (size_t i = 0; i < size_t(layout.codedEnd); ++i)
            c.q[i] = quantised(c.coefs[i], gain * c.step[i], m_rounding, maxLevel);
        if (m_liftRounding && (m_blockSize == 0 || m_lowRate))
            keepBandEnergy(c, layout, gain, maxLevel);
        const CoefCode &code = m_codes[ch == 1 && m_midSide ? 1 : 0];
        total += code.cost(c.q.data(), layout.codedEnd, escapeBits) + c.exponentBits;
    }
    return total;
}

int FrameCoder::headerBits(const Block &block, int totalGain) const
{
    const BlockLayout &layout = m_layout.blocks[static_cast<size_t>(block.size)];
    int bits = m_layout.blockSizeBits * (block.restate ? 3 : 1);
    bits += m_layout.channels == 2 ? 1 : 0;
    bits += m_layout.channels;
    bool any = false;
    for (const Channel &c : m_channels) {
        any = any || c.coded;
        if (c.coded && m_layout.noiseCoding)
            bits += int(layout.highBands.size());
        // The first exponent's delta, counted unlifted in exponentBits.
        if (c.coded && !m_reuse)
            bits += exponentDeltaBits(c.exponents[0] + exponentShift(c, layout.length, totalGain) -
                                      kFirstExponent) -
                    exponentDeltaBits(c.exponents[0] - kFirstExponent);
    }
    if (any)
        bits += 7 * ((totalGain - 1) / 127 + 1) + (block.size > 0 ? 1 : 0);
    return bits;
}

void FrameCoder::write(const Block &block, int totalGain, BitWriter &out) const
{
    const BlockLayout &layout = m_layout.blocks[static_cast<size_t>(block.size)];
    if (block.restate) {
        out.put(static_cast<uint32_t>(block.previous), m_layout.blockSizeBits);
        out.put(static_cast<uint32_t>(block.size), m_layout.blockSizeBits);
    }
    out.put(static_cast<uint32_t>(block.next), m_layout.blockSizeBits);
    if (m_layout.channels == 2)
        out.put(m_midSide ? 1 : 0, 1);
    bool any = false;
    for (const Channel &c : m_channels) {
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
    if (m_layout.noiseCoding)
        for (const Channel &c : m_channels)
            if (c.coded)
                out.put(0, int(layout.highBands.size())); // no band left to noise
    if (block.size > 0)
        out.put(m_reuse ? 0 : 1, 1); // a short block may bring its own exponents
    for (const Channel &c : m_channels) {
        if (!c.coded || m_reuse)
            continue;
        const int shift = exponentShift(c, layout.length, m_shiftGain);
        int previous = kFirstExponent;
        for (int e : c.exponents) {
            writeExponentDelta(e + shift - previous, out);
            previous = e + shift;
        }
    }
    const int escapeBits = escapeLevelBits(totalGain);
    for (size_t ch = 0; ch < m_channels.size(); ++ch)
        if (m_channels[ch].coded)
            m_codes[ch == 1 && m_midSide ? 1 : 0].write(m_channels[ch].q.data(), layout.codedEnd, escapeBits,
                                                        out);
}

} // namespace wmastd
