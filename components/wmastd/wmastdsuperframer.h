#pragma once

#include "wmastdbitwriter.h"

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

    Superframer(int blockAlign, int byteOffsetBits);

    int capacity() const { return capacity_; }          // payload bits per superframe
    int maxTail() const { return (1 << offsetBits_) - 1; } // longest tail the header can state
    // True when the next frame starts a superframe's run of new frames (the
    // decoder then expects the block sizes restated).
    bool nextStartsRun() const { return startsRun_; }
    int64_t bitsOut() const { return emitted_ * capacity_ + payload_.size(); }

    void add(const BitWriter &frame);
    // Releases the last frame; nothing may be added afterwards.
    void finish();
    std::vector<Superframe> take();

private:
    void emit(int frameCount);

    int blockAlign_;
    int offsetBits_;
    int capacity_;
    BitWriter payload_; // bits after the header of the superframe being filled
    int tail_ = 0;      // bits at the payload's start that end the previous frame
    int starts_ = 0;    // frames that start in it
    bool first_ = true;
    bool startsRun_ = true;
    unsigned index_ = 0;
    int64_t emitted_ = 0;
    std::vector<Superframe> out_;
};

} // namespace wmastd
