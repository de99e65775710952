#include "wmastdcoefcode.h"

#include "wmastdtables.h"

#include <cstdlib>

namespace wmastd {

CoefCode::CoefCode(int table, int frameLengthBits) : frameLengthBits_(frameLengthBits)
{
    const tables::CoefTable &t = tables::kCoefTables[table];
    codes_ = t.codes;
    bits_ = t.bits;
    int index = 2;
    for (int l = 0; l < t.levelCount; ++l) {
        levelStart_.push_back(index);
        levelRuns_.push_back(t.levels[l]);
        index += t.levels[l];
    }
}

int CoefCode::codeIndex(int level, int run) const
{
    if (level > int(levelStart_.size()) || run >= levelRuns_[static_cast<size_t>(level - 1)])
        return 0;
    return levelStart_[static_cast<size_t>(level - 1)] + run;
}

int CoefCode::cost(const int *q, int count, int escapeBits) const
{
    int total = 0;
    int run = 0;
    int last = -1;
    for (int i = 0; i < count; ++i) {
        if (q[i] == 0) {
            ++run;
            continue;
        }
        const int index = codeIndex(std::abs(q[i]), run);
        total += index ? bits_[index] + 1 : bits_[0] + escapeBits + frameLengthBits_ + 1;
        run = 0;
        last = i;
    }
    if (last != count - 1)
        total += bits_[1];
    return total;
}

void CoefCode::write(const int *q, int count, int escapeBits, BitWriter &out) const
{
    int run = 0;
    int last = -1;
    for (int i = 0; i < count; ++i) {
        if (q[i] == 0) {
            ++run;
            continue;
        }
        const int level = std::abs(q[i]);
        const int index = codeIndex(level, run);
        if (index) {
            out.put(codes_[index], bits_[index]);
        } else {
            out.put(codes_[0], bits_[0]);
            out.put(static_cast<uint32_t>(level), escapeBits);
            out.put(static_cast<uint32_t>(run), frameLengthBits_);
        }
        out.put(q[i] > 0 ? 1u : 0u, 1); // this decoder reads 1 as positive
        run = 0;
        last = i;
    }
    if (last != count - 1)
        out.put(codes_[1], bits_[1]);
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
