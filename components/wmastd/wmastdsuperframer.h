#pragma once

#include "bitwriter.h"

#include <cstdint>
#include <vector>

namespace wmastd {

struct Superframe {
    std::vector<uint8_t> data; // exactly the block alignment
    int frames = 0;            // frames the decoder finishes with this packet
};

// Cuts the stream of coded frames into superframes of a fixed size. Each
// holds: a header (index, frame count, length of the previous frame's
// tail), that tail, whole frames, and the start of a frame that goes on in
// the next superframe. The tail may be longer than the frame needs: that
// is the only place padding can go.
class Superframer {
public:
    static constexpr int kMaxFramesPerSuperframe = 15;

    // `framesPerSuperframe` holds the rate: a superframe closes (padded)
    // once the frames begun reach that many per superframe so far; with 0
    // frames pack as tightly as they come (up to the limit).
    Superframer(int blockAlign, int byteOffsetBits, int framesPerSuperframe = 0);

    int capacity() const { return m_capacity; }             // payload bits per superframe
    int maxTail() const { return (1 << m_offsetBits) - 1; } // longest tail the header can state
    // True when the next frame starts a superframe's run of new frames (the
    // decoder then expects the block sizes restated).
    bool nextStartsRun() const { return m_startsRun; }
    int64_t bitsOut() const { return m_emitted * m_capacity + m_payload.bitCount(); }
    // Frames, over the whole stream so far, that superframes hold beyond
    // the rate's count: each closes that much later. The file's fixed
    // costs are paid back this way.
    void setExtraFrames(int64_t frames) { m_extraFrames = frames; }

    void add(const BitWriter &frame);
    // Releases the last frame; nothing may be added afterwards.
    void finish();
    std::vector<Superframe> take();

private:
    void emit(int frameCount);

    int m_blockAlign;
    int m_offsetBits;
    int m_framesPerSuperframe;
    int64_t m_framesBegun = 0;
    int64_t m_extraFrames = 0;
    int m_capacity;
    BitWriter m_payload; // bits after the header of the superframe being filled
    int m_tail = 0;      // bits at the payload's start that end the previous frame
    int m_starts = 0;    // frames that start in it
    bool m_first = true;
    bool m_startsRun = true;
    unsigned m_index = 0;
    int64_t m_emitted = 0;
    std::vector<Superframe> m_out;
};

} // namespace wmastd
