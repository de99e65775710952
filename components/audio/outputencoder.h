#pragma once

#include "iaudiofile2.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

struct WmaProfile;

struct EncoderParams {
    int sampleRate = 0;
    int channels = 0;
    int bitRate = 0; // bits per second; 0 where the profile states none
    int quality = 0; // 1..100 for a constant-quality profile, else 0
};

// What the container needs to know about the encoded stream.
struct EncoderSetup {
    AVCodecID codecId = AV_CODEC_ID_NONE;
    std::vector<uint8_t> extradata;
    int blockAlign = 0; // bytes per packet when every packet has that size, else 0
    int64_t bitRate = 0;
    int frameSize = 0;          // frames per encode() call; the last call may hold fewer
    int bitsPerCodedSample = 0; // 0 where the codec states none
    // Samples the decoder gives before the source's first (its lead-in);
    // stamps count them from zero.
    int delay = 0;
    // Frames the encoder looks at before it fixes the stream's layout (see
    // OutputEncoder::lookAhead); 0: none, the setup is final at open.
    int lookAheadFrames = 0;
};

struct EncodedPacket {
    std::vector<uint8_t> data;
    int64_t duration = 0; // frames at the output rate
    // For seeking: how long after this packet's time a decoder that starts
    // reading at this packet gives right output with right times (what it
    // drops or gets wrong before that is the codec's); -1 where it cannot start.
    int64_t resumeAfter = -1;
};

// What every encoder is given for a source sample: a float source may go
// far beyond full scale (or hold NaN or infinity), and the lossless format
// cannot hold more than full scale anyway, so both encoders clip there.
inline float withinFullScale(float sample)
{
    return std::isfinite(sample) ? std::clamp(sample, -1.0f, 1.0f) : 0.0f;
}

// One audio encoder behind the WMA writer: the writer resamples, frames and
// muxes; an encoder only turns interleaved float frames into packets.
class OutputEncoder {
public:
    virtual ~OutputEncoder() = default;
    virtual AudioStatus open(const EncoderParams &params, EncoderSetup &setup) = 0;
    // `frames` interleaved frames at the params' rate and channel count, at
    // most setup.frameSize, each sample taken through withinFullScale(); the
    // packets that came out are appended.
    virtual AudioStatus encode(const float *samples, int frames, std::vector<EncodedPacket> &packets) = 0;
    virtual AudioStatus flush(std::vector<EncodedPacket> &packets) = 0;
    // Before the first encode() where setup.lookAheadFrames > 0: the first
    // frames (all of them when `whole`, the source being no longer), from
    // which the encoder may complete the setup (block size, frame size,
    // extradata) before the container's header is written.
    virtual AudioStatus lookAhead(const float *, int64_t, bool, EncoderSetup &) { return {}; }
    // After flush: the bit rate the header states from now on, 0 for the one given at open.
    virtual int64_t finalBitRate() const { return 0; }
};

// The encoder that produces `profile` (defined in createoutputencoder.cpp).
// Every profile has one.
std::unique_ptr<OutputEncoder> createOutputEncoder(const WmaProfile &profile);
