#include "pcmdecoder.h"

#include "ffmpeghandles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <memory>

namespace {

void takeFrame(const AVFrame *frame, DecodedAudio &out)
{
    const int channels = frame->ch_layout.nb_channels;
    for (int i = 0; i < frame->nb_samples; ++i)
        for (int c = 0; c < channels; ++c) {
            if (frame->format == AV_SAMPLE_FMT_S16P)
                out.samples.append(reinterpret_cast<const qint16 *>(frame->extended_data[c])[i]);
            else
                out.samples.append(reinterpret_cast<const qint16 *>(frame->data[0])[i * channels + c]);
        }
}

} // namespace

DecodedAudio decodeWithLibav(const QString &path, double seekSeconds)
{
    DecodedAudio out;
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, path.toUtf8().constData(), nullptr, nullptr) < 0) {
        out.error = QStringLiteral("open failed");
        return out;
    }
    InputFormatPtr format(raw);
    if (avformat_find_stream_info(format.get(), nullptr) < 0) {
        out.error = QStringLiteral("no stream info");
        return out;
    }
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0) {
        out.error = QStringLiteral("no audio stream");
        return out;
    }
    AVStream *stream = format->streams[index];
    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
    CodecContextPtr ctx(avcodec_alloc_context3(codec));
    if (!codec || !ctx || avcodec_parameters_to_context(ctx.get(), stream->codecpar) < 0 ||
        avcodec_open2(ctx.get(), codec, nullptr) < 0) {
        out.error = QStringLiteral("no decoder");
        return out;
    }
    out.codecName = QString::fromUtf8(codec->name);
    out.sampleRate = ctx->sample_rate;
    out.channels = ctx->ch_layout.nb_channels;
    if (format->duration != AV_NOPTS_VALUE)
        out.durationSeconds = format->duration / double(AV_TIME_BASE);

    if (seekSeconds >= 0) {
        if (av_seek_frame(format.get(), -1, int64_t(seekSeconds * AV_TIME_BASE), AVSEEK_FLAG_BACKWARD) < 0) {
            out.error = QStringLiteral("seek failed");
            return out;
        }
        avcodec_flush_buffers(ctx.get());
    }
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    auto drain = [&]() {
        while (avcodec_receive_frame(ctx.get(), frame.get()) >= 0) {
            if (out.firstSeconds < 0 && frame->best_effort_timestamp != AV_NOPTS_VALUE)
                out.firstSeconds = frame->best_effort_timestamp * av_q2d(stream->time_base);
            takeFrame(frame.get(), out);
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(ctx.get(), packet.get()) >= 0)
            drain();
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(ctx.get(), nullptr);
    drain();
    out.ok = true;
    return out;
}
