#include "wmastdsuperframer.h"

#include <algorithm>
#include <cstddef>

namespace wmastd {

Superframer::Superframer(int blockAlign, int byteOffsetBits)
    : blockAlign_(blockAlign), offsetBits_(byteOffsetBits + 3), capacity_(blockAlign * 8 - 8 - offsetBits_)
{
}

void Superframer::add(const BitWriter &frame)
{
    const int64_t room = capacity_ - payload_.size();
    startsRun_ = false;
    ++starts_;
    if (frame.size() < room && starts_ < kMaxFramesPerSuperframe) {
        payload_.append(frame);
        return;
    }
    // This frame goes on into the next superframe (or is padded there when
    // the count is full): it is the one the decoder keeps pending.
    const int64_t here = std::min<int64_t>(room, frame.size());
    frame.copyTo(payload_, 0, here);
    emit(first_ ? starts_ - 1 : starts_);
    frame.copyTo(payload_, here, frame.size() - here);
    tail_ = int(frame.size() - here);
    startsRun_ = true;
}

void Superframer::finish()
{
    if (starts_ > 0)
        emit(first_ ? starts_ - 1 : starts_);
    // The last frame is pending now; one more superframe releases it. The
    // decoder's end of stream then gives the overlap after it, one frame more.
    emit(1);
    out_.back().frames = 2;
}

void Superframer::emit(int frameCount)
{
    BitWriter packet;
    ++emitted_;
    packet.put(index_++ & 15u, 4);
    packet.put(static_cast<uint32_t>(first_ ? frameCount + 1 : frameCount), 4);
    packet.put(static_cast<uint32_t>(tail_), offsetBits_);
    packet.append(payload_);
    Superframe s;
    s.data = packet.bytes();
    s.data.resize(static_cast<std::size_t>(blockAlign_), 0);
    s.frames = frameCount;
    out_.push_back(std::move(s));
    payload_.clear();
    tail_ = 0;
    starts_ = 0;
    first_ = false;
}

std::vector<Superframe> Superframer::take()
{
    std::vector<Superframe> out;
    out.swap(out_);
    return out;
}

} // namespace wmastd
