#pragma once

#include "outputencoder.h"

#include <memory>

class WmaLosslessEncoder;

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

private:
    std::unique_ptr<WmaLosslessEncoder> m_encoder;
};
