#pragma once

#include <cstdint>
#include <vector>

// Most-significant-bit-first writer, the order the WMA bit readers use.
class BitWriter {
public:
    // At most 32 bits; whole 32-bit words go to the buffer at once.
    void put(uint32_t value, int bits)
    {
        if (bits <= 0)
            return;
        m_acc = (m_acc << bits) | (value & (0xffffffffu >> (32 - bits)));
        m_accBits += bits;
        if (m_accBits >= 32) {
            m_accBits -= 32;
            const auto word = static_cast<uint32_t>(m_acc >> m_accBits);
            const uint8_t out[4] = {static_cast<uint8_t>(word >> 24), static_cast<uint8_t>(word >> 16),
                                    static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word)};
            m_bytes.insert(m_bytes.end(), out, out + 4);
            m_acc &= (uint64_t{1} << m_accBits) - 1;
        }
    }
    void putSigned(int32_t value, int bits) { put(static_cast<uint32_t>(value), bits); }
    void putBit(bool bit) { put(bit ? 1u : 0u, 1); }
    void append(const BitWriter &other);
    void clear();

    int64_t bitCount() const { return static_cast<int64_t>(m_bytes.size()) * 8 + m_accBits; }
    // The bits written so far, zero-padded to a whole byte.
    std::vector<uint8_t> bytes() const;

private:
    std::vector<uint8_t> m_bytes;
    uint64_t m_acc = 0;
    int m_accBits = 0;
};

// Reads `bits` (at most 32) bits starting at bit `pos` of a big-endian bit string.
uint32_t readBits(const uint8_t *data, int64_t pos, int bits);
// Writes into a zeroed or previously written buffer; bits outside the range are kept.
void writeBits(uint8_t *data, int64_t pos, uint32_t value, int bits);
