#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

#include <QString>

#include <memory>

// Owners for the FFmpeg handles, so that no error path repeats cleanup.
struct InputFormatDeleter {
    void operator()(AVFormatContext *ctx) const { avformat_close_input(&ctx); }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext *ctx) const { avcodec_free_context(&ctx); }
};
struct FrameDeleter {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
// A custom I/O context and the buffer it was given (which FFmpeg may have replaced).
struct AvioDeleter {
    void operator()(AVIOContext *io) const
    {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
struct SwrDeleter {
    void operator()(SwrContext *swr) const { swr_free(&swr); }
};

using InputFormatPtr = std::unique_ptr<AVFormatContext, InputFormatDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using AvioPtr = std::unique_ptr<AVIOContext, AvioDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;

// FFmpeg's text for an error code, for the messages the program shows.
QString ffmpegErrorText(int error);

// A converter from any layout to interleaved float, `channels` wide, at `outRate`.
SwrPtr makeFloatConverter(const AVChannelLayout &inLayout, AVSampleFormat inFormat, int inRate, int channels,
                          int outRate, int *error);

struct CodecParametersDeleter {
    void operator()(AVCodecParameters *par) const { avcodec_parameters_free(&par); }
};
using CodecParametersPtr = std::unique_ptr<AVCodecParameters, CodecParametersDeleter>;
