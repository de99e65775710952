#pragma once

#include <cstddef>
#include <memory>
#include <vector>

struct AVTXContext;

namespace wmastd {

// Forward MDCT of 2n samples into n coefficients, orthonormal scaling
// (sqrt(2/n)). libavutil's transform does the work: its split-radix FFT
// picks the CPU's SIMD at run time.
class Mdct {
public:
    explicit Mdct(int n);
    int size() const { return m_n; }
    void forward(const float *in, float *out);
    // The transpose: 2n samples that, windowed and overlapped with the
    // neighbours', give back the signal.
    void inverse(const float *coefs, float *out);

private:
    struct ContextFree {
        void operator()(AVTXContext *context) const;
    };
    struct BufferFree {
        void operator()(float *buffer) const;
    };
    using Transform = void (*)(AVTXContext *, void *, void *, std::ptrdiff_t);

    int m_n;
    std::unique_ptr<AVTXContext, ContextFree> m_forward;
    std::unique_ptr<AVTXContext, ContextFree> m_inverse;
    Transform m_forwardFn = nullptr;
    Transform m_inverseFn = nullptr;
    // The transform's SIMD works in place on its output: buffers aligned for it.
    std::unique_ptr<float, BufferFree> m_in;
    std::unique_ptr<float, BufferFree> m_out;
};

// The format's sine slope of a block of `length` coefficients (rising half,
// `length` samples): sin(pi (i + 0.5) / (2 length)).
std::vector<float> sineSlope(int length);

} // namespace wmastd
