#pragma once

#include <vector>

namespace wmastd {

struct BlockLayout;

// Allowed noise power per coefficient for each exponent band of one block
// (orthonormal MDCT of a signal in [-1, 1]): the band energies spread over
// the Bark scale, lowered by a signal-to-mask offset, never below the
// threshold in quiet.
std::vector<float> maskingThreshold(const float *coefs, const BlockLayout &block, int sampleRate);

} // namespace wmastd
