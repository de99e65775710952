#include "audioreader.h"

extern "C" {
#include <libavcodec/vorbis_parser.h>
#include <libavutil/intreadwrite.h>
}

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <functional>

namespace {
// VOX files are headerless Dialogic ADPCM: two 4-bit samples per byte.
constexpr int kVoxRate = 8000;
constexpr int kVoxChunkBytes = 4096;
// A stream that keeps failing is treated as ended rather than looping on it.
constexpr int kMaxDecodeErrors = 1000;
// Below this no sound file exists; a header claiming 1 Hz would make every
// chunk swell 44100-fold on its way to the encoder, and its length in
// milliseconds would not fit an int. From here up it always does.
constexpr int kMinSampleRate = 1000;
// How much of a WAV file's 16-bit PCM FFmpeg searches for another codec
// stored under the PCM tag (MP3, AC-3). By default it searches 32 packets
// again at each doubling, with every format's probe: more work than reading
// the whole file. A mislabelled stream shows in its first packet (4 KiB).
constexpr int64_t kWavPcmProbeBytes = 4096;

using PacketSource = std::function<int(AVPacket *)>;

AudioStatus failure(const QString &path, const QString &what)
{
    return AudioStatus::failure(QStringLiteral("Cannot open \"%1\": %2").arg(path, what));
}

// FFmpeg says "Invalid argument" or "Invalid data" of a file whose content it
// cannot make sense of; a user needs to hear what that means for the file.
QString demuxerErrorText(int error)
{
    if (error == AVERROR_INVALIDDATA || error == AVERROR(EINVAL))
        return QStringLiteral("it is damaged or not a sound file (%1)").arg(ffmpegErrorText(error));
    return ffmpegErrorText(error);
}

// The next decoded frame, feeding packets from `next` as the decoder asks;
// AVERROR_EOF once the decoder is drained. Broken packets are skipped.
int receiveFrame(AVCodecContext *decoder, AVFrame *frame, AVPacket *packet, bool &flushed,
                 const PacketSource &next)
{
    int errors = 0;
    for (;;) {
        int ret = avcodec_receive_frame(decoder, frame);
        if (ret >= 0)
            return 0;
        if (ret == AVERROR_EOF || flushed)
            return AVERROR_EOF;
        if (ret != AVERROR(EAGAIN) && ++errors > kMaxDecodeErrors)
            return AVERROR_EOF;
        if (next(packet) < 0) {
            avcodec_send_packet(decoder, nullptr);
            flushed = true;
            continue;
        }
        ret = avcodec_send_packet(decoder, packet);
        av_packet_unref(packet);
        if (ret < 0 && ++errors > kMaxDecodeErrors)
            return AVERROR_EOF;
    }
}

CodecContextPtr openDecoder(const AVCodecParameters *params, int *error)
{
    const AVCodec *codec = avcodec_find_decoder(params->codec_id);
    if (!codec) {
        *error = AVERROR_DECODER_NOT_FOUND;
        return nullptr;
    }
    CodecContextPtr ctx(avcodec_alloc_context3(codec));
    int ret = ctx ? avcodec_parameters_to_context(ctx.get(), params) : AVERROR(ENOMEM);
    if (ret >= 0)
        ret = avcodec_open2(ctx.get(), codec, nullptr);
    *error = ret < 0 ? ret : 0;
    return ret < 0 ? nullptr : std::move(ctx);
}

// Codecs whose decoder delivers exactly the packet's duration, less the skip
// and padding that the demuxer attaches: their length can be counted from
// the packets alone. Others are counted by decoding once.
bool packetDurationsExact(AVCodecID id)
{
    if (id >= AV_CODEC_ID_PCM_S16LE && id < AV_CODEC_ID_ADPCM_IMA_QT)
        return true;
    switch (id) {
    case AV_CODEC_ID_MP1:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3:
    case AV_CODEC_ID_FLAC:
    case AV_CODEC_ID_VORBIS:
        return true;
    default:
        return false;
    }
}

struct VorbisParserDeleter {
    void operator()(AVVorbisParseContext *parser) const { av_vorbis_parse_free(&parser); }
};

int readStreamPacket(AVFormatContext *format, int stream, AVPacket *packet)
{
    for (;;) {
        const int ret = av_read_frame(format, packet);
        if (ret < 0)
            return ret;
        if (packet->stream_index == stream)
            return 0;
        av_packet_unref(packet);
    }
}

// Mirrors what libavcodec does with the skip-samples side data: a leading
// skip eats whole frames first, and trailing padding trims one frame.
qint64 countByPackets(AVFormatContext *format, int stream, int sampleRate, bool *exact)
{
    const AVCodecParameters *params = format->streams[stream]->codecpar;
    const AVRational timeBase = format->streams[stream]->time_base;
    // Ogg's Vorbis durations drift from what the decoder delivers, so Vorbis
    // packets are sized from their block sizes, as the decoder sizes its
    // output; the first packet only primes the overlap and yields nothing.
    std::unique_ptr<AVVorbisParseContext, VorbisParserDeleter> vorbis;
    if (params->codec_id == AV_CODEC_ID_VORBIS) {
        vorbis.reset(av_vorbis_parse_init(params->extradata, params->extradata_size));
        if (!vorbis) {
            *exact = false;
            return 0;
        }
    }
    PacketPtr packet(av_packet_alloc());
    qint64 total = 0;
    qint64 skip = 0;
    int64_t nextPts = AV_NOPTS_VALUE;
    bool first = true;
    *exact = true;
    while (readStreamPacket(format, stream, packet.get()) >= 0) {
        qint64 frames = 0;
        if (vorbis) {
            frames = av_vorbis_parse_frame(vorbis.get(), packet->data, packet->size);
            if (first)
                frames = 0;
        } else {
            // Elsewhere, durations that disagree with the timestamps cannot be trusted.
            if (packet->pts == AV_NOPTS_VALUE || (nextPts != AV_NOPTS_VALUE && packet->pts != nextPts))
                frames = -1;
            else
                frames = av_rescale_q(packet->duration, timeBase, AVRational{1, sampleRate});
            nextPts = packet->pts + packet->duration;
        }
        first = false;
        if (frames < 0) {
            *exact = false;
            return 0;
        }
        qint64 padding = 0;
        size_t size = 0;
        if (const uint8_t *side = av_packet_get_side_data(packet.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
            side && size >= 10) {
            skip = AV_RL32(side);
            padding = AV_RL32(side + 4);
        }
        av_packet_unref(packet.get());
        if (skip > 0) {
            if (frames <= skip) {
                skip -= frames;
                continue;
            }
            frames -= skip;
            skip = 0;
        }
        if (padding > 0 && padding <= frames)
            frames -= padding;
        total += frames;
    }
    return total;
}

qint64 countByDecoding(const AVCodecParameters *params, const PacketSource &next)
{
    int error = 0;
    CodecContextPtr decoder = openDecoder(params, &error);
    if (!decoder)
        return 0;
    FramePtr frame(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    bool flushed = false;
    qint64 total = 0;
    while (receiveFrame(decoder.get(), frame.get(), packet.get(), flushed, next) == 0) {
        total += frame->nb_samples;
        av_frame_unref(frame.get());
    }
    return total;
}

// Why the file cannot be read, in the system's words; empty when it can.
QString unreadable(const QFileInfo &info)
{
    QFile file(info.filePath());
    if (file.open(QIODevice::ReadOnly))
        return {};
    // A link to nothing reads as a missing file; say which one is missing.
    const QFileInfo target(info.symLinkTarget());
    if (info.isSymLink() && !target.exists() && !target.isSymLink())
        return QStringLiteral("%1 (its symbolic link leads to %2)")
            .arg(file.errorString(), target.filePath());
    return file.errorString();
}
} // namespace

AudioReader::AudioReader() = default;

AudioReader::~AudioReader()
{
    close();
}

void AudioReader::close()
{
    m_open = false;
    m_vox.reset();
    m_format.reset();
    m_stream = -1;
    m_params.reset();
    m_decoder.reset();
    m_swr.reset();
    av_channel_layout_uninit(&m_swrLayout);
    m_swrFormat = AV_SAMPLE_FMT_NONE;
    m_swrRate = 0;
    m_frame.reset();
    m_packet.reset();
    m_flushed = m_decoderDone = false;
    std::vector<float>().swap(m_pending);
    m_pendingPos = m_pendingEnd = 0;
    m_frameCount = m_delivered = m_mismatch = 0;
    m_openedSize = 0;
    m_openedModified = {};
    m_sampleRate = m_channels = 0;
}

AudioStatus AudioReader::openDemuxer(InputFormatPtr &format, int &stream) const
{
    AVFormatContext *raw = nullptr;
    int ret = avformat_open_input(&raw, QFile::encodeName(m_path).constData(), nullptr, nullptr);
    if (ret < 0)
        return failure(m_path, demuxerErrorText(ret));
    format.reset(raw);
    if (std::strcmp(raw->iformat->name, "wav") == 0 && raw->nb_streams > 0 &&
        raw->streams[0]->codecpar->codec_id == AV_CODEC_ID_PCM_S16LE)
        raw->probesize = std::min(raw->probesize, kWavPcmProbeBytes);
    ret = avformat_find_stream_info(format.get(), nullptr);
    if (ret < 0)
        return failure(m_path, demuxerErrorText(ret));
    stream = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (stream < 0)
        return failure(m_path, QStringLiteral("it holds no audio stream"));
    return {};
}

AudioStatus AudioReader::openVox()
{
    m_vox = std::make_unique<QFile>(m_path);
    if (!m_vox->open(QIODevice::ReadOnly))
        return failure(m_path, m_vox->errorString());
    m_params.reset(avcodec_parameters_alloc());
    if (!m_params)
        return failure(m_path, ffmpegErrorText(AVERROR(ENOMEM)));
    m_params->codec_type = AVMEDIA_TYPE_AUDIO;
    m_params->codec_id = AV_CODEC_ID_ADPCM_IMA_OKI;
    m_params->sample_rate = kVoxRate;
    av_channel_layout_default(&m_params->ch_layout, 1);
    m_frameCount = m_vox->size() * 2;
    return {};
}

AudioStatus AudioReader::countFrames()
{
    if (m_vox)
        return {};
    if (packetDurationsExact(m_params->codec_id)) {
        bool exact = false;
        m_frameCount = countByPackets(m_format.get(), m_stream, m_sampleRate, &exact);
        if (exact)
            return {};
    }
    InputFormatPtr format;
    int stream = -1;
    if (AudioStatus status = openDemuxer(format, stream); !status.ok)
        return status;
    m_frameCount = countByDecoding(
        m_params.get(), [&](AVPacket *packet) { return readStreamPacket(format.get(), stream, packet); });
    return {};
}

AudioStatus AudioReader::open(const QString &path)
{
    close();
    m_path = path;
    const QFileInfo info(path);
    if (info.isDir())
        return failure(path, QStringLiteral("it is a folder"));
    // A pipe or a device would block the open or never end.
    if (info.exists() && !info.isFile())
        return failure(path, QStringLiteral("it is not a regular file"));
    if (const QString problem = unreadable(info); !problem.isEmpty())
        return failure(path, problem);

    if (info.suffix().compare(QLatin1String("vox"), Qt::CaseInsensitive) == 0) {
        if (AudioStatus status = openVox(); !status.ok) {
            close();
            return status;
        }
    } else {
        if (AudioStatus status = openDemuxer(m_format, m_stream); !status.ok) {
            close();
            return status;
        }
        m_params.reset(avcodec_parameters_alloc());
        if (!m_params || avcodec_parameters_copy(m_params.get(), m_format->streams[m_stream]->codecpar) < 0) {
            close();
            return failure(path, ffmpegErrorText(AVERROR(ENOMEM)));
        }
    }
    m_sampleRate = m_params->sample_rate;
    m_channels = m_params->ch_layout.nb_channels;
    if (m_sampleRate <= 0 || m_channels <= 0) {
        close();
        return failure(path, QStringLiteral("its sample rate or channel count is unknown"));
    }
    if (m_sampleRate < kMinSampleRate) {
        const int rate = m_sampleRate;
        close();
        return failure(path, QStringLiteral("its sample rate of %1 Hz is too low").arg(rate));
    }

    int error = 0;
    m_decoder = openDecoder(m_params.get(), &error);
    if (!m_decoder) {
        const QString codec = QString::fromUtf8(avcodec_get_name(m_params->codec_id));
        close();
        return failure(path, QStringLiteral("no decoder for %1 (%2)").arg(codec, ffmpegErrorText(error)));
    }
    if (AudioStatus status = countFrames(); !status.ok) {
        close();
        return status;
    }
    // The counting walk used up the demuxer; start again from the top.
    if (m_format) {
        m_format.reset();
        if (AudioStatus status = openDemuxer(m_format, m_stream); !status.ok) {
            close();
            return status;
        }
    }
    m_openedSize = info.size();
    m_openedModified = info.lastModified();
    m_frame.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    if (!m_frame || !m_packet) {
        close();
        return failure(path, ffmpegErrorText(AVERROR(ENOMEM)));
    }
    m_open = true;
    return {};
}

int AudioReader::nextPacket(AVPacket *packet)
{
    if (!m_vox)
        return readStreamPacket(m_format.get(), m_stream, packet);
    int ret = av_new_packet(packet, kVoxChunkBytes);
    if (ret < 0)
        return ret;
    const qint64 got = m_vox->read(reinterpret_cast<char *>(packet->data), kVoxChunkBytes);
    if (got <= 0) {
        av_packet_unref(packet);
        return AVERROR_EOF;
    }
    av_shrink_packet(packet, static_cast<int>(got));
    return 0;
}

bool AudioReader::changedSinceOpen() const
{
    const QFileInfo now(m_path);
    return !now.exists() || now.size() != m_openedSize || now.lastModified() != m_openedModified;
}

qint64 AudioReader::pendingFrames() const
{
    return static_cast<qint64>(m_pendingEnd - m_pendingPos) / m_channels;
}

bool AudioReader::appendConverted(const AVFrame *frame)
{
    const auto format = static_cast<AVSampleFormat>(frame ? frame->format : m_swrFormat);
    if (frame && (!m_swr || format != m_swrFormat || frame->sample_rate != m_swrRate ||
                  av_channel_layout_compare(&frame->ch_layout, &m_swrLayout) != 0)) {
        int error = 0;
        m_swr = makeFloatConverter(frame->ch_layout, format, frame->sample_rate, m_channels, m_sampleRate,
                                   &error);
        if (!m_swr)
            return false;
        m_swrFormat = format;
        m_swrRate = frame->sample_rate;
        av_channel_layout_uninit(&m_swrLayout);
        av_channel_layout_copy(&m_swrLayout, &frame->ch_layout);
    }
    if (!m_swr)
        return true;
    const int inFrames = frame ? frame->nb_samples : 0;
    const int room = swr_get_out_samples(m_swr.get(), inFrames);
    if (room <= 0)
        return true;
    // Drop what has been handed out, then grow the buffer if it must: it never
    // shrinks, so that its zero fill is paid once, not for every frame.
    std::copy(m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingPos),
              m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingEnd), m_pending.begin());
    m_pendingEnd -= m_pendingPos;
    m_pendingPos = 0;
    const size_t used = m_pendingEnd;
    m_pending.resize(
        std::max(m_pending.size(), used + static_cast<size_t>(room) * static_cast<size_t>(m_channels)));
    auto *out = reinterpret_cast<uint8_t *>(m_pending.data() + used);
    const int got =
        swr_convert(m_swr.get(), &out, room,
                    frame ? const_cast<const uint8_t **>(frame->extended_data) : nullptr, inFrames);
    m_pendingEnd = used + static_cast<size_t>(std::max(got, 0)) * static_cast<size_t>(m_channels);
    return got >= 0;
}

bool AudioReader::decodeMore()
{
    if (m_decoderDone)
        return false;
    const int ret = receiveFrame(m_decoder.get(), m_frame.get(), m_packet.get(), m_flushed,
                                 [this](AVPacket *packet) { return nextPacket(packet); });
    if (ret < 0) {
        appendConverted(nullptr); // whatever the resampler still holds
        m_decoderDone = true;
        return false;
    }
    const bool ok = appendConverted(m_frame.get());
    av_frame_unref(m_frame.get());
    if (!ok)
        m_decoderDone = true;
    return ok;
}

AudioStatus AudioReader::read(int frames, std::vector<float> &samples)
{
    samples.clear();
    if (!m_open)
        return AudioStatus::failure(QStringLiteral("No source file is open."));
    const qint64 wanted = std::min<qint64>(std::max(frames, 0), m_frameCount - m_delivered);
    if (wanted <= 0)
        return {};
    while (pendingFrames() < wanted && decodeMore()) {
    }
    const qint64 taken = std::min(wanted, pendingFrames());
    const auto begin = m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingPos);
    samples.assign(begin, begin + static_cast<std::ptrdiff_t>(taken * m_channels));
    m_pendingPos += static_cast<size_t>(taken * m_channels);
    if (taken < wanted) {
        if (changedSinceOpen()) {
            // Cut short (or rewritten) while it is read: silence must not
            // stand in for the rest.
            samples.clear();
            const double rate = m_sampleRate;
            return AudioStatus::failure(
                QStringLiteral(
                    "\"%1\" was cut short while it was converted: it ended after %2 of its %3 seconds.")
                    .arg(m_path, QString::number((m_delivered + taken) / rate, 'f', 1),
                         QString::number(m_frameCount / rate, 'f', 1)));
        }
        // Damaged frames the decoder dropped: keep the promised length.
        samples.resize(static_cast<size_t>(wanted * m_channels), 0.0f);
        m_mismatch += wanted - taken;
    }
    m_delivered += wanted;
    if (m_delivered == m_frameCount) {
        // Anything the decoder still has beyond the count is dropped, but noted.
        do {
            m_mismatch += pendingFrames();
            m_pendingPos = m_pendingEnd = 0;
        } while (decodeMore());
        m_mismatch += pendingFrames();
        m_pendingPos = m_pendingEnd = 0;
    }
    return {};
}
