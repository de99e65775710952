#include "bitwriter.h"

#include <cstddef>

void BitWriter::append(const BitWriter &other)
{
    // The other's buffer holds whole words only.
    const std::vector<uint8_t> &words = other.m_bytes;
    for (std::size_t i = 0; i + 4 <= other.m_used; i += 4)
        put(uint32_t{words[i]} << 24 | uint32_t{words[i + 1]} << 16 | uint32_t{words[i + 2]} << 8 |
                words[i + 3],
            32);
    put(static_cast<uint32_t>(other.m_acc), other.m_accBits);
}

void BitWriter::clear()
{
    m_used = 0;
    m_acc = 0;
    m_accBits = 0;
}

std::vector<uint8_t> BitWriter::bytes() const
{
    std::vector<uint8_t> out(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(m_used));
    for (int left = m_accBits; left > 0; left -= 8)
        out.push_back(static_cast<uint8_t>(left >= 8 ? m_acc >> (left - 8) : m_acc << (8 - left)));
    return out;
}

uint32_t readBits(const uint8_t *data, int64_t pos, int bits)
{
    if (bits <= 0)
        return 0;
    // Only the bytes the range touches are read, so the caller's buffer may end right after it.
    const int offset = static_cast<int>(pos & 7);
    const int bytes = (offset + bits + 7) / 8;
    const uint8_t *p = data + (pos >> 3);
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | p[i];
    value >>= bytes * 8 - offset - bits;
    return static_cast<uint32_t>(value & ((uint64_t{1} << bits) - 1));
}

void writeBits(uint8_t *data, int64_t pos, uint32_t value, int bits)
{
    if (bits <= 0)
        return;
    const int offset = static_cast<int>(pos & 7);
    const int bytes = (offset + bits + 7) / 8;
    uint8_t *p = data + (pos >> 3);
    const int shift = bytes * 8 - offset - bits;
    const uint64_t mask = ((uint64_t{1} << bits) - 1) << shift;
    uint64_t word = 0;
    for (int i = 0; i < bytes; ++i)
        word = (word << 8) | p[i];
    word = (word & ~mask) | ((static_cast<uint64_t>(value) << shift) & mask);
    for (int i = bytes - 1; i >= 0; --i, word >>= 8)
        p[i] = static_cast<uint8_t>(word);
}
