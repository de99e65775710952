#pragma once

#include <cstdint>
#include <vector>

// Most-significant-bit-first writer, the order the WMA bit readers use.
class BitWriter {
public:
    void put(uint32_t value, int bits);
    void putSigned(int32_t value, int bits) { put(static_cast<uint32_t>(value), bits); }
    void putBit(bool bit) { put(bit ? 1u : 0u, 1); }
    void append(const BitWriter &other);
    void clear();

    int64_t bitCount() const { return static_cast<int64_t>(bytes_.size()) * 8 + accBits_; }
    // The bits written so far, zero-padded to a whole byte.
    std::vector<uint8_t> bytes() const;

private:
    std::vector<uint8_t> bytes_;
    uint64_t acc_ = 0;
    int accBits_ = 0;
};

// Reads `bits` (at most 32) bits starting at bit `pos` of a big-endian bit string.
uint32_t readBits(const uint8_t *data, int64_t pos, int bits);
// Writes into a zeroed or previously written buffer; bits outside the range are kept.
void writeBits(uint8_t *data, int64_t pos, uint32_t value, int bits);
