#include "wmastdencoder.h"

#include "wmastdframecoder.h"
#include "wmastdlayout.h"
#include "wmastdsuperframer.h"

#include <algorithm>
#include <cmath>

namespace {
// What set-up takes: the rates and channel counts the stream layouts are made for.
constexpr int kMinSampleRate = 8000;
constexpr int kMaxSampleRate = 48000;
constexpr int kMaxChannels = 2;
constexpr int kMaxQuality = 100;
// The least a frame's share of a superframe may be: below it frames
// overrun the rate (on loud noise 8 kHz mono needed about 6 bytes, 48 kHz
// stereo about 12).
constexpr int kMinFrameBytes = 16;
// The stream header states a superframe's size in 16 bits.
constexpr int kMaxBlockAlign = 65535;
// Superframes of about this many bytes; more frames per superframe waste
// less on headers, fewer keep seeking fine.
constexpr double kTargetSuperframeBytes = 800.0;
// What a file costs beyond its superframes' share of the rate: the
// container's header, and at the end the partly filled superframe, the
// one that releases the last frame and the padding of the last packet
// (about two superframes), and the frames of lead-in and overlap. At low
// rates that is several percent of a minute; superframes pay it back by
// holding one frame more than the rate's count in each so many, early on.
constexpr int kClosingSuperframes = 2;
constexpr int kExtraCodedFrames = 3;
constexpr int64_t kPaybackEvery = 12; // frames per frame paid back
constexpr int kMaxFramesPerSuperframe = 8;
// Rate control holds the noise at one level over the masking threshold
// (constant quality) and moves that level with what the frames so far
// spent over or under the average: in proportion and, slowly, integrated.
constexpr double kProportionalDb = 0.3; // per average frame of debt
constexpr double kIntegralDb = 0.02;
// Attacks and onsets are looked for in stretches of 1/16 frame.
constexpr int kSegments = 16;
// An attack: a stretch with this much more high-passed energy than the
// three before it. It is coded in short blocks so that its noise cannot
// spread before the attack.
constexpr float kAttackRatio = 10.0f;
constexpr float kAttackFloor = 1e-6f; // energy per sample below which nothing counts as an attack
constexpr int kShortBeforeAttack = 3; // size index of the longest block before one in its frame
// An onset: a stretch in one channel with this much more energy in its
// second difference than the stretches before it.
constexpr size_t kOnsetHistory = 4;
constexpr float kOnsetRatio = 8.0f;
constexpr float kOnsetFloor = 1e-7f;     // per sample
constexpr double kReservoirFrames = 6.0; // the most the coded stream runs ahead or behind
// At a constant quality: the header's rate per quality (it chooses the
// decoder's tables and noise coding) and the noise over the masking
// threshold. Measured on recordings: about -12 dB NMR at 98, and bit rates
// that rise with quality.
int nominalBitRate(int channels, int quality)
{
    const int perChannel = quality >= 95   ? 128000
                           : quality >= 85 ? 96000
                           : quality >= 70 ? 64000
                           : quality >= 45 ? 48000
                           : quality >= 20 ? 32000
                                           : 24000;
    return perChannel * channels;
}

double qualityNoiseDb(int quality)
{
    return 10.0 - 0.2 * quality;
}

// The rate the stream header states.
int headerBitRate(const WmaStdParams &params)
{
    return params.quality > 0 && params.bitRate <= 0 ? nominalBitRate(params.channels, params.quality)
                                                     : params.bitRate;
}

// How the coded stream is cut: superframes of about kTargetSuperframeBytes
// in the file, each that many bytes less what the container adds to it.
struct Superframing {
    double bytesPerFrame = 0; // the rate's share of one frame
    int frames = 0;           // frames per superframe at the rate
    int blockAlign = 0;       // bytes per superframe
};

Superframing superframing(const WmaStdParams &params, int bitRate, int frameLength)
{
    Superframing s;
    s.bytesPerFrame = double(bitRate) * frameLength / (8.0 * params.sampleRate);
    s.frames =
        std::clamp(int(std::lround(kTargetSuperframeBytes / s.bytesPerFrame)), 2, kMaxFramesPerSuperframe);
    s.blockAlign = int(s.bytesPerFrame * s.frames - double(params.superframeOverhead));
    return s;
}

bool configuresAlike(const wmastd::StreamLayout &a, const wmastd::StreamLayout &b)
{
    if (a.noiseCoding != b.noiseCoding || a.coefTable != b.coefTable ||
        a.byteOffsetBits != b.byteOffsetBits || a.blockSizes != b.blockSizes)
        return false;
    for (size_t k = 0; k < a.blocks.size(); ++k)
        if (a.blocks[k].highBandStart != b.blocks[k].highBandStart)
            return false;
    return true;
}

} // namespace

WmaStdEncoder::Setup WmaStdEncoder::check(const WmaStdParams &params)
{
    if (params.channels < 1 || params.channels > kMaxChannels)
        return Setup::InvalidChannelCount;
    if (params.sampleRate < kMinSampleRate || params.sampleRate > kMaxSampleRate)
        return Setup::InvalidSampleRate;
    if (params.quality < 0 || params.quality > kMaxQuality)
        return Setup::InvalidQuality;
    if (params.superframeOverhead < 0 || params.headerBytes < 0)
        return Setup::InvalidContainerOverhead;
    const int bitRate = headerBitRate(params);
    if (bitRate <= 0)
        return Setup::InvalidBitRate;
    const int frameLength = wmastd::makeStreamLayout(params.sampleRate, params.channels, bitRate).frameLength;
    const Superframing cut = superframing(params, bitRate, frameLength);
    if (cut.blockAlign < kMinFrameBytes * cut.frames || cut.blockAlign > kMaxBlockAlign)
        return Setup::InvalidBitRate;
    return Setup::Ok;
}

const char *WmaStdEncoder::describe(Setup setup)
{
    switch (setup) {
    case Setup::Ok:
        break;
    case Setup::InvalidChannelCount:
        return "The WMA encoder takes one or two channels.";
    case Setup::InvalidSampleRate:
        return "The WMA encoder takes 8 to 48 kHz.";
    case Setup::InvalidQuality:
        return "The WMA encoder's quality runs from 1 to 100.";
    case Setup::InvalidBitRate:
        return "The WMA encoder cannot code at this bit rate.";
    case Setup::InvalidContainerOverhead:
        return "The WMA encoder was given a negative container overhead.";
    }
    return "";
}

WmaStdEncoder::Created WmaStdEncoder::create(const WmaStdParams &params)
{
    const Setup setup = check(params);
    if (setup != Setup::Ok)
        return {setup, nullptr};
    return {Setup::Ok, std::unique_ptr<WmaStdEncoder>(new WmaStdEncoder(params))};
}

WmaStdEncoder::WmaStdEncoder(const WmaStdParams &params)
    : m_sampleRate(params.sampleRate), m_channels(params.channels), m_bitRate(headerBitRate(params)),
      m_quality(params.quality), m_layout(std::make_unique<wmastd::StreamLayout>(
                                     wmastd::makeStreamLayout(m_sampleRate, m_channels, m_bitRate))),
      m_coder(std::make_unique<wmastd::FrameCoder>(*m_layout)), m_signal(static_cast<size_t>(m_channels))
{
    const int n = m_layout->frameLength;
    const Superframing cut = superframing(params, m_bitRate, n);
    m_blockAlign = cut.blockAlign;
    // At a constant quality frames pack as tightly as they come.
    m_framer = std::make_unique<wmastd::Superframer>(m_blockAlign, m_layout->byteOffsetBits,
                                                     m_quality > 0 ? 0 : cut.frames);
    m_frameBits = double(m_framer->capacity()) / cut.frames;
    if (m_quality <= 0)
        m_fixedCostFrames =
            int(std::ceil((double(params.headerBytes) +
                           kClosingSuperframes * (m_blockAlign + double(params.superframeOverhead))) /
                          cut.bytesPerFrame)) +
            kExtraCodedFrames;
    m_maxFrameBits = std::min(m_framer->capacity() - 8, m_framer->maxTail());
    if (m_quality <= 0)
        m_maxFrameBits = std::min(m_maxFrameBits, int(m_frameBits * 4));
    // The decoder's two frames of delay come first, as silence.
    for (auto &s : m_signal)
        s.assign(static_cast<size_t>(2 * n), 0.0f);
}

WmaStdEncoder::~WmaStdEncoder() = default;

int WmaStdEncoder::frameLength() const
{
    return m_layout->frameLength;
}

std::vector<uint8_t> WmaStdEncoder::extradata() const
{
    std::vector<uint8_t> data(10, 0);
    data[4] = static_cast<uint8_t>(m_layout->flags & 0xff);
    data[5] = static_cast<uint8_t>(m_layout->flags >> 8);
    return data;
}

std::vector<WmaStdPacket> WmaStdEncoder::encode(const float *interleaved, int frames)
{
    if (m_flushed || frames <= 0)
        return {};
    for (int c = 0; c < m_channels; ++c) {
        std::vector<float> &s = m_signal[static_cast<size_t>(c)];
        const size_t used = s.size();
        s.resize(used + static_cast<size_t>(frames));
        // Beyond full scale the coding overflows (the spectrum's energy
        // reaches infinity in float): such samples are clipped.
        for (int i = 0; i < frames; ++i) {
            const float v = interleaved[i * m_channels + c];
            s[used + static_cast<size_t>(i)] = std::isfinite(v) ? std::clamp(v, -1.0f, 1.0f) : 0.0f;
        }
    }
    m_samplesIn += frames;
    codeFrames(m_signalStart + int64_t(m_signal[0].size()));
    return take();
}

std::vector<WmaStdPacket> WmaStdEncoder::flush()
{
    if (m_flushed)
        return {};
    m_flushed = true;
    const int n = m_layout->frameLength;
    // Frame f finishes output samples up to (f + 1) N; the source ends at
    // 2N + m_samplesIn, and the decoder's last output block adds one frame.
    // Nothing given, nothing out: any frame would decode to a frame of silence.
    if (m_samplesIn == 0)
        return {};
    const int64_t frames = std::max<int64_t>(2, (m_samplesIn + n - 1) / n + 1);
    const int64_t needed = (frames + 2) * n;
    for (auto &s : m_signal)
        s.resize(static_cast<size_t>(std::max<int64_t>(needed - m_signalStart, int64_t(s.size()))), 0.0f);
    codeFrames(needed);
    m_framer->finish();
    return take();
}

void WmaStdEncoder::markAttacks(int64_t frame, std::vector<bool> &marks) const
{
    const int n = m_layout->frameLength;
    const int segment = n / kSegments;
    // Segments from the frame's start to past the end of its middle half,
    // where its blocks sit: the energy as it is and high-passed (a sharp
    // attack stands out there even under loud low notes).
    std::vector<float> plain(marks.size(), 0.0f), sharp(marks.size(), 0.0f);
    const size_t base = static_cast<size_t>(frame * n - m_signalStart);
    for (const std::vector<float> &s : m_signal)
        for (size_t k = 0; k < plain.size(); ++k) {
            // Four partial sums each (segments are a multiple of four long):
            // one running sum would wait on every addition.
            // x[j + 1] is the sample, x[j] the one before it.
            const float *x = s.data() + base + k * size_t(segment);
            float d2[4] = {0, 0, 0, 0}, x2[4] = {0, 0, 0, 0};
            for (size_t i = 0; i < size_t(segment); i += 4)
                for (size_t l = 0; l < 4; ++l) {
                    const float d = x[i + l + 1] - x[i + l];
                    d2[l] += d * d;
                    x2[l] += x[i + l + 1] * x[i + l + 1];
                }
            sharp[k] += (d2[0] + d2[1]) + (d2[2] + d2[3]);
            plain[k] += (x2[0] + x2[1]) + (x2[2] + x2[3]);
        }
    const auto rises = [segment](const std::vector<float> &e, size_t k) {
        const float before = (e[k - 1] + e[k - 2] + e[k - 3]) / 3.0f;
        return e[k] > kAttackFloor * float(segment) && e[k] > kAttackRatio * before;
    };
    for (size_t k = kSegments / 2; k < plain.size(); ++k)
        if (rises(sharp, k) || rises(plain, k))
            marks[k] = true;
}

void WmaStdEncoder::markOnsets(int64_t frame, std::vector<bool> &marks) const
{
    // Per channel, on the second difference (it all but removes a bass
    // line, which would otherwise hide a note starting above it, and a
    // steady noise in one channel cannot hide an onset in the other).
    const int n = m_layout->frameLength;
    const int segment = n / kSegments;
    const size_t base = static_cast<size_t>(frame * n - m_signalStart);
    std::vector<float> energy(marks.size());
    for (const std::vector<float> &s : m_signal) {
        for (size_t k = 0; k < energy.size(); ++k) {
            float sum = 0;
            for (size_t i = base + k * size_t(segment); i < base + (k + 1) * size_t(segment); ++i) {
                const float d = s[i] - 2.0f * s[i - 1] + s[i - 2];
                sum += d * d;
            }
            energy[k] = sum;
        }
        for (size_t k = kSegments / 2; k < energy.size(); ++k) {
            float before = 0;
            for (size_t j = k - kOnsetHistory; j < k; ++j)
                before += energy[j];
            if (energy[k] > kOnsetFloor * float(segment) &&
                energy[k] * float(kOnsetHistory) > kOnsetRatio * before)
                marks[k] = true;
        }
    }
}

// The shortest blocks go where an attack is and just before it, so that
// no block's noise reaches more than two of them ahead of the attack: a
// longer block before them ends its window half a shortest block into
// the first. Elsewhere in the frame blocks are as long as fits, each at a
// multiple of its length: after an attack they grow back one size at a time.
std::vector<int> WmaStdEncoder::blockSizes(int64_t frame) const
{
    const int shortest = m_layout->blockSizes - 1;
    const int units = 1 << shortest; // shortest blocks per frame
    const int perUnit = std::max(1, kSegments / units);
    // The frame's middle half, and the next frame's first unit: an attack
    // there needs this frame's last block short.
    std::vector<bool> marks(size_t(kSegments * 3 / 2 + perUnit), false);
    markAttacks(frame, marks);
    markOnsets(frame, marks);
    std::vector<bool> fine(size_t(units), false);
    for (size_t k = kSegments / 2; k < marks.size(); ++k) {
        if (!marks[k])
            continue;
        const int unit = int(k - kSegments / 2) / perUnit;
        for (int u : {unit - 1, unit})
            if (u >= 0 && u < units)
                fine[size_t(u)] = true;
    }
    if (std::none_of(fine.begin(), fine.end(), [](bool f) { return f; }))
        return {0};
    // Before the first attack blocks stay at most an eighth of the frame: a
    // note often swells for a few milliseconds before the stretch that
    // trips the test, and a long block would spread its noise over all of it.
    const auto firstFine = std::find(fine.begin(), fine.end(), true) - fine.begin();
    std::vector<int> sizes;
    for (int pos = 0; pos < units;) {
        int size = pos < firstFine ? std::min(kShortBeforeAttack, shortest) : 0;
        for (; size < shortest; ++size) {
            const int length = units >> size;
            if (pos % length == 0 && pos + length <= units &&
                std::none_of(fine.begin() + pos, fine.begin() + pos + length, [](bool f) { return f; }))
                break;
        }
        sizes.push_back(size);
        pos += units >> size;
    }
    return sizes;
}

void WmaStdEncoder::codeFrames(int64_t available)
{
    const int n = m_layout->frameLength;
    std::vector<const float *> block(static_cast<size_t>(m_channels));
    // A frame's last block must name the next frame's first: plan one ahead.
    while ((m_framesCoded + 3) * n <= available) {
        const size_t offset = static_cast<size_t>(m_framesCoded * n - m_signalStart);
        for (int c = 0; c < m_channels; ++c)
            block[static_cast<size_t>(c)] = m_signal[static_cast<size_t>(c)].data() + offset;
        wmastd::FramePlan plan;
        plan.sizes = m_nextSizes;
        plan.previous = m_previousSize;
        m_nextSizes = blockSizes(m_framesCoded + 1);
        plan.next = m_nextSizes.front();
        m_previousSize = plan.sizes.back();
        BitWriter bits;
        if (m_quality > 0) {
            m_coder->code(block, plan, m_framer->nextStartsRun(), float(qualityNoiseDb(m_quality)), 0,
                          m_maxFrameBits, bits);
        } else {
            const int64_t paidBack = std::min<int64_t>(m_fixedCostFrames, m_framesCoded / kPaybackEvery);
            m_framer->setExtraFrames(paidBack);
            const double target = double(m_framesCoded - paidBack) * m_frameBits;
            const double debt = double(m_framer->bitsOut()) - target;
            const double reservoir = kReservoirFrames * m_frameBits;
            // Each frame paid back closes a superframe a frame later, so its
            // frames share one frame's bits less. The ceiling takes that in
            // over the frames before: taken all at once, with the reservoir
            // spent, it would starve one frame to a quarter of its share.
            const double ahead = std::min(double(m_fixedCostFrames - paidBack),
                                          double(m_framesCoded % kPaybackEvery) / kPaybackEvery);
            const int maxBits = int(std::clamp(m_frameBits * (1.0 - ahead) + reservoir - debt,
                                               m_frameBits * 0.25, double(m_maxFrameBits)));
            const int minBits = int(std::clamp(m_frameBits - reservoir - debt, 0.0, double(maxBits)));
            // The noise follows what the frames themselves spent: a superframe
            // pads what its frames leave, so the stream alone never shows
            // frames spending too little. Credit lost to padding beyond half
            // the reservoir is forgotten.
            m_codedBits = std::max(m_codedBits, target + debt - reservoir / 2);
            const double codedDebt = m_codedBits - target;
            const double noiseDb = m_noiseBaseDb + kProportionalDb * codedDebt / m_frameBits;
            m_coder->code(block, plan, m_framer->nextStartsRun(), float(noiseDb), minBits, maxBits, bits);
            m_codedBits += double(bits.bitCount());
            m_noiseBaseDb = std::clamp(m_noiseBaseDb + kIntegralDb * codedDebt / m_frameBits, -40.0, 60.0);
        }
        m_framer->add(bits);
        ++m_framesCoded;
    }
    // Keep only what the next frame's block still covers.
    const int64_t keep = m_framesCoded * n;
    if (keep > m_signalStart) {
        for (auto &s : m_signal)
            s.erase(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(keep - m_signalStart));
        m_signalStart = keep;
    }
}

std::vector<WmaStdPacket> WmaStdEncoder::take()
{
    std::vector<WmaStdPacket> packets;
    for (wmastd::Superframe &s : m_framer->take()) {
        m_bytesOut += int64_t(s.data.size());
        WmaStdPacket p;
        p.data = std::move(s.data);
        p.duration = int64_t(s.frames) * m_layout->frameLength;
        packets.push_back(std::move(p));
    }
    return packets;
}

int64_t WmaStdEncoder::averageBitRate() const
{
    if (m_quality <= 0 || m_samplesIn <= 0)
        return m_bitRate;
    // The header states whole bytes per second: search among those, or a
    // rate at the edge of a configuration rounds down across it.
    const auto realBytes = int64_t(double(m_bytesOut) * m_sampleRate / double(m_samplesIn));
    const auto same = [this](int64_t bytes) {
        return configuresAlike(wmastd::makeStreamLayout(m_sampleRate, m_channels, int(bytes * 8)), *m_layout);
    };
    if (same(realBytes))
        return realBytes * 8;
    // Between the rate coded for and the real one, the last that the
    // decoder still reads the same way.
    int64_t alike = m_bitRate / 8, other = realBytes;
    while (std::abs(other - alike) > 1) {
        const int64_t mid = (alike + other) / 2;
        (same(mid) ? alike : other) = mid;
    }
    return alike * 8;
}
