#pragma once

#include <cstdint>
#include <vector>

namespace wmastd {

// Most-significant-bit-first bit string, the order the WMA decoders read.
class BitWriter {
public:
    void put(uint32_t value, int bits);
    void append(const BitWriter &other);
    // Bits [from, from + count) of this string, appended to `out`.
    void copyTo(BitWriter &out, int64_t from, int64_t count) const;
    void clear();

    int64_t size() const { return m_bits; }
    // The bits, zero-padded to whole bytes.
    const std::vector<uint8_t> &bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
    int64_t m_bits = 0;
};

} // namespace wmastd
