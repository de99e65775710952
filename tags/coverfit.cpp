#include "coverfit.h"

#include "ffmpeghandles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// Only covers are scaled, so the scaler's owner lives here; the other owners are shared.
struct ScaleFree {
    void operator()(SwsContext *context) const { sws_freeContext(context); }
};
using ScalePtr = std::unique_ptr<SwsContext, ScaleFree>;

// No cover needs more pixels; a header that claims more is not decoded.
constexpr int MaxCoverPixels = 64 * 1024 * 1024;

AVCodecID decoderFor(const QByteArray &data)
{
    const QString type = pictureMimeType(data);
    if (type == QLatin1String("image/jpeg"))
        return AV_CODEC_ID_MJPEG;
    if (type == QLatin1String("image/png"))
        return AV_CODEC_ID_PNG;
    if (type == QLatin1String("image/gif"))
        return AV_CODEC_ID_GIF;
    if (type == QLatin1String("image/bmp"))
        return AV_CODEC_ID_BMP;
    if (type == QLatin1String("image/webp"))
        return AV_CODEC_ID_WEBP;
    return AV_CODEC_ID_NONE;
}

// The first picture of the bytes, or null when they do not decode cleanly.
FramePtr decode(const QByteArray &data)
{
    const AVCodec *codec = avcodec_find_decoder(decoderFor(data));
    if (!codec)
        return nullptr;
    CodecContextPtr context(avcodec_alloc_context3(codec));
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (!context || !packet || !frame)
        return nullptr;
    context->max_pixels = MaxCoverPixels;
    context->err_recognition = AV_EF_EXPLODE; // a damaged picture is not a picture
    if (avcodec_open2(context.get(), codec, nullptr) < 0 || av_new_packet(packet.get(), int(data.size())) < 0)
        return nullptr;
    std::copy(data.begin(), data.end(), packet->data);
    if (avcodec_send_packet(context.get(), packet.get()) < 0)
        return nullptr;
    avcodec_send_packet(context.get(), nullptr);
    if (avcodec_receive_frame(context.get(), frame.get()) < 0 || frame->width <= 0 || frame->height <= 0)
        return nullptr;
    return frame;
}

// The full-range format swscale takes without complaint, and whether the
// picture is full range.
AVPixelFormat plainFormat(AVPixelFormat format, bool &fullRange)
{
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
        fullRange = true;
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        fullRange = true;
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        fullRange = true;
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        fullRange = true;
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        fullRange = true;
        return AV_PIX_FMT_YUV411P;
    default:
        return format;
    }
}

// The picture at `width` x `height`, full-range 4:2:0 as JPEG keeps it.
FramePtr scaled(const AVFrame &source, int width, int height)
{
    bool sourceFull = source.color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat sourceFormat = plainFormat(AVPixelFormat(source.format), sourceFull);
    ScalePtr scale(sws_getContext(source.width, source.height, sourceFormat, width, height,
                                  AV_PIX_FMT_YUV420P, SWS_AREA, nullptr, nullptr, nullptr));
    FramePtr frame(av_frame_alloc());
    if (!scale || !frame)
        return nullptr;
    const int *table = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(scale.get(), table, sourceFull ? 1 : 0, table, 1, 0, 1 << 16, 1 << 16);
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    frame->color_range = AVCOL_RANGE_JPEG;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return nullptr;
    if (sws_scale(scale.get(), source.data, source.linesize, 0, source.height, frame->data,
                  frame->linesize) != height)
        return nullptr;
    return frame;
}

QByteArray encodeJpeg(const AVFrame &picture, int quantiser)
{
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    if (!codec)
        return {};
    CodecContextPtr context(avcodec_alloc_context3(codec));
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_clone(&picture));
    if (!context || !packet || !frame)
        return {};
    context->width = picture.width;
    context->height = picture.height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->color_range = AVCOL_RANGE_JPEG;
    context->time_base = {1, 25};
    context->flags |= AV_CODEC_FLAG_QSCALE;
    context->global_quality = FF_QP2LAMBDA * quantiser;
    frame->quality = context->global_quality;
    frame->pts = 0;
    if (avcodec_open2(context.get(), codec, nullptr) < 0 ||
        avcodec_send_frame(context.get(), frame.get()) < 0)
        return {};
    avcodec_send_frame(context.get(), nullptr);
    if (avcodec_receive_packet(context.get(), packet.get()) < 0)
        return {};
    return QByteArray(reinterpret_cast<const char *>(packet->data), packet->size);
}

// The bytes a picture value spends beyond the picture: its type, the data
// length, the MIME type and an empty description in UTF-16 with terminators.
qsizetype valueOverhead(const QString &mimeType)
{
    return 1 + 4 + (mimeType.size() + 1) * 2 + 2;
}

} // namespace

PictureSize pictureSize(const QByteArray &data)
{
    const FramePtr frame = decode(data);
    return frame ? PictureSize{frame->width, frame->height} : PictureSize{};
}

FittedCover fitCover(const CoverPicture &cover, qsizetype valueLimit)
{
    if (cover.isEmpty())
        return {cover, {}};
    const FramePtr picture = decode(cover.data);
    if (!picture)
        return {{}, QStringLiteral("its cover picture could not be decoded and was left out")};
    if (cover.data.size() + valueOverhead(cover.mimeType) <= valueLimit)
        return {cover, {}};

    const QString jpeg = QStringLiteral("image/jpeg");
    const qsizetype room = valueLimit - valueOverhead(jpeg);
    // Never larger than the original; each pass that cannot fit halves the side.
    for (int side = std::min(FittedCoverSide, std::max(picture->width, picture->height)); side >= 16;
         side /= 2) {
        const double factor = double(side) / std::max(picture->width, picture->height);
        const int width = std::max(1, int(std::lround(picture->width * factor)));
        const int height = std::max(1, int(std::lround(picture->height * factor)));
        const FramePtr small = scaled(*picture, width, height);
        if (!small)
            break;
        for (const int quantiser : {2, 3, 4, 6, 8, 12, 16, 24, 31}) {
            const QByteArray bytes = encodeJpeg(*small, quantiser);
            if (bytes.isEmpty())
                break;
            if (bytes.size() <= room)
                return {{bytes, jpeg, cover.type}, {}};
        }
    }
    return {{}, QStringLiteral("its cover picture could not be made small enough and was left out")};
}
