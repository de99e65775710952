#include "wmastdcoefcode.h"

#include "wmastdtables.h"

#include <cstdlib>

namespace wmastd {

CoefCode::CoefCode(int table, int frameLengthBits) : m_frameLengthBits(frameLengthBits)
{
    const tables::CoefTable &t = tables::kCoefTables[table];
    m_codes = t.codes;
    m_bits = t.bits;
    int index = 2;
    for (int l = 0; l < t.levelCount; ++l) {
        m_levelStart.push_back(index);
        m_levelRuns.push_back(t.levels[l]);
        index += t.levels[l];
    }
}

int CoefCode::gatherNonzero(const int *q, int count) const
{
    // Without a branch on the values: zeros and nonzeros alternate
    // unpredictably, and each mispredicted branch would cost more than a store.
    m_positions.resize(static_cast<size_t>(count) + 1);
    int *positions = m_positions.data();
    int k = 0;
    for (int i = 0; i < count; ++i) {
        positions[k] = i;
        k += q[i] != 0 ? 1 : 0;
    }
    return k;
}

int CoefCode::cost(const int *q, int count, int escapeBits) const
{
    const int nonzero = gatherNonzero(q, count);
    int total = 0;
    int last = -1;
    for (int j = 0; j < nonzero; ++j) {
        const int i = m_positions[static_cast<size_t>(j)];
        const int index = codeIndex(std::abs(q[i]), i - last - 1);
        total += index ? m_bits[index] + 1 : m_bits[0] + escapeBits + m_frameLengthBits + 1;
        last = i;
    }
    if (last != count - 1)
        total += m_bits[1];
    return total;
}

void CoefCode::write(const int *q, int count, int escapeBits, BitWriter &out) const
{
    const int nonzero = gatherNonzero(q, count);
    int last = -1;
    for (int j = 0; j < nonzero; ++j) {
        const int i = m_positions[static_cast<size_t>(j)];
        const int run = i - last - 1;
        const int level = std::abs(q[i]);
        const int index = codeIndex(level, run);
        const uint32_t sign = q[i] > 0 ? 1u : 0u; // this decoder reads 1 as positive
        if (index) {
            // Codes are at most 22 bits: code and sign go in one piece.
            out.put(m_codes[index] << 1 | sign, m_bits[index] + 1);
        } else {
            out.put(m_codes[0], m_bits[0]);
            out.put(static_cast<uint32_t>(level), escapeBits);
            out.put(static_cast<uint32_t>(run), m_frameLengthBits);
            out.put(sign, 1);
        }
        last = i;
    }
    if (last != count - 1)
        out.put(m_codes[1], m_bits[1]);
}

int escapeLevelBits(int totalGain)
{
    if (totalGain < 15)
        return 13;
    if (totalGain < 32)
        return 12;
    if (totalGain < 40)
        return 11;
    if (totalGain < 45)
        return 10;
    return 9;
}

int exponentDeltaBits(int delta)
{
    return tables::kExponentBits[delta + 60];
}

void writeExponentDelta(int delta, BitWriter &out)
{
    out.put(tables::kExponentCodes[delta + 60], tables::kExponentBits[delta + 60]);
}

} // namespace wmastd
