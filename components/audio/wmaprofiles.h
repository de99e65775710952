#pragma once

#include <QString>

#include <array>

// The 47 WMA output profiles. Position 0..46 is what the format list shows
// and the settings file stores; the profile number is position + 1.
struct WmaProfile {
    enum class RateControl { Cbr, VbrQuality, Lossless };

    const char *text; // shown to the user exactly as written
    int sampleRate;   // Hz
    int channels;
    int bitRateKbps; // CBR only, 0 otherwise
    int quality;     // VBR only, 0 otherwise
    RateControl rateControl;
};

inline constexpr int kWmaProfileCount = 47;
inline constexpr int kDefaultWmaPosition = 22;

const std::array<WmaProfile, kWmaProfileCount> &wmaProfiles();

// The profile with this number (1..47), or nullptr outside that range.
const WmaProfile *wmaProfileByNumber(int profileNumber);
