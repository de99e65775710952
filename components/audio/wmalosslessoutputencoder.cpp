#include "wmalosslessoutputencoder.h"

#include "wmalosslessencoder.h"
#include "wmalosslesslayout.h"
#include "wmalosslesspacketizer.h"

#include <algorithm>
#include <cmath>

namespace {

// Bit 4 of a packet's header: a frame that resets the predictors starts in it.
constexpr uint8_t kSeekableFrameFlag = 0x08;
// Seconds of the source looked at before the layout is fixed (held as
// floats: 42 MB at 44.1 kHz stereo), and how many times that a source
// that goes on is taken to last. A noisy source's last packet is filled
// only where its length is known.
constexpr double kLookAheadSeconds = 120;
constexpr int64_t kLongSourceFactor = 4;

void appendPackets(std::vector<WmaLosslessPacket> &&from, std::vector<EncodedPacket> &to)
{
    for (WmaLosslessPacket &packet : from) {
        EncodedPacket out;
        out.data = std::move(packet.data);
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
    if (const Result<> input = WmaLosslessEncoder::checkInput(params.sampleRate, params.channels); !input)
        return AudioStatus::failure(input.reason());
    m_sampleRate = params.sampleRate;
    m_channels = params.channels;
    start(WmaLosslessSettings(), setup);
    setup.lookAheadFrames = static_cast<int>(kLookAheadSeconds * params.sampleRate);
    return {};
}

void WmaLosslessOutputEncoder::start(const WmaLosslessSettings &settings, EncoderSetup &setup)
{
    m_encoder = std::make_unique<WmaLosslessEncoder>(m_sampleRate, m_channels, settings);
    setup.codecId = AV_CODEC_ID_WMALOSSLESS;
    setup.extradata = m_encoder->extradata();
    setup.blockAlign = m_encoder->blockAlign();
    setup.bitRate = m_encoder->bitRate();
    setup.frameSize = m_encoder->frameSize();
    setup.bitsPerCodedSample = 16;
}

// The packet size (and with it the frame length) suits the source: small
// for a short or nearly silent one, whose file is mostly its one padded
// last packet; larger for a long or noisy one, whose file pays a header per
// packet. A source longer than the look-ahead is taken as a few times as long.
AudioStatus WmaLosslessOutputEncoder::lookAhead(const float *samples, int64_t frames, bool whole,
                                                EncoderSetup &setup)
{
    if (!m_encoder)
        return AudioStatus::failure(QStringLiteral("The lossless WMA encoder is not open."));
    const wmalossless::SourceEstimate estimate = wmalossless::estimateSource(samples, frames, m_channels);
    const int64_t length = whole ? frames : frames * kLongSourceFactor;
    const wmalossless::StreamLayout layout =
        wmalossless::layoutFor(m_sampleRate, m_channels, length, estimate.bitsPerSample, estimate.noise);
    WmaLosslessSettings settings;
    settings.frameShift = layout.frameShift;
    settings.blockAlign = layout.blockAlign;
    // Sound after it: all silence times the same wherever it is put.
    const int64_t silent = wmalossless::silentStartFrames(samples, frames, m_channels);
    settings.silentStart =
        silent < frames && silent >= int64_t{wmalossless::Packetizer::kMaxFramesInFirstPacket} *
                                         wmalossless::frameSizeFor(m_sampleRate, layout.frameShift);
    start(settings, setup);
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
