#pragma once

#include "outputencoder.h"

#include <memory>

class WmaLosslessEncoder;
struct WmaLosslessSettings;

// The lossless profile: our WMA Lossless encoder behind the writer's seam.
// The writer's float samples come from 16-bit sources and go back to 16 bits
// here exactly.
class WmaLosslessOutputEncoder : public OutputEncoder {
public:
    WmaLosslessOutputEncoder();
    ~WmaLosslessOutputEncoder() override;

    AudioStatus open(const EncoderParams &params, EncoderSetup &setup) override;
    AudioStatus encode(const float *samples, int frames, std::vector<EncodedPacket> &packets) override;
    AudioStatus flush(std::vector<EncodedPacket> &packets) override;
    AudioStatus lookAhead(const float *samples, int64_t frames, bool whole, EncoderSetup &setup) override;

private:
    void start(const WmaLosslessSettings &settings, EncoderSetup &setup);

    std::unique_ptr<WmaLosslessEncoder> m_encoder;
    int m_sampleRate = 0;
    int m_channels = 0;
};
