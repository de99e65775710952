#include "wmalosslesslayout.h"

#include "wmalosslessframecoder.h"
#include "wmalosslesspacketizer.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace wmalossless {

namespace {

// The decoder's frame buffer, per channel.
constexpr int64_t kMaxFrameBytes = 32768;
// Bytes each packet adds beyond its stream bits: the container's packet and
// payload headers (26) and our packet header.
constexpr int kPacketCost = 30;
// The share of a packet the last one is expected to waste: little, since a
// stream near incompressible is fitted to its packets and a compressible one
// gains more from larger packets (fewer predictor resets) than it pads.
constexpr double kTailShare = 1.0 / 8;
// Room left in the last packet of an incompressible stream for what follows
// its last frame (the packet that stands for the drained frames).
constexpr int64_t kEndRoomBytes = 1024;
// A raw frame's bits besides its samples (a few frame and tile header bits,
// the trailer), rounded up.
constexpr int64_t kRawFrameHeaderBits = 12;
// The largest packet: a seek lands within one, and the filter cascade, the
// pre-filter and mid/side are chosen anew only where a packet starts, so a
// source that changes character (a mix of noise, silence and a sweep; a
// tracker module) loses with larger ones.
constexpr int kMostBlockAlign = 24576;
// Bits per sample that neither the samples nor their first or second
// differences go below where a source is taken as noise.
constexpr double kNoiseBits = 15;
// Frames of a quarter of the length the sample rate implies: the decoder
// takes no shorter ones.
constexpr int kShortestFrameShift = -2;
// Frames looked at in each stretch, and one stretch in this many.
constexpr int64_t kStretch = 1024;
constexpr int64_t kStretchEvery = 4;

int64_t rawFrameBits(int channels, int frameSize)
{
    return FrameCoder::maxFrameBits(channels, frameSize) + 1; // and the trailer bit
}

// The decoder keeps the rest of a packet (a frame's start and whatever
// follows) and adds the next packet's part of the frame: both must fit its
// buffer.
bool fits(int channels, int frameSize, int blockAlign)
{
    const int64_t frameBytes = (rawFrameBits(channels, frameSize) + 7) / 8;
    return std::max(blockAlign, minBlockAlign(channels, frameSize)) + frameBytes + 2 <=
           kMaxFrameBytes * channels;
}

} // namespace

int frameSizeFor(int sampleRate, int frameShift)
{
    int size = 8192;
    if (sampleRate <= 16000)
        size = 512;
    else if (sampleRate <= 22050)
        size = 1024;
    else if (sampleRate <= 48000)
        size = 2048;
    else if (sampleRate <= 96000)
        size = 4096;
    return frameShift >= 0 ? size << frameShift : size >> -frameShift;
}

// A full packet always holds the start of a frame, so that every packet but
// the first stands for some samples.
int minBlockAlign(int channels, int frameSize)
{
    const int align = static_cast<int>((rawFrameBits(channels, frameSize) + 64 + 8 + 7) / 8);
    return (align + 255) / 256 * 256;
}

// Long frames fit up to 48 kHz; above, incompressible ones would not.
bool longFramesFit(int sampleRate, int channels, int blockAlign)
{
    return fits(channels, frameSizeFor(sampleRate, 1), blockAlign);
}

namespace {

// Bits a Rice code takes for residuals of mean size `mean` (16-bit units):
// about log2(mean) + 1.5 each, and at least one (a zero residual takes a
// bit); nothing only where a channel is all zero and not coded.
double riceBits(double mean)
{
    return mean == 0 ? 0.0 : std::clamp(std::log2(mean) + 1.5, 1.0, 16.0);
}

// Mean sizes of one channel's residuals over a stretch, in 16-bit units,
// after fixed predictors of order 0 (the samples themselves), 1 and 2.
std::array<double, 3> meanResiduals(const float *interleaved, int channels, int c, int64_t start, int64_t end)
{
    std::array<float, 3> sums{};
    for (int64_t i = start + 2; i < end; ++i) {
        const float x = interleaved[i * channels + c], x1 = interleaved[(i - 1) * channels + c];
        const float x2 = interleaved[(i - 2) * channels + c];
        sums[0] += std::fabs(x);
        sums[1] += std::fabs(x - x1);
        sums[2] += std::fabs(x - 2 * x1 + x2);
    }
    std::array<double, 3> means{};
    for (size_t k = 0; k < means.size(); ++k)
        means[k] = double(sums[k]) * 32768.0 / double(end - start - 2);
    return means;
}

} // namespace

SourceEstimate estimateSource(const float *interleaved, int64_t frames, int channels)
{
    if (!interleaved || frames < 3 || channels < 1)
        return {16.0, false};
    // One pass over sampled stretches: the first differences' bits, and the
    // least any order leaves, averaged over stretches and channels.
    double bits = 0;
    double leastBits = 0;
    int64_t counted = 0;
    for (int64_t start = 0; start + 2 < frames; start += kStretch * kStretchEvery) {
        const int64_t end = std::min(frames, start + kStretch);
        for (int c = 0; c < channels; ++c) {
            const std::array<double, 3> means = meanResiduals(interleaved, channels, c, start, end);
            const double weight = double(end - start - 2);
            bits += weight * riceBits(means[1]);
            leastBits += weight * riceBits(*std::min_element(means.begin(), means.end()));
            counted += end - start - 2;
        }
    }
    if (counted == 0)
        return {16.0, false};
    return {bits / double(counted), leastBits / double(counted) >= kNoiseBits};
}

int64_t silentStartFrames(const float *interleaved, int64_t frames, int channels)
{
    if (!interleaved || channels < 1)
        return 0;
    // Below half a step a sample rounds to zero.
    constexpr float kHalfStep = 0.5f / 32768;
    const int64_t samples = frames * channels;
    int64_t i = 0;
    while (i < samples && std::fabs(interleaved[i]) < kHalfStep)
        ++i;
    return i / channels;
}

StreamLayout layoutFor(int sampleRate, int channels, int64_t frames, double bitsPerSample, bool noise)
{
    const double bytes = double(std::max<int64_t>(frames, 0)) * channels * std::max(bitsPerSample, 0.0) / 8;
    const double best = std::sqrt(kPacketCost * bytes / kTailShare);
    // Long frames where the target packet holds one raw. A stream that would
    // not fill one packet of frames of the length the rate implies takes
    // the shortest frames, and packets to match, to pad less; any longer
    // stream keeps them, since every packet resets the predictors.
    StreamLayout layout;
    layout.frameShift =
        best >= minBlockAlign(channels, frameSizeFor(sampleRate, 1)) && longFramesFit(sampleRate, channels, 0)
            ? 1
        : bytes < minBlockAlign(channels, frameSizeFor(sampleRate, 0)) ? kShortestFrameShift
                                                                       : 0;
    const int frameSize = frameSizeFor(sampleRate, layout.frameShift);
    const int least = minBlockAlign(channels, frameSize);
    // Within the decoder's buffer too.
    int most = noise ? int(kMaxFrameBytes * channels) : kMostBlockAlign;
    while (most > least && !fits(channels, frameSize, most))
        most -= 256;
    const int target = std::clamp(static_cast<int>(best), least, std::max(least, most));

    // As many packets as the target size gives for an incompressible stream,
    // each just large enough for that stream to fill them.
    // The last frame is cut short and padded: raw, the padding costs as
    // much as samples; coded, noise takes half a bit a sample more than raw
    // and the padding a few bits a sample while the residuals' mean decays.
    const int64_t samples = std::max<int64_t>(frames, 1);
    const int64_t frameCount = (samples + frameSize - 1) / frameSize;
    const int64_t padding = frameCount * frameSize - samples;
    const int64_t lastFrameExtra =
        std::min(padding * 16, (frameSize - padding) / 2 + padding * 4) * int64_t{channels};
    const int64_t streamBits =
        samples * channels * 16 + frameCount * kRawFrameHeaderBits + lastFrameExtra + kEndRoomBytes * 8;
    const int header = Packetizer::headerBits(target);
    int64_t packets = (streamBits + int64_t{target} * 8 - header - 1) / (int64_t{target} * 8 - header);
    // Packets too small to hold a raw frame: one fewer, each a little larger.
    if (packets > 1 && (streamBits / packets + header + 8) / 8 < least)
        --packets;
    const int64_t fitted = (streamBits / packets + header + 8) / 8;
    layout.blockAlign = static_cast<int>(std::clamp<int64_t>(fitted, least, std::max(least, most)));
    return layout;
}

} // namespace wmalossless
