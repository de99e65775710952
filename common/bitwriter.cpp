#include "bitwriter.h"

#include <algorithm>
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

void BitWriter::copyTo(BitWriter &out, int64_t from, int64_t count) const
{
    for (int64_t pos = from, end = from + count; pos < end;) {
        const int take = static_cast<int>(std::min<int64_t>(32, end - pos));
        out.put(bitsAt(pos, take), take);
        pos += take;
    }
}

uint32_t BitWriter::bitsAt(int64_t pos, int count) const
{
    // Whole words are in the buffer, the rest in the accumulator.
    const auto flushed = static_cast<int64_t>(m_used) * 8;
    if (pos + count <= flushed)
        return readBits(m_bytes.data(), pos, count);
    if (pos >= flushed) {
        const int shift = m_accBits - static_cast<int>(pos - flushed) - count;
        return static_cast<uint32_t>((m_acc >> shift) & ((uint64_t{1} << count) - 1));
    }
    const int head = static_cast<int>(flushed - pos);
    return static_cast<uint32_t>(uint64_t{bitsAt(pos, head)} << (count - head)) |
           bitsAt(flushed, count - head);
}

void BitWriter::clear()
{
    m_used = 0;
    m_acc = 0;
    m_accBits = 0;
}

void BitWriter::truncate(int64_t bits)
{
    if (bits >= bitCount())
        return;
    const auto flushed = static_cast<int64_t>(m_used) * 8;
    if (bits >= flushed) {
        const int keep = static_cast<int>(bits - flushed);
        m_acc >>= m_accBits - keep;
        m_accBits = keep;
        return;
    }
    // The words past the new end are still in the buffer.
    const int64_t words = bits / 32;
    m_accBits = static_cast<int>(bits % 32);
    m_acc = readBits(m_bytes.data(), words * 32, m_accBits);
    m_used = static_cast<std::size_t>(words) * 4;
}

BitWriter::Run BitWriter::beginRun(int64_t maxBits)
{
    const std::size_t need = m_used + static_cast<std::size_t>((maxBits + m_accBits) / 32 + 1) * 4;
    if (need > m_bytes.size())
        m_bytes.resize(std::max(need, m_bytes.size() * 2));
    Run run;
    run.m_at = m_bytes.data() + m_used;
    run.m_acc = m_acc;
    run.m_accBits = m_accBits;
    return run;
}

void BitWriter::endRun(Run run)
{
    m_used = static_cast<std::size_t>(run.m_at - m_bytes.data());
    m_accBits = run.m_accBits;
    m_acc = run.m_acc & ((uint64_t{1} << m_accBits) - 1);
}

std::vector<uint8_t> BitWriter::bytes() const
{
    std::vector<uint8_t> out;
    copyBytes(out);
    return out;
}

void BitWriter::copyBytes(std::vector<uint8_t> &out) const
{
    out.assign(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(m_used));
    for (int left = m_accBits; left > 0; left -= 8)
        out.push_back(static_cast<uint8_t>(left >= 8 ? m_acc >> (left - 8) : m_acc << (8 - left)));
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
