#include "wmadecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <QMutex>

#include <cstdarg>
#include <cstring>
#include <memory>

namespace {

QMutex logMutex;
QStringList *logSink = nullptr;

void keepWarnings(void *, int level, const char *format, va_list args)
{
    if (level > AV_LOG_WARNING)
        return;
    char line[1024];
    std::vsnprintf(line, sizeof line, format, args);
    QMutexLocker lock(&logMutex);
    if (logSink)
        logSink->append(QString::fromUtf8(line).trimmed());
}

struct ContextDeleter {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};

} // namespace

DecodeResult decodeWma(const std::vector<std::vector<uint8_t>> &packets,
                       const std::vector<uint8_t> &extradata, int sampleRate, int channels, int bitRate,
                       int blockAlign)
{
    DecodeResult result;
    {
        QMutexLocker lock(&logMutex);
        logSink = &result.messages;
    }
    av_log_set_callback(keepWarnings);
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_WMAV2);
    std::unique_ptr<AVCodecContext, ContextDeleter> ctx(avcodec_alloc_context3(codec));
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    ctx->sample_rate = sampleRate;
    av_channel_layout_default(&ctx->ch_layout, channels);
    ctx->bit_rate = bitRate;
    ctx->block_align = blockAlign;
    ctx->pkt_timebase = AVRational{1, sampleRate};
    ctx->extradata = static_cast<uint8_t *>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(ctx->extradata, extradata.data(), extradata.size());
    ctx->extradata_size = int(extradata.size());
    bool ok = avcodec_open2(ctx.get(), codec, nullptr) == 0;
    auto drain = [&]() {
        while (avcodec_receive_frame(ctx.get(), frame.get()) == 0) {
            for (int i = 0; i < frame->nb_samples; ++i)
                for (int c = 0; c < channels; ++c)
                    result.samples.push_back(reinterpret_cast<const float *>(frame->extended_data[c])[i]);
            av_frame_unref(frame.get());
        }
    };
    for (size_t i = 0; ok && i <= packets.size(); ++i) {
        if (i == packets.size()) {
            ok = avcodec_send_packet(ctx.get(), nullptr) == 0;
        } else {
            ok = av_new_packet(packet.get(), int(packets[i].size())) == 0;
            if (ok) {
                std::memcpy(packet->data, packets[i].data(), packets[i].size());
                packet->pts = packet->dts = int64_t(i); // any stamps: the decoder adjusts them for its delay
                ok = avcodec_send_packet(ctx.get(), packet.get()) == 0;
            }
            av_packet_unref(packet.get());
        }
        drain();
    }
    result.ok = ok;
    av_log_set_callback(av_log_default_callback);
    QMutexLocker lock(&logMutex);
    logSink = nullptr;
    return result;
}
