#pragma once

#include <algorithm>
#include <cstddef>
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
            putWord(static_cast<uint32_t>(m_acc >> m_accBits));
            m_acc &= (uint64_t{1} << m_accBits) - 1;
        }
    }
    void putSigned(int32_t value, int bits) { put(static_cast<uint32_t>(value), bits); }
    void putBit(bool bit) { put(bit ? 1u : 0u, 1); }
    void append(const BitWriter &other);
    void clear();

    int64_t bitCount() const { return static_cast<int64_t>(m_used) * 8 + m_accBits; }
    // The bits written so far, zero-padded to a whole byte.
    std::vector<uint8_t> bytes() const;

private:
    void putWord(uint32_t word)
    {
        // The buffer grows ahead of the words, so that a word costs a store.
        if (m_used + 4 > m_bytes.size())
            m_bytes.resize(std::max<std::size_t>(256, m_bytes.size() * 2));
        uint8_t *at = m_bytes.data() + m_used;
        at[0] = static_cast<uint8_t>(word >> 24);
        at[1] = static_cast<uint8_t>(word >> 16);
        at[2] = static_cast<uint8_t>(word >> 8);
        at[3] = static_cast<uint8_t>(word);
        m_used += 4;
    }

    std::vector<uint8_t> m_bytes; // m_used of them hold words
    std::size_t m_used = 0;
    uint64_t m_acc = 0;
    int m_accBits = 0;
};

// Reads `bits` (at most 32) bits starting at bit `pos` of a big-endian bit string.
uint32_t readBits(const uint8_t *data, int64_t pos, int bits);
// Writes into a zeroed or previously written buffer; bits outside the range are kept.
void writeBits(uint8_t *data, int64_t pos, uint32_t value, int bits);
