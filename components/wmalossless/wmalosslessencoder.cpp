#include "wmalosslessencoder.h"

#include "bitwriter.h"
#include "wmalosslessframecoder.h"
#include "wmalosslesslayout.h"
#include "wmalosslesspacketizer.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <climits>

namespace {

int32_t toPcm16(int16_t sample)
{
    return sample;
}

// Rounds to nearest even, as nearbyint does, in plain arithmetic: adding
// 1.5 * 2^23 leaves no fraction bits. Clipped at full scale, NaN as silence.
constexpr float kRound = 12582912.0f;
int32_t toPcm16(float sample)
{
    float scaled = sample == sample ? sample * 32768.0f : 0.0f;
    scaled = scaled < 32767.0f ? scaled : 32767.0f;
    scaled = scaled > -32768.0f ? scaled : -32768.0f;
    return static_cast<int32_t>((scaled + kRound) - kRound);
}

void splitStereo(const int16_t *in, int frames, int32_t *left, int32_t *right)
{
    for (int i = 0; i < frames; ++i) {
        left[i] = in[2 * i];
        right[i] = in[2 * i + 1];
    }
}

void splitStereo(const float *in, int frames, int32_t *left, int32_t *right)
{
    int i = 0;
#if defined(__SSE2__)
    // toPcm16() four frames at a time: the compiler leaves its comparisons
    // as branches, which it does not vectorise.
    const __m128 scale = _mm_set1_ps(32768.0f), high = _mm_set1_ps(32767.0f), low = _mm_set1_ps(-32768.0f),
                 round = _mm_set1_ps(kRound);
    auto convert = [&](__m128 v) {
        __m128 scaled = _mm_and_ps(_mm_mul_ps(v, scale), _mm_cmpord_ps(v, v)); // NaN to 0
        scaled = _mm_max_ps(_mm_min_ps(scaled, high), low);
        return _mm_cvttps_epi32(_mm_sub_ps(_mm_add_ps(scaled, round), round));
    };
    for (; i + 4 <= frames; i += 4) {
        const __m128 a = _mm_loadu_ps(in + 2 * i), b = _mm_loadu_ps(in + 2 * i + 4);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(left + i), convert(_mm_shuffle_ps(a, b, 0x88)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(right + i), convert(_mm_shuffle_ps(a, b, 0xdd)));
    }
#endif
    for (; i < frames; ++i) {
        left[i] = toPcm16(in[2 * i]);
        right[i] = toPcm16(in[2 * i + 1]);
    }
}

} // namespace

WmaLosslessEncoder::WmaLosslessEncoder(int sampleRate, int channels, const WmaLosslessSettings &settings)
    : m_sampleRate(std::clamp(sampleRate, 1, kMaxSampleRate)), m_channels(std::clamp(channels, 1, 2)),
      m_settings(settings),
      m_frameShift(settings.frameShift >= 1
                       ? (wmalossless::longFramesFit(m_sampleRate, m_channels, settings.blockAlign) ? 1 : 0)
                       : std::max(settings.frameShift, -2)),
      m_frameSize(wmalossless::frameSizeFor(m_sampleRate, m_frameShift)),
      m_blockAlign(std::max(wmalossless::minBlockAlign(m_channels, m_frameSize), settings.blockAlign)),
      m_coder(std::make_unique<wmalossless::FrameCoder>(m_channels, m_frameSize, m_settings)),
      m_packetizer(std::make_unique<wmalossless::Packetizer>(m_blockAlign, m_frameSize)),
      m_pending(m_channels, std::vector<int32_t>(m_frameSize)),
      m_rawFrom(settings.silentStart
                    ? wmalossless::Packetizer::kMaxFramesInFirstPacket - 2 -
                          static_cast<int>(int64_t{m_blockAlign} * 8 / (int64_t{m_channels} * m_frameSize))
                    : INT_MAX)
{
}

WmaLosslessEncoder::~WmaLosslessEncoder() = default;

Result<> WmaLosslessEncoder::checkInput(int sampleRate, int channels, int bitsPerSample)
{
    if (channels < 1 || channels > 2)
        return Failure{QStringLiteral("The lossless WMA encoder takes one or two channels.")};
    if (sampleRate < 1 || sampleRate > kMaxSampleRate)
        return Failure{
            QStringLiteral("The lossless WMA encoder takes sample rates up to %1 Hz.").arg(kMaxSampleRate)};
    if (bitsPerSample != 16)
        return Failure{QStringLiteral("The lossless WMA encoder takes 16-bit samples.")};
    return {};
}

std::vector<uint8_t> WmaLosslessEncoder::extradata() const
{
    std::vector<uint8_t> data(18, 0);
    data[0] = 16;                          // bits per sample (16-bit little-endian)
    data[2] = m_channels == 1 ? 0x4 : 0x3; // speaker mask (32-bit)
    // Flags (16-bit at 14): one tile per frame, no length prefix, no DRC;
    // 0x2 doubles the frame length, 0x4 halves it, 0x6 quarters it.
    constexpr uint8_t kFrameLengthFlags[] = {0x6, 0x4, 0, 0x2};
    data[14] = kFrameLengthFlags[m_frameShift + 2];
    return data;
}

int64_t WmaLosslessEncoder::bitRate() const
{
    return int64_t{m_sampleRate} * m_channels * 16;
}

std::vector<WmaLosslessPacket> WmaLosslessEncoder::encode(const int16_t *interleaved, int frames)
{
    return take(interleaved, frames);
}

std::vector<WmaLosslessPacket> WmaLosslessEncoder::encode(const float *interleaved, int frames)
{
    return take(interleaved, frames);
}

template <typename Sample>
std::vector<WmaLosslessPacket> WmaLosslessEncoder::take(const Sample *interleaved, int frames)
{
    if (m_flushed || !interleaved || frames <= 0)
        return {};
    // A frame's worth at a time, each channel's samples gathered in one pass.
    for (int done = 0; done < frames;) {
        const int n = std::min(frames - done, m_frameSize - m_pendingCount);
        const Sample *in = interleaved + int64_t{done} * m_channels;
        if (m_channels == 2)
            splitStereo(in, n, m_pending[0].data() + m_pendingCount, m_pending[1].data() + m_pendingCount);
        else
            std::transform(in, in + n, m_pending[0].data() + m_pendingCount,
                           [](Sample v) { return toPcm16(v); });
        done += n;
        m_pendingCount += n;
        if (m_pendingCount == m_frameSize)
            codeFrame(m_frameSize);
    }
    m_samplesIn += frames;
    return m_packetizer->takePackets();
}

std::vector<WmaLosslessPacket> WmaLosslessEncoder::flush()
{
    if (m_flushed)
        return {};
    m_flushed = true;
    if (m_pendingCount > 0) {
        for (std::vector<int32_t> &channel : m_pending)
            std::fill(channel.begin() + m_pendingCount, channel.end(), 0);
        codeFrame(m_pendingCount);
    }
    m_packetizer->finish(m_samplesIn);
    return m_packetizer->takePackets();
}

void WmaLosslessEncoder::codeFrame(int validSamples)
{
    // Seekable tiles go where the decoder can resume after a seek: at the first
    // frame starting in a packet. A raw tile in the place of a seekable one
    // passes the reset on to the next tile.
    m_packetizer->placeHeld();
    ++m_sinceSeekable;
    bool seekable = m_seekableOwed || m_sinceSeekable >= kMaxSeekableInterval ||
                    (m_packetizer->nextFrameOpensPacket() && m_sinceSeekable >= m_settings.seekableInterval);
    m_frame.clear();
    const bool wanted = seekable;
    // A first packet closed short (after a long silent start) could not share
    // an object with the next, and GStreamer would then time the file by the
    // object before: its last silent frames go raw, a bit a sample, so that
    // it fills before it would close.
    const bool fill = m_packetizer->framesInFirstPacket() >= m_rawFrom;
    seekable = m_coder->encode(m_pending, validSamples, seekable, m_frame, fill);
    m_seekableOwed = wanted && !seekable;
    if (seekable)
        m_sinceSeekable = 0;
    // A raw tile decodes anywhere and passes the reset on: where one was
    // wanted, the packet is a place to resume all the same.
    m_packetizer->hold(m_frame, m_frameIndex * m_frameSize, wanted);
    ++m_frameIndex;
    m_pendingCount = 0;
}

const std::vector<int64_t> &WmaLosslessEncoder::exactPacketEnds() const
{
    return m_packetizer->exactPacketEnds();
}
