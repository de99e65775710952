#pragma once

#include <complex>
#include <vector>

namespace wmastd {

// Forward MDCT of 2n samples into n coefficients, orthonormal scaling
// (sqrt(2/n)), through an n/2-point complex FFT.
class Mdct {
public:
    explicit Mdct(int n);
    int size() const { return m_n; }
    void forward(const float *in, float *out);
    // The transpose: 2n samples that, windowed and overlapped with the
    // neighbours', give back the signal.
    void inverse(const float *coefs, float *out);

private:
    void dct4(const float *in, float *out); // orthonormal, its own inverse
    void fft(std::complex<float> *data) const;

    int m_n;
    std::vector<std::complex<float>> m_preTwiddle;
    std::vector<std::complex<float>> m_postTwiddle;
    std::vector<std::complex<float>> m_roots; // FFT roots of unity
    std::vector<int> m_bitReverse;
    std::vector<float> m_folded;
    std::vector<float> m_spectrum;
    std::vector<std::complex<float>> m_work;
};

// The format's sine slope of a block of `length` coefficients (rising half,
// `length` samples): sin(pi (i + 0.5) / (2 length)).
std::vector<float> sineSlope(int length);

} // namespace wmastd
