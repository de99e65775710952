#pragma once

#include <QByteArray>
#include <QtEndian>

#include <cstring>
#include <vector>

// A fast digest of decoded samples, to tell whether a source's audio
// changed. It guards against accidents, not against anyone crafting a
// collision, so two multiply lanes do instead of a cryptographic hash, which
// would cost a noticeable share of a short file's conversion. Samples may
// come in blocks of any size: the result is that of all of them in order.
class AudioDigest {
public:
    void reset() { *this = AudioDigest(); }
    void add(const std::vector<float> &samples)
    {
        for (const float sample : samples) {
            quint32 bits = 0;
            std::memcpy(&bits, &sample, sizeof bits);
            m_a = (m_a ^ bits) * 0x9E3779B97F4A7C15ULL;
            m_a ^= m_a >> 29;
            m_b = (m_b + bits) * 0xC2B2AE3D27D4EB4FULL;
            m_b ^= m_b >> 31;
        }
        m_count += samples.size();
    }
    QByteArray result() const
    {
        QByteArray bytes(24, Qt::Uninitialized);
        qToLittleEndian(m_a, bytes.data());
        qToLittleEndian(m_b, bytes.data() + 8);
        qToLittleEndian(quint64(m_count), bytes.data() + 16);
        return bytes;
    }

private:
    quint64 m_a = 0x243F6A8885A308D3ULL;
    quint64 m_b = 0x13198A2E03707344ULL;
    quint64 m_count = 0;
};
