#include "wmastdmdct.h"

#include <cmath>
#include <numbers>

namespace wmastd {

Mdct::Mdct(int n) : n_(n), folded_(static_cast<size_t>(n)), work_(static_cast<size_t>(n / 2))
{
    const int half = n / 2;
    const double pi = std::numbers::pi;
    preTwiddle_.resize(static_cast<size_t>(half));
    postTwiddle_.resize(static_cast<size_t>(half));
    for (int j = 0; j < half; ++j) {
        preTwiddle_[static_cast<size_t>(j)] = std::polar(1.0f, float(-pi * j / n));
        postTwiddle_[static_cast<size_t>(j)] = std::polar(1.0f, float(-pi * (j + 0.25) / n));
    }
    roots_.resize(static_cast<size_t>(half / 2 > 0 ? half / 2 : 1));
    for (int j = 0; j < half / 2; ++j)
        roots_[static_cast<size_t>(j)] = std::polar(1.0f, float(-2.0 * pi * j / half));
    bitReverse_.resize(static_cast<size_t>(half));
    int bits = 0;
    while ((1 << bits) < half)
        ++bits;
    for (int i = 0; i < half; ++i) {
        int r = 0;
        for (int b = 0; b < bits; ++b)
            r |= ((i >> b) & 1) << (bits - 1 - b);
        bitReverse_[static_cast<size_t>(i)] = r;
    }
}

void Mdct::fft(std::complex<float> *data) const
{
    const int size = n_ / 2;
    for (int i = 0; i < size; ++i) {
        const int r = bitReverse_[static_cast<size_t>(i)];
        if (r > i)
            std::swap(data[i], data[r]);
    }
    for (int len = 2; len <= size; len <<= 1) {
        const int step = size / len;
        for (int start = 0; start < size; start += len) {
            for (int k = 0; k < len / 2; ++k) {
                const std::complex<float> t = roots_[static_cast<size_t>(k * step)] * data[start + k + len / 2];
                data[start + k + len / 2] = data[start + k] - t;
                data[start + k] += t;
            }
        }
    }
}

void Mdct::forward(const float *in, float *out)
{
    const int n = n_;
    const int half = n / 2;
    // Fold the four quarters (a, b, c, d) into (-c' - d, a - b'), ' reversed:
    // the MDCT is then a DCT-IV of n points.
    const float *a = in, *b = in + half, *c = in + n, *d = in + n + half;
    for (int i = 0; i < half; ++i) {
        folded_[static_cast<size_t>(i)] = -c[half - 1 - i] - d[i];
        folded_[static_cast<size_t>(half + i)] = a[i] - b[half - 1 - i];
    }
    for (int j = 0; j < half; ++j)
        work_[static_cast<size_t>(j)] =
            std::complex<float>(folded_[static_cast<size_t>(2 * j)], folded_[static_cast<size_t>(n - 1 - 2 * j)]) *
            preTwiddle_[static_cast<size_t>(j)];
    fft(work_.data());
    const float norm = std::sqrt(2.0f / float(n));
    for (int k = 0; k < half; ++k) {
        const std::complex<float> y = work_[static_cast<size_t>(k)] * postTwiddle_[static_cast<size_t>(k)] * norm;
        out[2 * k] = y.real();
        out[n - 1 - 2 * k] = -y.imag();
    }
}

std::vector<float> sineSlope(int length)
{
    std::vector<float> w(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i)
        w[static_cast<size_t>(i)] = float(std::sin(std::numbers::pi * (i + 0.5) / (2.0 * length)));
    return w;
}

} // namespace wmastd
