#pragma once

#include "bitwriter.h"
#include "wmalosslesspacket.h"
#include "wmalosslesssettings.h"

#include "result.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace wmalossless {
class FrameCoder;
class Packetizer;
} // namespace wmalossless

// Encodes 16-bit PCM into the lossless WMA bitstream (format tag 0x0163),
// cut into packets of at most blockAlign() bytes (nearly all of exactly that) for an ASF stream.
class WmaLosslessEncoder {
public:
    static constexpr int kFormatTag = 0x0163;
    // Above this a packet would outgrow the 16-bit block alignment of the stream header.
    static constexpr int kMaxSampleRate = 96000;
    static constexpr int kMaxSeekableInterval = 256;

    // Whether the encoder takes a stream of this rate, channel count and
    // sample size, with the reason where not. The constructor clamps what it
    // is given into range: callers check first.
    static Result<> checkInput(int sampleRate, int channels, int bitsPerSample = 16);

    explicit WmaLosslessEncoder(int sampleRate = 44100, int channels = 2,
                                const WmaLosslessSettings &settings = WmaLosslessSettings());
    ~WmaLosslessEncoder();
    WmaLosslessEncoder(const WmaLosslessEncoder &) = delete;
    WmaLosslessEncoder &operator=(const WmaLosslessEncoder &) = delete;

    int sampleRate() const { return m_sampleRate; }
    int channels() const { return m_channels; }
    std::vector<uint8_t> extradata() const; // the 18 bytes after the WAVEFORMATEX header
    int blockAlign() const { return m_blockAlign; }
    int frameSize() const { return m_frameSize; }
    int64_t bitRate() const;

    // Interleaved samples in; complete packets out, times in samples.
    std::vector<WmaLosslessPacket> encode(const int16_t *interleaved, int frames);
    // Float samples, rounded to 16 bits: beyond full scale clipped, NaN as silence.
    std::vector<WmaLosslessPacket> encode(const float *interleaved, int frames);
    // Codes what is left (the last frame trimmed by an end skip) and pads the last packet.
    std::vector<WmaLosslessPacket> flush();

    int64_t samplesIn() const { return m_samplesIn; }
    // End samples of the frames that finished exactly on a packet's last bit.
    const std::vector<int64_t> &exactPacketEnds() const;

private:
    template <typename Sample> std::vector<WmaLosslessPacket> take(const Sample *interleaved, int frames);
    void codeFrame(int validSamples);

    int m_sampleRate;
    int m_channels;
    WmaLosslessSettings m_settings;
    int m_frameShift;
    int m_frameSize;
    int m_blockAlign;
    std::unique_ptr<wmalossless::FrameCoder> m_coder;
    std::unique_ptr<wmalossless::Packetizer> m_packetizer;
    BitWriter m_frame;
    std::vector<std::vector<int32_t>> m_pending;
    int m_rawFrom; // frames begun in the first packet from which the next go raw
    int m_pendingCount = 0;
    int64_t m_samplesIn = 0;
    int64_t m_frameIndex = 0;
    int m_sinceSeekable = 0;
    bool m_seekableOwed = true; // the first coded tile resets the predictors
    bool m_flushed = false;
};
