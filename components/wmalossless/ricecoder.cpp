#include "ricecoder.h"

#include "bitwriter.h"

#include <algorithm>
#include <bit>

namespace {

constexpr int EscapeQuotient = 32;

uint32_t zigzag(int32_t value)
{
    return (static_cast<uint32_t>(value) << 1) ^ static_cast<uint32_t>(value >> 31);
}

int ceilLog2(uint32_t value)
{
    return value <= 1 ? 0 : 32 - std::countl_zero(value - 1);
}

int remainderBits(uint32_t aveSum, int scaling)
{
    const uint32_t mean = (aveSum + (1u << scaling)) >> (scaling + 1);
    return mean <= 1 ? 0 : ceilLog2(mean);
}

int escapeBits(uint32_t quotient)
{
    return std::max(1, 32 - std::countl_zero(quotient - EscapeQuotient));
}

int64_t quotientCost(uint32_t quotient)
{
    if (quotient < EscapeQuotient)
        return quotient + 1;
    return EscapeQuotient + 1 + 5 + escapeBits(quotient);
}

void putQuotient(BitWriter &out, uint32_t quotient)
{
    if (quotient < EscapeQuotient) {
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
    out.putBit(false);
    const int bits = escapeBits(quotient);
    out.put(static_cast<uint32_t>(bits - 1), 5);
    out.put(quotient - EscapeQuotient, bits);
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

void riceEncode(BitWriter &out, const RiceChannel &channel, int scaling, uint32_t &aveSum)
{
    out.putBit(false); // no transient: the decoder keeps the flag but nothing depends on it
    int i = 0;
    if (channel.seekable && channel.count > 0) {
        const uint32_t mean = initialAverage(channel.residues + 1, channel.count - 1);
        out.put(mean, 16);
        aveSum = mean << (scaling + 1);
        out.putSigned(channel.residues[0], channel.firstSampleBits);
        i = 1;
    }
    for (; i < channel.count; ++i) {
        const uint32_t value = zigzag(channel.residues[i]);
        const int rem = remainderBits(aveSum, scaling);
        const uint32_t quotient = value >> rem;
        if (quotient < 32 && quotient + 1 + rem <= 32) {
            // The usual case in one go: the quotient's ones, their closing zero, the remainder.
            const uint64_t code =
                ((uint64_t{1} << quotient) - 1) << (rem + 1) | (value & ((uint64_t{1} << rem) - 1));
            out.put(static_cast<uint32_t>(code), static_cast<int>(quotient) + 1 + rem);
        } else {
            putQuotient(out, quotient);
            out.put(value, rem);
        }
        aveSum = value + aveSum - (aveSum >> scaling);
    }
}
