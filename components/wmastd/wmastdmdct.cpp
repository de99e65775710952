#include "wmastdmdct.h"

#include <cmath>
#include <numbers>

namespace wmastd {

Mdct::Mdct(int n)
    : m_n(n), m_folded(static_cast<size_t>(n)), m_spectrum(static_cast<size_t>(n)),
      m_work(static_cast<size_t>(n / 2))
{
    const int half = n / 2;
    const double pi = std::numbers::pi;
    m_preTwiddle.resize(static_cast<size_t>(half));
    m_postTwiddle.resize(static_cast<size_t>(half));
    for (int j = 0; j < half; ++j) {
        m_preTwiddle[static_cast<size_t>(j)] = std::polar(1.0f, float(-pi * j / n));
        m_postTwiddle[static_cast<size_t>(j)] = std::polar(1.0f, float(-pi * (j + 0.25) / n));
    }
    m_roots.resize(static_cast<size_t>(half / 2 > 0 ? half / 2 : 1));
    for (int j = 0; j < half / 2; ++j)
        m_roots[static_cast<size_t>(j)] = std::polar(1.0f, float(-2.0 * pi * j / half));
    m_bitReverse.resize(static_cast<size_t>(half));
    int bits = 0;
    while ((1 << bits) < half)
        ++bits;
    for (int i = 0; i < half; ++i) {
        int r = 0;
        for (int b = 0; b < bits; ++b)
            r |= ((i >> b) & 1) << (bits - 1 - b);
        m_bitReverse[static_cast<size_t>(i)] = r;
    }
}

void Mdct::fft(std::complex<float> *data) const
{
    const int size = m_n / 2;
    for (int i = 0; i < size; ++i) {
        const int r = m_bitReverse[static_cast<size_t>(i)];
        if (r > i)
            std::swap(data[i], data[r]);
    }
    for (int len = 2; len <= size; len <<= 1) {
        const int step = size / len;
        for (int start = 0; start < size; start += len) {
            for (int k = 0; k < len / 2; ++k) {
                const std::complex<float> t =
                    m_roots[static_cast<size_t>(k * step)] * data[start + k + len / 2];
                data[start + k + len / 2] = data[start + k] - t;
                data[start + k] += t;
            }
        }
    }
}

void Mdct::forward(const float *in, float *out)
{
    const int n = m_n;
    const int half = n / 2;
    // Fold the four quarters (a, b, c, d) into (-c' - d, a - b'), ' reversed:
    // the MDCT is then a DCT-IV of n points.
    const float *a = in, *b = in + half, *c = in + n, *d = in + n + half;
    for (int i = 0; i < half; ++i) {
        m_folded[static_cast<size_t>(i)] = -c[half - 1 - i] - d[i];
        m_folded[static_cast<size_t>(half + i)] = a[i] - b[half - 1 - i];
    }
    dct4(m_folded.data(), out);
}

void Mdct::inverse(const float *coefs, float *out)
{
    const int n = m_n;
    const int half = n / 2;
    dct4(coefs, m_spectrum.data());
    const float *u = m_spectrum.data();
    for (int i = 0; i < half; ++i) {
        out[i] = u[half + i];
        out[half + i] = -u[n - 1 - i];
        out[n + i] = -u[half - 1 - i];
        out[n + half + i] = -u[i];
    }
}

void Mdct::dct4(const float *in, float *out)
{
    const int n = m_n;
    const int half = n / 2;
    for (int j = 0; j < half; ++j)
        m_work[static_cast<size_t>(j)] =
            std::complex<float>(in[2 * j], in[n - 1 - 2 * j]) * m_preTwiddle[static_cast<size_t>(j)];
    fft(m_work.data());
    const float norm = std::sqrt(2.0f / float(n));
    for (int k = 0; k < half; ++k) {
        const std::complex<float> y =
            m_work[static_cast<size_t>(k)] * m_postTwiddle[static_cast<size_t>(k)] * norm;
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
