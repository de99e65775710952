#pragma once

#include "wmalosslesspacket.h"
#include "wmalosslesssettings.h"

#include <QByteArray>
#include <QtGlobal>

#include <memory>
#include <vector>

class WmaLosslessFrameCoder;
class WmaLosslessPacketizer;

// Encodes 16-bit PCM into the lossless WMA bitstream (format tag 0x0163),
// cut into packets of at most blockAlign() bytes (nearly all of exactly that) for an ASF stream.
class WmaLosslessEncoder {
public:
    static constexpr int FormatTag = 0x0163;
    // Above this a packet would outgrow the 16-bit block alignment of the stream header.
    static constexpr int MaxSampleRate = 96000;
    static constexpr int MaxSeekableInterval = 256;

    explicit WmaLosslessEncoder(int sampleRate = 44100, int channels = 2,
                                const WmaLosslessSettings &settings = WmaLosslessSettings());
    ~WmaLosslessEncoder();
    WmaLosslessEncoder(const WmaLosslessEncoder &) = delete;
    WmaLosslessEncoder &operator=(const WmaLosslessEncoder &) = delete;

    int sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }
    QByteArray extradata() const; // the 18 bytes after the WAVEFORMATEX header
    int blockAlign() const { return blockAlign_; }
    int frameSize() const { return frameSize_; }
    qint64 bitRate() const;

    // Interleaved samples in; complete packets out, times in samples.
    std::vector<WmaLosslessPacket> encode(const qint16 *interleaved, int frames);
    // Codes what is left (the last frame trimmed by an end skip) and pads the last packet.
    std::vector<WmaLosslessPacket> flush();

    qint64 samplesIn() const { return samplesIn_; }
    qint64 rawTiles() const;
    qint64 codedTiles() const;
    // End samples of the frames that finished exactly on a packet's last bit.
    std::vector<qint64> exactPacketEnds() const;

private:
    void codeFrame(int validSamples);

    int sampleRate_;
    int channels_;
    WmaLosslessSettings settings_;
    int frameSize_;
    int blockAlign_;
    std::unique_ptr<WmaLosslessFrameCoder> coder_;
    std::unique_ptr<WmaLosslessPacketizer> packetizer_;
    std::vector<std::vector<int32_t>> pending_;
    int pendingCount_ = 0;
    qint64 samplesIn_ = 0;
    qint64 frameIndex_ = 0;
    int sinceSeekable_ = 0;
    bool seekableOwed_ = true; // the first coded tile resets the predictors
    bool flushed_ = false;
};
