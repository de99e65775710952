#include "wmalosslessframecoder.h"

#include "bitwriter.h"
#include "ricecoder.h"

#include <algorithm>
#include <bit>

namespace wmalossless {

namespace {

constexpr int kBitsPerSample = 16;
constexpr int kMaxMoveAverageScaling = 7;
static_assert(kRiceScalings == kMaxMoveAverageScaling + 1);
constexpr int kScalingProbe = 512;

int log2Floor(int value)
{
    return 31 - std::countl_zero(static_cast<uint32_t>(value));
}

bool fitsSigned(int32_t value, int bits)
{
    const int64_t limit = int64_t{1} << (bits - 1);
    return value >= -limit && value < limit;
}

} // namespace

FrameCoder::FrameCoder(int channels, int frameSize, const WmaLosslessSettings &settings)
    : m_channels(channels), m_frameSize(frameSize), m_settings(settings),
      m_decorrelate(settings.interChannel && channels == 2), m_state(channels),
      m_work(channels, std::vector<int32_t>(frameSize)), m_channelCoded(channels), m_rice(channels)
{
    if (m_settings.acCoefs.size() > 16)
        m_settings.acCoefs.resize(16);
    m_settings.acScaling = std::clamp(m_settings.acScaling, 0, 15);
    for (int &coef : m_settings.acCoefs)
        coef = std::clamp(coef, 1, 1 << m_settings.acScaling);
    m_lmsCandidates = m_settings.lmsCandidates;
    if (!m_settings.lms.empty())
        m_lmsCandidates = {m_settings.lms};
    if (m_lmsCandidates.empty())
        m_lmsCandidates.push_back({{16, 0}});
    for (std::vector<WmaLosslessLmsStage> &stages : m_lmsCandidates) {
        if (stages.empty())
            stages.push_back({16, 0});
        if (stages.size() > 8)
            stages.resize(8);
    }
    configureLms(m_lmsCandidates.front());
    m_moveAverageScaling = std::clamp(m_settings.moveAverageScaling, 0, kMaxMoveAverageScaling);
}

void FrameCoder::configureLms(const std::vector<WmaLosslessLmsStage> &stages)
{
    for (ChannelState &state : m_state) {
        state.lms.resize(stages.size());
        for (size_t i = 0; i < stages.size(); ++i)
            state.lms[i].configure(stages[i].order, stages[i].scaling);
        state.updateSpeed = 0;
    }
}

int64_t FrameCoder::maxFrameBits(int channels, int frameSize)
{
    // Raw samples plus the largest frame, tile and seekable headers and the trailer bit.
    return int64_t{channels} * frameSize * kBitsPerSample + 512 + 128 * channels;
}

bool FrameCoder::encode(const std::vector<std::vector<int32_t>> &planar, int validSamples, bool seekable,
                        BitWriter &out, bool raw)
{
    out.putBit(true); // tile aligned: every channel has the same single tile
    if (validSamples < m_frameSize) {
        out.putBit(true);
        out.putBit(false); // the decoder ignores a start skip, so none is sent
        out.putBit(true);
        out.put(static_cast<uint32_t>(m_frameSize - validSamples), log2Floor(m_frameSize * 2));
    } else {
        out.putBit(false);
    }

    const std::vector<ChannelState> beforeReset = seekable ? m_state : std::vector<ChannelState>();
    const bool acBefore = m_acOn, decorrelateBefore = m_decorrelate;
    if (seekable) {
        m_acOn = !m_settings.acCoefs.empty() && differenceHelps(planar, validSamples);
        for (ChannelState &state : m_state) {
            for (CdlmsFilter &filter : state.lms)
                filter.clear();
            state.aveSum = 0;
            std::fill(std::begin(state.acPrev), std::end(state.acPrev), 0);
        }
    }

    const int64_t mark = out.bitCount();
    const int64_t rawBits = 2 + int64_t{m_channels} * m_frameSize * kBitsPerSample;
    const bool coded = !raw && m_settings.compress && codeBest(planar, seekable, rawBits, out);
    if (coded)
        return seekable;
    // Raw samples decode anywhere: the reset waits for the next coded tile.
    if (seekable) {
        m_state = beforeReset;
        m_acOn = acBefore;
        m_decorrelate = decorrelateBefore;
    }
    out.truncate(mark);
    out.putBit(false);
    writeRaw(planar, out);
    return false;
}

// Writes the seekable flag, the seekable header where there is one, and the coded body.
int64_t FrameCoder::writeTile(bool seekable, BitWriter &out)
{
    out.putBit(seekable);
    if (seekable)
        writeSeekableHeader(out);
    const int64_t start = out.bitCount();
    writeCoded(out);
    return out.bitCount() - start;
}

// A seekable tile may change the filter cascade and whether the channels go
// as mid and side: now and then each choice codes the tile, and the shortest
// (with the state it leaves) stays, for this tile and the next ones. A trial
// that keeps the choice makes the next one wait twice as long (music keeps
// its choice for minutes); one that changes it brings them back to the
// shortest wait. False when no choice beats raw samples; the state is then
// as it came in.
bool FrameCoder::codeBest(const std::vector<std::vector<int32_t>> &planar, bool seekable, int64_t rawBits,
                          BitWriter &out)
{
    const bool trying = seekable && m_framesSinceTrial >= m_trialInterval;
    m_framesSinceTrial = trying ? 0 : m_framesSinceTrial + 1;
    if (!trying) {
        // One way to code it: the state goes back only if raw samples win.
        const std::vector<ChannelState> saved = m_state;
        const int savedScaling = m_moveAverageScaling;
        if (predict(planar, seekable) && writeTile(seekable, out) < rawBits)
            return true;
        m_state = saved;
        m_moveAverageScaling = savedScaling;
        return false;
    }

    bool coded = false;
    int64_t bestBits = rawBits;
    const bool decorrelateBefore = m_decorrelate;
    const std::vector<ChannelState> saved = m_state;
    std::vector<ChannelState> bestState;
    std::vector<std::vector<int32_t>> bestWork;
    std::vector<bool> bestCoded;
    std::vector<RiceChannel> bestRice;
    int bestScaling = m_moveAverageScaling;
    struct Choice {
        std::size_t cascade;
        bool decorrelate;
    };
    Choice chosen{m_cascade, m_decorrelate};
    // Each choice is costed without writing it; the best one is written once.
    auto tryChoice = [&](const Choice &choice) {
        m_state = saved;
        configureLms(m_lmsCandidates[choice.cascade]);
        m_decorrelate = choice.decorrelate;
        if (!predict(planar, seekable))
            return;
        const int64_t bits = codedBits();
        if (bits < bestBits) {
            coded = true;
            bestBits = bits;
            bestState = m_state;
            bestWork = m_work;
            bestCoded = m_channelCoded;
            bestRice = m_rice;
            bestScaling = m_moveAverageScaling;
            chosen = choice;
        }
    };
    // Every cascade as the channels go now; then the best one with the channels the other way.
    for (std::size_t k = 0; k < m_lmsCandidates.size(); ++k)
        tryChoice({k, decorrelateBefore});
    if (coded && m_settings.interChannel && m_channels == 2)
        tryChoice({chosen.cascade, !decorrelateBefore});
    m_moveAverageScaling = bestScaling;
    const bool kept = chosen.cascade == m_cascade && chosen.decorrelate == decorrelateBefore;
    m_trialInterval = kept ? std::min(m_trialInterval * 2, kMaxTrialInterval) : kMinTrialInterval;
    if (!coded) {
        m_state = saved;
        m_decorrelate = decorrelateBefore;
        return false;
    }
    m_state = std::move(bestState);
    m_work = std::move(bestWork);
    m_channelCoded = std::move(bestCoded);
    m_rice = std::move(bestRice);
    m_cascade = chosen.cascade;
    m_decorrelate = chosen.decorrelate;
    writeTile(seekable, out);
    return true;
}

// The fixed filter takes first differences: a gain for anything whose energy
// lies low, a loss for white noise. The seekable tile that sets it decides,
// from its own samples, as FLAC's encoder estimates its fixed predictors.
bool FrameCoder::differenceHelps(const std::vector<std::vector<int32_t>> &planar, int count) const
{
    int64_t plain = 0, difference = 0;
    for (const std::vector<int32_t> &channel : planar) {
        // 16-bit samples: a frame's sums fit 32 bits, and the loop vectorises.
        const int32_t *x = channel.data();
        int32_t p = 0, d = 0;
        for (int i = 1; i < count; ++i) {
            p += std::abs(x[i]);
            d += std::abs(x[i] - x[i - 1]);
        }
        plain += p;
        difference += d;
    }
    return difference <= plain;
}

void FrameCoder::writeSeekableHeader(BitWriter &out) const
{
    const bool acFilter = m_acOn;
    out.putBit(false); // arithmetic coding: not decodable by libavcodec
    out.putBit(acFilter);
    out.putBit(m_decorrelate);
    out.putBit(false); // multi-channel LMS
    if (acFilter) {
        out.put(static_cast<uint32_t>(m_settings.acCoefs.size() - 1), 4);
        out.put(static_cast<uint32_t>(m_settings.acScaling), 4);
        for (int coef : m_settings.acCoefs)
            out.put(static_cast<uint32_t>(coef - 1), m_settings.acScaling);
    }
    out.putBit(false); // LMS coefficients start from zero rather than being sent
    for (int c = 0; c < m_channels; ++c) {
        const std::vector<CdlmsFilter> &lms = m_state[c].lms;
        out.put(static_cast<uint32_t>(lms.size() - 1), 3);
        for (const CdlmsFilter &filter : lms)
            out.put(static_cast<uint32_t>(filter.order() / 8 - 1), 7);
        for (const CdlmsFilter &filter : lms)
            out.put(static_cast<uint32_t>(filter.scaling()), 4);
    }
    out.put(static_cast<uint32_t>(m_moveAverageScaling), 3);
    out.put(0, 8); // quantiser step 1: lossless
}

void FrameCoder::setUpdateSpeed(ChannelState &state, int speed)
{
    if (state.updateSpeed == speed)
        return;
    for (CdlmsFilter &filter : state.lms) {
        if (speed == 16)
            filter.doubleUpdates();
        else
            filter.halveUpdates();
    }
    state.updateSpeed = speed;
}

bool FrameCoder::predict(const std::vector<std::vector<int32_t>> &planar, bool seekable)
{
    const std::vector<int> &ac = m_settings.acCoefs;
    const int acOrder = m_acOn ? static_cast<int>(ac.size()) : 0;
    for (int c = 0; c < m_channels; ++c) {
        const std::vector<int32_t> &x = planar[c];
        std::vector<int32_t> &r = m_work[c];
        if (acOrder == 0) {
            std::copy(x.begin(), x.end(), r.begin());
            continue;
        }
        int32_t *prev = m_state[c].acPrev;
        const int shift = m_settings.acScaling;
        auto filtered = [shift](int32_t sample, uint32_t pred) {
            return static_cast<int32_t>(static_cast<uint32_t>(sample) -
                                        static_cast<uint32_t>(static_cast<int32_t>(pred) >> shift));
        };
        const int head = std::min(acOrder, m_frameSize);
        for (int i = 0; i < head; ++i) {
            uint32_t pred = 0;
            for (int j = 0; j < acOrder; ++j) {
                const int k = i - j - 1;
                pred += static_cast<uint32_t>(ac[j]) * static_cast<uint32_t>(k >= 0 ? x[k] : prev[-k - 1]);
            }
            r[i] = filtered(x[i], pred);
        }
        if (acOrder == 1 && ac[0] == 1 << shift) {
            // The first difference, the usual filter, in a loop the compiler vectorises.
            const int32_t *__restrict in = x.data();
            int32_t *__restrict out = r.data();
            const int n = m_frameSize; // a local bound: the stores could be taken to change a member
            for (int i = 1; i < n; ++i)
                out[i] =
                    static_cast<int32_t>(static_cast<uint32_t>(in[i]) - static_cast<uint32_t>(in[i - 1]));
        } else {
            for (int i = head; i < m_frameSize; ++i) {
                uint32_t pred = 0;
                for (int j = 0; j < acOrder; ++j)
                    pred += static_cast<uint32_t>(ac[j]) * static_cast<uint32_t>(x[i - j - 1]);
                r[i] = filtered(x[i], pred);
            }
        }
        for (int j = 0; j < acOrder; ++j)
            prev[j] = x[m_frameSize - 1 - j];
    }

    if (m_decorrelate) {
        int32_t *__restrict mid = m_work[0].data();
        int32_t *__restrict side = m_work[1].data();
        const int n = m_frameSize;
        for (int i = 0; i < n; ++i) {
            const int32_t s = side[i] - mid[i];
            mid[i] += s >> 1;
            side[i] = s;
        }
    }

    const int firstBits = kBitsPerSample + (m_decorrelate ? 1 : 0);
    for (int c = 0; c < m_channels; ++c) {
        std::vector<int32_t> &r = m_work[c];
        m_channelCoded[c] = std::any_of(r.begin(), r.end(), [](int32_t v) { return v != 0; });
        if (!m_channelCoded[c])
            continue;
        ChannelState &state = m_state[c];
        const int speed = seekable ? 16 : 8;
        setUpdateSpeed(state, speed);
        CdlmsFilter::encodeCascade(state.lms.data(), static_cast<int>(state.lms.size()), r.data(),
                                   m_frameSize, speed);
        if (seekable && !fitsSigned(r[0], firstBits))
            return false;
        m_rice[c] = {r.data(), m_frameSize, seekable, firstBits};
    }

    if (seekable) {
        if (m_settings.moveAverageScaling >= 0) {
            m_moveAverageScaling = std::min(m_settings.moveAverageScaling, kMaxMoveAverageScaling);
        } else {
            // The tile's start tells the averaging length well enough, at a quarter of the cost.
            int64_t bits[kRiceScalings] = {};
            for (int c = 0; c < m_channels; ++c) {
                if (!m_channelCoded[c])
                    continue;
                RiceChannel probe = m_rice[c];
                probe.count = std::min(probe.count, kScalingProbe);
                int64_t channelBits[kRiceScalings];
                riceCostsByScaling(probe, channelBits);
                for (int m = 0; m < kRiceScalings; ++m)
                    bits[m] += channelBits[m];
            }
            m_moveAverageScaling = static_cast<int>(std::min_element(bits, bits + kRiceScalings) - bits);
        }
    }

    return true;
}

// Bits of the body predict() left: its flags and each coded channel's residuals.
int64_t FrameCoder::codedBits() const
{
    int64_t bits = 2 + m_channels;
    for (int c = 0; c < m_channels; ++c) {
        if (m_channelCoded[c])
            bits += riceCost(m_rice[c], m_moveAverageScaling, m_state[c].aveSum);
    }
    return bits;
}

void FrameCoder::writeCoded(BitWriter &body)
{
    body.putBit(false); // not raw
    for (int c = 0; c < m_channels; ++c)
        body.putBit(m_channelCoded[c]);
    body.putBit(false); // no wasted low bits
    for (int c = 0; c < m_channels; ++c) {
        if (m_channelCoded[c]) {
            m_rice[c].residues = m_work[c].data();
            riceEncode(body, m_rice[c], m_moveAverageScaling, m_state[c].aveSum);
        }
    }
}

void FrameCoder::writeRaw(const std::vector<std::vector<int32_t>> &planar, BitWriter &body) const
{
    // Low bits that are zero in every sample are left out (all but one for silence).
    uint32_t used = 0;
    for (const std::vector<int32_t> &channel : planar)
        for (int32_t v : channel)
            used |= static_cast<uint32_t>(v);
    const int wasted = used == 0 ? kBitsPerSample - 1 : std::min(std::countr_zero(used), kBitsPerSample - 1);

    body.putBit(true); // raw
    body.putBit(wasted > 0);
    if (wasted > 0)
        body.put(static_cast<uint32_t>(wasted), 5);
    const int bits = kBitsPerSample - wasted;
    BitWriter::Run run = body.beginRun(int64_t{m_channels} * m_frameSize * bits);
    const int n = m_frameSize;
    for (const std::vector<int32_t> &channel : planar) {
        const int32_t *x = channel.data();
        int i = 0;
        if (bits == kBitsPerSample) // full-scale noise: two samples a word
            for (; i + 2 <= n; i += 2)
                run.putFitting(static_cast<uint32_t>(x[i]) << 16 | (static_cast<uint32_t>(x[i + 1]) & 0xffff),
                               32);
        for (; i < n; ++i)
            run.put(static_cast<uint32_t>(x[i] >> wasted), bits);
    }
    body.endRun(run);
}

} // namespace wmalossless
