#pragma once

#include <algorithm>
#include <bit>
#include <cstring>
#include <cstddef>
#include <cstdint>
#include <vector>

// Most-significant-bit-first writer, the order the WMA bit readers use; both
// encoders write their streams with it.
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
    // Bits [from, from + count) of this string, appended to `out`.
    void copyTo(BitWriter &out, int64_t from, int64_t count) const;
    void clear();
    // Drops every bit from `bits` on.
    void truncate(int64_t bits);

    // The writer's state as a local value, for hot loops: the compiler keeps
    // it in registers, where the buffer's byte stores would make it reload
    // members after every word (so it is passed by value, never by address).
    // Room for `maxBits` bits is made up front.
    class Run {
    public:
        void put(uint32_t value, int bits)
        {
            if (bits > 0)
                putFitting(value & (0xffffffffu >> (32 - bits)), bits);
        }
        // `value` below 2^bits, `bits` 1 .. 32.
        void putFitting(uint32_t value, int bits)
        {
            m_acc = (m_acc << bits) | value;
            m_accBits += bits;
            if (m_accBits >= 32) {
                m_accBits -= 32;
                const uint32_t word = bigEndian(static_cast<uint32_t>(m_acc >> m_accBits));
                std::memcpy(m_at, &word, 4);
                m_at += 4;
            }
        }

    private:
        friend class BitWriter;
        static uint32_t bigEndian(uint32_t word)
        {
            if constexpr (std::endian::native == std::endian::little)
                return __builtin_bswap32(word);
            return word;
        }
        uint8_t *m_at = nullptr;
        uint64_t m_acc = 0; // bits above m_accBits are stale
        int m_accBits = 0;
    };
    Run beginRun(int64_t maxBits);
    void endRun(Run run);

    int64_t bitCount() const { return static_cast<int64_t>(m_used) * 8 + m_accBits; }
    // The bits written so far, zero-padded to a whole byte.
    std::vector<uint8_t> bytes() const;
    void copyBytes(std::vector<uint8_t> &out) const;

private:
    // `count` (at most 32) bits from `pos`, below bitCount().
    uint32_t bitsAt(int64_t pos, int count) const;
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
