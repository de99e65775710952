#pragma once

#include "wmalosslesspacket.h"

#include <algorithm>
#include <cstdint>
#include <vector>

class BitWriter;

namespace wmalossless {

// Lays frames into packets of blockAlign bytes (shorter after a run of tiny
// frames, and at the end). Each packet header says how many of
// its bits finish the frame begun in the previous packet; each frame ends
// with a bit telling whether another frame starts in the packet it started in.
class Packetizer {
public:
    static constexpr int kMaxFramesPerPacket = 16;
    // The first packet takes more, so that a quiet start (up to 64 frames,
    // 3 to 6 s at 44.1 kHz) still fills it: a reader can then be given it
    // with the next in one object, which gives output at once. Not so many
    // that the ffmpeg tool warns of frames piling up from one packet.
    static constexpr int kMaxFramesInFirstPacket = 64;

    Packetizer(int blockAlign, int frameSize);

    // A frame is held back until placeHeld() or finish(), because only the
    // last frame is placed differently.
    void placeHeld();
    void hold(const BitWriter &frame, int64_t startSample, bool seekable);
    void finish(int64_t totalSamples);
    // After a seek the decoder only resumes at the first frame that starts in a packet.
    bool nextFrameOpensPacket() const
    {
        return !m_open || m_framesStarted == 0 || (m_framesStarted >= frameLimit() && m_pos % 8 == 0);
    }
    std::vector<WmaLosslessPacket> takePackets();
    // Frames begun in the first packet while it is open, else -1.
    int framesInFirstPacket() const { return m_firstPacket && m_open ? m_framesStarted : -1; }

    static int headerBits(int blockAlign);
    const std::vector<int64_t> &exactPacketEnds() const { return m_exactPacketEnds; }

private:
    // Short frames: as many samples a packet as frames of 2,048 take.
    int frameLimit() const
    {
        return m_firstPacket ? kMaxFramesInFirstPacket
                             : std::clamp(kMaxFramesPerPacket * 2048 / m_frameSize, kMaxFramesPerPacket,
                                          kMaxFramesInFirstPacket);
    }
    void place(bool final);
    void startPacket(uint32_t continuationBits);
    void emitPacket(int64_t bits);
    void begin();
    void copyHeld(int64_t from, bool another);

    int m_frameSize;
    int m_headerBits;
    int64_t m_packetBits;
    std::vector<uint8_t> m_packet;
    int64_t m_pos = 0;
    int64_t m_firstStart = -1;         // first sample of the first frame that starts in this packet
    int64_t m_previousFirstStart = -1; // the same for the packet before
    bool m_open = false;
    int64_t m_trailerPos = -1; // trailer of the last frame that started in this packet
    int m_framesStarted = 0;
    unsigned m_sequence = 0;
    std::vector<uint8_t> m_held;
    int64_t m_heldBits = 0;
    int64_t m_heldStart = 0;
    bool m_heldSeekable = false;
    bool m_holding = false;
    std::vector<int64_t> m_exactPacketEnds;
    std::vector<WmaLosslessPacket> m_ready;
    bool m_finished = false;
    bool m_firstPacket = true;
};

} // namespace wmalossless
