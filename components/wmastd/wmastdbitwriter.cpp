#include "wmastdbitwriter.h"

#include <algorithm>

namespace wmastd {

void BitWriter::flushWord()
{
    m_pendingBits -= 32;
    const auto word = static_cast<uint32_t>(m_pending >> m_pendingBits);
    // Grown ahead of need: its size is not the string's, m_whole is.
    if (m_bytes.size() < m_whole + 4)
        m_bytes.resize(std::max<size_t>(256, 2 * m_bytes.size()));
    for (int k = 0; k < 4; ++k)
        m_bytes[m_whole + size_t(k)] = static_cast<uint8_t>(word >> (24 - 8 * k));
    m_whole += 4;
}

const std::vector<uint8_t> &BitWriter::bytes() const
{
    m_bytes.resize(m_whole);
    for (int left = m_pendingBits; left > 0; left -= 8) {
        // The next up to 8 pending bits, zero-padded on the right.
        const uint64_t chunk = left >= 8 ? m_pending >> (left - 8) : m_pending << (8 - left);
        m_bytes.push_back(static_cast<uint8_t>(chunk));
    }
    return m_bytes;
}

void BitWriter::copyTo(BitWriter &out, int64_t from, int64_t count) const
{
    const std::vector<uint8_t> &data = bytes();
    const int64_t end = from + count;
    for (int64_t pos = from; pos < end;) {
        const int take = static_cast<int>(std::min<int64_t>(32, end - pos));
        // Five bytes from the one holding `pos` cover the bits wanted; eight
        // read at once where there are that many.
        uint64_t window = 0;
        const auto first = static_cast<size_t>(pos >> 3);
        if (first + 8 <= data.size()) {
            for (size_t k = first; k < first + 8; ++k)
                window = (window << 8) | data[k];
            window >>= 24;
        } else {
            for (size_t k = first; k < first + 5; ++k)
                window = (window << 8) | (k < data.size() ? data[k] : 0u);
        }
        out.put(static_cast<uint32_t>(window >> (40 - static_cast<int>(pos & 7) - take)), take);
        pos += take;
    }
}

void BitWriter::append(const BitWriter &other)
{
    other.copyTo(*this, 0, other.m_bits);
}

void BitWriter::clear()
{
    m_bytes.clear();
    m_whole = 0;
    m_pending = 0;
    m_pendingBits = 0;
    m_bits = 0;
}

} // namespace wmastd
