#include "wmastdpsycho.h"

#include "wmastdfastmath.h"
#include "wmastdlayout.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace wmastd {
namespace {

// How far below the spread energy noise stays unheard: a tone masks far
// less than noise of the same energy. Tonality is read from the flatness
// of the band's spectrum.
constexpr float kNoiseMaskOffsetDb = 8.0f;
constexpr float kToneMaskOffsetDb = 24.0f;
constexpr float kFlatnessOfATone = -25.0f; // dB of geometric over arithmetic mean
constexpr float kTonalityMemory = 0.9f;
constexpr float kUpwardSlopeDbPerBark = 15.0f; // a masker hides more above itself
constexpr float kDownwardSlopeDbPerBark = 27.0f;

float bark(float hz)
{
    return 13.0f * std::atan(0.00076f * hz) + 3.5f * std::atan((hz / 7500.0f) * (hz / 7500.0f));
}

// Threshold in quiet in dB SPL.
float quietDb(float hz)
{
    const float khz = std::max(hz, 20.0f) / 1000.0f;
    const float db = 3.64f * std::pow(khz, -0.8f) - 6.5f * std::exp(-0.6f * (khz - 3.3f) * (khz - 3.3f)) +
                     1e-3f * khz * khz * khz * khz;
    return std::min(db, 60.0f);
}

// As a power per coefficient, a full-scale sine taken as 96 dB.
float quietPower(float hz)
{
    return std::pow(10.0f, (quietDb(hz) - 96.0f - 10.0f) / 10.0f);
}

// The outer and middle ear pass a sound on by about this share of its
// power: a deep tone reaches the inner ear far weaker than its level says,
// so it masks less, above all at the higher frequencies it spreads to.
// Taken as even from 1 kHz up, where the masking offsets were set.
float hearing(float hz)
{
    return std::pow(10.0f, -0.06f * quietDb(std::min(hz, 1000.0f)));
}

} // namespace

MaskingModel::MaskingModel(const BlockLayout &block, int sampleRate) : m_widths(block.exponentBands)
{
    const size_t bands = m_widths.size();
    std::vector<float> z(bands);
    m_quiet.resize(bands);
    m_heard.resize(bands);
    const float hzPerCoef = float(sampleRate) / (2.0f * float(block.length));
    m_hearing.resize(size_t(block.length));
    for (size_t k = 0; k < m_hearing.size(); ++k)
        m_hearing[k] = hearing((float(k) + 0.5f) * hzPerCoef);
    int pos = 0;
    for (size_t b = 0; b < bands; ++b) {
        const float centre = (float(pos) + float(m_widths[b]) * 0.5f) * hzPerCoef;
        z[b] = bark(centre);
        m_quiet[b] = quietPower(centre);
        // Noise spreads evenly over a band: it is heard first where the ear passes on most.
        m_heard[b] = *std::max_element(m_hearing.begin() + pos, m_hearing.begin() + pos + m_widths[b]);
        pos += m_widths[b];
    }
    m_spread.resize(bands * bands);
    for (size_t i = 0; i < bands; ++i)
        for (size_t j = 0; j < bands; ++j) {
            const float dz = z[i] - z[j];
            const float db = dz >= 0 ? -kUpwardSlopeDbPerBark * dz : kDownwardSlopeDbPerBark * dz;
            m_spread[i * bands + j] = db > -60.0f ? std::pow(10.0f, db / 10.0f) : 0.0f;
        }
}

void MaskingModel::threshold(const float *coefs, int channel, std::vector<float> &out)
{
    if (m_tonality.size() <= size_t(channel))
        m_tonality.resize(size_t(channel) + 1, std::vector<float>(m_widths.size(), 0.0f));
    std::vector<float> &previous = m_tonality[size_t(channel)];
    const size_t bands = m_widths.size();
    std::vector<float> &density = m_density;
    density.resize(bands);
    int pos = 0;
    for (size_t b = 0; b < bands; ++b) {
        // Energies from 2^-67 up: their logs summed through sumOfLog2; four
        // partial sums of the energy keep the additions from waiting on each
        // other. The masking takes the energy as the ear passes it on.
        const float *band = coefs + pos;
        const float *ear = m_hearing.data() + pos;
        float p0 = 0, p1 = 0, p2 = 0, p3 = 0;
        float h0 = 0, h1 = 0, h2 = 0, h3 = 0;
        int k = 0;
        for (; k + 4 <= m_widths[b]; k += 4) {
            p0 += band[k] * band[k] + 1e-20f;
            p1 += band[k + 1] * band[k + 1] + 1e-20f;
            p2 += band[k + 2] * band[k + 2] + 1e-20f;
            p3 += band[k + 3] * band[k + 3] + 1e-20f;
            h0 += band[k] * band[k] * ear[k];
            h1 += band[k + 1] * band[k + 1] * ear[k + 1];
            h2 += band[k + 2] * band[k + 2] * ear[k + 2];
            h3 += band[k + 3] * band[k + 3] * ear[k + 3];
        }
        for (; k < m_widths[b]; ++k) {
            p0 += band[k] * band[k] + 1e-20f;
            h0 += band[k] * band[k] * ear[k];
        }
        const float energy = (p0 + p1) + (p2 + p3);
        const float heard = (h0 + h1) + (h2 + h3);
        const float logSum = float(sumOfLog2(m_widths[b], [&](int i) { return band[i] * band[i] + 1e-20f; }) *
                                   (std::numbers::ln2 / std::numbers::ln10));
        const float mean = energy / float(m_widths[b]);
        const float flatnessDb = 10.0f * (logSum / float(m_widths[b]) - std::log10(mean));
        const float tonality =
            std::max(std::clamp(flatnessDb / kFlatnessOfATone, 0.0f, 1.0f), kTonalityMemory * previous[b]);
        previous[b] = tonality;
        const float offsetDb = kNoiseMaskOffsetDb + tonality * (kToneMaskOffsetDb - kNoiseMaskOffsetDb);
        density[b] = heard / float(m_widths[b]) * std::pow(10.0f, -offsetDb / 10.0f);
        pos += m_widths[b];
    }
    out.resize(bands);
    for (size_t i = 0; i < bands; ++i) {
        float spread = 0;
        const float *row = m_spread.data() + i * bands;
        for (size_t j = 0; j < bands; ++j)
            spread += density[j] * row[j];
        out[i] = std::max(spread / m_heard[i], m_quiet[i]);
    }
}

} // namespace wmastd
