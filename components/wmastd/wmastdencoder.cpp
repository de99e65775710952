#include "wmastdencoder.h"

#include "wmastdframecoder.h"
#include "wmastdlayout.h"
#include "wmastdsuperframer.h"

#include <algorithm>
#include <cmath>

namespace {
// Container bytes each superframe costs in the file: the writer's ASF
// packets hold two superframes, each with a 17-byte payload header, under
// a 12-byte packet header. The coded rate leaves room for them.
constexpr double kContainerBytesPerSuperframe = 17.0 + 12.0 / 2;
// Superframes of about this many bytes; more frames per superframe waste
// less on headers, fewer keep seeking fine.
constexpr double kTargetSuperframeBytes = 800.0;
constexpr int kMaxFramesPerSuperframe = 8;
// Rate control holds the noise at one level over the masking threshold
// (constant quality) and moves that level with what the frames so far
// spent over or under the average: in proportion and, slowly, integrated.
constexpr double kProportionalDb = 0.3;  // per average frame of debt
constexpr double kIntegralDb = 0.02;
// An attack: a stretch of 1/16 frame with this much more high-passed
// energy than the three before it. Such a frame is coded in short blocks
// so that its noise cannot spread before the attack.
constexpr float kAttackRatio = 10.0f;
constexpr float kAttackFloor = 1e-6f; // energy per sample below which nothing counts as an attack
constexpr double kReservoirFrames = 6.0; // the most the coded stream runs ahead or behind
// At a constant quality: the header's rate per quality (it chooses the
// decoder's tables and noise coding) and the noise over the masking
// threshold. Measured on recordings: about -12 dB NMR at 98, and bit rates
// that rise with quality.
int nominalBitRate(int channels, int quality)
{
    const int perChannel = quality >= 95 ? 128000 : quality >= 85 ? 96000 : quality >= 70 ? 64000
                         : quality >= 45 ? 48000 : quality >= 20 ? 32000 : 24000;
    return perChannel * channels;
}

double qualityNoiseDb(int quality)
{
    return 10.0 - 0.2 * quality;
}

bool configuresAlike(const wmastd::StreamLayout &a, const wmastd::StreamLayout &b)
{
    if (a.noiseCoding != b.noiseCoding || a.coefTable != b.coefTable || a.byteOffsetBits != b.byteOffsetBits ||
        a.blockSizes != b.blockSizes)
        return false;
    for (size_t k = 0; k < a.blocks.size(); ++k)
        if (a.blocks[k].highBandStart != b.blocks[k].highBandStart)
            return false;
    return true;
}

} // namespace

WmaStdEncoder::WmaStdEncoder(int sampleRate, int channels, int bitRate, int quality)
    : sampleRate_(sampleRate), channels_(channels),
      bitRate_(quality > 0 && bitRate <= 0 ? nominalBitRate(channels, quality) : bitRate), quality_(quality),
      layout_(std::make_unique<wmastd::StreamLayout>(wmastd::makeStreamLayout(sampleRate, channels, bitRate_))),
      coder_(std::make_unique<wmastd::FrameCoder>(*layout_)),
      signal_(static_cast<size_t>(channels))
{
    const int n = layout_->frameLength;
    const double bytesPerFrame = double(bitRate_) * n / (8.0 * sampleRate);
    const int perSuperframe =
        std::clamp(int(std::lround(kTargetSuperframeBytes / bytesPerFrame)), 2, kMaxFramesPerSuperframe);
    blockAlign_ = int(bytesPerFrame * perSuperframe - kContainerBytesPerSuperframe);
    // At a constant quality frames pack as tightly as they come.
    framer_ = std::make_unique<wmastd::Superframer>(blockAlign_, layout_->byteOffsetBits,
                                                    quality_ > 0 ? 0 : perSuperframe);
    frameBits_ = double(framer_->capacity()) / perSuperframe;
    maxFrameBits_ = std::min(framer_->capacity() - 8, framer_->maxTail());
    if (quality_ <= 0)
        maxFrameBits_ = std::min(maxFrameBits_, int(frameBits_ * 4));
    // The decoder's two frames of delay come first, as silence.
    for (auto &s : signal_)
        s.assign(static_cast<size_t>(2 * n), 0.0f);
}

WmaStdEncoder::~WmaStdEncoder() = default;

int WmaStdEncoder::frameLength() const
{
    return layout_->frameLength;
}

std::vector<uint8_t> WmaStdEncoder::extradata() const
{
    std::vector<uint8_t> data(10, 0);
    data[4] = static_cast<uint8_t>(layout_->flags & 0xff);
    data[5] = static_cast<uint8_t>(layout_->flags >> 8);
    return data;
}

std::vector<WmaStdPacket> WmaStdEncoder::encode(const float *interleaved, int frames)
{
    if (flushed_ || frames <= 0)
        return {};
    for (int c = 0; c < channels_; ++c) {
        std::vector<float> &s = signal_[static_cast<size_t>(c)];
        const size_t used = s.size();
        s.resize(used + static_cast<size_t>(frames));
        for (int i = 0; i < frames; ++i)
            s[used + static_cast<size_t>(i)] = interleaved[i * channels_ + c];
    }
    samplesIn_ += frames;
    codeFrames(signalStart_ + int64_t(signal_[0].size()));
    return take();
}

std::vector<WmaStdPacket> WmaStdEncoder::flush()
{
    if (flushed_)
        return {};
    flushed_ = true;
    const int n = layout_->frameLength;
    // Frame f finishes output samples up to (f + 1) N; the source ends at
    // 2N + samplesIn_, and the decoder's last output block adds one frame.
    const int64_t frames = std::max<int64_t>(2, (samplesIn_ + n - 1) / n + 1);
    const int64_t needed = (frames + 2) * n;
    for (auto &s : signal_)
        s.resize(static_cast<size_t>(std::max<int64_t>(needed - signalStart_, int64_t(s.size()))), 0.0f);
    codeFrames(needed);
    framer_->finish();
    return take();
}

bool WmaStdEncoder::hasAttack(int64_t frame) const
{
    const int n = layout_->frameLength;
    const int segment = n / 16;
    // Segments from the frame's start to the end of its middle half, where
    // its blocks sit: the energy as it is and high-passed (a sharp attack
    // stands out there even under loud low notes).
    std::vector<float> plain(24, 0.0f), sharp(24, 0.0f);
    const size_t base = static_cast<size_t>(frame * n - signalStart_);
    for (const std::vector<float> &s : signal_)
        for (size_t k = 0; k < plain.size(); ++k)
            for (size_t i = base + k * size_t(segment) + 1; i <= base + (k + 1) * size_t(segment); ++i) {
                const float d = s[i] - s[i - 1];
                sharp[k] += d * d;
                plain[k] += s[i] * s[i];
            }
    const auto rises = [segment](const std::vector<float> &e, size_t k) {
        const float before = (e[k - 1] + e[k - 2] + e[k - 3]) / 3.0f;
        return e[k] > kAttackFloor * float(segment) && e[k] > kAttackRatio * before;
    };
    for (size_t k = 8; k < plain.size(); ++k)
        if (rises(sharp, k) || rises(plain, k))
            return true;
    return false;
}

std::vector<int> WmaStdEncoder::blockSizes(int64_t frame) const
{
    if (!hasAttack(frame))
        return {0};
    const int shortSize = std::min(3, layout_->blockSizes - 1);
    return std::vector<int>(size_t(1) << shortSize, shortSize);
}

void WmaStdEncoder::codeFrames(int64_t available)
{
    const int n = layout_->frameLength;
    std::vector<const float *> block(static_cast<size_t>(channels_));
    // A frame's last block must name the next frame's first: plan one ahead.
    while ((framesCoded_ + 3) * n <= available) {
        const size_t offset = static_cast<size_t>(framesCoded_ * n - signalStart_);
        for (int c = 0; c < channels_; ++c)
            block[static_cast<size_t>(c)] = signal_[static_cast<size_t>(c)].data() + offset;
        wmastd::FramePlan plan;
        plan.sizes = nextSizes_;
        plan.previous = previousSize_;
        nextSizes_ = blockSizes(framesCoded_ + 1);
        plan.next = nextSizes_.front();
        previousSize_ = plan.sizes.back();
        wmastd::BitWriter bits;
        if (quality_ > 0) {
            coder_->code(block, plan, framer_->nextStartsRun(), float(qualityNoiseDb(quality_)), 0, maxFrameBits_,
                         bits);
        } else {
            const double debt = double(framer_->bitsOut()) - double(framesCoded_) * frameBits_;
            const double reservoir = kReservoirFrames * frameBits_;
            const int maxBits =
                int(std::clamp(frameBits_ + reservoir - debt, frameBits_ * 0.25, double(maxFrameBits_)));
            const int minBits = int(std::clamp(frameBits_ - reservoir - debt, 0.0, double(maxBits)));
            const double noiseDb = noiseBaseDb_ + kProportionalDb * debt / frameBits_;
            coder_->code(block, plan, framer_->nextStartsRun(), float(noiseDb), minBits, maxBits, bits);
            noiseBaseDb_ = std::clamp(noiseBaseDb_ + kIntegralDb * debt / frameBits_, -40.0, 60.0);
        }
        framer_->add(bits);
        ++framesCoded_;
    }
    // Keep only what the next frame's block still covers.
    const int64_t keep = framesCoded_ * n;
    if (keep > signalStart_) {
        for (auto &s : signal_)
            s.erase(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(keep - signalStart_));
        signalStart_ = keep;
    }
}

std::vector<WmaStdPacket> WmaStdEncoder::take()
{
    std::vector<WmaStdPacket> packets;
    for (wmastd::Superframe &s : framer_->take()) {
        bytesOut_ += int64_t(s.data.size());
        WmaStdPacket p;
        p.data = std::move(s.data);
        p.duration = int64_t(s.frames) * layout_->frameLength;
        packets.push_back(std::move(p));
    }
    return packets;
}

int64_t WmaStdEncoder::averageBitRate() const
{
    if (quality_ <= 0 || samplesIn_ <= 0)
        return bitRate_;
    const auto real = int64_t(double(bytesOut_) * 8.0 * sampleRate_ / double(samplesIn_));
    // Between the rate coded for and the real one, the last that the
    // decoder still reads the same way.
    int64_t alike = bitRate_, other = real;
    const auto same = [this](int64_t rate) {
        return configuresAlike(wmastd::makeStreamLayout(sampleRate_, channels_, int(rate)), *layout_);
    };
    if (same(real))
        return real;
    while (std::abs(other - alike) > 1) {
        const int64_t mid = (alike + other) / 2;
        (same(mid) ? alike : other) = mid;
    }
    return alike;
}
