#include "wmav2encoder.h"

#include <algorithm>

namespace {
AudioStatus encoderFailure(const QString &what, int error)
{
    return AudioStatus::failure(QStringLiteral("The WMA encoder %1: %2").arg(what, ffmpegErrorText(error)));
}
} // namespace

AudioStatus Wmav2Encoder::open(const EncoderParams &params, EncoderSetup &setup)
{
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (!codec)
        return AudioStatus::failure(QStringLiteral("This FFmpeg has no WMA encoder (wmav2)."));
    m_ctx.reset(avcodec_alloc_context3(codec));
    m_frame.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    if (!m_ctx || !m_frame || !m_packet)
        return encoderFailure(QStringLiteral("could not start"), AVERROR(ENOMEM));
    m_ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    m_ctx->sample_rate = params.sampleRate;
    av_channel_layout_default(&m_ctx->ch_layout, params.channels);
    m_ctx->bit_rate = params.bitRate;
    m_ctx->time_base = AVRational{1, params.sampleRate};
    if (const int ret = avcodec_open2(m_ctx.get(), codec, nullptr); ret < 0)
        return encoderFailure(QStringLiteral("refused %1 Hz, %2 channel(s), %3 bit/s")
                                  .arg(params.sampleRate)
                                  .arg(params.channels)
                                  .arg(params.bitRate),
                              ret);
    setup.codecId = AV_CODEC_ID_WMAV2;
    setup.extradata.assign(m_ctx->extradata, m_ctx->extradata + m_ctx->extradata_size);
    setup.blockAlign = m_ctx->block_align;
    setup.bitRate = m_ctx->bit_rate;
    setup.frameSize = m_ctx->frame_size;
    m_pts = 0;
    m_primed = false;
    m_firstOut = false;
    return {};
}

AudioStatus Wmav2Encoder::send(const AVFrame *frame, std::vector<EncodedPacket> &packets)
{
    int ret = avcodec_send_frame(m_ctx.get(), frame);
    if (ret < 0)
        return encoderFailure(QStringLiteral("failed"), ret);
    for (;;) {
        ret = avcodec_receive_packet(m_ctx.get(), m_packet.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return {};
        if (ret < 0)
            return encoderFailure(QStringLiteral("failed"), ret);
        EncodedPacket packet;
        packet.data.assign(m_packet->data, m_packet->data + m_packet->size);
        packet.duration = m_packet->duration > 0 ? m_packet->duration : m_ctx->frame_size;
        if (!m_firstOut) {
            // The priming frame of silence is dropped by decoders: it takes no time.
            m_firstOut = true;
            packet.duration = 0;
        }
        packets.push_back(std::move(packet));
        av_packet_unref(m_packet.get());
    }
}

AudioStatus Wmav2Encoder::encodeFrame(const float *samples, int frames, std::vector<EncodedPacket> &packets)
{
    const int channels = m_ctx->ch_layout.nb_channels;
    av_frame_unref(m_frame.get());
    m_frame->format = m_ctx->sample_fmt;
    m_frame->sample_rate = m_ctx->sample_rate;
    m_frame->nb_samples = frames;
    av_channel_layout_copy(&m_frame->ch_layout, &m_ctx->ch_layout);
    if (const int ret = av_frame_get_buffer(m_frame.get(), 0); ret < 0)
        return encoderFailure(QStringLiteral("failed"), ret);
    for (int c = 0; c < channels; ++c) {
        auto *plane = reinterpret_cast<float *>(m_frame->extended_data[c]);
        if (!samples) {
            std::fill(plane, plane + frames, 0.0f);
            continue;
        }
        for (int i = 0; i < frames; ++i)
            plane[i] = samples[i * channels + c];
    }
    m_frame->pts = m_pts;
    m_pts += frames;
    return send(m_frame.get(), packets);
}

AudioStatus Wmav2Encoder::encode(const float *samples, int frames, std::vector<EncodedPacket> &packets)
{
    if (!m_ctx)
        return AudioStatus::failure(QStringLiteral("The WMA encoder is not open."));
    if (!m_primed) {
        // The encoder's output lags one frame and the decoder drops its first
        // two, so a frame of silence up front keeps the source's first sample.
        m_primed = true;
        if (AudioStatus status = encodeFrame(nullptr, m_ctx->frame_size, packets); !status.ok)
            return status;
    }
    if (frames <= 0)
        return {};
    return encodeFrame(samples, frames, packets);
}

AudioStatus Wmav2Encoder::flush(std::vector<EncodedPacket> &packets)
{
    if (!m_ctx)
        return {};
    return send(nullptr, packets);
}
