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

MaskingModel::MaskingModel(const BlockLayout &block, int sampleRate) : widths_(block.exponentBands)
{
    const size_t bands = widths_.size();
    std::vector<float> z(bands);
    quiet_.resize(bands);
    const float hzPerCoef = float(sampleRate) / (2.0f * float(block.length));
    int pos = 0;
    for (size_t b = 0; b < bands; ++b) {
        const float centre = (float(pos) + float(widths_[b]) * 0.5f) * hzPerCoef;
        z[b] = bark(centre);
        quiet_[b] = quietPower(centre);
        pos += widths_[b];
    }
    const float offset = std::pow(10.0f, -kMaskOffsetDb / 10.0f);
    spread_.resize(bands * bands);
    for (size_t i = 0; i < bands; ++i)
        for (size_t j = 0; j < bands; ++j) {
            const float dz = z[i] - z[j];
            const float db = dz >= 0 ? -kUpwardSlopeDbPerBark * dz : kDownwardSlopeDbPerBark * dz;
            spread_[i * bands + j] = db > -60.0f ? offset * std::pow(10.0f, db / 10.0f) : 0.0f;
        }
}

std::vector<float> MaskingModel::threshold(const float *coefs) const
{
    const size_t bands = widths_.size();
    std::vector<float> density(bands);
    int pos = 0;
    for (size_t b = 0; b < bands; ++b) {
        float energy = 0;
        for (int i = pos; i < pos + widths_[b]; ++i)
            energy += coefs[i] * coefs[i];
        density[b] = energy / float(widths_[b]);
        pos += widths_[b];
    }
    std::vector<float> threshold(bands);
    for (size_t i = 0; i < bands; ++i) {
        float spread = 0;
        const float *row = spread_.data() + i * bands;
        for (size_t j = 0; j < bands; ++j)
            spread += density[j] * row[j];
        threshold[i] = std::max(spread, quiet_[i]);
    }
    return threshold;
}

} // namespace wmastd
