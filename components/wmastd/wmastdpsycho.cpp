#include "wmastdpsycho.h"

#include "wmastdlayout.h"

#include <algorithm>
#include <cmath>

namespace wmastd {
namespace {

// How far below the spread energy noise stays unheard; tuned on the noise-to-mask yardstick.
constexpr float kMaskOffsetDb = 14.0f;
constexpr float kUpwardSlopeDbPerBark = 15.0f;  // a masker hides more above itself
constexpr float kDownwardSlopeDbPerBark = 27.0f;

float bark(float hz)
{
    return 13.0f * std::atan(0.00076f * hz) + 3.5f * std::atan((hz / 7500.0f) * (hz / 7500.0f));
}

// Threshold in quiet as a power per coefficient, a full-scale sine taken as 96 dB.
float quietPower(float hz)
{
    const float khz = std::max(hz, 20.0f) / 1000.0f;
    const float db = 3.64f * std::pow(khz, -0.8f) - 6.5f * std::exp(-0.6f * (khz - 3.3f) * (khz - 3.3f)) +
                     1e-3f * khz * khz * khz * khz;
    return std::pow(10.0f, (std::min(db, 60.0f) - 96.0f - 10.0f) / 10.0f);
}

} // namespace

std::vector<float> maskingThreshold(const float *coefs, const BlockLayout &block, int sampleRate)
{
    const size_t bands = block.exponentBands.size();
    std::vector<float> density(bands), z(bands), centre(bands);
    int pos = 0;
    const float hzPerCoef = float(sampleRate) / (2.0f * float(block.length));
    for (size_t b = 0; b < bands; ++b) {
        const int width = block.exponentBands[b];
        double energy = 0;
        for (int i = pos; i < pos + width; ++i)
            energy += double(coefs[i]) * coefs[i];
        density[b] = float(energy / width);
        centre[b] = (float(pos) + float(width) * 0.5f) * hzPerCoef;
        z[b] = bark(centre[b]);
        pos += width;
    }
    std::vector<float> threshold(bands);
    const float offset = std::pow(10.0f, -kMaskOffsetDb / 10.0f);
    for (size_t b = 0; b < bands; ++b) {
        float spread = 0;
        for (size_t j = 0; j < bands; ++j) {
            const float dz = z[b] - z[j];
            const float db = dz >= 0 ? -kUpwardSlopeDbPerBark * dz : kDownwardSlopeDbPerBark * dz;
            if (db > -60.0f)
                spread += density[j] * std::pow(10.0f, db / 10.0f);
        }
        threshold[b] = std::max(spread * offset, quietPower(centre[b]));
    }
    return threshold;
}

} // namespace wmastd
