#include "wmalosslesspacketizer.h"

#include "bitwriter.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace wmalossless {

namespace {

constexpr int kSequenceBits = 4;

// Swaps a word read from memory into big-endian order (or back).
uint64_t bigEndian64(uint64_t word)
{
    if constexpr (std::endian::native == std::endian::little)
        return __builtin_bswap64(word);
    return word;
}

// Copies `bits` bits from `src` at `srcPos` to `dst` at `dstPos`. The
// destination bytes past the first are written whole: nothing after the
// range is kept there.
void copyBits(uint8_t *dst, int64_t dstPos, const uint8_t *src, int64_t srcPos, int64_t bits)
{
    const int head = static_cast<int>(std::min<int64_t>((8 - dstPos % 8) % 8, bits));
    writeBits(dst, dstPos, readBits(src, srcPos, head), head);
    dstPos += head;
    srcPos += head;
    bits -= head;
    const int64_t whole = bits / 8;
    uint8_t *d = dst + dstPos / 8;
    const uint8_t *s = src + srcPos / 8;
    const int shift = static_cast<int>(srcPos % 8);
    if (shift == 0) {
        std::memcpy(d, s, static_cast<size_t>(whole));
    } else {
        // Each byte takes the end of one source byte and the start of the next,
        // which still lies within the range: eight at a time, then one by one.
        int64_t i = 0;
        for (; i + 8 <= whole; i += 8) {
            uint64_t word = 0;
            std::memcpy(&word, s + i, 8);
            word = bigEndian64(word) << shift | s[i + 8] >> (8 - shift);
            word = bigEndian64(word);
            std::memcpy(d + i, &word, 8);
        }
        for (; i < whole; ++i)
            d[i] = static_cast<uint8_t>(s[i] << shift | s[i + 1] >> (8 - shift));
    }
    const int tail = static_cast<int>(bits % 8);
    writeBits(dst, dstPos + whole * 8, readBits(src, srcPos + whole * 8, tail), tail);
}

} // namespace

Packetizer::Packetizer(int blockAlign, int frameSize)
    : m_frameSize(frameSize), m_headerBits(headerBits(blockAlign)), m_packetBits(int64_t{blockAlign} * 8),
      m_packet(blockAlign)
{
}

int Packetizer::headerBits(int blockAlign)
{
    // Sequence number, seekable-frame flag, splice flag, continuation length.
    const int lengthBits = 31 - std::countl_zero(static_cast<uint32_t>(blockAlign)) + 4;
    return kSequenceBits + 2 + lengthBits;
}

void Packetizer::placeHeld()
{
    if (m_holding)
        place(false);
    m_holding = false;
}

void Packetizer::hold(const BitWriter &frame, int64_t startSample, bool seekable)
{
    placeHeld();
    frame.copyBytes(m_held);
    m_held.push_back(0); // room for the trailer bit
    m_heldBits = frame.bitCount();
    m_heldStart = startSample;
    m_heldSeekable = seekable;
    m_holding = true;
}

void Packetizer::finish(int64_t totalSamples)
{
    if (m_holding)
        place(true);
    m_holding = false;
    if (m_open && m_pos > m_headerBits)
        emitPacket(m_pos);
    // Frames that start in the last packet come out only when the decoder is
    // drained. A packet that starts none and ends none stands for them, so
    // that a reader that times output by the packet it came from (GStreamer)
    // has one to give them to. Its bits past the header add nothing to the
    // last frame: it ends with its trailer.
    if (m_previousFirstStart >= 0) {
        const int64_t bits = (m_headerBits + 7) / 8 * 8;
        startPacket(static_cast<uint32_t>(bits - m_headerBits));
        emitPacket(bits);
    }
    // The last packet also stands for the frames the decoder gives out when drained.
    if (!m_ready.empty())
        m_ready.back().duration = std::max<int64_t>(totalSamples - m_ready.back().pts, 0);
    m_finished = true;
}

std::vector<WmaLosslessPacket> Packetizer::takePackets()
{
    // The newest packet stays until the next one, in case it turns out to be the last.
    std::vector<WmaLosslessPacket> out;
    const size_t keep = m_finished || m_ready.empty() ? 0 : 1;
    out.assign(std::make_move_iterator(m_ready.begin()), std::make_move_iterator(m_ready.end() - keep));
    m_ready.erase(m_ready.begin(), m_ready.end() - keep);
    return out;
}

void Packetizer::startPacket(uint32_t continuationBits)
{
    std::fill(m_packet.begin(), m_packet.end(), 0);
    writeBits(m_packet.data(), 0, m_sequence & 0xf, kSequenceBits);
    m_sequence = (m_sequence + 1) & 0xf;
    writeBits(m_packet.data(), kSequenceBits + 2, continuationBits, m_headerBits - kSequenceBits - 2);
    m_pos = m_headerBits;
    m_firstStart = -1;
    m_trailerPos = -1;
    m_framesStarted = 0;
    m_open = true;
}

// The decoder gives out a frame only once the packet after the one it starts
// in has arrived: a packet's samples are those of the frames that started in
// the packet before it (none for the first one; the last packet's own frames
// come out when the decoder is drained).
void Packetizer::emitPacket(int64_t bits)
{
    WmaLosslessPacket packet;
    packet.data.assign(m_packet.begin(), m_packet.begin() + static_cast<std::ptrdiff_t>((bits + 7) / 8));
    packet.pts = m_previousFirstStart < 0 ? 0 : m_previousFirstStart;
    packet.duration = m_previousFirstStart < 0 ? 0 : m_firstStart - m_previousFirstStart;
    m_previousFirstStart = m_firstStart;
    m_ready.push_back(std::move(packet));
    m_open = false;
    m_firstPacket = false;
}

void Packetizer::begin()
{
    if (m_heldSeekable)
        writeBits(m_packet.data(), kSequenceBits, 1, 1);
    if (m_framesStarted++ == 0)
        m_firstStart = m_heldStart;
}

// Copies the held frame from `from` on and closes the packet when it fills.
// The frame's trailer says whether another frame follows it in this packet.
void Packetizer::copyHeld(int64_t from, bool another)
{
    writeBits(m_held.data(), m_heldBits, another ? 1 : 0, 1);
    const int64_t need = m_heldBits + 1 - from;
    const int64_t bits = std::min(need, m_packetBits - m_pos);
    copyBits(m_packet.data(), m_pos, m_held.data(), from, bits);
    m_trailerPos = m_pos + m_heldBits - from;
    m_pos += bits;
    if (m_pos == m_packetBits) {
        if (bits == need)
            m_exactPacketEnds.push_back(m_heldStart + m_frameSize);
        emitPacket(m_pos);
    }
}

void Packetizer::place(bool final)
{
    const int64_t need = m_heldBits + 1;
    if (!m_open)
        startPacket(0);

    // Silent frames take a few bits each. Rather than let one packet stand for
    // minutes, it ends (on a byte, the rest of that byte holding the start of
    // this frame) once kMaxFramesPerPacket frames have begun in it.
    if (!final && m_framesStarted >= frameLimit()) {
        const int64_t head = (8 - m_pos % 8) % 8;
        if (head == 0) {
            writeBits(m_packet.data(), m_trailerPos, 0, 1);
            emitPacket(m_pos);
            startPacket(0);
        } else if (head < need) {
            begin();
            writeBits(m_held.data(), m_heldBits, 0, 1);
            copyBits(m_packet.data(), m_pos, m_held.data(), 0, head);
            m_pos += head;
            emitPacket(m_pos);
            startPacket(static_cast<uint32_t>(need - head));
            copyHeld(head, false);
            return;
        }
    }

    begin();
    const int64_t room = m_packetBits - m_pos;
    if (need < room) {
        // Another frame will start in this packet unless this is the last one.
        copyHeld(0, !final);
        if (final)
            emitPacket(m_pos); // the decoder drops what follows the last frame when drained
        return;
    }
    copyHeld(0, false);
    if (need == room)
        return;
    // The rest goes to a last packet whose every bit is declared part of this
    // frame, so the decoder keeps nothing after it that it could take for a frame.
    const int64_t rest = need - room;
    const int64_t bits = final ? (m_headerBits + rest + 7) / 8 * 8 : m_headerBits + rest;
    startPacket(static_cast<uint32_t>(bits - m_headerBits));
    copyHeld(room, false);
    if (final && m_open)
        emitPacket(bits);
}

} // namespace wmalossless
