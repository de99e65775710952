#pragma once

#include "outputencoder.h"

#include <memory>
#include <vector>

class WmaStdEncoder;
struct WmaStdPacket;
struct WmaStdParams;

// The WMA 9 Standard encoder's parameters for a file the writer makes: the
// container's overheads are the writer's.
WmaStdParams wmaStdParams(const EncoderParams &params);

// Our WMA 9 Standard encoder behind the writer's seam.
class WmaStdOutputEncoder : public OutputEncoder {
public:
    WmaStdOutputEncoder();
    ~WmaStdOutputEncoder() override;

    AudioStatus open(const EncoderParams &params, EncoderSetup &setup) override;
    AudioStatus encode(const float *samples, int frames, std::vector<EncodedPacket> &packets) override;
    AudioStatus flush(std::vector<EncodedPacket> &packets) override;
    int64_t finalBitRate() const override;

private:
    void appendPackets(std::vector<WmaStdPacket> &&from, std::vector<EncodedPacket> &to);

    std::unique_ptr<WmaStdEncoder> m_encoder;
    std::vector<float> m_limited; // the samples as the encoder gets them
    int m_channels = 0;
    bool m_constantQuality = false;
    int64_t m_packetsOut = 0;
};
