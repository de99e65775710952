// Encodes arbitrary 16-bit audio with the lossless profile: a random length
// of samples drawn from the input, full-scale extremes included. libavcodec
// must decode the packets without a word and give back exactly the samples.
#include "wmalosslessasf.h"
#include "wmalosslessencoder.h"
#include "wmalosslesspacket.h"
#include "wmaprofiles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

bool decoderSpoke = false;

void noteWarnings(void *, int level, const char *, va_list)
{
    if (level <= AV_LOG_WARNING)
        decoderSpoke = true;
}

struct ContextDeleter {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct ParametersDeleter {
    void operator()(AVCodecParameters *p) const { avcodec_parameters_free(&p); }
};
struct FrameDeleter {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};

// The decoded samples, interleaved; false on any error or warning.
bool decode(const WmaLosslessEncoder &encoder, const std::vector<WmaLosslessPacket> &packets,
            std::vector<int16_t> &samples)
{
    std::unique_ptr<AVCodecParameters, ParametersDeleter> par(avcodec_parameters_alloc());
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_WMALOSSLESS);
    std::unique_ptr<AVCodecContext, ContextDeleter> ctx(avcodec_alloc_context3(codec));
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    if (!setWmaLosslessCodecParameters(par.get(), encoder) ||
        avcodec_parameters_to_context(ctx.get(), par.get()) < 0 ||
        avcodec_open2(ctx.get(), codec, nullptr) < 0)
        return false;
    decoderSpoke = false;
    av_log_set_callback(noteWarnings);
    bool ok = true;
    const auto drain = [&] {
        int status;
        while ((status = avcodec_receive_frame(ctx.get(), frame.get())) == 0) {
            if (frame->format != AV_SAMPLE_FMT_S16P)
                ok = false;
            for (int i = 0; ok && i < frame->nb_samples; ++i)
                for (int c = 0; c < encoder.channels(); ++c)
                    samples.push_back(reinterpret_cast<const int16_t *>(frame->extended_data[c])[i]);
            av_frame_unref(frame.get());
        }
        if (status != AVERROR(EAGAIN) && status != AVERROR_EOF)
            ok = false;
    };
    for (const WmaLosslessPacket &p : packets) {
        if (av_new_packet(packet.get(), int(p.data.size())) != 0)
            return false;
        std::memcpy(packet->data, p.data.data(), p.data.size());
        packet->pts = p.pts;
        packet->duration = p.duration;
        ok = ok && avcodec_send_packet(ctx.get(), packet.get()) == 0;
        av_packet_unref(packet.get());
        drain();
    }
    ok = ok && avcodec_send_packet(ctx.get(), nullptr) == 0;
    drain();
    av_log_set_callback(av_log_default_callback);
    return ok && !decoderSpoke;
}

} // namespace

// Input: sample kind, two length bytes, then the samples' bytes, repeated as
// often as the length needs.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const WmaProfile *profile = nullptr;
    for (const WmaProfile &p : wmaProfiles())
        if (p.rateControl == WmaProfile::RateControl::Lossless)
            profile = &p;
    const int kind = data[0] % 3;
    const int frames = (data[1] | data[2] << 8) % 20000;
    const uint8_t *bytes = data + 3;
    const size_t count = size - 3;
    std::vector<int16_t> source(size_t(frames) * size_t(profile->channels));
    for (size_t i = 0; count > 0 && i < source.size(); ++i) {
        const auto byte = [&](size_t k) { return bytes[(i * 2 + k) % count]; };
        switch (kind) {
        case 0: // any sample
            source[i] = int16_t(byte(0) | byte(1) << 8);
            break;
        case 1: // full scale, either way
            source[i] = (byte(0) & 1) ? INT16_MAX : INT16_MIN;
            break;
        default: // a byte at any loudness
            source[i] =
                int16_t(std::clamp(int(int8_t(byte(0))) << (bytes[0] % 9), int(INT16_MIN), int(INT16_MAX)));
            break;
        }
    }

    WmaLosslessEncoder encoder(profile->sampleRate, profile->channels);
    std::vector<WmaLosslessPacket> packets;
    const auto keep = [&](std::vector<WmaLosslessPacket> &&out) {
        for (WmaLosslessPacket &packet : out) {
            if (packet.data.size() > size_t(encoder.blockAlign()))
                __builtin_trap();
            packets.push_back(std::move(packet));
        }
    };
    for (int pos = 0, piece = 1; pos < frames; pos += piece, piece = piece * 3 % 4099 + 1) {
        piece = std::min(piece, frames - pos);
        keep(encoder.encode(source.data() + size_t(pos) * size_t(profile->channels), piece));
    }
    keep(encoder.flush());

    std::vector<int16_t> decoded;
    if (!decode(encoder, packets, decoded) || decoded != source)
        __builtin_trap();
    return 0;
}
