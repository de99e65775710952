#include "audiowriter.h"
#include "wmadecoder.h"
#include "wmaprofiles.h"
#include "bitwriter.h"
#include "wmastdencoder.h"
#include "wmastdmdct.h"
#include "wmastdoutputencoder.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <numbers>

namespace {

// The encoder as the writer sets it up.
std::unique_ptr<WmaStdEncoder> encoderFor(int sampleRate, int channels, int bitRate, int quality)
{
    return WmaStdEncoder::create(wmaStdParams({sampleRate, channels, bitRate, quality})).encoder;
}

enum class Signal { Music, Silence, Square, Click, Opposite, Onset, Sweep };

// Interleaved test signal; the music is a few decaying notes with harmonics over soft noise.
std::vector<float> makeSignal(Signal kind, int frames, int channels, int rate)
{
    std::vector<float> out(size_t(frames) * size_t(channels));
    uint32_t seed = 1;
    double phase = 0;
    const double pi = std::numbers::pi;
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        double v = 0;
        switch (kind) {
        case Signal::Music: {
            const double note = std::fmod(t, 0.25);
            const double f0 = 220.0 * std::pow(2.0, double(int(t * 4) % 5) / 12.0);
            for (int h = 1; h <= 6; ++h)
                v += 0.3 / h * std::exp(-note * 6) * std::sin(2 * pi * f0 * h * t);
            seed = seed * 1664525u + 1013904223u;
            v += 0.05 * (double(seed >> 8) / double(1u << 24) - 0.5);
            break;
        }
        case Signal::Silence:
            break;
        case Signal::Square:
            v = (i / 40) % 2 ? 1.0 : -1.0;
            break;
        case Signal::Click:
            v = i == frames / 2 ? 0.9 : 0.0;
            break;
        case Signal::Opposite:
            v = 0.5 * std::sin(2 * pi * 440 * t);
            break;
        case Signal::Sweep: // 20 Hz to 20 kHz
            phase += 2 * pi * 20 * std::pow(1000.0, double(i) / frames) / rate;
            v = 0.485 * std::sin(phase);
            break;
        case Signal::Onset: // a note starting over a loud bass, beside steady hiss
            v = 0.2 * std::sin(2 * pi * 55 * t) +
                (i >= frames / 2 ? 0.05 * std::sin(2 * pi * 2000 * t) : 0.0);
            seed = seed * 1664525u + 1013904223u;
            out[size_t(i) * size_t(channels) + 1] = 0.1f * (float(seed >> 8) / float(1u << 24) - 0.5f);
            out[size_t(i) * size_t(channels)] = float(v);
            continue;
        }
        for (int c = 0; c < channels; ++c)
            out[size_t(i) * size_t(channels) + size_t(c)] =
                float(kind == Signal::Opposite && c == 1 ? -v : v);
    }
    return out;
}

// Correlation of the first channel at a lag, normalised.
double energy(const std::vector<float> &samples)
{
    double sum = 0;
    for (float v : samples)
        sum += double(v) * double(v);
    return sum;
}

double correlation(const std::vector<float> &a, const std::vector<float> &b, int channels, int lag,
                   int ca = 0, int cb = 0)
{
    double ab = 0, aa = 0, bb = 0;
    const size_t frames = std::min(a.size(), b.size()) / size_t(channels);
    for (size_t i = 64; i + 64 < frames; ++i) {
        const double x = a[i * size_t(channels) + size_t(ca)];
        const double y = b[(i + size_t(lag)) * size_t(channels) + size_t(cb)];
        ab += x * y;
        aa += x * x;
        bb += y * y;
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

} // namespace

class TestWmaStd : public QObject {
    Q_OBJECT

private slots:
    void bitWriterKeepsEveryBit();
    void mdctMatchesItsDefinition_data();
    void mdctMatchesItsDefinition();
    void roundTrip_data();
    void roundTrip();
    void writtenFile_data();
    void writtenFile();
    void constantQualityPacksSilenceTighter();
    void extremeInput_data();
    void extremeInput();

private:
    QTemporaryDir m_dir;
};

void TestWmaStd::bitWriterKeepsEveryBit()
{
    // Random widths with noise above them, the bytes read in between, copies
    // from any offset onto any offset: all against a plain list of bits.
    uint32_t seed = 11;
    const auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    const auto packed = [](const std::vector<bool> &bits) {
        std::vector<uint8_t> bytes((bits.size() + 7) / 8, 0);
        for (size_t i = 0; i < bits.size(); ++i)
            bytes[i / 8] |= uint8_t(bits[i] ? 0x80u >> (i % 8) : 0u);
        return bytes;
    };
    const auto put = [&](BitWriter &writer, std::vector<bool> &bits) {
        const int width = int(next() % 33);
        const uint32_t value = next();
        writer.put(value, width);
        for (int k = width - 1; k >= 0; --k)
            bits.push_back((value >> k) & 1u);
    };
    for (int round = 0; round < 40; ++round) {
        BitWriter a, b;
        std::vector<bool> bitsA, bitsB;
        for (int i = 0, n = int(next() % 300); i < n; ++i) {
            put(a, bitsA);
            if (next() % 16 == 0)
                QCOMPARE(a.bytes(), packed(bitsA));
        }
        for (int i = 0, n = int(next() % 4); i < n; ++i)
            put(b, bitsB);
        const size_t from = bitsA.empty() ? 0 : next() % bitsA.size();
        const size_t count = next() % (bitsA.size() - from + 1);
        a.copyTo(b, int64_t(from), int64_t(count));
        bitsB.insert(bitsB.end(), bitsA.begin() + std::ptrdiff_t(from),
                     bitsA.begin() + std::ptrdiff_t(from + count));
        put(b, bitsB);
        QCOMPARE(b.bitCount(), int64_t(bitsB.size()));
        QCOMPARE(b.bytes(), packed(bitsB));
    }
}

void TestWmaStd::mdctMatchesItsDefinition_data()
{
    QTest::addColumn<int>("n");
    for (int n = 128; n <= 2048; n *= 2)
        QTest::addRow("%d", n) << n;
}

void TestWmaStd::mdctMatchesItsDefinition()
{
    // X[k] = sqrt(2/n) sum x[j] cos(pi/n (j + 1/2 + n/2)(k + 1/2)), summed
    // directly; the inverse is its transpose.
    QFETCH(int, n);
    std::vector<double> cosine(size_t(8 * n)); // cos(pi a / 4n) over a whole period
    for (size_t a = 0; a < cosine.size(); ++a)
        cosine[a] = std::cos(std::numbers::pi * double(a) / (4.0 * n));
    const auto basis = [&](int j, int k) {
        return std::sqrt(2.0 / n) * cosine[size_t((2 * j + 1 + n) * (2 * k + 1) % (8 * n))];
    };
    std::vector<float> x = makeSignal(Signal::Music, 2 * n, 1, 44100);
    std::vector<float> coefs(static_cast<size_t>(n)), back(static_cast<size_t>(2 * n));
    wmastd::Mdct mdct(n);
    mdct.forward(x.data(), coefs.data());
    mdct.inverse(coefs.data(), back.data());
    double forwardError = 0, inverseError = 0;
    for (int k = 0; k < n; ++k) {
        double sum = 0;
        for (int j = 0; j < 2 * n; ++j)
            sum += x[size_t(j)] * basis(j, k);
        forwardError = std::max(forwardError, std::abs(sum - coefs[size_t(k)]));
    }
    for (int j = 0; j < 2 * n; ++j) {
        double sum = 0;
        for (int k = 0; k < n; ++k)
            sum += coefs[size_t(k)] * basis(j, k);
        inverseError = std::max(inverseError, std::abs(sum - back[size_t(j)]));
    }
    QVERIFY2(forwardError < 1e-5 && inverseError < 1e-5,
             qPrintable(QStringLiteral("%1 %2").arg(forwardError).arg(inverseError)));
}

void TestWmaStd::roundTrip_data()
{
    QTest::addColumn<int>("profile");
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("frames"); // negative: that many frame lengths, plus one when odd
    for (int n = 1; n <= kWmaProfileCount; ++n)
        if (wmaProfileByNumber(n)->rateControl != WmaProfile::RateControl::Lossless)
            QTest::addRow("%d music", n) << n << int(Signal::Music) << 30000;
    // The edges at the highest and the lowest rate.
    for (int n : {6, 38}) {
        QTest::addRow("%d silence", n) << n << int(Signal::Silence) << 20000;
        QTest::addRow("%d full-scale square", n) << n << int(Signal::Square) << 20000;
        QTest::addRow("%d click", n) << n << int(Signal::Click) << 20000;
        QTest::addRow("%d one sample", n) << n << int(Signal::Music) << 1;
        QTest::addRow("%d one block", n) << n << int(Signal::Music) << -2;
        QTest::addRow("%d one block and one sample", n) << n << int(Signal::Music) << -3;
    }
    QTest::addRow("6 left = -right") << 6 << int(Signal::Opposite) << 20000;
    QTest::addRow("35 left = -right") << 35 << int(Signal::Opposite) << 20000;
    QTest::addRow("10 onset") << 10 << int(Signal::Onset) << 20000;
    QTest::addRow("15 sweep") << 15 << int(Signal::Sweep) << 4 * 44100;
}

void TestWmaStd::roundTrip()
{
    QFETCH(int, profile);
    QFETCH(int, signal);
    QFETCH(int, frames);
    const WmaProfile &p = *wmaProfileByNumber(profile);
    const auto owned = encoderFor(p.sampleRate, p.channels, p.bitRateKbps * 1000, p.quality);
    WmaStdEncoder &encoder = *owned;
    const int n = encoder.frameLength();
    if (frames < 0)
        frames = -frames / 2 * n + (-frames % 2);
    const std::vector<float> source = makeSignal(Signal(signal), frames, p.channels, p.sampleRate);

    std::vector<WmaStdPacket> packets;
    // Uneven pieces, as the writer's resampler hands them over.
    for (int pos = 0, piece = 1; pos < frames; pos += piece, piece = piece * 3 % 4099 + 1) {
        piece = std::min(piece, frames - pos);
        for (WmaStdPacket &packet : encoder.encode(source.data() + size_t(pos) * size_t(p.channels), piece))
            packets.push_back(std::move(packet));
    }
    for (WmaStdPacket &packet : encoder.flush())
        packets.push_back(std::move(packet));
    std::vector<std::vector<uint8_t>> data;
    int64_t duration = 0;
    for (const WmaStdPacket &packet : packets) {
        QCOMPARE(int(packet.data.size()), encoder.blockAlign());
        data.push_back(packet.data);
        duration += packet.duration;
    }

    const DecodeResult decoded = decodeWma(data, encoder.extradata(), p.sampleRate, p.channels,
                                           encoder.bitRate(), encoder.blockAlign());
    QVERIFY(decoded.ok);
    QVERIFY2(decoded.messages.isEmpty(), qPrintable(decoded.messages.join('\n')));
    // Whole frames come out: the source's length rounded up to one.
    const int64_t out = int64_t(decoded.samples.size()) / p.channels;
    QCOMPARE(out, (int64_t(frames) + n - 1) / n * n);
    QCOMPARE(duration - encoder.leadIn(), out);

    float peak = 0;
    for (float v : decoded.samples)
        peak = std::max(peak, std::abs(v));
    switch (Signal(signal)) {
    case Signal::Music:
        if (frames > 4 * n) {
            // The level holds at every rate: no band is quantised away, and
            // rounding kept up for it throws no peak 1 dB over the source's
            // (below 8 kbps the coarse steps still do).
            const double level = 10 * std::log10(energy(decoded.samples) / energy(source));
            float sourcePeak = 0;
            for (float v : source)
                sourcePeak = std::max(sourcePeak, std::abs(v));
            const bool coarse = p.bitRateKbps > 0 && p.bitRateKbps < 8;
            QVERIFY2(std::abs(level) < 0.95 && (coarse || peak < 1.122f * sourcePeak),
                     qPrintable(QStringLiteral("%1 %2").arg(level).arg(peak / sourcePeak)));
            // Lag 0: no neighbouring lag matches the source better.
            const double atZero = correlation(source, decoded.samples, p.channels, 0);
            QVERIFY2(atZero > 0.7, qPrintable(QString::number(atZero)));
            for (int lag : {-2, -1, 1, 2})
                QVERIFY(correlation(source, decoded.samples, p.channels, lag) < atZero);
        }
        break;
    case Signal::Silence:
        QCOMPARE(peak, 0.0f);
        break;
    case Signal::Square: {
        // Band limiting overshoots the edges of a full-scale square by about
        // 1.4 dB: the output may pass full scale by 1 dB at a few samples,
        // and where the rate carries the square the cut that holds it there
        // is no larger than that overshoot.
        const auto over = std::count_if(decoded.samples.begin(), decoded.samples.end(),
                                        [](float s) { return std::abs(s) > 1.122f; });
        QVERIFY2(over * 50 < int64_t(decoded.samples.size()), qPrintable(QString::number(over)));
        const double level = 10 * std::log10(energy(decoded.samples) / energy(source));
        if (p.bitRateKbps >= 64)
            QVERIFY2(level > -1.75 && peak < 1.13f, qPrintable(QStringLiteral("%1 %2").arg(level).arg(peak)));
        break;
    }
    case Signal::Click: {
        size_t at = 0;
        for (size_t i = 0; i < decoded.samples.size(); i += size_t(p.channels))
            if (std::abs(decoded.samples[i]) > std::abs(decoded.samples[at]))
                at = i;
        QVERIFY2(std::abs(int(at / size_t(p.channels)) - frames / 2) <= 2, qPrintable(QString::number(at)));
        break;
    }
    case Signal::Opposite:
        QVERIFY(correlation(decoded.samples, decoded.samples, 2, 0, 0, 1) < -0.95);
        break;
    case Signal::Sweep:
        // At a low rate the rate control runs at its ceiling: no frame may
        // be starved into coarse steps that throw the tone's peaks out.
        QVERIFY2(peak < 0.485f * 1.26f, qPrintable(QString::number(peak)));
        break;
    case Signal::Onset: {
        // Short blocks keep the noise of the note from sounding before it
        // (second differences: the bass's own noise does not count).
        const auto bend = [](const std::vector<float> &x, int i) {
            return x[size_t(i) * 2] - 2 * x[size_t(i - 1) * 2] + x[size_t(i - 2) * 2];
        };
        double before = 0, after = 0;
        for (int i = frames / 2 - 1280; i < frames / 2 - 256; ++i)
            before += std::pow(bend(decoded.samples, i) - bend(source, i), 2);
        for (int i = frames / 2 + 2; i < frames / 2 + 1026; ++i)
            after += std::pow(bend(source, i), 2);
        QVERIFY2(before < after * 1e-3, qPrintable(QString::number(10 * std::log10(before / after))));
        break;
    }
    }
}

namespace {

// stderr of a tool run, less ffmpeg's note that WMA headers carry no channel layout.
QStringList complaints(const QString &program, const QStringList &args, QByteArray *out = nullptr)
{
    QProcess process;
    process.start(program, args);
    process.waitForFinished(120000);
    if (out)
        *out = process.readAllStandardOutput();
    QStringList lines = QString::fromUtf8(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    lines.removeIf([](const QString &line) { return line.contains("Guessed Channel Layout"); });
    if (process.exitCode() != 0)
        lines << QStringLiteral("exit code %1").arg(process.exitCode());
    return lines;
}

} // namespace

void TestWmaStd::writtenFile_data()
{
    QTest::addColumn<int>("profile");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<int>("signal");
    const int music = int(Signal::Music);
    QTest::newRow("default profile, 0.1 s") << 23 << 0.1 << music;
    QTest::newRow("320 kbps, 0.5 s") << 6 << 0.5 << music;
    QTest::newRow("5 kbps, one sample") << 38 << 1.0 / 8000 << music;
    QTest::newRow("128 kbps, 20 s") << 10 << 20.0 << music;
    QTest::newRow("5 kbps, 20 s") << 38 << 20.0 << music;
    QTest::newRow("quality 10, 20 s") << 46 << 20.0 << music;
    // A tone codes far below the rate a quality's header starts from: the
    // rate stated at the end must still configure the decoder alike.
    for (int n : {39, 41, 42, 43, 44, 45})
        QTest::addRow("quality profile %d, tone", n) << n << 3.0 << int(Signal::Opposite);
}

void TestWmaStd::writtenFile()
{
    // The container as players see it: clean decode, stated length, seeking.
    QFETCH(int, profile);
    QFETCH(double, seconds);
    QFETCH(int, signal);
    const WmaProfile &p = *wmaProfileByNumber(profile);
    const int frames = std::max(1, int(std::lround(seconds * p.sampleRate)));
    const QString path = m_dir.filePath(QStringLiteral("written%1-%2.wma").arg(profile).arg(frames));
    AudioWriter writer;
    QVERIFY(writer.setProfile(profile).ok);
    QVERIFY(writer.setSourceFormat(p.sampleRate, p.channels).ok);
    QVERIFY(writer.create(path).ok);
    QVERIFY(writer.write(makeSignal(Signal(signal), frames, p.channels, p.sampleRate)).ok);
    QVERIFY(writer.close().ok);

    QStringList problems = complaints("ffmpeg", {"-v", "warning", "-i", path, "-f", "null", "-"});
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
    QByteArray out;
    problems = complaints("ffprobe",
                          {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path}, &out);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
    const double stated = out.trimmed().toDouble();
    // Counted from the first sample, which comes after the decoder's lead-in.
    problems = complaints(
        "ffprobe",
        {"-v", "error", "-show_entries", "frame=best_effort_timestamp_time", "-of", "csv=p=0", path}, &out);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
    const double first = out.left(out.indexOf('\n')).trimmed().toDouble();
    QVERIFY2(std::abs(stated - first - double(frames) / p.sampleRate) <= 0.010,
             qPrintable(QStringLiteral("%1 from %2").arg(stated).arg(first)));
    if (seconds < 10)
        return;
    // A second from the middle, placed by the packets' stamps. After a seek
    // the decoder drops its two frames of delay and the frame that began in
    // the packet before, and ffmpeg seeks without a preroll: up to three
    // frames of that second are missing. The container's stamps are whole
    // milliseconds: the second may run up to one over.
    problems =
        complaints("ffmpeg", {"-v", "warning", "-ss", "10", "-i", path, "-t", "1", "-f", "f32le", "-"}, &out);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
    const qsizetype got = out.size() / qsizetype(sizeof(float)) / p.channels;
    const int frame = encoderFor(p.sampleRate, p.channels, p.bitRateKbps * 1000, p.quality)->frameLength();
    QVERIFY2(got >= p.sampleRate - 3 * frame && got <= p.sampleRate + p.sampleRate / 1000,
             qPrintable(QString::number(got)));
}

void TestWmaStd::constantQualityPacksSilenceTighter()
{
    // Silence then loud noise at one quality: a packet of the silence holds
    // more frames (its duration is theirs) than one of the noise.
    const auto owned = encoderFor(44100, 2, 0, 50);
    WmaStdEncoder &encoder = *owned;
    std::vector<float> signal(size_t(4 * 44100) * 2, 0.0f);
    uint32_t seed = 3;
    for (size_t i = signal.size() / 2; i < signal.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        signal[i] = 0.9f * (float(seed >> 8) / float(1u << 24) - 0.5f);
    }
    std::vector<WmaStdPacket> packets = encoder.encode(signal.data(), 4 * 44100);
    for (WmaStdPacket &packet : encoder.flush())
        packets.push_back(std::move(packet));
    QVERIFY(packets.size() > 8);
    QVERIFY2(packets[2].duration > 2 * packets[packets.size() - 4].duration,
             qPrintable(
                 QStringLiteral("%1 %2").arg(packets[2].duration).arg(packets[packets.size() - 4].duration)));
    QVERIFY(encoder.averageBitRate() > 0);
}

namespace {

enum class Extreme { Sine, Burst, Spike, Dc, Empty };

// Clipped to full scale, a loud sine is a square wave: band limiting and
// coarse coding overshoot its edges by up to about 3 dB at the lowest rates.
constexpr float kClippedPeak = 1.41f;

// A 400 Hz sine at `scale` (Burst: only 400 samples of it scaled, Spike: one
// sample set to `scale`, Dc: every sample `scale`), per channel.
std::vector<float> makeExtreme(Extreme kind, double scale, int frames, int channels, int rate)
{
    std::vector<float> out(size_t(frames) * size_t(channels));
    for (int i = 0; i < frames; ++i) {
        const double sine = 0.5 * std::sin(2 * std::numbers::pi * 400 * i / rate);
        const double v = kind == Extreme::Sine                                      ? scale * sine
                         : kind == Extreme::Burst && std::abs(i - frames / 2) < 200 ? scale * sine
                         : kind == Extreme::Spike && i == frames / 2                ? scale
                         : kind == Extreme::Dc                                      ? scale
                                                                                    : sine;
        for (int c = 0; c < channels; ++c)
            out[size_t(i) * size_t(channels) + size_t(c)] = float(v);
    }
    return out;
}

} // namespace

void TestWmaStd::extremeInput_data()
{
    QTest::addColumn<int>("profile");
    QTest::addColumn<int>("kind");
    QTest::addColumn<double>("scale");
    QTest::addColumn<double>("seconds");
    const double overFullScale = std::pow(10.0, 17.0 / 20.0) / 0.5; // a sine peaking at +17 dBFS
    for (int n : {1, 10, 18, 38, 46}) {
        QTest::addRow("%d sine x 1e5", n) << n << int(Extreme::Sine) << 1e5 << 0.5;
        QTest::addRow("%d burst x 1e25", n) << n << int(Extreme::Burst) << 1e25 << 0.5;
        QTest::addRow("%d one sample of 1e30", n) << n << int(Extreme::Spike) << 1e30 << 0.5;
        QTest::addRow("%d +17 dBFS", n) << n << int(Extreme::Sine) << overFullScale << 0.5;
        QTest::addRow("%d empty", n) << n << int(Extreme::Empty) << 1.0 << 0.0;
    }
    for (int n : {45, 46})
        QTest::addRow("%d DC 1000", n) << n << int(Extreme::Dc) << 1000.0 << 2.0;
    QTest::addRow("lossless +17 dBFS") << kWmaProfileCount << int(Extreme::Sine) << overFullScale << 0.5;
}

void TestWmaStd::extremeInput()
{
    // Any finite float source gives a clean stream of its length, within full
    // scale: the encoder on its own, and the file as the writer makes it.
    QFETCH(int, profile);
    QFETCH(int, kind);
    QFETCH(double, scale);
    QFETCH(double, seconds);
    const WmaProfile &p = *wmaProfileByNumber(profile);
    const int frames = int(std::lround(seconds * p.sampleRate));
    const std::vector<float> source = makeExtreme(Extreme(kind), scale, frames, p.channels, p.sampleRate);
    const auto peakOf = [](const std::vector<float> &samples) {
        float peak = 0;
        for (float v : samples)
            peak = std::max(peak, std::abs(v));
        return peak;
    };

    if (p.rateControl != WmaProfile::RateControl::Lossless) {
        const auto owned = encoderFor(p.sampleRate, p.channels, p.bitRateKbps * 1000, p.quality);
        WmaStdEncoder &encoder = *owned;
        std::vector<std::vector<uint8_t>> data;
        for (WmaStdPacket &packet : encoder.encode(source.data(), frames))
            data.push_back(std::move(packet.data));
        for (WmaStdPacket &packet : encoder.flush())
            data.push_back(std::move(packet.data));
        const DecodeResult decoded = decodeWma(data, encoder.extradata(), p.sampleRate, p.channels,
                                               encoder.bitRate(), encoder.blockAlign());
        QVERIFY(decoded.ok);
        QVERIFY2(decoded.messages.isEmpty(), qPrintable(decoded.messages.join('\n')));
        const int n = encoder.frameLength();
        QCOMPARE(int64_t(decoded.samples.size()) / p.channels, (int64_t(frames) + n - 1) / n * n);
        QVERIFY2(peakOf(decoded.samples) <= kClippedPeak,
                 qPrintable(QString::number(peakOf(decoded.samples))));
    }
    if (frames == 0)
        return;

    const QString path =
        m_dir.filePath(QStringLiteral("extreme%1-%2-%3.wma").arg(profile).arg(kind).arg(scale));
    AudioWriter writer;
    QVERIFY(writer.setProfile(profile).ok);
    QVERIFY(writer.setSourceFormat(p.sampleRate, p.channels).ok);
    QVERIFY(writer.create(path).ok);
    QVERIFY(writer.write(source).ok);
    QVERIFY(writer.close().ok);
    QByteArray out;
    const QStringList problems =
        complaints("ffmpeg", {"-v", "warning", "-i", path, "-f", "f32le", "-"}, &out);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
    std::vector<float> decoded(size_t(out.size()) / sizeof(float));
    std::memcpy(decoded.data(), out.constData(), decoded.size() * sizeof(float));
    QVERIFY2(int64_t(decoded.size()) / p.channels >= frames, qPrintable(QString::number(decoded.size())));
    QVERIFY2(peakOf(decoded) <= kClippedPeak, qPrintable(QString::number(peakOf(decoded))));
}

QTEST_GUILESS_MAIN(TestWmaStd)
#include "tst_wmastd.moc"
