#include "wmastdmdct.h"

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/tx.h>
}

#include <cmath>
#include <cstring>
#include <new>
#include <numbers>

namespace wmastd {

void Mdct::ContextFree::operator()(AVTXContext *context) const
{
    av_tx_uninit(&context);
}

void Mdct::BufferFree::operator()(float *buffer) const
{
    av_free(buffer);
}

Mdct::Mdct(int n) : m_n(n)
{
    // Forward at sqrt(2/n) is our orthonormal MDCT; libavutil's inverse has
    // the opposite sign of its transpose.
    const float scale = std::sqrt(2.0f / float(n));
    const float inverseScale = -scale;
    AVTXContext *forward = nullptr;
    AVTXContext *inverse = nullptr;
    av_tx_fn forwardFn = nullptr;
    av_tx_fn inverseFn = nullptr;
    const int forwardError = av_tx_init(&forward, &forwardFn, AV_TX_FLOAT_MDCT, 0, n, &scale, 0);
    m_forward.reset(forward);
    const int inverseError =
        av_tx_init(&inverse, &inverseFn, AV_TX_FLOAT_MDCT, 1, n, &inverseScale, AV_TX_FULL_IMDCT);
    m_inverse.reset(inverse);
    m_forwardFn = forwardFn;
    m_inverseFn = inverseFn;
    m_in.reset(static_cast<float *>(av_malloc(sizeof(float) * size_t(2 * n))));
    m_out.reset(static_cast<float *>(av_malloc(sizeof(float) * size_t(2 * n))));
    // Block lengths are powers of two: only a lack of memory fails here.
    if (forwardError < 0 || inverseError < 0 || !m_in || !m_out)
        throw std::bad_alloc();
}

void Mdct::forward(const float *in, float *out)
{
    std::memcpy(m_in.get(), in, sizeof(float) * size_t(2 * m_n));
    m_forwardFn(m_forward.get(), m_out.get(), m_in.get(), sizeof(float));
    std::memcpy(out, m_out.get(), sizeof(float) * size_t(m_n));
}

void Mdct::inverse(const float *coefs, float *out)
{
    std::memcpy(m_in.get(), coefs, sizeof(float) * size_t(m_n));
    m_inverseFn(m_inverse.get(), m_out.get(), m_in.get(), sizeof(float));
    std::memcpy(out, m_out.get(), sizeof(float) * size_t(2 * m_n));
}

std::vector<float> sineSlope(int length)
{
    std::vector<float> w(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i)
        w[static_cast<size_t>(i)] = float(std::sin(std::numbers::pi * (i + 0.5) / (2.0 * length)));
    return w;
}

} // namespace wmastd
