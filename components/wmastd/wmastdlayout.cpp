#include "wmastdlayout.h"

#include "wmastdtables.h"

#include <algorithm>
#include <cmath>

namespace wmastd {
namespace {

constexpr int kMinBlockBits = 7;
constexpr uint16_t kExpVlcFlag = 0x1;
constexpr uint16_t kReservoirFlag = 0x2;
constexpr uint16_t kVariableBlockFlag = 0x4;

int log2Floor(int v)
{
    int n = 0;
    while (v > 1) {
        v >>= 1;
        ++n;
    }
    return n;
}

// The decoder groups rates into five classes when it picks its settings.
int rateClass(int sampleRate)
{
    for (int r : {44100, 22050, 16000, 11025, 8000})
        if (sampleRate >= r)
            return r;
    return sampleRate;
}

std::vector<int> exponentBands(int sampleRate, int frameLengthBits, int k, int length)
{
    const int index = frameLengthBits - kMinBlockBits - k;
    const uint8_t(*table)[25] = nullptr;
    if (index < 3) {
        if (sampleRate >= 44100)
            table = tables::kExponentBands44100;
        else if (sampleRate >= 32000)
            table = tables::kExponentBands32000;
        else if (sampleRate >= 22050)
            table = tables::kExponentBands22050;
    }
    std::vector<int> bands;
    if (table) {
        const uint8_t *row = table[index];
        bands.assign(row + 1, row + 1 + row[0]);
        return bands;
    }
    // Otherwise bands follow the critical frequencies, rounded to multiples of four.
    int last = 0;
    for (int f : tables::kCriticalFreqs) {
        int pos = ((length * 2 * f + (sampleRate << 1)) / (4 * sampleRate)) << 2;
        pos = std::min(pos, length);
        if (pos > last)
            bands.push_back(pos - last);
        if (pos >= length)
            break;
        last = pos;
    }
    return bands;
}

} // namespace

StreamLayout makeStreamLayout(int sampleRate, int channels, int bitRate, int sizeFlag)
{
    StreamLayout s;
    s.sampleRate = sampleRate;
    s.channels = channels;
    s.bitRate = bitRate;
    s.frameLengthBits = sampleRate <= 16000 ? 9 : sampleRate <= 22050 ? 10 : 11;
    s.frameLength = 1 << s.frameLengthBits;
    s.flags = static_cast<uint16_t>(kExpVlcFlag | kReservoirFlag | kVariableBlockFlag | (sizeFlag << 3));
    int sizes = sizeFlag + 1 + (bitRate / channels >= 32000 ? 2 : 0);
    s.blockSizes = std::min(sizes, s.frameLengthBits - kMinBlockBits) + 1;
    s.blockSizeBits = log2Floor(s.blockSizes - 1) + 1;

    // Single precision where the decoder computes in it: a rounding apart
    // would move a band edge and the two would disagree.
    const float bps = float(bitRate) / float(channels * sampleRate);
    s.byteOffsetBits = log2Floor(int(double(bps * float(s.frameLength)) / 8.0 + 0.5)) + 2;
    const float bps1 = channels == 2 ? float(double(bps) * 1.6) : bps;
    float highFreq = float(sampleRate * 0.5);
    const auto scale = [&highFreq](double f) { highFreq = float(double(highFreq) * f); };
    s.noiseCoding = true;
    switch (rateClass(sampleRate)) {
    case 44100:
        if (bps1 >= 0.61)
            s.noiseCoding = false;
        else
            scale(0.4);
        break;
    case 22050:
        if (bps1 >= 1.16)
            s.noiseCoding = false;
        else
            scale(bps1 >= 0.72 ? 0.7 : 0.6);
        break;
    case 16000:
        scale(bps > 0.5 ? 0.5 : 0.3);
        break;
    case 11025:
        scale(0.7);
        break;
    case 8000:
        if (bps <= 0.625)
            scale(0.5);
        else if (bps > 0.75)
            s.noiseCoding = false;
        else
            scale(0.65);
        break;
    default:
        scale(bps >= 0.8 ? 0.75 : bps >= 0.6 ? 0.6 : 0.5);
    }
    s.coefTable = 2;
    if (sampleRate >= 32000)
        s.coefTable = bps1 < 0.72 ? 0 : bps1 < 1.16 ? 1 : 2;

    for (int k = 0; k < s.blockSizes; ++k) {
        BlockLayout b;
        b.length = s.frameLength >> k;
        b.exponentBands = exponentBands(sampleRate, s.frameLengthBits, k, b.length);
        b.codedEnd = (s.frameLength - s.frameLength * 9 / 100) >> k;
        b.highBandStart = int(double(float(b.length * 2) * highFreq / float(sampleRate)) + 0.5);
        int pos = 0;
        for (int width : b.exponentBands) {
            const int start = std::max(pos, b.highBandStart);
            pos += width;
            const int end = std::min(pos, b.codedEnd);
            if (end > start)
                b.highBands.push_back(end - start);
        }
        s.blocks.push_back(std::move(b));
    }
    return s;
}

} // namespace wmastd
