#pragma once

#include <QByteArray>
#include <QtEndian>

#include <cstring>
#include <vector>

// A fast digest of decoded samples, to tell whether a source's audio
// changed. It guards against accidents, not against anyone crafting a
// collision, so multiply lanes do instead of a cryptographic hash, which
// would cost a noticeable share of a short file's conversion. Samples may
// come in blocks of any size: the result is that of all of them in order.
class AudioDigest {
public:
    void reset() { *this = AudioDigest(); }
    void add(const std::vector<float> &samples)
    {
        // Sample k goes to lane k mod 4, so neighbouring multiplications overlap.
        const float *next = samples.data();
        const float *const end = next + samples.size();
        while (next != end && (m_count & 3) != 0)
            step(m_lanes[m_count++ & 3], *next++);
        quint64 a = m_lanes[0], b = m_lanes[1], c = m_lanes[2], d = m_lanes[3];
        const float *const body = next;
        for (; end - next >= 4; next += 4) {
            step(a, next[0]);
            step(b, next[1]);
            step(c, next[2]);
            step(d, next[3]);
        }
        m_lanes[0] = a, m_lanes[1] = b, m_lanes[2] = c, m_lanes[3] = d;
        m_count += quint64(next - body);
        while (next != end)
            step(m_lanes[m_count++ & 3], *next++);
    }
    QByteArray result() const
    {
        QByteArray bytes(40, Qt::Uninitialized);
        for (int lane = 0; lane < 4; ++lane)
            qToLittleEndian(m_lanes[lane], bytes.data() + 8 * lane);
        qToLittleEndian(m_count, bytes.data() + 32);
        return bytes;
    }

private:
    static void step(quint64 &lane, float sample)
    {
        quint32 bits = 0;
        std::memcpy(&bits, &sample, sizeof bits);
        lane = (lane ^ bits) * 0x9E3779B97F4A7C15ULL;
        lane ^= lane >> 29;
    }

    quint64 m_lanes[4] = {0x243F6A8885A308D3ULL, 0x13198A2E03707344ULL, 0xA4093822299F31D0ULL,
                          0x082EFA98EC4E6C89ULL};
    quint64 m_count = 0;
};
