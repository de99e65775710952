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
        emitPacket(pos_);
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
void WmaLosslessPacketizer::emitPacket(int64_t bits)
{
    WmaLosslessPacket packet;
    packet.data = QByteArray(reinterpret_cast<const char *>(packet_.data()), static_cast<int>((bits + 7) / 8));
    packet.pts = previousFirstStart_ < 0 ? 0 : previousFirstStart_;
    packet.duration = previousFirstStart_ < 0 ? 0 : firstStart_ - previousFirstStart_;
    previousFirstStart_ = firstStart_;
    ready_.push_back(std::move(packet));
    open_ = false;
}

void WmaLosslessPacketizer::begin()
{
    if (heldSeekable_)
        writeBits(packet_.data(), SequenceBits, 1, 1);
    if (framesStarted_++ == 0)
        firstStart_ = heldStart_;
}

// Copies the held frame from `from` on and closes the packet when it fills.
// The frame's trailer says whether another frame follows it in this packet.
void WmaLosslessPacketizer::copyHeld(int64_t from, bool another)
{
    writeBits(held_.data(), heldBits_, another ? 1 : 0, 1);
    const int64_t need = heldBits_ + 1 - from;
    const int64_t bits = std::min(need, packetBits_ - pos_);
    copyBits(packet_.data(), pos_, held_.data(), from, bits);
    trailerPos_ = pos_ + heldBits_ - from;
    pos_ += bits;
    if (pos_ == packetBits_) {
        if (bits == need)
            exactPacketEnds_.push_back(heldStart_ + frameSize_);
        emitPacket(pos_);
    }
}

void WmaLosslessPacketizer::place(bool final)
{
    const int64_t need = heldBits_ + 1;
    if (!open_)
        startPacket(0);

    // Silent frames take a few bits each. Rather than let one packet stand for
    // minutes, it ends (on a byte, the rest of that byte holding the start of
    // this frame) once MaxFramesPerPacket frames have begun in it.
    if (!final && framesStarted_ >= MaxFramesPerPacket) {
        const int64_t head = (8 - pos_ % 8) % 8;
        if (head == 0) {
            writeBits(packet_.data(), trailerPos_, 0, 1);
            emitPacket(pos_);
            startPacket(0);
        } else if (head < need) {
            begin();
            writeBits(held_.data(), heldBits_, 0, 1);
            copyBits(packet_.data(), pos_, held_.data(), 0, head);
            pos_ += head;
            emitPacket(pos_);
            startPacket(static_cast<uint32_t>(need - head));
            copyHeld(head, false);
            return;
        }
    }

    begin();
    const int64_t room = packetBits_ - pos_;
    if (need < room) {
        // Another frame will start in this packet unless this is the last one.
        copyHeld(0, !final);
        if (final)
            emitPacket(pos_); // the decoder drops what follows the last frame when drained
        return;
    }
    copyHeld(0, false);
    if (need == room)
        return;
    // The rest goes to a last packet whose every bit is declared part of this
    // frame, so the decoder keeps nothing after it that it could take for a frame.
    const int64_t rest = need - room;
    const int64_t bits = final ? (headerBits_ + rest + 7) / 8 * 8 : headerBits_ + rest;
    startPacket(static_cast<uint32_t>(bits - headerBits_));
    copyHeld(room, false);
    if (final && open_)
        emitPacket(bits);
}
