#include "wmalosslessasf.h"

#include "wmalosslessencoder.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
}

#include <cstring>
#include <memory>

namespace {

struct OutputContextDeleter {
    void operator()(AVFormatContext *context) const
    {
        if (context->pb)
            avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
using OutputContext = std::unique_ptr<AVFormatContext, OutputContextDeleter>;

struct PacketDeleter {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

QString averror(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return QString::fromUtf8(text);
}

} // namespace

int wmaLosslessAsfPacketSize(int blockAlign)
{
    // The muxer's packet header (11 bytes) and single-payload header (15 bytes).
    return blockAlign + 26;
}

bool setWmaLosslessCodecParameters(AVCodecParameters *par, const WmaLosslessEncoder &encoder)
{
    const std::vector<uint8_t> extra = encoder.extradata();
    uint8_t *data = static_cast<uint8_t *>(av_mallocz(extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!data)
        return false;
    std::memcpy(data, extra.data(), extra.size());
    av_freep(&par->extradata);
    par->extradata = data;
    par->extradata_size = static_cast<int>(extra.size());
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = AV_CODEC_ID_WMALOSSLESS;
    par->codec_tag = WmaLosslessEncoder::kFormatTag;
    par->sample_rate = encoder.sampleRate();
    av_channel_layout_uninit(&par->ch_layout);
    av_channel_layout_default(&par->ch_layout, encoder.channels());
    par->format = AV_SAMPLE_FMT_S16P;
    par->bits_per_coded_sample = 16;
    par->bits_per_raw_sample = 16;
    par->block_align = encoder.blockAlign();
    par->bit_rate = encoder.bitRate();
    par->frame_size = encoder.frameSize();
    return true;
}

int writeWmaLosslessPacket(AVFormatContext *format, AVStream *stream, const WmaLosslessPacket &packet,
                           int sampleRate)
{
    PacketPtr pkt(av_packet_alloc());
    if (!pkt)
        return AVERROR(ENOMEM);
    int ret = av_new_packet(pkt.get(), static_cast<int>(packet.data.size()));
    if (ret < 0)
        return ret;
    std::memcpy(pkt->data, packet.data.data(), packet.data.size());
    const AVRational samples{1, sampleRate};
    pkt->pts = av_rescale_q(packet.pts, samples, stream->time_base);
    pkt->dts = pkt->pts;
    pkt->duration = av_rescale_q(packet.pts + packet.duration, samples, stream->time_base) - pkt->pts;
    pkt->stream_index = stream->index;
    return av_write_frame(format, pkt.get());
}

Result<> writeWmaLosslessAsf(const QString &path, const qint16 *interleaved, qint64 frames, int sampleRate,
                             int channels, const WmaLosslessSettings &settings)
{
    auto fail = [](const QString &text) { return Failure{text}; };

    if (const Result<> input = WmaLosslessEncoder::checkInput(sampleRate, channels); !input)
        return input;
    if (frames < 0 || (frames > 0 && !interleaved))
        return fail(QStringLiteral("no samples"));
    WmaLosslessEncoder encoder(sampleRate, channels, settings);
    AVFormatContext *raw = nullptr;
    const QByteArray file = path.toUtf8();
    int ret = avformat_alloc_output_context2(&raw, nullptr, "asf", file.constData());
    if (ret < 0 || !raw)
        return fail(averror(ret));
    OutputContext format(raw);

    AVStream *stream = avformat_new_stream(format.get(), nullptr);
    if (!stream || !setWmaLosslessCodecParameters(stream->codecpar, encoder))
        return fail(QStringLiteral("cannot create the audio stream"));
    stream->time_base = AVRational{1, 1000};
    av_opt_set_int(format->priv_data, "packet_size", wmaLosslessAsfPacketSize(encoder.blockAlign()), 0);

    if ((ret = avio_open(&format->pb, file.constData(), AVIO_FLAG_WRITE)) < 0)
        return fail(averror(ret));
    if ((ret = avformat_write_header(format.get(), nullptr)) < 0)
        return fail(averror(ret));

    auto writeAll = [&](const std::vector<WmaLosslessPacket> &packets) {
        for (const WmaLosslessPacket &packet : packets) {
            const int result = writeWmaLosslessPacket(format.get(), stream, packet, encoder.sampleRate());
            if (result < 0)
                return result;
        }
        return 0;
    };

    // Fed in slices so memory stays bounded whatever the input length.
    constexpr qint64 Slice = 1 << 16;
    for (qint64 done = 0; done < frames; done += Slice) {
        const int count = static_cast<int>(std::min(Slice, frames - done));
        if ((ret = writeAll(encoder.encode(interleaved + done * encoder.channels(), count))) < 0)
            return fail(averror(ret));
    }
    if ((ret = writeAll(encoder.flush())) < 0)
        return fail(averror(ret));
    if ((ret = av_write_trailer(format.get())) < 0)
        return fail(averror(ret));
    return {};
}
