#pragma once

#include <cstdint>

// The bitstream's fixed tables; the data file is generated from the
// format's public decoder source by tools/gen_wmastd_tables.py.
namespace wmastd::tables {

struct CoefTable {
    int size;               // codes; 0 is the escape, 1 the end of block
    const uint32_t *codes;
    const uint8_t *bits;
    int levelCount;
    const uint16_t *levels; // levels[l - 1]: how many runs (0..n-1) level l has a code for
};

// Per sample-rate class: {band count, band widths...} for the three longest block sizes.
extern const uint8_t kExponentBands44100[3][25];
extern const uint8_t kExponentBands32000[3][25];
extern const uint8_t kExponentBands22050[3][25];
extern const uint8_t kHighGainCode[37][2]; // {symbol + 18, code length}, codes assigned in order
extern const float kLspCodebook[10][16];
extern const CoefTable kCoefTables[6];   // pairs: normal channel, side channel
extern const uint32_t kExponentCodes[121]; // exponent delta + 60
extern const uint8_t kExponentBits[121];
extern const uint16_t kCriticalFreqs[25];

} // namespace wmastd::tables
