#include "cdlmsfilter.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

void CdlmsFilter::configure(int order, int scaling)
{
    order_ = std::clamp(order / 16 * 16, 16, MaxOrder);
    scaling_ = std::clamp(scaling, 0, 15);
    clear();
}

void CdlmsFilter::clear()
{
    std::memset(coefs_, 0, sizeof(coefs_));
    std::memset(prev_, 0, sizeof(prev_));
    std::memset(updates_, 0, sizeof(updates_));
    recent_ = order_;
}

// The decoder rescales the first `order` entries of the buffer, not the
// window at `recent`; the same entries are rescaled here.
void CdlmsFilter::doubleUpdates()
{
    for (int i = 0; i < order_; ++i)
        updates_[i] = static_cast<int16_t>(updates_[i] * 2);
}

void CdlmsFilter::halveUpdates()
{
    for (int i = 0; i < order_; ++i)
        updates_[i] = static_cast<int16_t>(updates_[i] / 2);
}

inline void CdlmsFilter::update(int32_t input, int updateSpeed)
{
    const int order = order_;
    if (recent_ > 0) {
        --recent_;
    } else {
        std::memcpy(prev_ + order, prev_, sizeof(int16_t) * order);
        std::memcpy(updates_ + order, updates_, sizeof(int16_t) * order);
        recent_ = order - 1;
    }
    prev_[recent_] = static_cast<int16_t>(std::clamp(input, -32768, 32767));
    updates_[recent_] = static_cast<int16_t>(((input > 0) - (input < 0)) * updateSpeed);
    updates_[recent_ + (order >> 4)] = static_cast<int16_t>(updates_[recent_ + (order >> 4)] >> 2);
    updates_[recent_ + (order >> 3)] = static_cast<int16_t>(updates_[recent_ + (order >> 3)] >> 1);
    // Everything past this slot is already zero, so clearing it keeps the window's tail clean.
    updates_[recent_ + order] = 0;
}

namespace {

// The prediction is a dot product of 16-bit coefficients and history, summed
// in 32 bits that wrap exactly as the decoder's sums do (pmaddwd pairs wrap the
// same way); the adaptation adds or subtracts the update buffer. Orders are
// multiples of 16, so the loops need no tails.
struct Scalar {
    static uint32_t dot(const int16_t *coefs, const int16_t *prev, int order)
    {
        uint32_t sum = 0;
        for (int i = 0; i < order; ++i)
            sum += static_cast<uint32_t>(coefs[i] * prev[i]);
        return sum;
    }
    static void step(int16_t *coefs, const int16_t *updates, int order, bool up)
    {
        for (int i = 0; i < order; ++i)
            coefs[i] = static_cast<int16_t>(up ? coefs[i] + updates[i] : coefs[i] - updates[i]);
    }
};

#if defined(__x86_64__)
struct Sse2 {
    static uint32_t dot(const int16_t *coefs, const int16_t *prev, int order)
    {
        __m128i sum = _mm_setzero_si128();
        for (int i = 0; i < order; i += 8) {
            const __m128i c = _mm_load_si128(reinterpret_cast<const __m128i *>(coefs + i));
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i *>(prev + i));
            sum = _mm_add_epi32(sum, _mm_madd_epi16(c, p));
        }
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0x4e));
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0xb1));
        return static_cast<uint32_t>(_mm_cvtsi128_si32(sum));
    }
    static void step(int16_t *coefs, const int16_t *updates, int order, bool up)
    {
        for (int i = 0; i < order; i += 8) {
            auto *c = reinterpret_cast<__m128i *>(coefs + i);
            const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i *>(updates + i));
            _mm_store_si128(c, up ? _mm_add_epi16(_mm_load_si128(c), u) : _mm_sub_epi16(_mm_load_si128(c), u));
        }
    }
};

struct Avx2 {
    __attribute__((target("avx2"))) static uint32_t dot(const int16_t *coefs, const int16_t *prev, int order)
    {
        __m256i sum = _mm256_setzero_si256();
        for (int i = 0; i < order; i += 16) {
            const __m256i c = _mm256_load_si256(reinterpret_cast<const __m256i *>(coefs + i));
            const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(prev + i));
            sum = _mm256_add_epi32(sum, _mm256_madd_epi16(c, p));
        }
        __m128i half = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
        half = _mm_add_epi32(half, _mm_shuffle_epi32(half, 0x4e));
        half = _mm_add_epi32(half, _mm_shuffle_epi32(half, 0xb1));
        return static_cast<uint32_t>(_mm_cvtsi128_si32(half));
    }
    __attribute__((target("avx2"))) static void step(int16_t *coefs, const int16_t *updates, int order, bool up)
    {
        for (int i = 0; i < order; i += 16) {
            auto *c = reinterpret_cast<__m256i *>(coefs + i);
            const __m256i u = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(updates + i));
            const __m256i v = _mm256_load_si256(c);
            _mm256_store_si256(c, up ? _mm256_add_epi16(v, u) : _mm256_sub_epi16(v, u));
        }
    }
};
// Orders 16 and 32 keep the whole window in registers for a block: the
// memory version stores one new sample per step and at once loads a vector
// across it, which stalls on every sample. The window shifts up a lane per
// sample, as the decoder's buffer moves down; the buffer is written back at
// the block's end, where the window sits at `recent`.
__attribute__((target("avx2"))) inline __m256i shiftIn(__m256i window, __m256i below, int16_t value)
{
    const __m256i shifted = _mm256_alignr_epi8(window, _mm256_permute2x128_si256(window, below, 0x03), 14);
    return _mm256_or_si256(shifted, _mm256_inserti128_si256(_mm256_setzero_si256(),
                                                            _mm_cvtsi32_si128(static_cast<uint16_t>(value)), 0));
}

template <int Registers>
__attribute__((target("avx2"))) void runInRegisters(int16_t *coefs, int16_t *prevBuffer, int16_t *updateBuffer,
                                                    int &recent, int scaling, int32_t *samples, int count,
                                                    int updateSpeed)
{
    constexpr int Order = 16 * Registers;
    __m256i c[Registers], p[Registers], u[Registers];
    for (int k = 0; k < Registers; ++k) {
        c[k] = _mm256_load_si256(reinterpret_cast<const __m256i *>(coefs + 16 * k));
        p[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(prevBuffer + recent + 16 * k));
        u[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(updateBuffer + recent + 16 * k));
    }
    alignas(32) int16_t quarter[16] = {}, half[16] = {};
    quarter[Order >> 4] = -1;
    half[Order >> 3] = -1;
    const __m256i quarterLane = _mm256_load_si256(reinterpret_cast<const __m256i *>(quarter));
    const __m256i halfLane = _mm256_load_si256(reinterpret_cast<const __m256i *>(half));
    const __m256i zero = _mm256_setzero_si256();
    const uint32_t round = (1u << scaling) >> 1;
    for (int n = 0; n < count; ++n) {
        __m256i sum = _mm256_madd_epi16(c[0], p[0]);
        for (int k = 1; k < Registers; ++k)
            sum = _mm256_add_epi32(sum, _mm256_madd_epi16(c[k], p[k]));
        __m128i total = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
        total = _mm_add_epi32(total, _mm_shuffle_epi32(total, 0x4e));
        total = _mm_add_epi32(total, _mm_shuffle_epi32(total, 0xb1));
        const uint32_t pred = round + static_cast<uint32_t>(_mm_cvtsi128_si32(total));
        const int32_t input = samples[n];
        const int32_t residue = static_cast<int32_t>(static_cast<uint32_t>(input) -
                                                     static_cast<uint32_t>(static_cast<int32_t>(pred) >> scaling));
        // The residual's sign is random: added, subtracted or left without a branch.
        const __m256i direction = _mm256_set1_epi16(static_cast<int16_t>((residue > 0) - (residue < 0)));
        for (int k = 0; k < Registers; ++k)
            c[k] = _mm256_add_epi16(c[k], _mm256_sign_epi16(u[k], direction));
        samples[n] = residue;

        recent = recent > 0 ? recent - 1 : Order - 1;
        const auto sign = static_cast<int16_t>(((input > 0) - (input < 0)) * updateSpeed);
        for (int k = Registers - 1; k > 0; --k) {
            p[k] = shiftIn(p[k], p[k - 1], 0);
            u[k] = shiftIn(u[k], u[k - 1], 0);
        }
        p[0] = shiftIn(p[0], zero, static_cast<int16_t>(std::clamp(input, -32768, 32767)));
        u[0] = shiftIn(u[0], zero, sign);
        u[0] = _mm256_blendv_epi8(u[0], _mm256_srai_epi16(u[0], 2), quarterLane);
        u[0] = _mm256_blendv_epi8(u[0], _mm256_srai_epi16(u[0], 1), halfLane);
    }
    for (int k = 0; k < Registers; ++k) {
        _mm256_store_si256(reinterpret_cast<__m256i *>(coefs + 16 * k), c[k]);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(prevBuffer + recent + 16 * k), p[k]);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(updateBuffer + recent + 16 * k), u[k]);
    }
}
#endif

} // namespace

template <typename Kernel>
[[gnu::always_inline]] inline void CdlmsFilter::run(int32_t *samples, int count, int updateSpeed)
{
    const uint32_t round = (1u << scaling_) >> 1;
    for (int n = 0; n < count; ++n) {
        const uint32_t pred = round + Kernel::dot(coefs_, prev_ + recent_, order_);
        const int32_t input = samples[n];
        const int32_t residue = static_cast<int32_t>(static_cast<uint32_t>(input) -
                                                     static_cast<uint32_t>(static_cast<int32_t>(pred) >> scaling_));
        if (residue != 0)
            Kernel::step(coefs_, updates_ + recent_, order_, residue > 0);
        update(input, updateSpeed);
        samples[n] = residue;
    }
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) void CdlmsFilter::encodeAvx2(int32_t *samples, int count, int updateSpeed)
{
    if (order_ == 16)
        runInRegisters<1>(coefs_, prev_, updates_, recent_, scaling_, samples, count, updateSpeed);
    else if (order_ == 32)
        runInRegisters<2>(coefs_, prev_, updates_, recent_, scaling_, samples, count, updateSpeed);
    else
        run<Avx2>(samples, count, updateSpeed);
}
#endif

void CdlmsFilter::encode(int32_t *samples, int count, int updateSpeed)
{
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2)
        encodeAvx2(samples, count, updateSpeed);
    else
        run<Sse2>(samples, count, updateSpeed);
#else
    run<Scalar>(samples, count, updateSpeed);
#endif
}
