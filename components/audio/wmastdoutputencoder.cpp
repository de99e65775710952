#include "wmastdoutputencoder.h"

#include "asfpacketsize.h"
#include "wmastdencoder.h"

#include <algorithm>

namespace {

// What the writer's muxer puts before the first packet, for one audio
// stream before the tags go in: 394 bytes (444 with the data object's own
// header); the rate counts 400.
constexpr int kAsfHeaderBytes = 400;

// A decoder started at a superframe other than the first loses the frame
// begun in the superframe before, and then drops two frames of output, which
// it labels from the superframe's time: one frame too early. Output is right
// from three frames on when those two were all the superframe gave; when it
// gave more, only from the next superframe, whose time is its own. With no
// whole frame in the superframe the decoder would take its start for the
// pending frame's rest: no start there.
int64_t resumeAfter(int64_t duration, int frameLength)
{
    if (duration < 2 * frameLength)
        return -1;
    return std::max<int64_t>(3 * frameLength, duration);
}

} // namespace

void WmaStdOutputEncoder::appendPackets(std::vector<WmaStdPacket> &&from, std::vector<EncodedPacket> &to)
{
    const int frameLength = m_encoder->frameLength();
    for (WmaStdPacket &packet : from) {
        EncodedPacket out;
        out.data = std::move(packet.data);
        out.duration = packet.duration;
        // The first superframe starts the stream: its decoder only drops the lead-in.
        out.resumeAfter = m_packetsOut++ == 0 ? m_encoder->leadIn() : resumeAfter(out.duration, frameLength);
        to.push_back(std::move(out));
    }
}

WmaStdParams wmaStdParams(const EncoderParams &params)
{
    WmaStdParams p;
    p.sampleRate = params.sampleRate;
    p.channels = params.channels;
    p.bitRate = params.bitRate;
    p.quality = params.quality;
    // Each packet holds one superframe under its headers.
    p.superframeOverhead = kAsfSinglePayloadOverhead;
    p.headerBytes = kAsfHeaderBytes;
    return p;
}

WmaStdOutputEncoder::WmaStdOutputEncoder() = default;
WmaStdOutputEncoder::~WmaStdOutputEncoder() = default;

AudioStatus WmaStdOutputEncoder::open(const EncoderParams &params, EncoderSetup &setup)
{
    WmaStdEncoder::Created created = WmaStdEncoder::create(wmaStdParams(params));
    if (!created.encoder)
        return AudioStatus::failure(QString::fromUtf8(WmaStdEncoder::describe(created.setup)));
    m_encoder = std::move(created.encoder);
    m_constantQuality = params.quality > 0;
    m_channels = params.channels;
    m_packetsOut = 0;
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
    if (frames <= 0)
        return {};
    m_limited.resize(static_cast<size_t>(frames) * static_cast<size_t>(m_channels));
    std::transform(samples, samples + m_limited.size(), m_limited.begin(), withinFullScale);
    appendPackets(m_encoder->encode(m_limited.data(), frames), packets);
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
