#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace wmastd {

// A sum of base-2 logarithms taken with one logarithm at the end: the
// factors multiply in four independent chains (no wait on one long chain),
// each chain's exponent moved into an integer every four factors. Each
// factor must lie within 2^-140 .. 2^140.
class Log2Sum {
public:
    // Adds log2(factor(i)) for i in [0, count).
    template <typename Factor> void add(int count, Factor factor)
    {
        int i = 0;
        for (; i + 4 <= count; i += 4) {
            for (int k = 0; k < 4; ++k)
                m_chain[k] *= double(factor(i + k));
            if ((i & 12) == 12)
                renormalise();
        }
        for (; i < count; ++i)
            m_chain[i & 3] *= double(factor(i));
        renormalise();
    }
    double value() const
    {
        return double(m_exponent) + std::log2((m_chain[0] * m_chain[1]) * (m_chain[2] * m_chain[3]));
    }

private:
    void renormalise()
    {
        constexpr uint64_t kExponentMask = uint64_t(0x7ff) << 52;
        constexpr uint64_t kExponentOfOne = uint64_t(1023) << 52;
        for (double &c : m_chain) {
            const auto bits = std::bit_cast<uint64_t>(c);
            m_exponent += int64_t((bits & kExponentMask) >> 52) - 1023;
            c = std::bit_cast<double>((bits & ~kExponentMask) | kExponentOfOne);
        }
    }

    double m_chain[4] = {1.0, 1.0, 1.0, 1.0}; // each within [1, 2) between calls
    int64_t m_exponent = 0;
};

template <typename Factor> double sumOfLog2(int count, Factor factor)
{
    Log2Sum sum;
    sum.add(count, factor);
    return sum.value();
}

// The largest value(i) over [0, count), at least `floor`: eight lanes, so
// that the comparisons need not wait on each other (one running maximum
// costs a comparison's latency per value).
template <typename Value> float largest(std::size_t count, Value value, float floor = 0.0f)
{
    float lanes[8] = {floor, floor, floor, floor, floor, floor, floor, floor};
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8)
        for (std::size_t k = 0; k < 8; ++k)
            lanes[k] = std::max(lanes[k], value(i + k));
    for (; i < count; ++i)
        lanes[0] = std::max(lanes[0], value(i));
    float result = floor;
    for (float lane : lanes)
        result = std::max(result, lane);
    return result;
}

} // namespace wmastd
