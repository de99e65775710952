#include "wmastdbitwriter.h"

#include <algorithm>

namespace wmastd {

void BitWriter::put(uint32_t value, int bits)
{
    for (int i = bits - 1; i >= 0; --i) {
        if ((bits_ & 7) == 0)
            bytes_.push_back(0);
        if ((value >> i) & 1u)
            bytes_.back() |= static_cast<uint8_t>(0x80u >> (bits_ & 7));
        ++bits_;
    }
}

void BitWriter::copyTo(BitWriter &out, int64_t from, int64_t count) const
{
    int64_t pos = from;
    const int64_t end = from + count;
    // Whole bytes where both sides are byte aligned, bit by bit elsewhere.
    while (pos < end) {
        if ((pos & 7) == 0 && (out.bits_ & 7) == 0 && end - pos >= 8) {
            out.bytes_.push_back(bytes_[static_cast<size_t>(pos >> 3)]);
            out.bits_ += 8;
            pos += 8;
            continue;
        }
        const int chunk = static_cast<int>(std::min<int64_t>(end - pos, 8 - (pos & 7)));
        const uint32_t byte = bytes_[static_cast<size_t>(pos >> 3)];
        const int shift = 8 - static_cast<int>(pos & 7) - chunk;
        out.put((byte >> shift) & ((1u << chunk) - 1u), chunk);
        pos += chunk;
    }
}

void BitWriter::append(const BitWriter &other)
{
    other.copyTo(*this, 0, other.bits_);
}

void BitWriter::clear()
{
    bytes_.clear();
    bits_ = 0;
}

} // namespace wmastd
