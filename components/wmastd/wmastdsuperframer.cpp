#include "wmastdsuperframer.h"

#include <algorithm>
#include <cstddef>

namespace wmastd {

Superframer::Superframer(int blockAlign, int byteOffsetBits, int framesPerSuperframe)
    : m_blockAlign(blockAlign), m_offsetBits(byteOffsetBits + 3), m_framesPerSuperframe(framesPerSuperframe),
      m_capacity(blockAlign * 8 - 8 - m_offsetBits)
{
}

void Superframer::add(const BitWriter &frame)
{
    const int64_t room = m_capacity - m_payload.bitCount();
    m_startsRun = false;
    ++m_starts;
    ++m_framesBegun;
    const bool onTime =
        m_framesPerSuperframe > 0 && m_framesBegun >= (m_emitted + 1) * m_framesPerSuperframe + m_extraFrames;
    if (frame.bitCount() < room && m_starts < kMaxFramesPerSuperframe && !onTime) {
        m_payload.append(frame);
        return;
    }
    // This frame goes on into the next superframe (or is padded there when
    // the count is full): it is the one the decoder keeps pending.
    const int64_t here = std::min<int64_t>(room, frame.bitCount());
    frame.copyTo(m_payload, 0, here);
    emit(m_first ? m_starts - 1 : m_starts);
    frame.copyTo(m_payload, here, frame.bitCount() - here);
    m_tail = int(frame.bitCount() - here);
    m_startsRun = true;
}

void Superframer::finish()
{
    if (m_starts > 0)
        emit(m_first ? m_starts - 1 : m_starts);
    // The last frame is pending now; one more superframe releases it. The
    // decoder's end of stream then gives the overlap after it, one frame more.
    emit(1);
    m_out.back().frames = 2;
}

void Superframer::emit(int frameCount)
{
    BitWriter packet;
    ++m_emitted;
    packet.put(m_index++ & 15u, 4);
    packet.put(static_cast<uint32_t>(m_first ? frameCount + 1 : frameCount), 4);
    packet.put(static_cast<uint32_t>(m_tail), m_offsetBits);
    packet.append(m_payload);
    Superframe s;
    s.data = packet.bytes();
    s.data.resize(static_cast<std::size_t>(m_blockAlign), 0);
    s.frames = frameCount;
    m_out.push_back(std::move(s));
    m_payload.clear();
    m_tail = 0;
    m_starts = 0;
    m_first = false;
}

std::vector<Superframe> Superframer::take()
{
    std::vector<Superframe> out;
    out.swap(m_out);
    return out;
}

} // namespace wmastd
