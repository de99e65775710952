#include "wmalosslessencoder.h"

#include "bitwriter.h"
#include "wmalosslessframecoder.h"
#include "wmalosslesspacketizer.h"

#include <QtEndian>

#include <algorithm>

namespace {

// Samples per frame the decoder derives from the sample rate (no frame-length flags set).
int frameSizeFor(int sampleRate)
{
    if (sampleRate <= 16000)
        return 512;
    if (sampleRate <= 22050)
        return 1024;
    if (sampleRate <= 48000)
        return 2048;
    if (sampleRate <= 96000)
        return 4096;
    return 8192;
}

// A full packet always holds the start of a frame, so that every packet but
// the first stands for some samples: room for the largest frame and a bit more.
int blockAlignFor(int channels, int frameSize, int requested)
{
    const int64_t frameBits = WmaLosslessFrameCoder::maxFrameBits(channels, frameSize) + 1;
    int align = static_cast<int>((frameBits + 64 + 8 + 7) / 8);
    align = (align + 255) / 256 * 256;
    return std::max(align, requested);
}

} // namespace

WmaLosslessEncoder::WmaLosslessEncoder(int sampleRate, int channels, const WmaLosslessSettings &settings)
    : sampleRate_(std::clamp(sampleRate, 1, MaxSampleRate)), channels_(std::clamp(channels, 1, 2)),
      settings_(settings), frameSize_(frameSizeFor(sampleRate_) * (settings.longFrames ? 2 : 1)),
      blockAlign_(blockAlignFor(channels_, frameSize_, settings.blockAlign)),
      coder_(std::make_unique<WmaLosslessFrameCoder>(channels_, frameSize_, settings_)),
      packetizer_(std::make_unique<WmaLosslessPacketizer>(blockAlign_, frameSize_)),
      pending_(channels_, std::vector<int32_t>(frameSize_))
{
}

WmaLosslessEncoder::~WmaLosslessEncoder() = default;

QByteArray WmaLosslessEncoder::extradata() const
{
    QByteArray data(18, '\0');
    auto *p = reinterpret_cast<uchar *>(data.data());
    qToLittleEndian<quint16>(16, p);                             // bits per sample
    qToLittleEndian<quint32>(channels_ == 1 ? 0x4 : 0x3, p + 2); // speaker mask
    // Flags: one tile per frame, no length prefix, no DRC; 0x2 doubles the frame length.
    qToLittleEndian<quint16>(settings_.longFrames ? 0x2 : 0, p + 14);
    return data;
}

qint64 WmaLosslessEncoder::bitRate() const
{
    return qint64{sampleRate_} * channels_ * 16;
}

std::vector<WmaLosslessPacket> WmaLosslessEncoder::encode(const qint16 *interleaved, int frames)
{
    if (flushed_ || !interleaved || frames <= 0)
        return {};
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels_; ++c)
            pending_[c][pendingCount_] = interleaved[qint64{i} * channels_ + c];
        if (++pendingCount_ == frameSize_)
            codeFrame(frameSize_);
    }
    samplesIn_ += frames;
    return packetizer_->takePackets();
}

std::vector<WmaLosslessPacket> WmaLosslessEncoder::flush()
{
    if (flushed_)
        return {};
    flushed_ = true;
    if (pendingCount_ > 0) {
        for (std::vector<int32_t> &channel : pending_)
            std::fill(channel.begin() + pendingCount_, channel.end(), 0);
        codeFrame(pendingCount_);
    }
    packetizer_->finish(samplesIn_);
    return packetizer_->takePackets();
}

void WmaLosslessEncoder::codeFrame(int validSamples)
{
    // Seekable tiles go where the decoder can resume after a seek: at the first
    // frame starting in a packet. A raw tile in the place of a seekable one
    // passes the reset on to the next tile.
    packetizer_->placeHeld();
    ++sinceSeekable_;
    bool seekable = seekableOwed_ || sinceSeekable_ >= MaxSeekableInterval ||
                    (packetizer_->nextFrameOpensPacket() && sinceSeekable_ >= settings_.seekableInterval);
    BitWriter frame;
    const bool wanted = seekable;
    seekable = coder_->encode(pending_, validSamples, seekable, frame);
    seekableOwed_ = wanted && !seekable;
    if (seekable)
        sinceSeekable_ = 0;
    packetizer_->hold(frame, frameIndex_ * frameSize_, seekable);
    ++frameIndex_;
    pendingCount_ = 0;
}

qint64 WmaLosslessEncoder::rawTiles() const
{
    return coder_->rawTiles();
}

qint64 WmaLosslessEncoder::codedTiles() const
{
    return coder_->codedTiles();
}

std::vector<qint64> WmaLosslessEncoder::exactPacketEnds() const
{
    const std::vector<int64_t> &ends = packetizer_->exactPacketEnds();
    return {ends.begin(), ends.end()};
}
