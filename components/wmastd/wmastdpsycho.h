#pragma once

#include <vector>

namespace wmastd {

struct BlockLayout;

// Allowed noise power per coefficient for each exponent band of one block
// size (orthonormal MDCT of a signal in [-1, 1]): the band energies, as the
// outer and middle ear pass them on, spread over the Bark scale and lowered
// by a signal-to-mask offset, never below the threshold in quiet. What
// depends only on the bands is worked out once.
class MaskingModel {
public:
    MaskingModel(const BlockLayout &block, int sampleRate);
    // Per channel: a tone's tonality carries over to its next block of this
    // size, which a transition window's leakage would otherwise hide.
    void threshold(const float *coefs, int channel, std::vector<float> &out);

private:
    std::vector<int> m_widths;
    std::vector<float> m_spread;                // bands x bands: share of band j's level that masks band i
    std::vector<float> m_quiet;                 // threshold in quiet per band
    std::vector<float> m_hearing;               // per coefficient: the share of power the ear passes on
    std::vector<float> m_heard;                 // per band: its largest share
    std::vector<std::vector<float>> m_tonality; // per channel and band, of the last block
    std::vector<float> m_density;               // per band, kept between blocks
};

} // namespace wmastd
