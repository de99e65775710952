#pragma once

#include "wmalosslesspacket.h"

#include <cstdint>
#include <vector>

class BitWriter;

// Lays frames into packets of blockAlign bytes (shorter after a run of tiny
// frames, and at the end). Each packet header says how many of
// its bits finish the frame begun in the previous packet; each frame ends
// with a bit telling whether another frame starts in the packet it started in.
class WmaLosslessPacketizer {
public:
    static constexpr int MaxFramesPerPacket = 16;

    WmaLosslessPacketizer(int blockAlign, int frameSize);

    // A frame is held back until placeHeld() or finish(), because only the
    // last frame is placed differently.
    void placeHeld();
    void hold(const BitWriter &frame, int64_t startSample, bool seekable);
    void finish(int64_t totalSamples);
    // After a seek the decoder only resumes at the first frame that starts in a packet.
    bool nextFrameOpensPacket() const
    {
        return !open_ || framesStarted_ == 0 || (framesStarted_ >= MaxFramesPerPacket && pos_ % 8 == 0);
    }
    std::vector<WmaLosslessPacket> takePackets();

    static int headerBits(int blockAlign);
    const std::vector<int64_t> &exactPacketEnds() const { return exactPacketEnds_; }

private:
    void place(bool final);
    void startPacket(uint32_t continuationBits);
    void emitPacket(int64_t bits);
    void begin();
    void copyHeld(int64_t from, bool another);

    int blockAlign_;
    int frameSize_;
    int headerBits_;
    int64_t packetBits_;
    std::vector<uint8_t> packet_;
    int64_t pos_ = 0;
    int64_t firstStart_ = -1;         // first sample of the first frame that starts in this packet
    int64_t previousFirstStart_ = -1; // the same for the packet before
    bool open_ = false;
    int64_t trailerPos_ = -1; // trailer of the last frame that started in this packet
    int framesStarted_ = 0;
    unsigned sequence_ = 0;
    std::vector<uint8_t> held_;
    int64_t heldBits_ = 0;
    int64_t heldStart_ = 0;
    bool heldSeekable_ = false;
    bool holding_ = false;
    std::vector<int64_t> exactPacketEnds_;
    std::vector<WmaLosslessPacket> ready_;
    bool finished_ = false;
};
