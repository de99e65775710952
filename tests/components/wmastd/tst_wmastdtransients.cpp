// Tones and transients through the encoder and libavcodec's decoder.
#include "wmadecoder.h"
#include "wmaprofiles.h"
#include "wmastdencoder.h"
#include "wmastdoutputencoder.h"

#include <QtTest>

#include <cmath>
#include <numbers>

class TestWmaStdTransients : public QObject {
    Q_OBJECT
private slots:
    void noiseStaysOffTheSilence_data();
    void noiseStaysOffTheSilence();
};

void TestWmaStdTransients::noiseStaysOffTheSilence_data()
{
    QTest::addColumn<int>("profile");
    QTest::addColumn<double>("hz");      // a -6 dBFS tone, or 0: clicks over a faint hiss
    QTest::addColumn<double>("limitDb"); // the error's peak 5-20 ms before each click; the tone's noise
    QTest::addRow("320 kbps clicks") << 6 << 0.0 << -50.0;
    QTest::addRow("128 kbps clicks") << 10 << 0.0 << -45.0;
    QTest::addRow("48 kHz 64 kbps clicks") << 5 << 0.0 << -40.0;
    QTest::addRow("22 kHz 20 kbps clicks") << 25 << 0.0 << -30.0;
    QTest::addRow("quality 75 clicks") << 43 << 0.0 << -45.0;
    // Below 100 Hz the ear passes little of a tone on: it hides little of the noise above it.
    QTest::addRow("128 kbps 40 Hz") << 10 << 40.0 << -30.0;
    QTest::addRow("quality 90 40 Hz") << 42 << 40.0 << -30.0;
}

void TestWmaStdTransients::noiseStaysOffTheSilence()
{
    QFETCH(int, profile);
    QFETCH(double, hz);
    QFETCH(double, limitDb);
    const WmaProfile &p = *wmaProfileByNumber(profile);
    const int rate = p.sampleRate, spacing = rate / 5;
    // Decaying noise bursts, each at another place in the frame (one at its
    // start, one just after its middle), or the tone.
    std::vector<int> clicks;
    for (int offset : {0, 17, 60, 130, 500, 1030, 1100, 2000})
        clicks.push_back(spacing * int(clicks.size() + 1) + offset * rate / 44100);
    std::vector<float> source(size_t(spacing) * 10);
    uint32_t seed = 3;
    const auto noise = [&seed] {
        return float((seed = seed * 1664525u + 1013904223u) >> 8) / 16777216.0f - 0.5f;
    };
    for (size_t i = 0; i < source.size(); ++i)
        source[i] =
            hz > 0 ? float(0.5 * std::sin(2 * std::numbers::pi * hz * double(i) / rate)) : 0.001f * noise();
    for (int at : clicks)
        for (int i = 0; hz == 0 && i < rate / 30; ++i)
            source[size_t(at + i)] += 0.7f * float(std::exp(-200.0 * i / rate)) * noise();

    const auto owned =
        WmaStdEncoder::create(wmaStdParams({rate, p.channels, p.bitRateKbps * 1000, p.quality})).encoder;
    QVERIFY(owned);
    WmaStdEncoder &encoder = *owned;
    std::vector<float> interleaved;
    for (float v : source)
        interleaved.insert(interleaved.end(), size_t(p.channels), v);
    std::vector<std::vector<uint8_t>> packets;
    for (auto list : {encoder.encode(interleaved.data(), int(source.size())), encoder.flush()})
        for (WmaStdPacket &packet : list)
            packets.push_back(std::move(packet.data));
    const DecodeResult decoded =
        decodeWma(packets, encoder.extradata(), rate, p.channels, encoder.bitRate(), encoder.blockAlign());
    QVERIFY(decoded.samples.size() >= interleaved.size());
    const auto error = [&](size_t i) { return double(decoded.samples[i * size_t(p.channels)]) - source[i]; };
    if (hz > 0) { // over the steady part, relative to the tone
        double power = 0;
        for (size_t i = size_t(rate); i < source.size() - size_t(rate / 2); ++i)
            power += error(i) * error(i) / (0.125 * double(source.size() - size_t(rate * 3 / 2)));
        QVERIFY2(10 * std::log10(power) <= limitDb, qPrintable(QString::number(10 * std::log10(power))));
    }
    for (int at : clicks) {
        double peak = 1e-9;
        for (int i = at - rate / 50; hz == 0 && i < at - rate / 200; ++i)
            peak = std::max(peak, std::abs(error(size_t(i))));
        QVERIFY2(20 * std::log10(peak) <= limitDb,
                 qPrintable(QStringLiteral("%1: %2").arg(at).arg(20 * std::log10(peak))));
    }
}

QTEST_GUILESS_MAIN(TestWmaStdTransients)
#include "tst_wmastdtransients.moc"
