#include "ricecoder.h"

#include "bitwriter.h"
#include "vectorpaths.h"

#include <algorithm>
#include <bit>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace wmalossless {

namespace {

constexpr int kEscapeQuotient = 32;

uint32_t zigzag(int32_t value)
{
    return (static_cast<uint32_t>(value) << 1) ^ static_cast<uint32_t>(value >> 31);
}

// ceil(log2(mean)), 0 for a mean of 0 or 1.
int remainderBits(uint32_t aveSum, int scaling)
{
    const uint32_t mean = (aveSum + (1u << scaling)) >> (scaling + 1);
    return std::bit_width(mean - (mean != 0 ? 1u : 0u));
}

int escapeBits(uint32_t quotient)
{
    return std::max(1, 32 - std::countl_zero(quotient - kEscapeQuotient));
}

int64_t quotientCost(uint32_t quotient)
{
    if (quotient < kEscapeQuotient)
        return quotient + 1;
    return kEscapeQuotient + 1 + 5 + escapeBits(quotient);
}

// Most bits one residual can take: the escaped quotient and a full remainder.
constexpr int kMaxResidualBits = kEscapeQuotient + 1 + 5 + 32 + 32;

[[gnu::always_inline]] inline void putQuotient(BitWriter::Run &out, uint32_t quotient)
{
    if (quotient < kEscapeQuotient) {
        // Unary: ones closed by a zero, in chunks the writer takes at once.
        uint32_t left = quotient;
        while (left >= 31) {
            out.put(0x7fffffffu, 31);
            left -= 31;
        }
        out.put(((1u << left) - 1) << 1, static_cast<int>(left) + 1);
        return;
    }
    out.put(0xffffffffu, 32);
    out.put(0, 1);
    const int bits = escapeBits(quotient);
    out.put(static_cast<uint32_t>(bits - 1), 5);
    out.put(quotient - kEscapeQuotient, bits);
}

} // namespace

uint32_t initialAverage(const int32_t *residues, int count)
{
    const int n = std::min(count, 32);
    if (n <= 0)
        return 0;
    uint64_t sum = 0;
    for (int i = 0; i < n; ++i)
        sum += zigzag(residues[i]);
    return static_cast<uint32_t>(std::min<uint64_t>(sum / n / 2, 0xffff));
}

int64_t riceCost(const RiceChannel &channel, int scaling, uint32_t aveSum)
{
    int64_t bits = 1; // transient flag
    int i = 0;
    if (channel.seekable && channel.count > 0) {
        const uint32_t mean = initialAverage(channel.residues + 1, channel.count - 1);
        aveSum = mean << (scaling + 1);
        bits += 16 + channel.firstSampleBits;
        i = 1;
    }
    for (; i < channel.count; ++i) {
        const uint32_t value = zigzag(channel.residues[i]);
        const int rem = remainderBits(aveSum, scaling);
        bits += quotientCost(value >> rem) + rem;
        aveSum = value + aveSum - (aveSum >> scaling);
    }
    return bits;
}

namespace {

#if defined(__x86_64__)
// std::bit_width of each lane, exactly: a float holds 16 bits without rounding.
__attribute__((target("avx2"))) __m256i bitWidths(__m256i x)
{
    const __m256i high = _mm256_srli_epi32(x, 16);
    const __m256i highSet =
        _mm256_xor_si256(_mm256_cmpeq_epi32(high, _mm256_setzero_si256()), _mm256_set1_epi32(-1));
    const __m256i part = _mm256_blendv_epi8(x, high, highSet);
    const __m256i exponent = _mm256_srli_epi32(
        _mm256_castps_si256(_mm256_cvtepi32_ps(_mm256_and_si256(part, _mm256_set1_epi32(0xffff)))), 23);
    const __m256i width =
        _mm256_max_epi32(_mm256_sub_epi32(exponent, _mm256_set1_epi32(126)), _mm256_setzero_si256());
    return _mm256_add_epi32(width, _mm256_and_si256(highSet, _mm256_set1_epi32(16)));
}

// The loop below with scaling m in lane m.
__attribute__((target("avx2"))) void costsByScalingAvx2(const int32_t *residues, int begin, int count,
                                                        const uint32_t (&sums)[kRiceScalings],
                                                        int64_t (&totals)[kRiceScalings])
{
    static_assert(kRiceScalings == 8);
    const __m256i scaling = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i half = _mm256_sllv_epi32(one, scaling);
    const __m256i meanShift = _mm256_add_epi32(scaling, one);
    const __m256i escape = _mm256_set1_epi32(kEscapeQuotient);
    __m256i sum = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(sums));
    __m256i bits = _mm256_setzero_si256(); // at most 102 bits a residual: no lane overflows
    for (int i = begin; i < count; ++i) {
        const __m256i value = _mm256_set1_epi32(static_cast<int32_t>(zigzag(residues[i])));
        const __m256i mean = _mm256_srlv_epi32(_mm256_add_epi32(sum, half), meanShift);
        const __m256i nonZero = _mm256_andnot_si256(_mm256_cmpeq_epi32(mean, _mm256_setzero_si256()), one);
        const __m256i rem = bitWidths(_mm256_sub_epi32(mean, nonZero));
        const __m256i quotient = _mm256_srlv_epi32(value, rem);
        const __m256i escaped = _mm256_cmpeq_epi32(_mm256_min_epu32(quotient, escape), escape);
        const __m256i plain = _mm256_add_epi32(quotient, one);
        const __m256i long_ =
            _mm256_add_epi32(_mm256_set1_epi32(kEscapeQuotient + 1 + 5),
                             _mm256_max_epi32(one, bitWidths(_mm256_sub_epi32(quotient, escape))));
        bits = _mm256_add_epi32(bits, _mm256_add_epi32(_mm256_blendv_epi8(plain, long_, escaped), rem));
        sum = _mm256_sub_epi32(_mm256_add_epi32(value, sum), _mm256_srlv_epi32(sum, scaling));
    }
    alignas(32) uint32_t lanes[kRiceScalings];
    _mm256_store_si256(reinterpret_cast<__m256i *>(lanes), bits);
    for (int m = 0; m < kRiceScalings; ++m)
        totals[m] += lanes[m];
}
#endif

} // namespace

void riceCostsByScaling(const RiceChannel &channel, int64_t (&bits)[kRiceScalings])
{
    // One pass for all scalings: each sample is read once, and with the
    // scaling a constant in each unrolled step its shifts cost nothing.
    uint32_t sums[kRiceScalings] = {};
    int64_t totals[kRiceScalings] = {};
    int i = 0;
    if (channel.seekable && channel.count > 0) {
        const uint32_t mean = initialAverage(channel.residues + 1, channel.count - 1);
        for (int m = 0; m < kRiceScalings; ++m) {
            sums[m] = mean << (m + 1);
            totals[m] = 16 + channel.firstSampleBits;
        }
        i = 1;
    }
#if defined(__x86_64__)
    const bool avx2 = avx2Paths();
    // A lane's count of bits stays below 2^32 for up to 2^25 residuals.
    if (avx2 && channel.count <= (1 << 25)) {
        costsByScalingAvx2(channel.residues, i, channel.count, sums, totals);
        i = channel.count;
    }
#endif
    for (; i < channel.count; ++i) {
        const uint32_t value = zigzag(channel.residues[i]);
#pragma GCC unroll 8
        for (int m = 0; m < kRiceScalings; ++m) {
            const int rem = remainderBits(sums[m], m);
            totals[m] += quotientCost(value >> rem) + rem;
            sums[m] = value + sums[m] - (sums[m] >> m);
        }
    }
    for (int m = 0; m < kRiceScalings; ++m)
        bits[m] = 1 + totals[m]; // and the transient flag
}

namespace {

struct Residuals {
    BitWriter::Run out;
    uint32_t sum;
};

// The adaptive codes of residues[begin .. count), in a form each instruction
// set below compiles on its own.
[[gnu::always_inline]] inline Residuals encodeResiduals(Residuals state, const int32_t *residues, int begin,
                                                        int count, int scaling)
{
    BitWriter::Run out = state.out;
    uint32_t sum = state.sum;
    for (int i = begin; i < count; ++i) {
        const uint32_t value = zigzag(residues[i]);
        const int rem = remainderBits(sum, scaling);
        const uint32_t quotient = value >> rem;
        if (quotient + rem <= 31) {
            // The usual case in one go: the quotient's ones and their closing
            // zero, 2^(q+1) - 2, above the remainder, value - (q << rem). The
            // sum wraps modulo 2^32 into the code, which fits.
            const uint32_t ones = (2u << quotient) - 2u - quotient;
            out.putFitting(value + (ones << rem), static_cast<int>(quotient) + 1 + rem);
        } else {
            putQuotient(out, quotient);
            out.put(value, rem);
        }
        sum = value + sum - (sum >> scaling);
    }
    return {out, sum};
}

Residuals encodeResidualsPlain(Residuals state, const int32_t *residues, int begin, int count, int scaling)
{
    return encodeResiduals(state, residues, begin, count, scaling);
}

#if defined(__x86_64__)
// Shifts by a register without moving the count to CL first: a fifth fewer instructions.
__attribute__((target("bmi2"))) Residuals encodeResidualsBmi2(Residuals state, const int32_t *residues,
                                                              int begin, int count, int scaling)
{
    return encodeResiduals(state, residues, begin, count, scaling);
}
#endif

} // namespace

void riceEncode(BitWriter &writer, const RiceChannel &channel, int scaling, uint32_t &aveSum)
{
    BitWriter::Run out = writer.beginRun(1 + 16 + 32 + int64_t{channel.count} * kMaxResidualBits);
    out.put(0, 1); // no transient: the decoder keeps the flag but nothing depends on it
    int begin = 0;
    uint32_t sum = aveSum;
    if (channel.seekable && channel.count > 0) {
        const uint32_t mean = initialAverage(channel.residues + 1, channel.count - 1);
        out.put(mean, 16);
        sum = mean << (scaling + 1);
        out.put(static_cast<uint32_t>(channel.residues[0]), channel.firstSampleBits);
        begin = 1;
    }
#if defined(__x86_64__)
    const bool bmi2 = bmi2Paths();
    const Residuals done =
        bmi2 ? encodeResidualsBmi2({out, sum}, channel.residues, begin, channel.count, scaling)
             : encodeResidualsPlain({out, sum}, channel.residues, begin, channel.count, scaling);
#else
    const Residuals done = encodeResidualsPlain({out, sum}, channel.residues, begin, channel.count, scaling);
#endif
    aveSum = done.sum;
    writer.endRun(done.out);
}

} // namespace wmalossless
