#include "bitwriter.h"

void BitWriter::put(uint32_t value, int bits)
{
    if (bits <= 0)
        return;
    const uint64_t mask = bits >= 32 ? 0xffffffffu : ((uint64_t{1} << bits) - 1);
    acc_ = (acc_ << bits) | (value & mask);
    accBits_ += bits;
    while (accBits_ >= 8) {
        accBits_ -= 8;
        bytes_.push_back(static_cast<uint8_t>(acc_ >> accBits_));
    }
    acc_ &= (uint64_t{1} << accBits_) - 1;
}

void BitWriter::append(const BitWriter &other)
{
    for (uint8_t byte : other.bytes_)
        put(byte, 8);
    put(static_cast<uint32_t>(other.acc_), other.accBits_);
}

void BitWriter::clear()
{
    bytes_.clear();
    acc_ = 0;
    accBits_ = 0;
}

std::vector<uint8_t> BitWriter::bytes() const
{
    std::vector<uint8_t> out = bytes_;
    if (accBits_ > 0)
        out.push_back(static_cast<uint8_t>(acc_ << (8 - accBits_)));
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
