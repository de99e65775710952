// What portable players need of every lossy profile's file, read back from
// the file itself: one superframe per ASF packet, a steady bit rate within
// 2% of the profile's, a seek index, exponents within the table of
// fixed-point decoders, gains and steps they can scale without overflow, and no
// uncoded channel they would play differently.
#include "audiowriter.h"
#include "wmaprofiles.h"
#include "wmastdlayout.h"
#include "wmastdtables.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>

namespace {

uint64_t le(const QByteArray &d, qsizetype at, int bytes)
{
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | uint8_t(d[at + i]);
    return v;
}

bool isGuid(const QByteArray &d, qsizetype at, const char *hex)
{
    return d.mid(at, 16) == QByteArray::fromHex(hex);
}

// Sizes of the 2-bit length fields of ASF packet and payload headers.
int fieldSize(unsigned code)
{
    return code == 3 ? 4 : int(code);
}

// MSB-first reader over a superframe.
class BitReader {
public:
    explicit BitReader(const QByteArray &d) : m_d(d) {}
    void seek(int64_t bit) { m_pos = bit; }
    uint32_t get(int bits)
    {
        uint32_t v = 0;
        for (int i = 0; i < bits; ++i, ++m_pos) {
            const auto byte = static_cast<qsizetype>(m_pos >> 3);
            const unsigned bit = byte < m_d.size() ? (uint8_t(m_d.at(byte)) >> (7 - (m_pos & 7))) & 1u : 0u;
            v = (v << 1) | bit;
        }
        return v;
    }
    // An exponent delta, by its prefix code.
    std::optional<int> delta()
    {
        uint32_t code = 0;
        for (int bits = 1; bits <= 19; ++bits) {
            code = (code << 1) | get(1);
            for (int d = 0; d < 121; ++d)
                if (wmastd::tables::kExponentBits[d] == bits && wmastd::tables::kExponentCodes[d] == code)
                    return d - 60;
        }
        return std::nullopt;
    }

private:
    const QByteArray &m_d;
    int64_t m_pos = 0;
};

// A source that takes the coder through what music does: notes, one silent
// channel, digital silence, loud noise with clicks, a quiet passage.
std::vector<float> source(int rate, int channels, double seconds)
{
    const auto frames = static_cast<size_t>(seconds * rate);
    std::vector<float> s(frames * static_cast<size_t>(channels));
    uint32_t noise = 1;
    for (size_t i = 0; i < frames; ++i) {
        const double t = std::fmod(double(i) / rate, 6.0); // the pattern repeats every 6 s
        noise = noise * 1664525u + 1013904223u;
        const double white = double(int32_t(noise)) / 2147483648.0;
        for (int c = 0; c < channels; ++c) {
            double v = 0;
            if (t < 1.5) // notes
                v = 0.4 * std::exp(-4 * std::fmod(t, 0.25)) *
                    std::sin(2 * std::numbers::pi * (220 + 110 * c + 55 * std::floor(t * 4)) * t);
            else if (t < 2.5) // the second channel silent; full-scale bursts break the first's tone
                v = c != 0                     ? 0.0
                    : std::fmod(t, 0.1) < 0.01 ? std::clamp(3.0 * white, -1.0, 1.0)
                                               : 0.5 * std::sin(2 * std::numbers::pi * 440 * t);
            else if (t < 3.0) // digital silence
                v = 0;
            else if (t < 4.5) // loud noise and clicks
                v = 0.6 * white + (std::fmod(t, 0.2) < 0.002 ? 0.35 : 0.0);
            else // quiet
                v = 0.003 * std::sin(2 * std::numbers::pi * 1000 * t) + 0.0005 * white;
            s[i * static_cast<size_t>(channels) + static_cast<size_t>(c)] = float(v);
        }
    }
    return s;
}

struct FileFacts {
    int packetSize = 0;
    int blockAlign = 0;
    int sampleRate = 0;
    int channels = 0;
    int headerBitRate = 0;
    uint16_t flags = 0;
    std::vector<QByteArray> superframes;
    bool index = false;
};

// Checks the packet layout while reading the superframes out.
void readFile(const QString &path, FileFacts &f)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray d = file.readAll();
    const auto headerSize = qsizetype(le(d, 16, 8));
    for (qsizetype at = 30; at + 24 <= headerSize;) {
        if (isGuid(d, at, "a1dcab8c47a9cf118ee400c00c205365")) { // file properties
            f.packetSize = int(le(d, at + 92, 4));
            QCOMPARE(int(le(d, at + 96, 4)), f.packetSize);
        }
        if (isGuid(d, at, "9107dcb7b7a9cf118ee600c00c205365")) { // stream properties
            const qsizetype w = at + 78;
            f.channels = int(le(d, w + 2, 2));
            f.sampleRate = int(le(d, w + 4, 4));
            f.headerBitRate = int(le(d, w + 8, 4)) * 8;
            f.blockAlign = int(le(d, w + 12, 2));
            f.flags = uint16_t(le(d, w + 18 + 4, 2));
        }
        at += qsizetype(le(d, at + 16, 8));
    }
    QVERIFY(isGuid(d, headerSize, "3626b2758e66cf11a6d900aa0062ce6c"));
    const qsizetype dataEnd = headerSize + qsizetype(le(d, headerSize + 16, 8));
    // One superframe a packet, exactly filling it, each a whole media object.
    QCOMPARE(f.packetSize, f.blockAlign + 26);
    std::optional<uint64_t> object;
    for (qsizetype at = headerSize + 50; at < dataEnd; at += f.packetSize) {
        QCOMPARE(uint8_t(d[at]), uint8_t(0x82));
        const unsigned flags = uint8_t(d[at + 3]), property = uint8_t(d[at + 4]);
        QCOMPARE(flags & 1u, 0u); // a single payload
        qsizetype p = at + 5;
        p += fieldSize((flags >> 5) & 3) + fieldSize((flags >> 1) & 3); // packet length, sequence
        QCOMPARE(le(d, p, fieldSize((flags >> 3) & 3)), uint64_t(0));   // no padding
        p += fieldSize((flags >> 3) & 3) + 6;                           // padding, send time, duration
        ++p;                                                            // stream number
        const int objectBytes = fieldSize((property >> 4) & 3);
        const uint64_t number = le(d, p, objectBytes);
        if (object) // one media object a packet, numbered on
            QCOMPARE(number, (*object + 1) & ((uint64_t(1) << (8 * objectBytes)) - 1));
        object = number;
        p += objectBytes;
        QCOMPARE(le(d, p, fieldSize((property >> 2) & 3)), uint64_t(0)); // not a fragment
        p += fieldSize((property >> 2) & 3);
        const auto replicated = qsizetype(le(d, p, fieldSize(property & 3)));
        p += fieldSize(property & 3) + replicated;
        QCOMPARE(int(at + f.packetSize - p), f.blockAlign);
        f.superframes.push_back(d.mid(p, f.blockAlign));
    }
    f.index = isGuid(d, dataEnd, "90080033b1e5cf1189f400a0c90349cb");
}

} // namespace

class TestPlayerLayout : public QObject {
    Q_OBJECT
private slots:
    void everyLossyProfile_data();
    void everyLossyProfile();
};

void TestPlayerLayout::everyLossyProfile_data()
{
    QTest::addColumn<int>("number");
    for (int n = 1; n <= kWmaProfileCount; ++n)
        if (wmaProfileByNumber(n)->rateControl != WmaProfile::RateControl::Lossless)
            QTest::newRow(wmaProfileByNumber(n)->text) << n;
}

void TestPlayerLayout::everyLossyProfile()
{
    QFETCH(int, number);
    const WmaProfile &profile = *wmaProfileByNumber(number);
    // Long enough for the rate to settle: the file's fixed costs are paid back over its first half minute.
    const bool cbr = profile.rateControl == WmaProfile::RateControl::Cbr;
    const double seconds = cbr ? 30.0 : 6.0;
    QTemporaryDir dir;
    const QString path = dir.filePath("out.wma");
    {
        AudioWriter writer;
        QVERIFY(writer.setProfile(number).ok);
        QVERIFY(writer.setSourceFormat(profile.sampleRate, profile.channels).ok);
        QVERIFY(writer.create(path).ok);
        QVERIFY(writer.write(source(profile.sampleRate, profile.channels, seconds)).ok);
        QVERIFY(writer.close().ok);
    }
    FileFacts f;
    readFile(path, f);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(f.index);

    const wmastd::StreamLayout layout =
        wmastd::makeStreamLayout(f.sampleRate, f.channels, f.headerBitRate, (f.flags >> 3) & 3);
    QCOMPARE(layout.flags, f.flags);
    const int headerBits = 4 + 4 + layout.byteOffsetBits + 3;
    int lowest = 0, highest = 0, parsed = 0, uncoded = 0, ownShortCurves = 0;
    double worstQuotient = 0;
    for (const QByteArray &superframe : f.superframes) {
        // The first frame that starts in each superframe, and its first block.
        BitReader in(superframe);
        in.get(4);
        const int frames = int(in.get(4));
        const int offset = int(in.get(layout.byteOffsetBits + 3));
        // After the first, a superframe's count includes the frame it ends.
        const bool first = &superframe == &f.superframes.front();
        if (frames - (first ? 0 : 1) <= 0 || headerBits + offset >= superframe.size() * 8 - 8)
            continue;
        in.seek(headerBits + offset);
        int size = 0;
        if (layout.blockSizes > 1) {
            in.get(layout.blockSizeBits); // previous
            size = int(in.get(layout.blockSizeBits));
            in.get(layout.blockSizeBits); // next
        }
        const wmastd::BlockLayout &block = layout.blocks[static_cast<size_t>(size)];
        const bool midSide = layout.channels == 2 && in.get(1);
        std::vector<bool> coded;
        for (int c = 0; c < layout.channels; ++c)
            coded.push_back(in.get(1));
        // Coded or not, a channel must play alike in every decoder: only a
        // side channel beside a coded mid may be left out.
        for (int c = 0; c < layout.channels; ++c)
            if (!coded[static_cast<size_t>(c)] && !(midSide && c == 1 && coded[0]))
                ++uncoded;
        if (!coded[0] && (layout.channels == 1 || !coded[1]))
            continue;
        int gain = 1;
        for (uint32_t a = 127; a == 127; gain += int(a))
            a = in.get(7);
        // Under noise coding fixed-point decoders hold a step in 17 integer bits.
        QVERIFY(!layout.noiseCoding || std::pow(10.0, gain / 20.0) * 2.0 / block.length < 131072.0);
        bool noiseBands = false;
        if (layout.noiseCoding)
            for (int c = 0; c < layout.channels; ++c)
                if (coded[static_cast<size_t>(c)])
                    noiseBands = in.get(int(block.highBands.size())) != 0 || noiseBands;
        if (noiseBands) // noise band gains follow; this block's exponents are not read
            continue;
        if (size > 0) {
            const bool own = in.get(1);
            // Under noise coding decoders disagree on where a short block's
            // own curve lies above the first noise band: a short block keeps
            // the long block's.
            if (own && layout.noiseCoding)
                ++ownShortCurves;
            if (!own)
                continue; // kept from the block before
        }
        for (int c = 0; c < layout.channels; ++c) {
            if (!coded[static_cast<size_t>(c)])
                continue;
            int e = 36, top = -1000;
            for (size_t b = 0; b < block.exponentBands.size(); ++b) {
                const std::optional<int> delta = in.delta();
                QVERIFY(delta);
                e += *delta;
                lowest = std::min(lowest, e);
                highest = std::max(highest, e);
                top = std::max(top, e);
            }
            // The fixed-point decoder's step over its loudest exponent, in its units.
            const double quotient =
                65536.0 * std::pow(10.0, gain / 20.0) * 2.0 / block.length / std::pow(10.0, (top + 1) / 16.0);
            if (top < 67)
                worstQuotient = std::max(worstQuotient, quotient);
            QVERIFY2(gain <= 199, qPrintable(QString::number(gain)));
        }
        ++parsed;
    }
    QVERIFY2(parsed * 2 > int(f.superframes.size()), qPrintable(QString::number(parsed)));
    QVERIFY2(lowest >= -60 && highest <= 67, qPrintable(QStringLiteral("%1..%2").arg(lowest).arg(highest)));
    // Noise coding scales its noise by the quotient shifted 16 bits further,
    // held in 32 bits: a 16 times shorter block keeping the curve, and a
    // coarser gain, must still fit.
    const double quotientLimit = layout.noiseCoding ? 65536.0 * 8192.0 / 16.0 : 131072.0;
    QVERIFY2(worstQuotient <= quotientLimit * 1.001, qPrintable(QString::number(worstQuotient)));
    QCOMPARE(uncoded, 0);
    QCOMPARE(ownShortCurves, 0);

    // The file's rate, header and index included.
    if (cbr) {
        const double rate = 8.0 * double(QFileInfo(path).size()) / seconds;
        QVERIFY2(std::abs(rate / (profile.bitRateKbps * 1000.0) - 1.0) <= 0.02,
                 qPrintable(QString::number(rate)));
    }
}

QTEST_GUILESS_MAIN(TestPlayerLayout)
#include "tst_playerlayout.moc"
