#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace wmastd {
class FrameCoder;
class Superframer;
struct StreamLayout;
} // namespace wmastd

// What the encoder is set up with.
struct WmaStdParams {
    int sampleRate = 0; // 8000..48000 Hz
    int channels = 0;   // one or two
    int bitRate = 0;    // bits per second; 0 at a constant quality picks the header's rate from it
    int quality = 0;    // 1..100 codes at that quality, 0 at the constant bit rate
    // What the container adds to the coded stream, in bytes: the coded
    // rate leaves room for it, so the file keeps the rate it states.
    int superframeOverhead = 0; // around each superframe
    int headerBytes = 0;        // once, before the first (without tags)
};

struct WmaStdPacket {
    std::vector<uint8_t> data; // exactly blockAlign() bytes
    int64_t duration = 0;      // samples the decoder outputs for it, per channel
};

// Our WMA 9 Standard (format tag 0x0161) encoder, at a constant bit rate or
// at a constant quality (a variable number of frames in each fixed-size
// superframe). The decoder drops the first leadIn() samples it outputs; the
// encoder puts that much silence in front, so output starts with the first
// sample given.
class WmaStdEncoder {
public:
    static constexpr int kFormatTag = 0x0161;

    // Why set-up refuses its parameters.
    enum class Setup {
        Ok,
        InvalidChannelCount,
        InvalidSampleRate,
        InvalidQuality,
        InvalidBitRate, // none at a constant bit rate, or too low or too high for its superframes
        InvalidContainerOverhead,
    };
    // Ok, or the first parameter set-up refuses.
    static Setup check(const WmaStdParams &params);
    // What a refusal means, as a user reads it.
    static const char *describe(Setup setup);
    struct Created {
        Setup setup = Setup::Ok;
        std::unique_ptr<WmaStdEncoder> encoder; // set when setup is Ok
    };
    static Created create(const WmaStdParams &params);

    ~WmaStdEncoder();
    WmaStdEncoder(const WmaStdEncoder &) = delete;
    WmaStdEncoder &operator=(const WmaStdEncoder &) = delete;

    std::vector<uint8_t> extradata() const; // the 10 bytes after the format header
    int blockAlign() const { return m_blockAlign; }
    int bitRate() const { return m_bitRate; }
    // What the header may state once all is coded: the real average, or at
    // a constant quality the nearest rate that configures the decoder as
    // the one it was coded for.
    int64_t averageBitRate() const;
    int frameLength() const;
    int leadIn() const { return 2 * frameLength(); }

    // Interleaved samples, clipped to [-1, 1] (NaN and infinity: silence);
    // the superframes that are complete come out.
    std::vector<WmaStdPacket> encode(const float *interleaved, int frames);
    // Codes the rest, padded with silence to a whole frame (no packet at
    // all when no sample was given).
    std::vector<WmaStdPacket> flush();

private:
    explicit WmaStdEncoder(const WmaStdParams &params);

    void codeFrames(int64_t available);
    // Per stretch of 1/16 frame from the frame's start: where one begins.
    // Onsets are what the attack test misses under a loud low note.
    void markAttacks(int64_t frame, std::vector<bool> &marks) const;
    void markOnsets(int64_t frame, std::vector<bool> &marks) const;
    std::vector<int> blockSizes(int64_t frame) const;
    std::vector<WmaStdPacket> take();

    int m_sampleRate;
    int m_channels;
    int m_bitRate;
    int m_quality;
    int64_t m_bytesOut = 0;
    std::unique_ptr<wmastd::StreamLayout> m_layout;
    std::unique_ptr<wmastd::FrameCoder> m_coder;
    std::unique_ptr<wmastd::Superframer> m_framer;
    int m_blockAlign = 0;
    double m_frameBits = 0; // average bits a frame may spend
    int m_maxFrameBits = 0;
    double m_codedBits = 0;        // bits of the coded frames, without the superframes' padding
    int64_t m_fixedCostFrames = 0; // frames' worth of the file's fixed costs, paid back at a constant rate
    double m_noiseBaseDb = 0;      // noise over the masking threshold that the rate settles at
    std::vector<std::vector<float>> m_signal; // per channel, from the first sample not yet behind us
    int64_t m_signalStart = 0;                // stream position of m_signal[c][0]
    int64_t m_framesCoded = 0;
    std::vector<int> m_nextSizes{0}; // block sizes of the frame to code next
    int m_previousSize = 0;
    int64_t m_samplesIn = 0;
    bool m_flushed = false;
};
