#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace wmastd {

// What the decoder derives from the stream header: frame and block sizes,
// exponent bands, where coding stops and where noise may stand in. The
// encoder must see the stream exactly as the decoder will.
struct BlockLayout {
    int length = 0;                 // coefficients
    std::vector<int> exponentBands; // widths, summing to `length`
    int codedEnd = 0;               // coefficients at and above are never coded
    int highBandStart = 0;          // first coefficient of the noise-codable range
    std::vector<int> highBands;     // widths of the noise-codable bands in [highBandStart, codedEnd)
};

struct StreamLayout {
    int sampleRate = 0;
    int channels = 0;
    int bitRate = 0; // as the header states it
    int frameLengthBits = 0;
    int frameLength = 0;
    int blockSizes = 0;    // frameLength >> 0 .. frameLength >> (blockSizes - 1)
    int blockSizeBits = 0; // width of a block-size field
    bool noiseCoding = false;
    int byteOffsetBits = 0;
    int coefTable = 0;  // index of the table pair
    uint16_t flags = 0; // the codec data's feature flags
    std::vector<BlockLayout> blocks;
};

// `sizeFlag` (0..3) asks for more block sizes; the decoder caps them.
StreamLayout makeStreamLayout(int sampleRate, int channels, int bitRate, int sizeFlag = 3);

} // namespace wmastd
