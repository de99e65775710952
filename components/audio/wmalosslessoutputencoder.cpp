#include "wmalosslessoutputencoder.h"

#include "wmalosslessencoder.h"

#include <algorithm>
#include <cmath>

namespace {

// Bit 4 of a packet's header: a frame that resets the predictors starts in it.
constexpr uint8_t kSeekableFrameFlag = 0x08;

void appendPackets(std::vector<WmaLosslessPacket> &&from, std::vector<EncodedPacket> &to)
{
    for (WmaLosslessPacket &packet : from) {
        EncodedPacket out;
        const auto *bytes = reinterpret_cast<const uint8_t *>(packet.data.constData());
        out.data.assign(bytes, bytes + packet.data.size()); // pointers of one type: a memcpy
        out.duration = packet.duration;
        // A decoder started here drops the frame begun before and gives the
        // first one begun here once the next packet comes, at that packet's
        // time; without such a frame it would have nothing to start from.
        const bool seekable = !out.data.empty() && (out.data[0] & kSeekableFrameFlag);
        out.resumeAfter = seekable ? out.duration : -1;
        to.push_back(std::move(out));
    }
}

} // namespace

WmaLosslessOutputEncoder::WmaLosslessOutputEncoder() = default;
WmaLosslessOutputEncoder::~WmaLosslessOutputEncoder() = default;

AudioStatus WmaLosslessOutputEncoder::open(const EncoderParams &params, EncoderSetup &setup)
{
    if (params.channels < 1 || params.channels > 2)
        return AudioStatus::failure(QStringLiteral("The lossless WMA encoder takes one or two channels."));
    if (params.sampleRate < 1 || params.sampleRate > WmaLosslessEncoder::MaxSampleRate)
        return AudioStatus::failure(QStringLiteral("The lossless WMA encoder takes sample rates up to %1 Hz.")
                                        .arg(WmaLosslessEncoder::MaxSampleRate));
    m_encoder = std::make_unique<WmaLosslessEncoder>(params.sampleRate, params.channels);
    const QByteArray extradata = m_encoder->extradata();
    setup.codecId = AV_CODEC_ID_WMALOSSLESS;
    setup.extradata.assign(extradata.cbegin(), extradata.cend());
    setup.blockAlign = m_encoder->blockAlign();
    setup.bitRate = m_encoder->bitRate();
    setup.frameSize = m_encoder->frameSize();
    setup.bitsPerCodedSample = 16;
    return {};
}

AudioStatus WmaLosslessOutputEncoder::encode(const float *samples, int frames,
                                             std::vector<EncodedPacket> &packets)
{
    if (!m_encoder)
        return AudioStatus::failure(QStringLiteral("The lossless WMA encoder is not open."));
    if (frames <= 0)
        return {};
    appendPackets(m_encoder->encode(samples, frames), packets);
    return {};
}

AudioStatus WmaLosslessOutputEncoder::flush(std::vector<EncodedPacket> &packets)
{
    if (m_encoder)
        appendPackets(m_encoder->flush(), packets);
    return {};
}
