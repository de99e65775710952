#include "pcmdecoder.h"
#include "vectorpaths.h"
#include "wmalosslessasf.h"
#include "wmalosslessencoder.h"
#include "wmalosslesslayout.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

enum class Signal {
    Silence,
    Square,
    Noise,
    Sine60,
    Music,
    LeftRight,
    MonoUpmix,
    OppositeSquare,
    NoiseSilenceSweep
};

QVector<qint16> makeSignal(Signal kind, int frames, int channels = 2, int rate = 44100)
{
    QVector<qint16> out(qsizetype(frames) * channels);
    quint32 seed = 12345;
    auto noise = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<qint16>(seed >> 16);
    };
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        for (int c = 0; c < channels; ++c) {
            double v = 0;
            switch (kind) {
            case Signal::Silence:
                v = 0;
                break;
            case Signal::Square:
                v = (i / 50) % 2 ? 32767 : -32768;
                break;
            case Signal::Noise:
                v = noise();
                break;
            case Signal::Sine60:
                v = 30000 * std::sin(2 * M_PI * 60 * t);
                break;
            case Signal::Music:
            case Signal::MonoUpmix: {
                const double env = 0.6 + 0.4 * std::sin(2 * M_PI * 0.5 * t);
                v = env * (9000 * std::sin(2 * M_PI * 220 * t) + 5000 * std::sin(2 * M_PI * 330.7 * t) +
                           3000 * std::sin(2 * M_PI * 1760 * t + c * 0.3 * (kind == Signal::Music))) +
                    noise() / 64.0;
                break;
            }
            case Signal::OppositeSquare: // the widest side signal mid/side can meet
                v = ((i / 50) % 2 ? 32767 : -32768) * (c == 0 ? 1 : -1);
                break;
            case Signal::LeftRight:
                v = c == 0 ? 20000 * std::sin(2 * M_PI * 440 * t) : noise() / 4.0;
                break;
            case Signal::NoiseSilenceSweep: { // thirds: full-scale noise with left = right, silence, a sweep
                const int third = i * 3 / frames;
                const double s = double(frames) / rate / 3, u = t - 2 * s;
                v = third == 0   ? (c == 0 ? noise() : out[qsizetype(i) * channels])
                    : third == 1 ? 0
                                 : 16384 * std::sin(2 * M_PI * 20 * s / 7 * (std::exp(7 * u / s) - 1));
                break;
            }
            }
            if (kind == Signal::MonoUpmix && c == 1)
                v = out[qsizetype(i) * channels];
            out[qsizetype(i) * channels + c] =
                static_cast<qint16>(std::clamp(std::lround(v), -32768L, 32767L));
        }
    }
    return out;
}

template <typename Sample> QByteArray encodedBytes(const Sample *interleaved, int frames)
{
    WmaLosslessEncoder encoder;
    QByteArray out;
    for (const WmaLosslessPacket &packet : encoder.encode(interleaved, frames))
        out.append(reinterpret_cast<const char *>(packet.data.data()), qsizetype(packet.data.size()));
    for (const WmaLosslessPacket &packet : encoder.flush())
        out.append(reinterpret_cast<const char *>(packet.data.data()), qsizetype(packet.data.size()));
    return out;
}

QByteArray md5(const qint16 *data, qsizetype count)
{
    return QCryptographicHash::hash(
        QByteArrayView(reinterpret_cast<const char *>(data), count * qsizetype(sizeof(qint16))),
        QCryptographicHash::Md5);
}

WmaLosslessSettings rawOnly()
{
    WmaLosslessSettings settings;
    settings.compress = false;
    return settings;
}

} // namespace

class TestWmaLossless : public QObject {
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void endsExactlyOnPacketBoundary();
    void packetsAreFixedSizeAndTimed();
    void containerReportsSourceDuration();
    void decoderResumesAfterSeek();
    void noiseStaysNearRawSize();
    void layoutSuitsTheSource_data();
    void layoutSuitsTheSource();
    void compressesMusic();
    void ffmpegCommandLineDecodesIt_data();
    void ffmpegCommandLineDecodesIt();
    void rejectsUnsupportedInput();
    void floatInputCodesAsItsPcm16_data();
    void floatInputCodesAsItsPcm16();
    void incompressibleFramesStayDecodable_data();
    void incompressibleFramesStayDecodable();
    void baselinePathsGiveTheSameBits();

private:
    QTemporaryDir m_dir;
};

void TestWmaLossless::roundTrip_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("frames");
    QTest::addColumn<bool>("compress");
    QTest::addColumn<qint64>("maxBytes"); // 0: any size
    const QList<QPair<const char *, Signal>> m_signals{{"silence", Signal::Silence},
                                                       {"square", Signal::Square},
                                                       {"noise", Signal::Noise},
                                                       {"sine60", Signal::Sine60},
                                                       {"music", Signal::Music},
                                                       {"left-right", Signal::LeftRight},
                                                       {"mono-upmix", Signal::MonoUpmix},
                                                       {"opposite-square", Signal::OppositeSquare},
                                                       {"noise-silence-sweep", Signal::NoiseSilenceSweep}};
    for (const auto &[name, kind] : m_signals) {
        for (int frames : {1, 2047, 2048, 2049, 100000}) {
            for (bool compress : {false, true}) {
                QTest::addRow("%s-%d-%s", name, frames, compress ? "lms" : "raw")
                    << int(kind) << frames << compress << qint64(0);
            }
        }
    }
    // Ten minutes of digital silence: a few bits a frame; the container's
    // packets make most of the file, under 0.2% of the PCM (FLAC's is 0.1%).
    QTest::addRow("silence-10min-lms")
        << int(Signal::Silence) << 44100 * 600 << true << qint64(44100 * 600 * 4 / 500);
}

void TestWmaLossless::roundTrip()
{
    QFETCH(int, signal);
    QFETCH(int, frames);
    QFETCH(bool, compress);
    QFETCH(qint64, maxBytes);
    const QVector<qint16> pcm = makeSignal(Signal(signal), frames);
    const QString path =
        m_dir.filePath(QStringLiteral("rt-%1-%2-%3.wma").arg(signal).arg(frames).arg(compress));
    const Result<> written = writeWmaLosslessAsf(path, pcm.constData(), frames, 44100, 2,
                                                 compress ? WmaLosslessSettings() : rawOnly());
    QVERIFY2(written, qPrintable(written.reason()));
    const DecodedAudio decoded = decodeWithLibav(path);
    QVERIFY2(decoded.ok, qPrintable(decoded.error));
    QCOMPARE(decoded.codecName, QStringLiteral("wmalossless"));
    QCOMPARE(decoded.sampleRate, 44100);
    QCOMPARE(decoded.channels, 2);
    QCOMPARE(decoded.samples.size(), pcm.size());
    QCOMPARE(md5(decoded.samples.constData(), decoded.samples.size()), md5(pcm.constData(), pcm.size()));
    if (maxBytes > 0)
        QVERIFY2(QFileInfo(path).size() <= maxBytes, qPrintable(QString::number(QFileInfo(path).size())));
}

// Faint noise makes frames of some hundred bits, so now and then one finishes
// on the last bit of a packet. Cut there, the stream ends exactly on a packet
// boundary: the decoder must neither lose the last frame nor invent one after
// it. Three frames more test the same boundary in mid-stream.
void TestWmaLossless::endsExactlyOnPacketBoundary()
{
    const int rate = 8000;
    const int frameSize = WmaLosslessEncoder(rate, 1).frameSize();
    QVector<qint16> faint(frameSize * 6000);
    quint32 seed = 1;
    for (qint16 &v : faint) {
        seed = seed * 1664525u + 1013904223u;
        v = qint16(int(seed >> 30) - 2);
    }
    qint64 end = 0;
    WmaLosslessSettings settings;
    for (int extra = 0; extra < 64 && end == 0; extra += 8) {
        settings.blockAlign = WmaLosslessEncoder(rate, 1).blockAlign() + extra;
        WmaLosslessEncoder encoder(rate, 1, settings);
        encoder.encode(faint.constData(), int(faint.size()));
        encoder.flush();
        if (!encoder.exactPacketEnds().empty())
            end = encoder.exactPacketEnds().front();
    }
    QVERIFY(end > 0);
    for (qint64 length : {end, end + 3 * frameSize}) {
        WmaLosslessEncoder encoder(rate, 1, settings);
        encoder.encode(faint.constData(), int(length));
        encoder.flush();
        const std::vector<int64_t> ends = encoder.exactPacketEnds();
        QVERIFY(!ends.empty());
        QCOMPARE(ends.front(), end);
        const QString path = m_dir.filePath(QStringLiteral("boundary-%1.wma").arg(length));
        const Result<> written = writeWmaLosslessAsf(path, faint.constData(), length, rate, 1, settings);
        QVERIFY2(written, qPrintable(written.reason()));
        const DecodedAudio decoded = decodeWithLibav(path);
        QVERIFY2(decoded.ok, qPrintable(decoded.error));
        QCOMPARE(decoded.samples.size(), qsizetype(length));
        QCOMPARE(md5(decoded.samples.constData(), decoded.samples.size()), md5(faint.constData(), length));
    }
}

void TestWmaLossless::packetsAreFixedSizeAndTimed()
{
    const int frames = 44100 * 3 + 77;
    const QVector<qint16> pcm = makeSignal(Signal::Music, frames);
    WmaLosslessEncoder encoder;
    std::vector<WmaLosslessPacket> packets = encoder.encode(pcm.constData(), frames);
    for (WmaLosslessPacket &packet : encoder.flush())
        packets.push_back(std::move(packet));
    QVERIFY(!packets.empty());
    qint64 expectedPts = 0;
    for (const WmaLosslessPacket &packet : packets) {
        QVERIFY(packet.data.size() <= size_t(encoder.blockAlign()));
        QCOMPARE(packet.pts, expectedPts);
        QVERIFY(packet.duration > 0 || &packet == &packets.front()); // the first comes out with the second
        expectedPts += packet.duration;
        // Packet sequence numbers count up modulo 16.
        QCOMPARE((uchar(packet.data[0]) >> 4), int(&packet - packets.data()) % 16);
    }
    QCOMPARE(expectedPts, qint64(frames));
    QCOMPARE(encoder.extradata().size(), 18);
}

void TestWmaLossless::containerReportsSourceDuration()
{
    const int frames = 44100 * 3 + 441; // 3.01 s, the last frame cut short
    const QVector<qint16> pcm = makeSignal(Signal::Sine60, frames);
    const QString path = m_dir.filePath(QStringLiteral("duration.wma"));
    QVERIFY(writeWmaLosslessAsf(path, pcm.constData(), frames, 44100, 2));
    const DecodedAudio decoded = decodeWithLibav(path);
    QVERIFY2(decoded.ok, qPrintable(decoded.error));
    QCOMPARE(decoded.codecName, QStringLiteral("wmalossless"));
    QVERIFY2(std::abs(decoded.durationSeconds - 3.01) < 0.002,
             qPrintable(QString::number(decoded.durationSeconds)));
}

// The decoder drops what it holds on a seek and resumes at the first tile
// that resets the predictors: the first begun in each packet. So it resumes
// no later than a packet after the requested time, and the time stamp of
// what comes out says where it is (to the container's millisecond).
void TestWmaLossless::decoderResumesAfterSeek()
{
    const int rate = 44100, frames = rate * 10;
    const QVector<qint16> pcm = makeSignal(Signal::Music, frames);
    const QString path = m_dir.filePath(QStringLiteral("seek.wma"));
    QVERIFY(writeWmaLosslessAsf(path, pcm.constData(), frames, rate, 2));
    for (double at : {2.5, 5.0, 7.3}) {
        const DecodedAudio decoded = decodeWithLibav(path, at);
        QVERIFY2(decoded.ok, qPrintable(decoded.error));
        const qsizetype tail = decoded.samples.size();
        QVERIFY(tail > 0 && tail <= pcm.size());
        QVERIFY(std::equal(decoded.samples.begin(), decoded.samples.end(), pcm.end() - tail));
        const double start = double(frames - tail / 2);
        QVERIFY2(std::abs(decoded.firstSeconds * rate - start) <= rate / 1000 + 1,
                 qPrintable(QStringLiteral("%1 s stamped %2 s").arg(start / rate).arg(decoded.firstSeconds)));
        // Packets of this music hold about two frames.
        QVERIFY2(start <= at * rate + 2 * WmaLosslessEncoder().frameSize(),
                 qPrintable(QStringLiteral("%1 s for %2 s").arg(start / rate).arg(at)));
    }
}

// Noise cannot be predicted; its tiles fall back to raw samples and the file
// stays within half a percent of the PCM it holds.
void TestWmaLossless::noiseStaysNearRawSize()
{
    const int frames = 44100 * 60;
    const QVector<qint16> pcm = makeSignal(Signal::Noise, frames);
    const QString path = m_dir.filePath(QStringLiteral("noise.wma"));
    // Packets sized for it: few headers, and the last one filled.
    std::vector<float> samples(pcm.begin(), pcm.end());
    for (float &v : samples)
        v /= 32768.0f;
    const wmalossless::StreamLayout layout = wmalossless::layoutFor(
        44100, 2, frames, wmalossless::estimateSource(samples.data(), frames, 2).bitsPerSample);
    WmaLosslessSettings settings;
    settings.frameShift = layout.frameShift;
    settings.blockAlign = layout.blockAlign;
    QVERIFY(writeWmaLosslessAsf(path, pcm.constData(), frames, 44100, 2, settings));
    const qint64 rawBytes = qint64(frames) * 4;
    const qint64 size = QFileInfo(path).size();
    QVERIFY2(size <= rawBytes * 10015 / 10000,
             qPrintable(QStringLiteral("%1 vs %2").arg(size).arg(rawBytes)));
}

// Silence gets the smallest packets (its file is one padded packet), a long
// incompressible stream large ones, each within what the decoder's buffer
// takes at its rate and channel count.
void TestWmaLossless::layoutSuitsTheSource_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<double>("bits");
    QTest::addColumn<int>("least");
    QTest::addColumn<int>("most");
    // Silence takes the shortest frames and packets of one raw frame.
    QTest::newRow("10 s silence") << 44100 << 2 << 10 << 0.0 << 0 << 2400;
    QTest::newRow("10 min silence") << 44100 << 2 << 600 << 0.0 << 0 << 2400;
    QTest::newRow("2 s silence, mono 8 kHz") << 8000 << 1 << 2 << 0.0 << 0 << 600;
    // Noise takes packets as large as the decoder's buffer allows.
    QTest::newRow("10 s noise") << 44100 << 2 << 10 << 16.0 << 16000 << 24576;
    QTest::newRow("10 min noise") << 44100 << 2 << 600 << 16.0 << 40000 << 49152;
    QTest::newRow("10 min noise, mono") << 44100 << 1 << 600 << 16.0 << 20000 << 24576;
    QTest::newRow("10 min noise, 96 kHz") << 96000 << 2 << 600 << 16.0 << 40000 << 49152;
    QTest::newRow("10 min of music") << 44100 << 2 << 600 << 10.0 << 20000 << 24576;
}

void TestWmaLossless::layoutSuitsTheSource()
{
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(int, seconds);
    QFETCH(double, bits);
    QFETCH(int, least);
    QFETCH(int, most);
    const wmalossless::StreamLayout layout =
        wmalossless::layoutFor(rate, channels, qint64(seconds) * rate, bits, bits > 15);
    QVERIFY2(layout.blockAlign >= least && layout.blockAlign <= most,
             qPrintable(QString::number(layout.blockAlign)));
    QVERIFY(layout.frameShift < 1 || wmalossless::longFramesFit(rate, channels, layout.blockAlign));
    // The largest packets of incompressible frames, and coded short frames, still decode.
    const int frames = rate / 2;
    const QVector<qint16> pcm = makeSignal(bits > 8 ? Signal::Noise : Signal::Music, frames, channels, rate);
    WmaLosslessSettings settings;
    settings.frameShift = layout.frameShift;
    settings.blockAlign = layout.blockAlign;
    const QString path = m_dir.filePath(QStringLiteral("layout.wma"));
    QFile::remove(path);
    QVERIFY(writeWmaLosslessAsf(path, pcm.constData(), frames, rate, channels, settings));
    const DecodedAudio decoded = decodeWithLibav(path);
    QVERIFY2(decoded.ok, qPrintable(decoded.error));
    QVERIFY(decoded.samples == pcm);
}

void TestWmaLossless::compressesMusic()
{
    const int frames = 44100 * 5;
    const QVector<qint16> mono = makeSignal(Signal::MonoUpmix, frames);
    const QVector<qint16> music = makeSignal(Signal::Music, frames);
    // Both carry about 9 bits of noise per sample; identical channels cost one.
    const QList<QPair<const QVector<qint16> *, double>> cases{{&mono, 0.45}, {&music, 0.75}};
    for (const auto &[pcm, ratio] : cases) {
        WmaLosslessEncoder encoder;
        qint64 bytes = 0;
        for (const WmaLosslessPacket &p : encoder.encode(pcm->constData(), frames))
            bytes += p.data.size();
        for (const WmaLosslessPacket &p : encoder.flush())
            bytes += p.data.size();
        QVERIFY2(bytes < qint64(frames) * 4 * ratio, qPrintable(QString::number(bytes)));
    }
}

// FFmpeg's own tool gives the input back and says nothing, time stamps included
// (it once warned of dts going backwards, and of frames piling up after a
// packet that held seconds of silence).
void TestWmaLossless::ffmpegCommandLineDecodesIt_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("frames");
    QTest::newRow("left-right") << int(Signal::LeftRight) << 44100 * 2 + 2049;
    QTest::newRow("noise-silence-sweep") << int(Signal::NoiseSilenceSweep) << 44100 * 9;
    QTest::newRow("silence") << int(Signal::Silence) << 44100 * 30;
}

void TestWmaLossless::ffmpegCommandLineDecodesIt()
{
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty())
        QSKIP("ffmpeg command-line tool not installed");
    QFETCH(int, signal);
    QFETCH(int, frames);
    const QVector<qint16> pcm = makeSignal(Signal(signal), frames);
    const QString path = m_dir.filePath(QStringLiteral("cli-%1.wma").arg(signal));
    QVERIFY(writeWmaLosslessAsf(path, pcm.constData(), frames, 44100, 2));
    QProcess process;
    process.start(ffmpeg, {"-v", "warning", "-i", path, "-f", "s16le", "-acodec", "pcm_s16le", "-"});
    QVERIFY(process.waitForFinished(60000));
    const QByteArray out = process.readAllStandardOutput();
    QCOMPARE(QString::fromUtf8(process.readAllStandardError()), QString());
    QCOMPARE(out.size(), pcm.size() * qsizetype(sizeof(qint16)));
    QCOMPARE(QCryptographicHash::hash(out, QCryptographicHash::Md5), md5(pcm.constData(), pcm.size()));
}

void TestWmaLossless::rejectsUnsupportedInput()
{
    const QVector<qint16> pcm(300, 0);
    const Result<> threeChannels =
        writeWmaLosslessAsf(m_dir.filePath("bad.wma"), pcm.constData(), 100, 44100, 3);
    QVERIFY(!threeChannels);
    QVERIFY(!threeChannels.reason().isEmpty());
    QVERIFY(!writeWmaLosslessAsf(m_dir.filePath("bad2.wma"), nullptr, 100, 44100, 2));
}

// Noise leaves every frame raw: at the highest rates a frame must still fit
// the decoders' 32,768-byte frame buffer.
void TestWmaLossless::incompressibleFramesStayDecodable_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    for (int rate : {48000, 88200, 96000})
        for (int channels : {1, 2})
            QTest::addRow("%d-%d", rate, channels) << rate << channels;
}

void TestWmaLossless::incompressibleFramesStayDecodable()
{
    QFETCH(int, rate);
    QFETCH(int, channels);
    const int frames = rate / 2;
    const QVector<qint16> pcm = makeSignal(Signal::Noise, frames, channels, rate);
    const QString path = m_dir.filePath(QStringLiteral("noise-%1-%2.wma").arg(rate).arg(channels));
    const Result<> written = writeWmaLosslessAsf(path, pcm.constData(), frames, rate, channels);
    QVERIFY2(written, qPrintable(written.reason()));
    const DecodedAudio decoded = decodeWithLibav(path);
    QVERIFY2(decoded.ok, qPrintable(decoded.error));
    QCOMPARE(decoded.sampleRate, rate);
    QCOMPARE(decoded.samples.size(), pcm.size());
    QVERIFY(decoded.samples == pcm);
}

// Float samples are rounded to the nearest 16-bit value (ties to even),
// clipped at full scale, NaN taken as silence: the stream must be the one
// those 16-bit samples make.
void TestWmaLossless::floatInputCodesAsItsPcm16_data()
{
    QTest::addColumn<float>("offset"); // added to every exact sample, in 16-bit steps
    QTest::addColumn<float>("scale");
    QTest::addColumn<float>("special"); // every 7th sample, when not 0
    QTest::addRow("exact") << 0.0f << 1.0f << 0.0f;
    QTest::addRow("ties to even") << 0.5f << 1.0f << 0.0f;
    QTest::addRow("near ties") << 0.49f << 1.0f << 0.0f;
    QTest::addRow("beyond full scale") << 0.0f << 3.0f << 0.0f;
    QTest::addRow("NaN") << 0.0f << 1.0f << std::numeric_limits<float>::quiet_NaN();
    QTest::addRow("infinity") << 0.0f << 1.0f << -std::numeric_limits<float>::infinity();
}

void TestWmaLossless::floatInputCodesAsItsPcm16()
{
    QFETCH(float, offset);
    QFETCH(float, scale);
    QFETCH(float, special);
    const int frames = 3 * 4096 + 11;
    const QVector<qint16> source = makeSignal(Signal::Music, frames);
    std::vector<float> in(source.size());
    QVector<qint16> expected(source.size());
    for (qsizetype i = 0; i < source.size(); ++i) {
        in[i] = float((source[i] * double(scale) + offset) / 32768.0);
        expected[i] = qint16(std::clamp(std::nearbyint(double(in[i]) * 32768.0), -32768.0, 32767.0));
        if (special != 0 && i % 7 == 0) {
            in[i] = special;
            expected[i] = std::isnan(special) ? 0 : special > 0 ? 32767 : -32768;
        }
    }
    QCOMPARE(encodedBytes(in.data(), frames), encodedBytes(expected.constData(), frames));
}

QTEST_GUILESS_MAIN(TestWmaLossless)
// Processors without AVX2 or BMI2 take the baseline loops: they must write
// the very bits the wide ones do.
void TestWmaLossless::baselinePathsGiveTheSameBits()
{
    for (const Signal kind : {Signal::Music, Signal::NoiseSilenceSweep}) {
        const int frames = 100000;
        const QVector<qint16> pcm = makeSignal(kind, frames);
        QByteArray bytes[2];
        for (const bool wide : {true, false}) {
            wmalossless::allowWideVectorPaths(wide);
            const QString path = m_dir.filePath(QStringLiteral("paths-%1-%2.wma").arg(int(kind)).arg(wide));
            const Result<> written = writeWmaLosslessAsf(path, pcm.constData(), frames, 44100, 2);
            wmalossless::allowWideVectorPaths(true);
            QVERIFY2(written, qPrintable(written.reason()));
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            bytes[wide] = file.readAll();
        }
        QVERIFY(!bytes[0].isEmpty());
        QVERIFY(bytes[0] == bytes[1]);
    }
}

#include "tst_wmalossless.moc"
