#pragma once

#include "ffmpeghandles.h"
#include "outputencoder.h"

// The constant-bit-rate WMA encoder of libavcodec ("wmav2").
class Wmav2Encoder : public OutputEncoder {
public:
    AudioStatus open(const EncoderParams &params, EncoderSetup &setup) override;
    AudioStatus encode(const float *samples, int frames, std::vector<EncodedPacket> &packets) override;
    AudioStatus flush(std::vector<EncodedPacket> &packets) override;

private:
    AudioStatus send(const AVFrame *frame, std::vector<EncodedPacket> &packets);
    AudioStatus encodeFrame(const float *samples, int frames, std::vector<EncodedPacket> &packets);

    CodecContextPtr m_ctx;
    FramePtr m_frame;
    PacketPtr m_packet;
    int64_t m_pts = 0;
    bool m_primed = false;
    bool m_firstOut = false;
};
