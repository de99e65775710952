#include "wmaprofiles.h"

namespace {
using RC = WmaProfile::RateControl;

constexpr std::array<WmaProfile, kWmaProfileCount> kProfiles{{
    {"WMA9 48KHz, 192Kbps, Stereo, CBR", 48000, 2, 192, 0, RC::Cbr},
    {"WMA9 48KHz, 160Kbps, Stereo, CBR", 48000, 2, 160, 0, RC::Cbr},
    {"WMA9 48KHz, 128Kbps, Stereo, CBR", 48000, 2, 128, 0, RC::Cbr},
    {"WMA9 48KHz, 96Kbps, Stereo, CBR", 48000, 2, 96, 0, RC::Cbr},
    {"WMA9 48KHz, 64Kbps, Stereo, CBR", 48000, 2, 64, 0, RC::Cbr},
    {"WMA9 44KHz, 320Kbps, Stereo, CBR", 44100, 2, 320, 0, RC::Cbr},
    {"WMA9 44KHz, 256Kbps, Stereo, CBR", 44100, 2, 256, 0, RC::Cbr},
    {"WMA9 44KHz, 192Kbps, Stereo, CBR", 44100, 2, 192, 0, RC::Cbr},
    {"WMA9 44KHz, 160Kbps, Stereo, CBR", 44100, 2, 160, 0, RC::Cbr},
    {"WMA9 44KHz, 128Kbps, Stereo, CBR", 44100, 2, 128, 0, RC::Cbr},
    {"WMA9 44KHz, 96Kbps, Stereo, CBR", 44100, 2, 96, 0, RC::Cbr},
    {"WMA9 44KHz, 80Kbps, Stereo, CBR", 44100, 2, 80, 0, RC::Cbr},
    {"WMA9 44KHz, 64Kbps, Stereo, CBR", 44100, 2, 64, 0, RC::Cbr},
    {"WMA9 44KHz, 48Kbps, Stereo, CBR", 44100, 2, 48, 0, RC::Cbr},
    {"WMA9 44KHz, 32Kbps, Stereo, CBR", 44100, 2, 32, 0, RC::Cbr},
    {"WMA9 44KHz, 48Kbps, Mono, CBR", 44100, 1, 48, 0, RC::Cbr},
    {"WMA9 44KHz, 32Kbps, Mono, CBR", 44100, 1, 32, 0, RC::Cbr},
    {"WMA9 44KHz, 20Kbps, Mono, CBR", 44100, 1, 20, 0, RC::Cbr},
    {"WMA9 32KHz, 48Kbps, Stereo, CBR", 32000, 2, 48, 0, RC::Cbr},
    {"WMA9 32KHz, 40Kbps, Stereo, CBR", 32000, 2, 40, 0, RC::Cbr},
    {"WMA9 32KHz, 32Kbps, Stereo, CBR", 32000, 2, 32, 0, RC::Cbr},
    {"WMA9 32KHz, 20Kbps, Mono, CBR", 32000, 1, 20, 0, RC::Cbr},
    {"WMA9 32KHz, 32Kbps, Stereo, CBR", 32000, 2, 32, 0, RC::Cbr},
    {"WMA9 32KHz, 22Kbps, Stereo, CBR", 32000, 2, 22, 0, RC::Cbr},
    {"WMA9 22KHz, 20Kbps, Stereo, CBR", 22050, 2, 20, 0, RC::Cbr},
    {"WMA9 22KHz, 20Kbps, Mono, CBR", 22050, 1, 20, 0, RC::Cbr},
    {"WMA9 22KHz, 16Kbps, Mono, CBR", 22050, 1, 16, 0, RC::Cbr},
    {"WMA9 16KHz, 20Kbps, Stereo, CBR", 16000, 2, 20, 0, RC::Cbr},
    {"WMA9 16KHz, 16Kbps, Stereo, CBR", 16000, 2, 16, 0, RC::Cbr},
    {"WMA9 16KHz, 16Kbps, Mono, CBR", 16000, 1, 16, 0, RC::Cbr},
    {"WMA9 16KHz, 12Kbps, Mono, CBR", 16000, 1, 12, 0, RC::Cbr},
    {"WMA9 16KHz, 10Kbps, Mono, CBR", 16000, 1, 10, 0, RC::Cbr},
    {"WMA9 11KHz, 10Kbps, Mono, CBR", 11025, 1, 10, 0, RC::Cbr},
    {"WMA9 11KHz, 8Kbps, Mono, CBR", 11025, 1, 8, 0, RC::Cbr},
    {"WMA9 8KHz,  12Kbps, Stereo, CBR", 8000, 2, 12, 0, RC::Cbr},
    {"WMA9 8KHz,  8Kbps, Mono, CBR", 8000, 1, 8, 0, RC::Cbr},
    {"WMA9 8KHz,  6Kbps, Mono, CBR", 8000, 1, 6, 0, RC::Cbr},
    {"WMA9 8KHz,  5Kbps, Mono, CBR", 8000, 1, 5, 0, RC::Cbr},
    {"WMA9 48KHz, Stereo, VBR Quality 98", 48000, 2, 0, 98, RC::VbrQuality},
    {"WMA9 48KHz, Stereo, VBR Quality 90", 48000, 2, 0, 90, RC::VbrQuality},
    {"WMA9 44KHz, Stereo, VBR Quality 98", 44100, 2, 0, 98, RC::VbrQuality},
    {"WMA9 44KHz, Stereo, VBR Quality 90", 44100, 2, 0, 90, RC::VbrQuality},
    {"WMA9 44KHz, Stereo, VBR Quality 75", 44100, 2, 0, 75, RC::VbrQuality},
    {"WMA9 44KHz, Stereo, VBR Quality 50", 44100, 2, 0, 50, RC::VbrQuality},
    {"WMA9 44KHz, Stereo, VBR Quality 25", 44100, 2, 0, 25, RC::VbrQuality},
    {"WMA9 44KHz, Stereo, VBR Quality 10", 44100, 2, 0, 10, RC::VbrQuality},
    {"WMA9 44KHz, Stereo, Lossless", 44100, 2, 0, 0, RC::Lossless},
}};
} // namespace

const std::array<WmaProfile, kWmaProfileCount> &wmaProfiles()
{
    return kProfiles;
}

const WmaProfile *wmaProfileByNumber(int profileNumber)
{
    if (profileNumber < 1 || profileNumber > kWmaProfileCount)
        return nullptr;
    return &kProfiles[static_cast<size_t>(profileNumber - 1)];
}
