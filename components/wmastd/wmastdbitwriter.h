#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace wmastd {

// Most-significant-bit-first bit string, the order the WMA decoders read.
class BitWriter {
public:
    // `bits` at most 32; bits of `value` above them are ignored.
    void put(uint32_t value, int bits)
    {
        // Bits gather in a 64-bit word and leave it 32 at a time.
        m_pending = (m_pending << bits) | (value & ((uint64_t(1) << bits) - 1));
        m_pendingBits += bits;
        m_bits += bits;
        if (m_pendingBits >= 32)
            flushWord();
    }
    void append(const BitWriter &other);
    // Bits [from, from + count) of this string, appended to `out`.
    void copyTo(BitWriter &out, int64_t from, int64_t count) const;
    void clear();

    int64_t size() const { return m_bits; }
    // The bits, zero-padded to whole bytes.
    const std::vector<uint8_t> &bytes() const;

private:
    void flushWord();

    // The first m_whole bytes are final; after them room to grow, or the
    // pending bits as bytes() adds them, which the next whole word overwrites.
    mutable std::vector<uint8_t> m_bytes;
    std::size_t m_whole = 0;
    uint64_t m_pending = 0; // the low m_pendingBits bits follow the whole bytes
    int m_pendingBits = 0;  // below 32 between calls
    int64_t m_bits = 0;
};

} // namespace wmastd
