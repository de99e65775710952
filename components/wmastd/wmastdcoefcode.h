#pragma once

#include "bitwriter.h"

#include <vector>

namespace wmastd {

// Run/level code of one coefficient table: the cost and the bits of a
// quantised spectrum, in the decoder's order (run of zeros, level, sign;
// an escape where the table has no code; end-of-block unless the last value
// fills the range).
class CoefCode {
public:
    CoefCode(int table, int frameLengthBits);
    // Bits for `q[0..count)`; `escapeBits` follows the block's total gain.
    int cost(const int *q, int count, int escapeBits) const;
    void write(const int *q, int count, int escapeBits, BitWriter &out) const;

private:
    // 0 when the pair needs an escape. Inline: it runs for every nonzero
    // value of every trial of the gain search.
    int codeIndex(int level, int run) const
    {
        if (level > int(m_levelStart.size()) || run >= m_levelRuns[static_cast<size_t>(level - 1)])
            return 0;
        return m_levelStart[static_cast<size_t>(level - 1)] + run;
    }

    // Fills m_positions with where q[0..count) is nonzero; returns how many.
    int gatherNonzero(const int *q, int count) const;

    const uint32_t *m_codes;
    const uint8_t *m_bits;
    std::vector<int> m_levelStart; // first code of each level
    std::vector<int> m_levelRuns;  // runs each level has codes for
    int m_frameLengthBits;
    mutable std::vector<int> m_positions; // scratch of gatherNonzero
};

// Width in bits of an escaped level at this total gain.
int escapeLevelBits(int totalGain);

// Exponent deltas (-60..60) as the decoder's exponent code reads them.
int exponentDeltaBits(int delta);
void writeExponentDelta(int delta, BitWriter &out);

} // namespace wmastd
