#include "wmastdbitwriter.h"

#include <algorithm>

namespace wmastd {

void BitWriter::put(uint32_t value, int bits)
{
    // Fill the last byte's free bits, then whole bytes, then the rest.
    while (bits > 0) {
        const int used = int(m_bits & 7);
        if (used == 0)
            m_bytes.push_back(0);
        const int take = std::min(bits, 8 - used);
        const uint32_t chunk = (value >> (bits - take)) & ((1u << take) - 1u);
        m_bytes.back() |= static_cast<uint8_t>(chunk << (8 - used - take));
        bits -= take;
        m_bits += take;
    }
}

void BitWriter::copyTo(BitWriter &out, int64_t from, int64_t count) const
{
    int64_t pos = from;
    const int64_t end = from + count;
    // Whole bytes where both sides are byte aligned, bit by bit elsewhere.
    while (pos < end) {
        if ((pos & 7) == 0 && (out.m_bits & 7) == 0 && end - pos >= 8) {
            out.m_bytes.push_back(m_bytes[static_cast<size_t>(pos >> 3)]);
            out.m_bits += 8;
            pos += 8;
            continue;
        }
        const int chunk = static_cast<int>(std::min<int64_t>(end - pos, 8 - (pos & 7)));
        const uint32_t byte = m_bytes[static_cast<size_t>(pos >> 3)];
        const int shift = 8 - static_cast<int>(pos & 7) - chunk;
        out.put((byte >> shift) & ((1u << chunk) - 1u), chunk);
        pos += chunk;
    }
}

void BitWriter::append(const BitWriter &other)
{
    other.copyTo(*this, 0, other.m_bits);
}

void BitWriter::clear()
{
    m_bytes.clear();
    m_bits = 0;
}

} // namespace wmastd
