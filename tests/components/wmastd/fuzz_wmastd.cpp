// Encodes arbitrary audio at any WMA 9 Standard profile: a random length of
// samples drawn from the input, loud and extreme values included (any finite
// float). libavcodec must decode the stream without a word and give back the
// source's length rounded up to whole frames.
#include "wmadecoder.h"
#include "wmaprofiles.h"
#include "wmastdencoder.h"
#include "wmastdoutputencoder.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Input: profile, sample kind, two length bytes, then the samples' bytes,
// repeated as often as the length needs.
std::vector<float> samplesOf(int kind, const uint8_t *bytes, size_t size, size_t count)
{
    std::vector<float> out(count);
    if (size == 0)
        return out;
    for (size_t i = 0; i < count; ++i) {
        const auto byte = [&](size_t k) { return bytes[(i * 4 + k) % size]; };
        switch (kind) {
        case 0: { // any float bit pattern; what is not finite becomes the largest float
            uint32_t bits = uint32_t(byte(0)) | uint32_t(byte(1)) << 8 | uint32_t(byte(2)) << 16 |
                            uint32_t(byte(3)) << 24;
            float v;
            std::memcpy(&v, &bits, sizeof v);
            out[i] = std::isnan(v) ? 0.0f : std::clamp(v, -FLT_MAX, FLT_MAX);
            break;
        }
        case 1: // within full scale
            out[i] = float(int16_t(byte(0) | byte(1) << 8)) / 32768.0f;
            break;
        case 2: // a sample byte times a gain of 2^-64 .. 2^63
            out[i] = std::ldexp(float(int8_t(byte(0))), int(bytes[0] % 128) - 64);
            break;
        default: // one value held: a loud DC
            out[i] = std::ldexp(float(int8_t(bytes[0])), int(bytes[size - 1] % 128) - 64);
            break;
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    std::vector<const WmaProfile *> profiles;
    for (const WmaProfile &p : wmaProfiles())
        if (p.rateControl != WmaProfile::RateControl::Lossless)
            profiles.push_back(&p);
    const WmaProfile &p = *profiles[data[0] % profiles.size()];
    const int kind = data[1] % 4;
    const int frames = (data[2] | data[3] << 8) % 20000;
    const std::vector<float> source =
        samplesOf(kind, data + 4, size - 4, size_t(frames) * size_t(p.channels));

    const auto owned =
        WmaStdEncoder::create(wmaStdParams({p.sampleRate, p.channels, p.bitRateKbps * 1000, p.quality}))
            .encoder;
    WmaStdEncoder &encoder = *owned;
    std::vector<std::vector<uint8_t>> packets;
    int64_t duration = 0;
    const auto keep = [&](std::vector<WmaStdPacket> &&out) {
        for (WmaStdPacket &packet : out) {
            if (int(packet.data.size()) != encoder.blockAlign())
                __builtin_trap();
            duration += packet.duration;
            packets.push_back(std::move(packet.data));
        }
    };
    // Uneven pieces, as the writer's resampler hands them over.
    for (int pos = 0, piece = 1; pos < frames; pos += piece, piece = piece * 3 % 4099 + 1) {
        piece = std::min(piece, frames - pos);
        keep(encoder.encode(source.data() + size_t(pos) * size_t(p.channels), piece));
    }
    keep(encoder.flush());

    const DecodeResult decoded = decodeWma(packets, encoder.extradata(), p.sampleRate, p.channels,
                                           encoder.bitRate(), encoder.blockAlign());
    if (!decoded.ok || !decoded.messages.isEmpty())
        __builtin_trap();
    const int n = encoder.frameLength();
    const int64_t out = int64_t(decoded.samples.size()) / p.channels;
    // No samples in gives no packets at all, so no lead-in either.
    const bool rightLength =
        frames == 0 ? packets.empty() && out == 0
                    : out == (int64_t(frames) + n - 1) / n * n && duration - encoder.leadIn() == out;
    if (!rightLength)
        __builtin_trap();
    return 0;
}
