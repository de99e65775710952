#include "wmalosslesspacketizer.h"

#include "bitwriter.h"

#include <algorithm>
#include <bit>

namespace {

constexpr int SequenceBits = 4;

// Copies `bits` bits from `src` at `srcPos` to `dst` at `dstPos`.
void copyBits(uint8_t *dst, int64_t dstPos, const uint8_t *src, int64_t srcPos, int64_t bits)
{
    while (bits > 0) {
        const int chunk = static_cast<int>(std::min<int64_t>(bits, 24));
        writeBits(dst, dstPos, readBits(src, srcPos, chunk), chunk);
        dstPos += chunk;
        srcPos += chunk;
        bits -= chunk;
    }
}

} // namespace

WmaLosslessPacketizer::WmaLosslessPacketizer(int blockAlign, int frameSize)
    : blockAlign_(blockAlign), frameSize_(frameSize), headerBits_(headerBits(blockAlign)),
      packetBits_(int64_t{blockAlign} * 8), packet_(blockAlign)
{
}

int WmaLosslessPacketizer::headerBits(int blockAlign)
{
    // Sequence number, seekable-frame flag, splice flag, continuation length.
    const int lengthBits = 31 - std::countl_zero(static_cast<uint32_t>(blockAlign)) + 4;
    return SequenceBits + 2 + lengthBits;
}

void WmaLosslessPacketizer::placeHeld()
{
    if (holding_)
        place(false);
    holding_ = false;
}

void WmaLosslessPacketizer::hold(const BitWriter &frame, int64_t startSample, bool seekable)
{
    placeHeld();
    held_ = frame.bytes();
    held_.push_back(0); // room for the trailer bit
    heldBits_ = frame.bitCount();
    heldStart_ = startSample;
    heldSeekable_ = seekable;
    holding_ = true;
}

void WmaLosslessPacketizer::finish(int64_t totalSamples)
{
    if (holding_)
        place(true);
    holding_ = false;
    if (open_ && pos_ > headerBits_)
        emitPacket();
    // The last packet also stands for the frames the decoder gives out when drained.
    if (!ready_.empty())
        ready_.back().duration = std::max<int64_t>(totalSamples - ready_.back().pts, 0);
    finished_ = true;
}

std::vector<WmaLosslessPacket> WmaLosslessPacketizer::takePackets()
{
    // The newest packet stays until the next one, in case it turns out to be the last.
    std::vector<WmaLosslessPacket> out;
    const size_t keep = finished_ || ready_.empty() ? 0 : 1;
    out.assign(std::make_move_iterator(ready_.begin()), std::make_move_iterator(ready_.end() - keep));
    ready_.erase(ready_.begin(), ready_.end() - keep);
    return out;
}

void WmaLosslessPacketizer::startPacket(uint32_t continuationBits)
{
    std::fill(packet_.begin(), packet_.end(), 0);
    writeBits(packet_.data(), 0, sequence_ & 0xf, SequenceBits);
    sequence_ = (sequence_ + 1) & 0xf;
    writeBits(packet_.data(), SequenceBits + 2, continuationBits, headerBits_ - SequenceBits - 2);
    pos_ = headerBits_;
    firstStart_ = -1;
    trailerPos_ = -1;
    framesStarted_ = 0;
    open_ = true;
}

// The decoder gives out a frame only once the packet after the one it starts
// in has arrived: a packet's samples are those of the frames that started in
// the packet before it (none for the first one; the last packet's own frames
// come out when the decoder is drained).
void WmaLosslessPacketizer::emitPacket()
{
    WmaLosslessPacket packet;
    packet.data = QByteArray(reinterpret_cast<const char *>(packet_.data()), blockAlign_);
    packet.pts = previousFirstStart_ < 0 ? 0 : previousFirstStart_;
    packet.duration = previousFirstStart_ < 0 ? 0 : firstStart_ - previousFirstStart_;
    previousFirstStart_ = firstStart_;
    ready_.push_back(std::move(packet));
    open_ = false;
}

void WmaLosslessPacketizer::place(bool final)
{
    const int64_t need = heldBits_ + 1;
    if (!open_)
        startPacket(0);

    // The decoder only stops at a frame that starts in the last packet; leftover
    // zeros after a frame carried over from the packet before would be read as
    // one more frame. So the last frame moves to a fresh packet if it would
    // spill, the filler following a frame that started here (the block size
    // guarantees one did) and whose trailer now says none follows.
    if (final && need > packetBits_ - pos_ && pos_ > headerBits_) {
        if (trailerPos_ >= 0)
            writeBits(packet_.data(), trailerPos_, 0, 1);
        emitPacket();
        startPacket(0);
    }

    if (heldSeekable_)
        writeBits(packet_.data(), SequenceBits, 1, 1);

    if (framesStarted_++ == 0)
        firstStart_ = heldStart_;
    const int64_t room = packetBits_ - pos_;
    if (need < room) {
        // Another frame will start in this packet unless this is the last one.
        writeBits(held_.data(), heldBits_, final ? 0 : 1, 1);
        copyBits(packet_.data(), pos_, held_.data(), 0, need);
        trailerPos_ = pos_ + heldBits_;
        pos_ += need;
        return;
    }

    writeBits(held_.data(), heldBits_, 0, 1);
    copyBits(packet_.data(), pos_, held_.data(), 0, room);
    pos_ += room;
    if (need == room) {
        exactPacketEnds_.push_back(heldStart_ + frameSize_);
        emitPacket();
        return;
    }
    emitPacket();
    const int64_t rest = need - room;
    startPacket(static_cast<uint32_t>(rest));
    copyBits(packet_.data(), pos_, held_.data(), room, rest);
    pos_ += rest;
}
