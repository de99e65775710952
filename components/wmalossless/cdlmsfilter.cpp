#include "cdlmsfilter.h"

#include "vectorpaths.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace wmalossless {

void CdlmsFilter::configure(int order, int scaling)
{
    m_order = std::clamp(order / 16 * 16, 16, kMaxOrder);
    m_scaling = std::clamp(scaling, 0, 15);
    clear();
}

void CdlmsFilter::clear()
{
    std::memset(m_coefs, 0, sizeof(m_coefs));
    std::memset(m_prev, 0, sizeof(m_prev));
    std::memset(m_updates, 0, sizeof(m_updates));
    m_recent = m_order;
}

// The decoder rescales the first `order` entries of the buffer, not the
// window at `recent`; the same entries are rescaled here.
void CdlmsFilter::doubleUpdates()
{
    for (int i = 0; i < m_order; ++i)
        m_updates[i] = static_cast<int16_t>(m_updates[i] * 2);
}

void CdlmsFilter::halveUpdates()
{
    for (int i = 0; i < m_order; ++i)
        m_updates[i] = static_cast<int16_t>(m_updates[i] / 2);
}

inline void CdlmsFilter::update(int32_t input, int updateSpeed)
{
    const int order = m_order;
    if (m_recent > 0) {
        --m_recent;
    } else {
        std::memcpy(m_prev + order, m_prev, sizeof(int16_t) * order);
        std::memcpy(m_updates + order, m_updates, sizeof(int16_t) * order);
        m_recent = order - 1;
    }
    m_prev[m_recent] = static_cast<int16_t>(std::clamp(input, -32768, 32767));
    m_updates[m_recent] = static_cast<int16_t>(((input > 0) - (input < 0)) * updateSpeed);
    m_updates[m_recent + (order >> 4)] = static_cast<int16_t>(m_updates[m_recent + (order >> 4)] >> 2);
    m_updates[m_recent + (order >> 3)] = static_cast<int16_t>(m_updates[m_recent + (order >> 3)] >> 1);
    // Everything past this slot is already zero, so clearing it keeps the window's tail clean.
    m_updates[m_recent + order] = 0;
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
            _mm_store_si128(c,
                            up ? _mm_add_epi16(_mm_load_si128(c), u) : _mm_sub_epi16(_mm_load_si128(c), u));
        }
    }
};

struct Avx2 {
    __attribute__((target("avx2,bmi2"))) static uint32_t dot(const int16_t *coefs, const int16_t *prev,
                                                             int order)
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
    __attribute__((target("avx2,bmi2"))) static void step(int16_t *coefs, const int16_t *updates, int order,
                                                          bool up)
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
// `below` supplies the int16 that enters at lane 0: its own top one (lane 15).
__attribute__((target("avx2,bmi2"))) inline __m256i shiftIn(__m256i window, __m256i below)
{
    return _mm256_alignr_epi8(window, _mm256_permute2x128_si256(window, below, 0x03), 14);
}

// One value in every 32-bit lane, and saturated to 16 bits in every 16-bit
// lane: the saturated value has the value's sign, all an update needs, and
// is the value clamped as the history keeps it.
struct Lanes {
    __m128i wide;
    __m256i narrow;

    __attribute__((target("avx2,bmi2"))) static Lanes of(__m128i wide)
    {
        return {wide, _mm256_broadcastsi128_si256(_mm_packs_epi32(wide, wide))};
    }
};

// The window of one stage of order 16 * Registers, held in registers.
template <int Registers> class Window {
public:
    static constexpr int kOrder = 16 * Registers;

    __attribute__((target("avx2,bmi2")))
    Window(int16_t *coefs, int16_t *prev, int16_t *updates, int &recent, int scaling)
        : m_coefs(coefs), m_prev(prev), m_updates(updates), m_recent(recent), m_scaling(scaling),
          m_round((1u << scaling) >> 1)
    {
        for (int k = 0; k < Registers; ++k) {
            m_c[k] = _mm256_load_si256(reinterpret_cast<const __m256i *>(coefs + 16 * k));
            p_[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(prev + recent + 16 * k));
            u_[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(updates + recent + 16 * k));
        }
        alignas(32) int16_t quarter[16] = {}, half[16] = {};
        quarter[kOrder >> 4] = -1;
        half[kOrder >> 3] = -1;
        quarterLane_ = _mm256_load_si256(reinterpret_cast<const __m256i *>(quarter));
        m_halfLane = _mm256_load_si256(reinterpret_cast<const __m256i *>(half));
    }

    // The buffers get the window back where the decoder's would have it,
    // after `steps` samples (each moves the window down one place).
    __attribute__((target("avx2,bmi2"))) void store(int steps)
    {
        if (steps > 0)
            m_recent = ((m_recent - steps) % kOrder + kOrder) % kOrder;
        for (int k = 0; k < Registers && m_steps >= kOrder; ++k)
            u_[k] = _mm256_sign_epi16(m_w[k], p_[k]);
        for (int k = 0; k < Registers; ++k) {
            _mm256_store_si256(reinterpret_cast<__m256i *>(m_coefs + 16 * k), m_c[k]);
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(m_prev + m_recent + 16 * k), p_[k]);
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(m_updates + m_recent + 16 * k), u_[k]);
        }
    }

    __attribute__((target("avx2,bmi2"))) int32_t step(int32_t input, int updateSpeed)
    {
        if (m_steps >= kOrder)
            return settledStep(input);
        __m256i sum = _mm256_madd_epi16(m_c[0], p_[0]);
        for (int k = 1; k < Registers; ++k)
            sum = _mm256_add_epi32(sum, _mm256_madd_epi16(m_c[k], p_[k]));
        __m128i total = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
        total = _mm_add_epi32(total, _mm_shuffle_epi32(total, 0x4e));
        total = _mm_add_epi32(total, _mm_shuffle_epi32(total, 0xb1));
        const uint32_t pred = m_round + static_cast<uint32_t>(_mm_cvtsi128_si32(total));
        const int32_t residue = static_cast<int32_t>(
            static_cast<uint32_t>(input) - static_cast<uint32_t>(static_cast<int32_t>(pred) >> m_scaling));
        // The residual's sign is random: added, subtracted or left without a branch.
        // Saturated to 16 bits, the residual keeps its sign, which is all the update needs.
        const __m256i wide = _mm256_set1_epi32(residue);
        const __m256i direction = _mm256_packs_epi32(wide, wide);
        for (int k = 0; k < Registers; ++k)
            m_c[k] = _mm256_add_epi16(m_c[k], _mm256_sign_epi16(u_[k], direction));

        for (int k = Registers - 1; k > 0; --k) {
            p_[k] = shiftIn(p_[k], p_[k - 1]);
            u_[k] = shiftIn(u_[k], u_[k - 1]);
        }
        // The clamped input has the input's sign: the new update is the speed with that sign.
        const __m256i in = _mm256_set1_epi16(static_cast<int16_t>(std::clamp(input, -32768, 32767)));
        p_[0] = shiftIn(p_[0], in);
        u_[0] = shiftIn(u_[0], _mm256_sign_epi16(_mm256_set1_epi16(static_cast<int16_t>(updateSpeed)), in));
        u_[0] = _mm256_blendv_epi8(u_[0], _mm256_srai_epi16(u_[0], 2), quarterLane_);
        u_[0] = _mm256_blendv_epi8(u_[0], _mm256_srai_epi16(u_[0], 1), m_halfLane);
        if (++m_steps == kOrder)
            settle(updateSpeed);
        return residue;
    }

    // Once every lane came in during this block, at one speed, each update is
    // the speed with the sign of the sample beside it, scaled by its lane
    // (a quarter from lane kOrder / 16 on, an eighth from kOrder / 8 on): the
    // updates need not be kept, only these weights.
    __attribute__((target("avx2,bmi2"))) void settle(int updateSpeed)
    {
        alignas(32) int16_t weights[kOrder];
        for (int lane = 0; lane < kOrder; ++lane)
            weights[lane] = static_cast<int16_t>(lane < (kOrder >> 4)   ? updateSpeed
                                                 : lane < (kOrder >> 3) ? updateSpeed >> 2
                                                                        : updateSpeed >> 3);
        for (int k = 0; k < Registers; ++k)
            m_w[k] = _mm256_load_si256(reinterpret_cast<const __m256i *>(weights + 16 * k));
    }

    // step() once every lane came in at one speed during this block, on a
    // value held in vector lanes: a stage's residual goes on to the next
    // stage without a trip through a scalar register.
    __attribute__((target("avx2,bmi2"))) Lanes settledStep(Lanes input)
    {
        __m256i sum = _mm256_madd_epi16(m_c[0], p_[0]);
        for (int k = 1; k < Registers; ++k)
            sum = _mm256_add_epi32(sum, _mm256_madd_epi16(m_c[k], p_[k]));
        __m128i total = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
        total = _mm_add_epi32(total, _mm_shuffle_epi32(total, 0x4e));
        total = _mm_add_epi32(total, _mm_shuffle_epi32(total, 0xb1));
        const __m128i pred =
            _mm_sra_epi32(_mm_add_epi32(total, _mm_set1_epi32(static_cast<int32_t>(m_round))),
                          _mm_cvtsi32_si128(m_scaling));
        const Lanes residue = Lanes::of(_mm_sub_epi32(input.wide, pred));
        for (int k = 0; k < Registers; ++k)
            m_c[k] =
                _mm256_add_epi16(m_c[k], _mm256_sign_epi16(_mm256_sign_epi16(m_w[k], p_[k]), residue.narrow));
        for (int k = Registers - 1; k > 0; --k)
            p_[k] = shiftIn(p_[k], p_[k - 1]);
        p_[0] = shiftIn(p_[0], input.narrow);
        return residue;
    }

    __attribute__((target("avx2,bmi2"))) int32_t settledStep(int32_t input)
    {
        return _mm_cvtsi128_si32(settledStep(Lanes::of(_mm_set1_epi32(input))).wide);
    }

private:
    int16_t *m_coefs;
    int16_t *m_prev;
    int16_t *m_updates;
    int &m_recent;
    int m_scaling;
    uint32_t m_round;
    __m256i m_c[Registers], p_[Registers], u_[Registers];
    __m256i quarterLane_, m_halfLane;
    __m256i m_w[Registers] = {};
    int m_steps = 0;
};

template <int Registers>
__attribute__((target("avx2,bmi2"))) void runInRegisters(Window<Registers> window, int32_t *samples,
                                                         int count, int updateSpeed)
{
    int n = 0;
    for (const int warm = std::min(count, Window<Registers>::kOrder); n < warm; ++n)
        samples[n] = window.step(samples[n], updateSpeed);
    for (; n < count; ++n)
        samples[n] = window.settledStep(samples[n]);
    window.store(count);
}

// Sample n enters the first stage while n - 1 goes through the second and n - 2 through the third.
template <int First, int Second, int Third>
__attribute__((target("avx2,bmi2"), always_inline)) inline void
cascadeStep(Window<First> &first, Window<Second> &second, Window<Third> &third, int32_t *samples, int count,
            int n, int updateSpeed, int32_t &toSecond, int32_t &toThird)
{
    const int32_t out3 = n >= 2 ? third.step(toThird, updateSpeed) : 0;
    const int32_t out2 = n >= 1 && n <= count ? second.step(toSecond, updateSpeed) : 0;
    const int32_t out1 = n < count ? first.step(samples[n], updateSpeed) : 0;
    if (n >= 2)
        samples[n - 2] = out3;
    toThird = out2;
    toSecond = out1;
}

// Three stages in step: each sample goes through the first stage while the
// one before it goes through the second and the one before that through the
// third, so the three stages' chains of dependent steps overlap. Once every
// stage has settled, and until the pipeline drains, the steps need no checks.
template <int First, int Second, int Third>
__attribute__((target("avx2,bmi2"))) void runCascade(Window<First> first, Window<Second> second,
                                                     Window<Third> third, int32_t *samples, int count,
                                                     int updateSpeed)
{
    constexpr int kSettled =
        std::max({Window<First>::kOrder, Window<Second>::kOrder, Window<Third>::kOrder}) + 2;
    int32_t toSecond = 0, toThird = 0;
    int n = 0;
    for (const int warm = std::min(count, kSettled); n < warm; ++n)
        cascadeStep(first, second, third, samples, count, n, updateSpeed, toSecond, toThird);
    if (n < count) {
        Lanes intoThird = Lanes::of(_mm_set1_epi32(toThird)),
              intoSecond = Lanes::of(_mm_set1_epi32(toSecond));
        for (; n < count; ++n) {
            const Lanes out3 = third.settledStep(intoThird);
            intoThird = second.settledStep(intoSecond);
            intoSecond = first.settledStep(Lanes::of(_mm_set1_epi32(samples[n])));
            samples[n - 2] = _mm_cvtsi128_si32(out3.wide);
        }
        toThird = _mm_cvtsi128_si32(intoThird.wide);
        toSecond = _mm_cvtsi128_si32(intoSecond.wide);
    }
    for (; n < count + 2; ++n)
        cascadeStep(first, second, third, samples, count, n, updateSpeed, toSecond, toThird);
    first.store(count);
    second.store(count);
    third.store(count);
}
#endif

} // namespace

template <typename Kernel>
[[gnu::always_inline]] inline void CdlmsFilter::run(int32_t *samples, int count, int updateSpeed)
{
    const uint32_t round = (1u << m_scaling) >> 1;
    for (int n = 0; n < count; ++n) {
        const uint32_t pred = round + Kernel::dot(m_coefs, m_prev + m_recent, m_order);
        const int32_t input = samples[n];
        const int32_t residue = static_cast<int32_t>(
            static_cast<uint32_t>(input) - static_cast<uint32_t>(static_cast<int32_t>(pred) >> m_scaling));
        if (residue != 0)
            Kernel::step(m_coefs, m_updates + m_recent, m_order, residue > 0);
        update(input, updateSpeed);
        samples[n] = residue;
    }
}

#if defined(__x86_64__)
__attribute__((target("avx2,bmi2"))) void CdlmsFilter::encodeAvx2(int32_t *samples, int count,
                                                                  int updateSpeed)
{
    if (m_order == 16)
        runInRegisters(Window<1>(m_coefs, m_prev, m_updates, m_recent, m_scaling), samples, count,
                       updateSpeed);
    else if (m_order == 32)
        runInRegisters(Window<2>(m_coefs, m_prev, m_updates, m_recent, m_scaling), samples, count,
                       updateSpeed);
    else
        run<Avx2>(samples, count, updateSpeed);
}

__attribute__((target("avx2,bmi2"))) bool
CdlmsFilter::encodeCascadeAvx2(CdlmsFilter *stages, int32_t *samples, int count, int updateSpeed)
{
    auto window = [](CdlmsFilter &f, auto registers) {
        return Window<decltype(registers)::value>(f.m_coefs, f.m_prev, f.m_updates, f.m_recent, f.m_scaling);
    };
    using One = std::integral_constant<int, 1>;
    using Two = std::integral_constant<int, 2>;
    if (stages[1].m_order != 16 || stages[2].m_order != 16 ||
        (stages[0].m_order != 16 && stages[0].m_order != 32))
        return false;
    if (stages[0].m_order == 32)
        runCascade(window(stages[0], Two{}), window(stages[1], One{}), window(stages[2], One{}), samples,
                   count, updateSpeed);
    else
        runCascade(window(stages[0], One{}), window(stages[1], One{}), window(stages[2], One{}), samples,
                   count, updateSpeed);
    return true;
}
#endif

void CdlmsFilter::encode(int32_t *samples, int count, int updateSpeed)
{
#if defined(__x86_64__)
    if (avx2Paths())
        encodeAvx2(samples, count, updateSpeed);
    else
        run<Sse2>(samples, count, updateSpeed);
#else
    run<Scalar>(samples, count, updateSpeed);
#endif
}

void CdlmsFilter::encodeCascade(CdlmsFilter *stages, int stageCount, int32_t *samples, int count,
                                int updateSpeed)
{
#if defined(__x86_64__)
    if (avx2Paths() && stageCount == 3 && encodeCascadeAvx2(stages, samples, count, updateSpeed))
        return;
#endif
    for (int i = 0; i < stageCount; ++i)
        stages[i].encode(samples, count, updateSpeed);
}

} // namespace wmalossless
