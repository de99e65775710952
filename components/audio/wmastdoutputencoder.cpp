#include "wmastdoutputencoder.h"

#include "wmastdencoder.h"

namespace {

void appendPackets(std::vector<WmaStdPacket> &&from, std::vector<EncodedPacket> &to)
{
    for (WmaStdPacket &packet : from) {
        EncodedPacket out;
        out.data = std::move(packet.data);
        out.duration = packet.duration;
        to.push_back(std::move(out));
    }
}

} // namespace

WmaStdOutputEncoder::WmaStdOutputEncoder() = default;
WmaStdOutputEncoder::~WmaStdOutputEncoder() = default;

AudioStatus WmaStdOutputEncoder::open(const EncoderParams &params, EncoderSetup &setup)
{
    if (params.channels < 1 || params.channels > 2 || params.sampleRate < 8000 || params.sampleRate > 48000 ||
        (params.bitRate <= 0 && params.quality <= 0))
        return AudioStatus::failure(
            QStringLiteral("The WMA encoder takes one or two channels at 8 to 48 kHz."));
    m_constantQuality = params.quality > 0;
    m_encoder =
        std::make_unique<WmaStdEncoder>(params.sampleRate, params.channels, params.bitRate, params.quality);
    setup.codecId = AV_CODEC_ID_WMAV2;
    setup.extradata = m_encoder->extradata();
    setup.blockAlign = m_encoder->blockAlign();
    setup.bitRate = m_encoder->bitRate();
    setup.frameSize = m_encoder->frameLength();
    setup.delay = m_encoder->leadIn();
    return {};
}

AudioStatus WmaStdOutputEncoder::encode(const float *samples, int frames, std::vector<EncodedPacket> &packets)
{
    if (!m_encoder)
        return AudioStatus::failure(QStringLiteral("The WMA encoder is not open."));
    appendPackets(m_encoder->encode(samples, frames), packets);
    return {};
}

AudioStatus WmaStdOutputEncoder::flush(std::vector<EncodedPacket> &packets)
{
    if (m_encoder)
        appendPackets(m_encoder->flush(), packets);
    return {};
}

int64_t WmaStdOutputEncoder::finalBitRate() const
{
    // At a constant quality the header states what the file came to.
    return m_encoder && m_constantQuality ? m_encoder->averageBitRate() : 0;
}
