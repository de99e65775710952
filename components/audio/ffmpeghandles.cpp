#include "ffmpeghandles.h"

extern "C" {
#include <libavutil/opt.h>
}

QString ffmpegErrorText(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return QString::fromUtf8(text);
}

SwrPtr makeFloatConverter(const AVChannelLayout &inLayout, AVSampleFormat inFormat, int inRate, int channels,
                          int outRate, int *error)
{
    // Streams without a channel order get the usual one for their width.
    AVChannelLayout in{};
    if (inLayout.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_check(&inLayout) == 0)
        av_channel_layout_default(&in, inLayout.nb_channels);
    else
        av_channel_layout_copy(&in, &inLayout);
    AVChannelLayout out{};
    av_channel_layout_default(&out, channels);

    SwrContext *raw = nullptr;
    int ret = swr_alloc_set_opts2(&raw, &out, AV_SAMPLE_FMT_FLT, outRate, &in, inFormat, inRate, 0, nullptr);
    SwrPtr swr(raw);
    if (ret >= 0 && in.nb_channels == 1 && channels == 2) {
        // A mono source goes to both sides at its own level, as players play
        // it, not 3 dB down; the lossless profile then keeps every sample.
        const double bothSides[2] = {1.0, 1.0};
        ret = swr_set_matrix(swr.get(), bothSides, 1);
    } else if (ret >= 0 && in.nb_channels == 2 && channels == 1) {
        // Stereo to mono is the mean of the sides: the usual 0.707 each
        // lifts in-phase sound by 3 dB and clips it at full scale.
        const double mean[2] = {0.5, 0.5};
        ret = swr_set_matrix(swr.get(), mean, 2);
    } else if (ret >= 0 && in.nb_channels > channels) {
        // Other downmixes add centre and surrounds into the sides: scaled so
        // that no output can exceed the loudest input, or a full-scale film
        // track comes out clipped.
        ret = av_opt_set_double(swr.get(), "rematrix_maxval", 1.0, 0);
    }
    av_channel_layout_uninit(&in);
    av_channel_layout_uninit(&out);
    if (ret >= 0)
        ret = swr_init(swr.get());
    if (error)
        *error = ret < 0 ? ret : 0;
    return ret < 0 ? nullptr : std::move(swr);
}
