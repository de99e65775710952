#pragma once

#include <complex>
#include <vector>

namespace wmastd {

// Forward MDCT of 2n samples into n coefficients, orthonormal scaling
// (sqrt(2/n)), through an n/2-point complex FFT.
class Mdct {
public:
    explicit Mdct(int n);
    int size() const { return n_; }
    void forward(const float *in, float *out);

private:
    void fft(std::complex<float> *data) const;

    int n_;
    std::vector<std::complex<float>> preTwiddle_;
    std::vector<std::complex<float>> postTwiddle_;
    std::vector<std::complex<float>> roots_;    // FFT roots of unity
    std::vector<int> bitReverse_;
    std::vector<float> folded_;
    std::vector<std::complex<float>> work_;
};

// The format's sine slope of a block of `length` coefficients (rising half,
// `length` samples): sin(pi (i + 0.5) / (2 length)).
std::vector<float> sineSlope(int length);

} // namespace wmastd
