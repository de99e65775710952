#include "wmastdencoder.h"

#include "wmastdframecoder.h"
#include "wmastdlayout.h"
#include "wmastdsuperframer.h"

#include <algorithm>
#include <cmath>

namespace {
// Container bytes each superframe costs in the file (payload header and
// its share of the packet header): the coded rate leaves room for them.
constexpr double kContainerBytesPerSuperframe = 18.0;
// Superframes of about this many bytes; more frames per superframe waste
// less on headers, fewer keep seeking fine.
constexpr double kTargetSuperframeBytes = 1500.0;
constexpr int kMaxFramesPerSuperframe = 8;
// How fast the coded size returns to the average after a frame spent more or less.
constexpr double kReservoirReturn = 0.25;
} // namespace

WmaStdEncoder::WmaStdEncoder(int sampleRate, int channels, int bitRate)
    : sampleRate_(sampleRate), channels_(channels), bitRate_(bitRate),
      layout_(std::make_unique<wmastd::StreamLayout>(wmastd::makeStreamLayout(sampleRate, channels, bitRate))),
      coder_(std::make_unique<wmastd::FrameCoder>(*layout_)),
      signal_(static_cast<size_t>(channels))
{
    const int n = layout_->frameLength;
    const double bytesPerFrame = double(bitRate) * n / (8.0 * sampleRate);
    const int perSuperframe =
        std::clamp(int(std::lround(kTargetSuperframeBytes / bytesPerFrame)), 2, kMaxFramesPerSuperframe);
    blockAlign_ = int(bytesPerFrame * perSuperframe - kContainerBytesPerSuperframe);
    framer_ = std::make_unique<wmastd::Superframer>(blockAlign_, layout_->byteOffsetBits);
    frameBits_ = double(framer_->capacity()) / perSuperframe;
    maxFrameBits_ = std::min(framer_->capacity() - 8, framer_->maxTail());
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
    const int64_t needed = (frames + 1) * n;
    for (auto &s : signal_)
        s.resize(static_cast<size_t>(std::max<int64_t>(needed - signalStart_, int64_t(s.size()))), 0.0f);
    codeFrames(needed);
    framer_->finish();
    return take();
}

void WmaStdEncoder::codeFrames(int64_t available)
{
    const int n = layout_->frameLength;
    std::vector<const float *> block(static_cast<size_t>(channels_));
    while ((framesCoded_ + 2) * n <= available) {
        const size_t offset = static_cast<size_t>(framesCoded_ * n - signalStart_);
        for (int c = 0; c < channels_; ++c)
            block[static_cast<size_t>(c)] = signal_[static_cast<size_t>(c)].data() + offset;
        // Spend the average, plus or minus a share of what the frames before saved or overspent.
        const double debt = double(framer_->bitsOut()) - double(framesCoded_) * frameBits_;
        const int budget = std::clamp(int(frameBits_ - kReservoirReturn * debt), int(frameBits_ / 4), maxFrameBits_);
        wmastd::BitWriter bits;
        coder_->code(block, framer_->nextStartsRun(), budget, bits);
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
        WmaStdPacket p;
        p.data = std::move(s.data);
        p.duration = int64_t(s.frames) * layout_->frameLength;
        packets.push_back(std::move(p));
    }
    return packets;
}
