#include "realworld.h"
#include "audiotesttools.h"
#include "asfindex.h"
#include "ffmpegaudiofile.h"
#include "taudiofile2.h"
#include "wmaprofiles.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <sys/resource.h>

#include <cerrno>
#include <array>
#include <cmath>
#include <csignal>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>

using namespace AudioTestTools;

namespace {
constexpr int kChunk = 2034; // what the conversion run reads at a time

struct ReadResult {
    qint64 frames = 0;
    qint64 mismatch = 0;
    std::vector<float> samples;
};

ReadResult readAll(FfmpegAudioFile &file, bool keep = false)
{
    ReadResult result;
    std::vector<float> chunk;
    for (;;) {
        if (!file.ReadSamples(kChunk, chunk).ok || chunk.empty())
            break;
        result.frames += static_cast<qint64>(chunk.size()) / file.Channels();
        if (keep)
            result.samples.insert(result.samples.end(), chunk.begin(), chunk.end());
    }
    result.mismatch = file.reader().countMismatch();
    return result;
}

// Converts `source` through the component, reading as the conversion run does.
QString convert(const QString &source, const QString &output, int profile,
                const AudioFileOptions &options = {})
{
    FfmpegAudioFile reader(options);
    FfmpegAudioFile writer(options);
    AudioStatus status = reader.Open(source, 0, 1);
    if (status.ok)
        status = writer.SetWmaProfile(profile);
    if (status.ok)
        status = writer.SetSourceFormat(reader.SourceFormatA(), reader.SourceFormatB());
    if (status.ok)
        status = writer.CreateOutput(output, 0);
    std::vector<float> chunk;
    while (status.ok) {
        status = reader.ReadSamples(kChunk, chunk);
        if (!status.ok || chunk.empty())
            break;
        status = writer.WriteSamples(chunk);
    }
    const AudioStatus closed = writer.Close();
    if (status.ok)
        status = closed;
    return status.ok ? QString() : status.message;
}

QByteArray readFile(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int threadCount()
{
    return int(QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// A fault seam that lets `good` chunks through and then fails with `message`:
// as a status, or thrown ("std" a std::exception, "other" anything else).
std::function<AudioStatus()> failAfter(int good, const QString &message, const QString &thrown = {})
{
    return [good, message, thrown, calls = 0]() mutable {
        if (++calls <= good)
            return AudioStatus{};
        if (thrown == "std")
            throw std::runtime_error(message.toStdString());
        if (thrown == "other")
            throw 42;
        return AudioStatus::failure(message);
    };
}

} // namespace

class TestAudioFile : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void sampleCountIsWhatReadingDelivers_data();
    void sampleCountIsWhatReadingDelivers();
    void realWorldFilesReadToTheirCount_data();
    void realWorldFilesReadToTheirCount();
    void badInputFailsCleanly_data();
    void badInputFailsCleanly();
    void implausibleSourcesAreRefused_data();
    void implausibleSourcesAreRefused();

    void profileNumbers_data();
    void profileNumbers();
    void convertedFileHasProfileFormat_data();
    void convertedFileHasProfileFormat();
    void cbrBitRateHolds_data();
    void cbrBitRateHolds();
    void outputStartsWithFirstSample_data();
    void outputStartsWithFirstSample();
    void seeksLandOnTheSoughtSample_data();
    void seeksLandOnTheSoughtSample();
    void gstreamerPlaysEverySampleOnce_data();
    void gstreamerPlaysEverySampleOnce();
    void losslessSeekPointsGiveOutputAtOnce_data();
    void losslessSeekPointsGiveOutputAtOnce();
    void createOutputNeverReplaces();
    void failedCreateLeavesNoFile();
    void closeAlwaysCloses();
    void wrapperThrowsWithMessage();
    void nonFiniteSamplesBecomeSilence_data();
    void nonFiniteSamplesBecomeSilence();
    void losslessProfileKeepsEverySample_data();
    void losslessProfileKeepsEverySample();
    void losslessPacketsSuitTheSource_data();
    void losslessPacketsSuitTheSource();
    void downmixKeepsTheLevel_data();
    void downmixKeepsTheLevel();
    void writeFailureGivesTheSystemReason();
    void unindexableFileStaysWhole();
    void workerThreadsChangeNothing_data();
    void workerThreadsChangeNothing();
    void workerFailuresSurfaceAtTheNextCall_data();
    void workerFailuresSurfaceAtTheNextCall();
    void stopMidFileLeavesNoThread();
    void sourceCutShortWhileReadFails_data();
    void sourceCutShortWhileReadFails();
    void unreadableFilesSayWhy_data();
    void unreadableFilesSayWhy();

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
};

void TestAudioFile::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(run("ffmpeg", {"-version"}), "ffmpeg is needed to make test sources");
}

void TestAudioFile::sampleCountIsWhatReadingDelivers_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("codec");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<qint64>("exactFrames"); // -1: the codec pads, so only consistency is checked
    QTest::addColumn<double>("seconds");

    QTest::newRow("mp3 with Xing") << "a.mp3" << QStringList{"-c:a", "libmp3lame", "-b:a", "128k"} << 44100
                                   << 2 << qint64(110250) << 2.5;
    QTest::newRow("mp3 without Xing") << "b.mp3" << QStringList{"-c:a", "libmp3lame", "-write_xing", "0"}
                                      << 44100 << 2 << qint64(-1) << 2.5;
    QTest::newRow("mp3 MPEG-2 mono") << "c.mp3" << QStringList{"-c:a", "libmp3lame", "-b:a", "32k"} << 22050
                                     << 1 << qint64(55125) << 2.5;
    QTest::newRow("wav s16") << "d.wav" << QStringList{"-c:a", "pcm_s16le"} << 48000 << 2 << qint64(120000)
                             << 2.5;
    QTest::newRow("wav float") << "e.wav" << QStringList{"-c:a", "pcm_f32le"} << 32000 << 1 << qint64(80000)
                               << 2.5;
    QTest::newRow("wav u8") << "f.wav" << QStringList{"-c:a", "pcm_u8"} << 8000 << 2 << qint64(20000) << 2.5;
    QTest::newRow("wav ima adpcm") << "g.wav" << QStringList{"-c:a", "adpcm_ima_wav"} << 22050 << 2
                                   << qint64(-1) << 2.5;
    QTest::newRow("wav ms adpcm") << "h.wav" << QStringList{"-c:a", "adpcm_ms"} << 11025 << 1 << qint64(-1)
                                  << 2.5;
    QTest::newRow("wma v1") << "i.wma" << QStringList{"-c:a", "wmav1", "-b:a", "64k"} << 44100 << 2
                            << qint64(-1) << 2.5;
    QTest::newRow("wma v2") << "j.wma" << QStringList{"-c:a", "wmav2", "-b:a", "96k"} << 48000 << 2
                            << qint64(-1) << 2.5;
    QTest::newRow("ogg vorbis") << "k.ogg" << QStringList{"-c:a", "libvorbis", "-q:a", "3"} << 44100 << 2
                                << qint64(110250) << 2.5;
    QTest::newRow("ogg vorbis mono") << "l.ogg" << QStringList{"-c:a", "libvorbis"} << 16000 << 1
                                     << qint64(40000) << 2.5;
    QTest::newRow("flac") << "m.flac" << QStringList{"-c:a", "flac"} << 44100 << 2 << qint64(110250) << 2.5;
    QTest::newRow("vox") << "n.vox" << QStringList{"sox"} << 8000 << 1 << qint64(20000) << 2.5;
    // Beeps make Vorbis switch block sizes, which its Ogg packet durations miscount.
    QTest::newRow("ogg vorbis beeps")
        << "p.ogg" << QStringList{"-c:a", "libvorbis", "-q:a", "5", "sine=f=440:b=3"} << 44100 << 2
        << qint64(220500) << 5.0;
    QTest::newRow("mp3 60 s without Xing") << "q.mp3" << QStringList{"-c:a", "libmp3lame", "-write_xing", "0"}
                                           << 48000 << 2 << qint64(-1) << 60.0;
    QTest::newRow("vox upper case") << "o.VOX" << QStringList{"sox"} << 8000 << 1 << qint64(20000) << 2.5;
}

void TestAudioFile::sampleCountIsWhatReadingDelivers()
{
    QFETCH(QString, name);
    QFETCH(QStringList, codec);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(qint64, exactFrames);
    QFETCH(double, seconds);

    const QString file = path(name);
    if (codec == QStringList{"sox"}) {
        const QString wav = file + ".wav";
        QVERIFY(makeSource(wav, seconds, 8000, 1, {"-c:a", "pcm_s16le"}));
        QVERIFY(run("sox", {wav, "-t", "vox", file}));
    } else {
        const QString sine = codec.last().startsWith("sine=") ? codec.takeLast().mid(5) : QString();
        QVERIFY(makeSource(file, seconds, rate, channels, codec, sine));
    }
    FfmpegAudioFile audio;
    const AudioStatus status = audio.Open(file, 0, 1);
    QVERIFY2(status.ok, qPrintable(status.message));
    QVERIFY(audio.IsOpen());
    QCOMPARE(audio.SampleRate(), rate);
    QCOMPARE(audio.Channels(), channels);
    QCOMPARE(audio.SourceFormatA(), rate);
    QCOMPARE(audio.SourceFormatB(), channels);
    QVERIFY(qAbs(audio.DurationMs() - seconds * 1000) < 150);

    const ReadResult read = readAll(audio);
    QCOMPARE(read.frames, qint64(audio.SampleCount()));
    QCOMPARE(read.mismatch, qint64(0));
    if (exactFrames >= 0)
        QCOMPARE(qint64(audio.SampleCount()), exactFrames);
    QVERIFY(audio.Close().ok);
    QVERIFY(!audio.IsOpen());
    QCOMPARE(audio.DurationMs(), 0);
}

void TestAudioFile::realWorldFilesReadToTheirCount_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("sound"); // damaged frames are padded with silence to keep the count
    const QDir root(QStringLiteral(SONBREL_REALWORLD_DIR));
    if (!root.exists())
        QTest::newRow("samples missing") << root.path() << true;
    for (const QString folder : {"mp3", "wav", "wma", "ogg"}) {
        for (const QFileInfo &info : QDir(root.filePath(folder)).entryInfoList(QDir::Files, QDir::Name))
            QTest::newRow(qPrintable(folder + '/' + info.fileName()))
                << info.filePath() << !info.fileName().contains("garbage");
    }
}

void TestAudioFile::realWorldFilesReadToTheirCount()
{
    SONBREL_REQUIRE_REALWORLD();
    QFETCH(QString, file);
    QFETCH(bool, sound);
    FfmpegAudioFile audio;
    const AudioStatus status = audio.Open(file, 0, 1);
    if (!status.ok || audio.DurationMs() == 0)
        return; // tag-only and broken samples: refusing them is right
    const ReadResult read = readAll(audio);
    QCOMPARE(read.frames, qint64(audio.SampleCount()));
    if (sound)
        QCOMPARE(read.mismatch, qint64(0));
}

void TestAudioFile::badInputFailsCleanly_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content"); // written to `file` in the temporary folder unless empty-named

    const QString realworld = QStringLiteral(SONBREL_REALWORLD_DIR);
    QTest::newRow("empty mp3") << "empty.mp3" << QByteArray();
    QTest::newRow("empty vox") << "empty.vox" << QByteArray();
    QTest::newRow("text named mp3") << "text.mp3" << QByteArray("This is not audio at all.\n").repeated(40);
    QTest::newRow("garbage named wma") << "garbage.wma" << QByteArray(5000, '\x5a');
    QTest::newRow("missing file") << "@missing.mp3" << QByteArray();
    QTest::newRow("folder") << "@folder.mp3" << QByteArray();
    QTest::newRow("truncated mp3") << "@truncated.mp3" << QByteArray();
    QTest::newRow("truncated wma") << "@truncated.wma" << QByteArray();
    QTest::newRow("truncated ogg") << "@truncated.ogg" << QByteArray();
    QTest::newRow("header-only wav") << "@header.wav" << QByteArray();
    QTest::newRow("realworld empty mp3") << realworld + "/mp3/mutagen__emptyfile.mp3" << QByteArray();
    QTest::newRow("realworld tag-only mp3") << realworld + "/mp3/taglib__extended-header.mp3" << QByteArray();
    QTest::newRow("realworld broken ogg") << realworld + "/ogg/taglib__segfault.oga" << QByteArray();
    QTest::newRow("realworld broken wav") << realworld + "/wav/taglib__invalid-chunk.wav" << QByteArray();
    QTest::newRow("realworld garbage mp3") << realworld + "/mp3/taglib__garbage.mp3" << QByteArray();
}

void TestAudioFile::badInputFailsCleanly()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);

    QString target = file;
    if (file.startsWith('@')) {
        target = path(file.mid(1));
        const QString suffix = QFileInfo(target).suffix();
        if (file == "@folder.mp3") {
            QVERIFY(QDir().mkpath(target));
        } else if (file.startsWith("@truncated")) {
            const QString whole = target + ".whole." + suffix;
            const QStringList codec = suffix == "mp3"   ? QStringList{"-c:a", "libmp3lame"}
                                      : suffix == "wma" ? QStringList{"-c:a", "wmav2"}
                                                        : QStringList{"-c:a", "libvorbis"};
            QVERIFY(makeSource(whole, 3, 44100, 2, codec));
            QFile in(whole);
            QVERIFY(in.open(QIODevice::ReadOnly));
            QFile out(target);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(in.read(in.size() / 2 + 77));
        } else if (file == "@header.wav") {
            const QString whole = target + ".whole.wav";
            QVERIFY(makeSource(whole, 1, 44100, 2));
            QFile in(whole);
            QVERIFY(in.open(QIODevice::ReadOnly));
            QFile out(target);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(in.read(44));
        }
    } else if (!QFileInfo(file).isAbsolute()) {
        target = path(file);
        QFile out(target);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(content);
    }

    FfmpegAudioFile audio;
    const AudioStatus status = audio.Open(target, 0, 1);
    if (!status.ok) {
        QVERIFY(!status.message.isEmpty());
        QVERIFY2(status.message.contains(target), qPrintable(status.message));
        QVERIFY(!audio.IsOpen());
        QCOMPARE(audio.DurationMs(), 0);
        return;
    }
    // Whatever opened must read to its stated end and no further.
    const ReadResult read = readAll(audio);
    QCOMPARE(read.frames, qint64(audio.SampleCount()));
    QVERIFY(audio.Close().ok);
}

void TestAudioFile::implausibleSourcesAreRefused_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("rate"); // of a silent 8-bit mono WAV; 0: a named pipe
    QTest::addColumn<bool>("opens");

    // A 1 Hz header turned each 2034-frame chunk into 90 million frames for
    // the encoder, and its length in milliseconds wrapped negative.
    QTest::newRow("1 Hz wav") << "rate1.wav" << 1 << false;
    QTest::newRow("999 Hz wav") << "rate999.wav" << 999 << false;
    QTest::newRow("1000 Hz wav") << "rate1000.wav" << 1000 << true;
    // Opening a pipe blocked until a writer came, that is for ever.
    QTest::newRow("pipe named mp3") << "pipe.mp3" << 0 << false;
    QTest::newRow("pipe named vox") << "pipe.vox" << 0 << false;
}

void TestAudioFile::implausibleSourcesAreRefused()
{
    QFETCH(QString, file);
    QFETCH(int, rate);
    QFETCH(bool, opens);

    const QString target = path(file);
    QFile::remove(target);
    constexpr quint32 kFrames = 3000000;
    if (rate == 0) {
        QVERIFY(run("mkfifo", {target}));
    } else {
        QByteArray wav;
        QDataStream out(&wav, QIODevice::WriteOnly);
        out.setByteOrder(QDataStream::LittleEndian);
        out.writeRawData("RIFF", 4);
        out << quint32(36 + kFrames);
        out.writeRawData("WAVEfmt ", 8);
        out << quint32(16) << quint16(1) << quint16(1) << quint32(rate) << quint32(rate) << quint16(1)
            << quint16(8);
        out.writeRawData("data", 4);
        out << kFrames;
        wav.append(QByteArray(kFrames, '\x80'));
        QFile f(target);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(wav);
    }

    FfmpegAudioFile audio;
    const AudioStatus status = audio.Open(target, 0, 1);
    QFile::remove(target);
    QCOMPARE(status.ok, opens);
    if (!opens) {
        QVERIFY2(status.message.contains(target), qPrintable(status.message));
        QVERIFY(!audio.IsOpen());
        return;
    }
    QCOMPARE(audio.SampleCount(), int(kFrames));
    QCOMPARE(audio.DurationMs(), int(kFrames * 1000 / rate));
}

void TestAudioFile::profileNumbers_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<bool>("available");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << false << QString();
    QTest::newRow("48") << 48 << false << QString();
    QTest::newRow("-1") << -1 << false << QString();
    for (int n = 1; n <= kWmaProfileCount; ++n) {
        const WmaProfile &profile = *wmaProfileByNumber(n);
        QTest::addRow("%d %s", n, profile.text) << n << true << QString::fromUtf8(profile.text);
    }
}

void TestAudioFile::profileNumbers()
{
    QFETCH(int, number);
    QFETCH(bool, available);
    QFETCH(QString, text);

    FfmpegAudioFile writer;
    const AudioStatus status = writer.SetWmaProfile(number);
    QCOMPARE(status.ok, available);
    if (available)
        return;
    QVERIFY(status.message.contains(QString::number(number)));
    // A refused profile leaves nothing to write with.
    QVERIFY(writer.SetSourceFormat(44100, 2).ok);
    QVERIFY(!writer.CreateOutput(path(QString("refused%1.wma").arg(number)), 0).ok);
    QVERIFY(!QFile::exists(path(QString("refused%1.wma").arg(number))));
}

void TestAudioFile::convertedFileHasProfileFormat_data()
{
    QTest::addColumn<int>("profile");
    QTest::addColumn<int>("sourceRate");
    QTest::addColumn<int>("sourceChannels");
    QTest::newRow("44.1 kHz stereo as is") << 10 << 44100 << 2;
    QTest::newRow("48 kHz from 44.1 kHz") << 3 << 44100 << 2;
    QTest::newRow("32 kHz stereo from 8 kHz mono") << 23 << 8000 << 1;
    QTest::newRow("44.1 kHz mono from 48 kHz stereo") << 16 << 48000 << 2;
    QTest::newRow("44.1 kHz stereo from 5.1") << 13 << 44100 << 6;
}

void TestAudioFile::convertedFileHasProfileFormat()
{
    QFETCH(int, profile);
    QFETCH(int, sourceRate);
    QFETCH(int, sourceChannels);

    const QString tag = QString("%1-%2-%3").arg(profile).arg(sourceRate).arg(sourceChannels);
    const QString source = path("fmt-" + tag + ".wav");
    const QString output = path("fmt-" + tag + ".wma");
    QVERIFY(makeSource(source, 4, sourceRate, sourceChannels, {"-c:a", "pcm_s16le"}));
    const QString error = convert(source, output, profile);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    const WmaProfile &wanted = *wmaProfileByNumber(profile);
    const Probe out = probe(output);
    QCOMPARE(out.codec, QString("wmav2"));
    QCOMPARE(out.sampleRate, wanted.sampleRate);
    QCOMPARE(out.channels, wanted.channels);
    // The container states the audio's own length, not the padded last block's,
    // counted from the first sample (after the decoder's lead-in).
    const double length = out.duration - firstSampleTime(output);
    QVERIFY2(qAbs(length - 4.0) <= 0.005, qPrintable(QString::number(length)));
    QVERIFY2(out.tags.isEmpty(), qPrintable(out.tags.join(',')));
    const std::vector<float> decoded = decode(output);
    const double decodedSeconds = double(decoded.size()) / wanted.channels / wanted.sampleRate;
    QVERIFY2(qAbs(decodedSeconds - 4.0) <= 0.1, qPrintable(QString::number(decodedSeconds)));

    // Our own output reads back through the component as ffmpeg decodes it.
    FfmpegAudioFile back;
    QVERIFY(back.Open(output, 0, 1).ok);
    QCOMPARE(back.SampleRate(), wanted.sampleRate);
    QCOMPARE(back.Channels(), wanted.channels);
    const ReadResult read = readAll(back);
    QCOMPARE(read.frames, qint64(back.SampleCount()));
    QCOMPARE(read.mismatch, qint64(0));
    QCOMPARE(read.frames * wanted.channels, qint64(decoded.size()));
}

void TestAudioFile::cbrBitRateHolds_data()
{
    QTest::addColumn<int>("profile");
    for (int n = 1; n <= kWmaProfileCount; ++n) {
        const WmaProfile &p = *wmaProfileByNumber(n);
        if (p.rateControl == WmaProfile::RateControl::Cbr)
            QTest::addRow("%d %s", n, p.text) << n;
    }
}

void TestAudioFile::cbrBitRateHolds()
{
    QFETCH(int, profile);
    // One 60-second source serves every profile; the writer resamples it.
    const QString source = path("sixty.wav");
    if (!QFile::exists(source))
        QVERIFY(makeSource(source, 60, 44100, 2, {"-c:a", "pcm_s16le"}));
    const QString output = path(QString("rate%1.wma").arg(profile));
    const QString error = convert(source, output, profile);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    const WmaProfile &wanted = *wmaProfileByNumber(profile);
    const Probe out = probe(output);
    QCOMPARE(out.sampleRate, wanted.sampleRate);
    QCOMPARE(out.channels, wanted.channels);
    QVERIFY2(qAbs(out.duration - firstSampleTime(output) - 60.0) <= 0.005,
             qPrintable(QString::number(out.duration)));
    const double kbps = double(out.size) * 8 / out.duration / 1000;
    const double tolerance = wanted.bitRateKbps >= 64 ? 0.05 : 0.15;
    const double deviation = kbps / wanted.bitRateKbps - 1;
    qInfo("profile %d: %.2f kbps for %d (%+.2f%%)", profile, kbps, wanted.bitRateKbps, deviation * 100);
    QVERIFY2(qAbs(deviation) <= tolerance, qPrintable(QString::number(kbps)));
    QFile::remove(output);
}

void TestAudioFile::outputStartsWithFirstSample_data()
{
    QTest::addColumn<int>("profile");
    QTest::addColumn<int>("rate");
    QTest::newRow("44.1 kHz") << 10 << 44100;
    QTest::newRow("48 kHz") << 1 << 48000;
    QTest::newRow("32 kHz") << 21 << 32000;
    QTest::newRow("44.1 kHz mono") << 16 << 44100;
}

void TestAudioFile::outputStartsWithFirstSample()
{
    QFETCH(int, profile);
    QFETCH(int, rate);
    const int channels = wmaProfileByNumber(profile)->channels;
    const QString source = path(QString("start%1.wav").arg(profile));
    const QString output = path(QString("start%1.wma").arg(profile));
    QVERIFY(makeSource(source, 2, rate, channels, {"-c:a", "pcm_f32le"}));
    const QString error = convert(source, output, profile);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    const std::vector<float> original = decode(source);
    const std::vector<float> decoded = decode(output);
    QVERIFY(!decoded.empty());
    QCOMPARE(bestLag(original, channels, decoded, channels, 4096, 8192), 0);
}

void TestAudioFile::seeksLandOnTheSoughtSample_data()
{
    QTest::addColumn<int>("profile");
    QTest::newRow("44.1 kHz 320 kbps") << 6;
    QTest::newRow("44.1 kHz 128 kbps") << 10;
    QTest::newRow("22 kHz 16 kbps mono") << 27;
    QTest::newRow("8 kHz 5 kbps mono") << 38;
    QTest::newRow("lossless") << 47;
}

void TestAudioFile::seeksLandOnTheSoughtSample()
{
    QFETCH(int, profile);
    const WmaProfile &wma = *wmaProfileByNumber(profile);
    const QString source = path(QString("seek%1.wav").arg(profile));
    const QString output = path(QString("seek%1.wma").arg(profile));
    constexpr double kSeconds = 9;
    // A slow chirp: low enough to be coded as a waveform at every rate.
    QVERIFY(run("ffmpeg",
                {"-v", "error", "-y", "-f", "lavfi", "-i",
                 QString("aevalsrc=exprs='0.5*sin(2*PI*(150+30*t)*t)+0.05*(random(0)-0.5)':s=44100:d=%1")
                     .arg(kSeconds),
                 "-ac", QString::number(wma.channels), source}));
    const QString error = convert(source, output, profile);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    const std::vector<float> whole = decode(output);
    // Where the first sample lies, from the stated end (rounded up to the
    // millisecond): the first decoded frame's own time is rounded twice over.
    // "-ss" counts from the first packet, which may come before it.
    const Probe out = probe(output);
    const double skip = out.startTime - (out.duration - kSeconds);
    // Packet times are whole milliseconds, and a reader times output by the
    // packet it came from plus what the decoder dropped, rounded again: each
    // end of the span may be a millisecond off.
    const int ms = wma.sampleRate / 1000 + 1;
    for (const double at : {0.4, 4.3, kSeconds - 1.2}) {
        const std::vector<float> span = decodeSpan(output, at, 1);
        const auto frames = static_cast<int>(span.size()) / wma.channels;
        QVERIFY2(qAbs(frames - wma.sampleRate) <= 2 * ms,
                 qPrintable(QString("%1 s: %2").arg(at).arg(frames)));
        // Judged past the first frame, which a decoder started mid-stream may only approximate.
        const auto from = static_cast<size_t>(std::lround((at + skip) * wma.sampleRate)) * wma.channels;
        const std::vector<float> expected(whole.begin() + static_cast<std::ptrdiff_t>(from), whole.end());
        const int lag = bestLag(span, wma.channels, expected, wma.channels, 2048, 4096);
        QVERIFY2(qAbs(lag) <= ms, qPrintable(QString("%1 s: lag %2").arg(at).arg(lag)));
    }
}

void TestAudioFile::gstreamerPlaysEverySampleOnce_data()
{
    QTest::addColumn<int>("profile");
    QTest::addColumn<QString>("signal");
    const QString noise = "random(0)-0.5";
    QTest::newRow("44.1 kHz 128 kbps") << 10 << noise;
    QTest::newRow("lossless") << 47 << noise;
    // Its first blocks hold over a second of audio.
    QTest::newRow("lossless, quiet start") << 47 << "if(lt(t,1.5),0.0002,1)*(random(0)-0.5)";
    // Two seconds of digital silence fill only part of the first block.
    QTest::newRow("lossless, silent start") << 47 << "if(lt(t,2),0,random(0)-0.5)";
    // More silent frames than the first block takes.
    QTest::newRow("lossless, long silent start") << 47 << "if(lt(t,3.1),0,random(0)-0.5)";
}

// Played by its time stamps (audiorate fills gaps and drops overlaps), every
// part of the audio, the last samples too, must sit at one offset from where
// ffmpeg puts it: a packet timed over the one before loses samples.
void TestAudioFile::gstreamerPlaysEverySampleOnce()
{
    QFETCH(int, profile);
    QFETCH(QString, signal);
    if (QStandardPaths::findExecutable("gst-launch-1.0").isEmpty())
        QSKIP("gst-launch-1.0 is not installed");
    const int channels = wmaProfileByNumber(profile)->channels;
    const QString source = path("gst.wav");
    const QString output = path(QString("gst%1.wma").arg(QTest::currentDataTag()).replace(' ', '_'));
    const QString played = path("gst.raw");
    constexpr int kFrames = 4 * 44100;
    QVERIFY(run("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                           QString("aevalsrc=exprs='%1':s=44100:d=4").arg(signal), "-ac",
                           QString::number(channels), source}));
    const QString error = convert(source, output, profile);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(
        run("gst-launch-1.0",
            {"-q", "filesrc", "location=" + output, "!", "decodebin", "!", "audioconvert", "!", "audiorate",
             "!", "audio/x-raw,format=F32LE,layout=interleaved", "!", "filesink", "location=" + played}));
    QFile file(played);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray raw = file.readAll();
    std::vector<float> gst(static_cast<size_t>(raw.size()) / sizeof(float));
    std::memcpy(gst.data(), raw.constData(), gst.size() * sizeof(float));
    const std::vector<float> whole = decode(output);

    // Where GStreamer plays the 1024 frames ffmpeg gives from `at`, relative to ffmpeg.
    constexpr int kWindow = 1024;
    constexpr int kMaxLag = 8192;
    const auto offsetOf = [&](int at) {
        double best = -1e300;
        int offset = 0;
        for (int lag = -kMaxLag; lag <= kMaxLag; ++lag) {
            const int to = at + lag;
            if (to < 0 || static_cast<size_t>(to + kWindow) * channels > gst.size())
                continue;
            double sum = 0;
            for (int i = 0; i < kWindow; ++i)
                sum += double(whole[static_cast<size_t>(at + i) * channels]) *
                       double(gst[static_cast<size_t>(to + i) * channels]);
            if (sum > best) {
                best = sum;
                offset = lag;
            }
        }
        return offset;
    };
    // Silent stretches match any offset: only sounding windows are placed.
    const auto sounds = [&](int at) {
        for (int i = 0; i < kWindow; ++i)
            if (whole[static_cast<size_t>(at + i) * channels] != 0.0f)
                return true;
        return false;
    };
    QList<int> offsets;
    for (const int at : {0, 2048, 22050, 44100, 88200, 132300, 150000, 165000, kFrames - kWindow})
        if (sounds(at))
            offsets << offsetOf(at);
    QVERIFY(offsets.size() >= 3);
    QCOMPARE(offsets, QList<int>(offsets.size(), offsets.front()));
}

void TestAudioFile::losslessSeekPointsGiveOutputAtOnce_data()
{
    QTest::addColumn<QString>("signal"); // empty: the usual test source
    QTest::newRow("music") << QString();
    // Raw blocks only: they are places to resume all the same.
    QTest::newRow("noise") << "2*random(0)-1|0*st(1,if(eq(n,0),4242,ld(1)))+2*random(1)-1";
}

// A reader started at a lone lossless block gets nothing for it, and
// GStreamer then times all later output one object early: the seek index
// sends readers only to objects of two blocks (spanning two data packets).
void TestAudioFile::losslessSeekPointsGiveOutputAtOnce()
{
    QFETCH(QString, signal);
    const QString source = path("indexed.wav");
    const QString output = path(QString("indexed-%1.wma").arg(QTest::currentDataTag()));
    QVERIFY(signal.isEmpty() ? makeSource(source, 20, 44100, 2, {"-c:a", "pcm_s16le"})
                             : run("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                              QString("aevalsrc=exprs='%1':s=44100:d=20").arg(signal), "-c:a",
                                              "pcm_s16le", source}));
    const QString error = convert(source, output, 47);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    const QByteArray file = readFile(output);
    const std::optional<AsfFileLayout> layout = asfFileLayout(
        std::vector<uint8_t>(file.begin(), file.begin() + std::min<qsizetype>(file.size(), 1 << 16)));
    QVERIFY(layout);
    const QByteArray index = file.mid(layout->dataEnd);
    QVERIFY(index.startsWith(QByteArray::fromHex("90080033b1e5cf1189f400a0c90349cb")));
    const auto entries = qFromLittleEndian<quint32>(index.constData() + 52);
    QVERIFY(entries > 2 && index.size() >= 56 + 6 * qsizetype(entries));

    // The size of the first object that starts in each data packet.
    QByteArray listed;
    QVERIFY(run("ffprobe", {"-v", "error", "-show_entries", "packet=pos,size", "-of", "csv=p=0", output},
                &listed));
    QMap<qint64, int> sizeAt;
    for (const QByteArray &line : listed.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(',');
        if (fields.size() == 2 && !sizeAt.contains(fields[1].toLongLong()))
            sizeAt.insert(fields[1].toLongLong(), fields[0].toInt());
    }
    for (quint32 i = 0; i < entries; ++i) {
        const auto packet = qFromLittleEndian<quint32>(index.constData() + 56 + 6 * i);
        if (packet == 0)
            continue; // the stream's start, where nothing is missing
        const qint64 at = layout->firstPacket + qint64(packet) * layout->packetSize;
        QVERIFY2(sizeAt.value(at) > int(layout->packetSize),
                 qPrintable(QString("entry %1: packet %2").arg(i).arg(packet)));
    }
}

void TestAudioFile::createOutputNeverReplaces()
{
    const QString existing = path("existing.wma");
    {
        QFile file(existing);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("precious");
    }
    const QString folder = path("folder.wma");
    QVERIFY(QDir().mkpath(folder));

    for (const QString &target : {existing, folder}) {
        FfmpegAudioFile writer;
        QVERIFY(writer.SetWmaProfile(10).ok);
        QVERIFY(writer.SetSourceFormat(44100, 2).ok);
        const AudioStatus status = writer.CreateOutput(target, 0);
        QVERIFY(!status.ok);
        QVERIFY2(status.message.contains(target), qPrintable(status.message));
        QVERIFY(!writer.IsOpen());
    }
    QFile file(existing);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("precious"));
    QVERIFY(QFileInfo(folder).isDir());
}

void TestAudioFile::failedCreateLeavesNoFile()
{
    FfmpegAudioFile writer;
    QVERIFY(writer.SetWmaProfile(10).ok);
    // No source format yet: refused before anything is created.
    QVERIFY(!writer.CreateOutput(path("early.wma"), 0).ok);
    QVERIFY(!QFile::exists(path("early.wma")));
    QVERIFY(writer.SetSourceFormat(44100, 2).ok);
    QVERIFY(!writer.CreateOutput(path("no/such/folder/x.wma"), 0).ok);
    QVERIFY(!writer.SetSourceFormat(0, 2).ok);
}

void TestAudioFile::closeAlwaysCloses()
{
    const QString output = path("closes.wma");
    FfmpegAudioFile writer;
    QVERIFY(writer.SetWmaProfile(10).ok);
    QVERIFY(writer.SetSourceFormat(44100, 2).ok);
    QVERIFY(writer.CreateOutput(output, 0).ok);
    QVERIFY(writer.SetSourceFormat(44100, 2).ok); // the run repeats it after creating
    QVERIFY(writer.IsOpen());
    QVERIFY(writer.WriteSamples(std::vector<float>(4000, 0.25f)).ok);
    QVERIFY(!writer.WriteSamples(std::vector<float>(3, 0.25f)).ok); // not whole frames
    QVERIFY(!writer.SetSourceFormat(22050, 1).ok);                  // too late to change
    QVERIFY(writer.Close().ok);
    QVERIFY(!writer.IsOpen());
    QVERIFY(writer.Close().ok);
    QCOMPARE(probe(output).sampleRate, 44100);

    // Switching off closes too, and the instance works again afterwards.
    FfmpegAudioFile reader;
    QVERIFY(reader.Open(output, 0, 1).ok);
    QVERIFY(reader.SetActive(false).ok);
    QVERIFY(!reader.IsOpen());
    QVERIFY(reader.SetActive(true).ok);
    QVERIFY(reader.Open(output, 0, 1).ok);
    QVERIFY(reader.DurationMs() > 0);
}

void TestAudioFile::wrapperThrowsWithMessage()
{
    TAudioFile2 file;
    const QString missing = path("nothing-here.mp3");
    try {
        file.Open(missing, 0, 1);
        QFAIL("Open of a missing file must raise");
    } catch (const AudioFileError &error) {
        QVERIFY(error.message().contains(missing));
    }
    QVERIFY_THROWS_EXCEPTION(AudioFileError, file.SetWmaProfile(48)); // no such profile
    QVERIFY_THROWS_EXCEPTION(AudioFileError, file.ReadSamples(10));   // nothing open
}

void TestAudioFile::nonFiniteSamplesBecomeSilence_data()
{
    QTest::addColumn<int>("profile");
    QTest::newRow("CBR") << 23;
    QTest::newRow("lossless") << 47;
}

void TestAudioFile::nonFiniteSamplesBecomeSilence()
{
    // A float WAV with a few NaN and infinite samples made the WMA encoder
    // refuse the whole file.
    QFETCH(int, profile);
    constexpr int kFrames = 44100;
    QByteArray wav;
    QDataStream out(&wav, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.setFloatingPointPrecision(QDataStream::SinglePrecision);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + kFrames * 8);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(3) << quint16(2) << quint32(44100) << quint32(44100 * 8) << quint16(8)
        << quint16(32);
    out.writeRawData("data", 4);
    out << quint32(kFrames * 8);
    for (int i = 0; i < kFrames; ++i) {
        float v = 0.5f * std::sin(i / 10.0f);
        if (i % 1000 == 500)
            v = std::numeric_limits<float>::quiet_NaN();
        else if (i == 20000)
            v = std::numeric_limits<float>::infinity();
        out << v << v;
    }
    const QString source = path(QString("nonfinite-%1.wav").arg(profile));
    const QString output = path(QString("nonfinite-%1.wma").arg(profile));
    QFile f(source);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(wav);
    f.close();

    const QString error = convert(source, output, profile);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const double seconds = probe(output).duration - firstSampleTime(output);
    QVERIFY2(qAbs(seconds - 1.0) <= 0.05, qPrintable(QString::number(seconds)));
}

void TestAudioFile::losslessProfileKeepsEverySample_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("frames");
    QTest::newRow("stereo") << 2 << 3 * 44100;
    QTest::newRow("mono upmixed") << 1 << 2 * 44100;
    // Lengths around the read size (2034) and the encoder's blocks (2048).
    for (int frames : {1, 99, 2034, 2049, 2084, 4096, 4097})
        QTest::addRow("%d frames", frames) << 2 << frames;
}

// The writer lets the encoder see the source before the header fixes the
// packet size: silence takes small frames and packets, noise few packet
// headers and a filled last packet, both no larger than flac -5 makes them.
void TestAudioFile::losslessPacketsSuitTheSource_data()
{
    QTest::addColumn<QString>("signal");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<double>("flacRatio"); // most bytes per byte of flac -5
    // Independent channels: the right one's generator starts elsewhere.
    const QString noise = "2*random(0)-1|0*st(1,if(eq(n,0),4242,ld(1)))+2*random(1)-1";
    QTest::newRow("2 s silence") << "0" << 2.0 << 1.0;
    QTest::newRow("10 s silence") << "0" << 10.0 << 1.0;
    QTest::newRow("1 s noise") << noise << 1.0 << 1.0;
    QTest::newRow("37 s noise") << noise << 37.0 << 1.0;
    // Mid takes half a bit a sample more than flac's verbatim copy of one channel.
    QTest::newRow("10 s noise, same in both") << "2*random(0)-1" << 10.0 << 1.04;
}

void TestAudioFile::losslessPacketsSuitTheSource()
{
    QFETCH(QString, signal);
    QFETCH(double, seconds);
    QFETCH(double, flacRatio);
    const QString source = path("suit.wav");
    const QString output = path(QString("suit-%1.wma").arg(QTest::currentDataTag()).replace(' ', '_'));
    const QString flac = path("suit.flac");
    QVERIFY(run("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                           QString("aevalsrc=exprs='%1':s=44100:d=%2:c=stereo").arg(signal).arg(seconds),
                           "-c:a", "pcm_s16le", source}));
    QVERIFY(run("flac", {"-5", "-s", "-f", "-o", flac, source}));
    const QString error = convert(source, output, 47);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const qint64 size = QFileInfo(output).size(), flacSize = QFileInfo(flac).size();
    QVERIFY2(size <= qint64(double(flacSize) * flacRatio),
             qPrintable(QString("%1 against %2").arg(size).arg(flacSize)));
}

void TestAudioFile::losslessProfileKeepsEverySample()
{
    QFETCH(int, channels);
    QFETCH(int, frames);
    const QString tag = QString("lossless-%1-%2").arg(channels).arg(frames);
    const QString source = path(tag + ".wav");
    const QString output = path(tag + ".wma");
    // Left and right differ, so a swapped or mixed channel shows.
    QVERIFY(run(
        "ffmpeg",
        {"-v", "error", "-y", "-f", "lavfi", "-i",
         QString("aevalsrc=exprs='0.4*sin(2*PI*330*t)|0.3*sin(2*PI*517*t)+0.02*(random(0)-0.5)':s=44100:d=%1")
             .arg(frames / 44100 + 1),
         "-af", QString("atrim=end_sample=%1").arg(frames), "-ac", QString::number(channels), "-c:a",
         "pcm_s16le", source}));
    const QString error = convert(source, output, 47);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    const Probe out = probe(output);
    QCOMPARE(out.codec, QString("wmalossless"));
    QCOMPARE(out.sampleRate, 44100);
    QCOMPARE(out.channels, 2);
    // Under 10 ms the stated length rounds to nothing and readers estimate it.
    if (frames >= 441)
        QVERIFY2(qAbs(out.duration - frames / 44100.0) <= 0.005, qPrintable(QString::number(out.duration)));
    QByteArray original, decoded;
    // Both sides carry the source's own samples.
    const QString both = channels == 1 ? "pan=stereo|c0=c0|c1=c0" : "anull";
    QVERIFY(run("ffmpeg", {"-v", "error", "-i", source, "-af", both, "-f", "s16le", "-"}, &original));
    QVERIFY(run("ffmpeg", {"-v", "error", "-i", output, "-f", "s16le", "-"}, &decoded));
    QCOMPARE(original.size(), frames * 4);
    QCOMPARE(decoded.size(), original.size());
    QVERIFY(decoded == original);
}

void TestAudioFile::downmixKeepsTheLevel_data()
{
    QTest::addColumn<int>("profile");
    QTest::addColumn<QString>("layout");
    QTest::newRow("44.1 kHz 48 kbps mono") << 16 << "stereo";
    QTest::newRow("44.1 kHz 32 kbps mono") << 17 << "stereo";
    QTest::newRow("5.1 to mono") << 16 << "5.1";
    QTest::newRow("5.1 to stereo") << 10 << "5.1";
}

void TestAudioFile::downmixKeepsTheLevel()
{
    // An in-phase sine at -1 dBFS on every channel must come out at -1 dBFS
    // on fewer channels, not louder and clipped.
    QFETCH(int, profile);
    QFETCH(QString, layout);
    const QString source = path(QString("inphase-%1-%2.wav").arg(profile).arg(layout));
    const QString output = path(QString("inphase-%1-%2.wma").arg(profile).arg(layout));
    const int channels = layout == "5.1" ? 6 : 2;
    QStringList sines;
    for (int c = 0; c < channels; ++c)
        sines << "0.8913*sin(2*PI*1000*t)";
    QVERIFY(run("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                           QString("aevalsrc=exprs='%1':c=%2:s=44100:d=2").arg(sines.join('|'), layout),
                           "-c:a", "pcm_f32le", source}));
    const QString error = convert(source, output, profile);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const std::vector<float> decoded = decode(output);
    QVERIFY(!decoded.empty());
    // Judged by its power: a lossy coder's noise may lift single peaks a little.
    float peak = 0;
    double power = 0;
    for (float v : decoded) {
        peak = std::max(peak, std::abs(v));
        power += double(v) * v;
    }
    const double rmsDbfs = 10 * std::log10(power / decoded.size());
    QVERIFY2(qAbs(rmsDbfs - (-1.0 - 3.0103)) <= 0.5, qPrintable(QString::number(rmsDbfs)));
    QVERIFY2(peak < 1.0f, qPrintable(QString::number(peak)));
}

void TestAudioFile::writeFailureGivesTheSystemReason()
{
    // A size limit stands in for a full disk: it needs no privileges or mount,
    // and the writer must pass on EFBIG as it would ENOSPC, not as EIO.
    const QString output = path("limited.wma");
    FfmpegAudioFile writer;
    QVERIFY(writer.SetWmaProfile(10).ok);
    QVERIFY(writer.SetSourceFormat(44100, 2).ok);
    QVERIFY(writer.CreateOutput(output, 0).ok);
    AudioStatus status;
    {
        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
        rlimit limited = saved;
        limited.rlim_cur = 100 * 1024;
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(setrlimit(RLIMIT_FSIZE, &limited) == 0);
        const std::vector<float> second(2 * 44100, 0.25f);
        for (int i = 0; i < 30 && status.ok; ++i)
            status = writer.WriteSamples(second);
        if (status.ok)
            status = writer.Close();
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
    }
    QVERIFY(!status.ok);
    QVERIFY2(status.message.contains(QString::fromLocal8Bit(std::strerror(EFBIG))),
             qPrintable(status.message));
    QVERIFY(writer.Close().ok || !writer.IsOpen());
}

void TestAudioFile::unindexableFileStaysWhole()
{
    // The seek index goes after the finished file. A size limit one byte
    // short of it makes its write fail: the file must stay as the muxer left it.
    std::vector<float> tone(2 * 3 * 44100);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.3f * std::sin(0.02f * float(i / 2) * (1.0f + float(i) * 1e-6f));
    const auto write = [&tone](const QString &output, rlim_t limit) {
        FfmpegAudioFile writer;
        AudioStatus status = writer.SetWmaProfile(10);
        if (status.ok)
            status = writer.SetSourceFormat(44100, 2);
        if (status.ok)
            status = writer.CreateOutput(output, 0);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limited = saved;
        limited.rlim_cur = limit;
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &limited);
        if (status.ok)
            status = writer.WriteSamples(tone);
        const AudioStatus closed = writer.Close();
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        return status.ok ? closed : status;
    };
    const QString indexed = path("indexed.wma");
    const QString limited = path("unindexed.wma");
    QVERIFY(write(indexed, RLIM_INFINITY).ok);
    const qint64 size = QFileInfo(indexed).size();
    const AudioStatus status = write(limited, rlim_t(size - 1));
    QVERIFY2(status.ok, qPrintable(status.message));
    // Byte for byte the indexed file without its index, down to the header's
    // statement of the file's size.
    const auto sizeField = [](qint64 value) {
        QByteArray bytes(8, 0);
        qToLittleEndian<quint64>(quint64(value), bytes.data());
        return bytes;
    };
    QByteArray whole = readFile(indexed), cut = readFile(limited);
    const qsizetype field = whole.indexOf(sizeField(whole.size()));
    QVERIFY(field > 0 && cut.size() < whole.size());
    QCOMPARE(cut.mid(field, 8), sizeField(cut.size()));
    QVERIFY(cut == whole.left(cut.size()).replace(field, 8, sizeField(cut.size())));
}

void TestAudioFile::workerThreadsChangeNothing_data()
{
    QTest::addColumn<int>("profile");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QStringList>("codec");
    QTest::newRow("mp3 to 128 kbps") << 10 << 44100 << 2 << QStringList{"-c:a", "libmp3lame"};
    QTest::newRow("48 kHz wav to mono") << 16 << 48000 << 2 << QStringList{"-c:a", "pcm_s16le"};
    QTest::newRow("mono ogg to lossless") << 47 << 44100 << 1 << QStringList{"-c:a", "libvorbis"};
}

void TestAudioFile::workerThreadsChangeNothing()
{
    QFETCH(int, profile);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(QStringList, codec);
    const QString tag = QString("same-%1").arg(profile);
    const QString source = path(tag + (codec[1] == "libmp3lame"  ? ".mp3"
                                       : codec[1] == "libvorbis" ? ".ogg"
                                                                 : ".wav"));
    QVERIFY(makeSource(source, 7.3, rate, channels, codec));

    QList<QByteArray> outputs;
    QList<std::vector<float>> reads;
    for (bool workers : {true, false}) {
        AudioFileOptions options;
        options.workerThreads = workers;
        const QString output = path(tag + (workers ? "-threads.wma" : "-direct.wma"));
        const QString error = convert(source, output, profile, options);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QFile file(output);
        QVERIFY(file.open(QIODevice::ReadOnly));
        outputs << file.readAll();

        // Uneven read sizes, as fades ask for, give the same samples.
        FfmpegAudioFile reader(options);
        QVERIFY(reader.Open(source, 0, 1).ok);
        std::vector<float> all, chunk;
        for (int i = 0; reader.ReadSamples(std::array{2034, 1, 0, 9000, 333}[i % 5], chunk).ok; ++i) {
            if (chunk.empty() && i % 5 != 2)
                break;
            all.insert(all.end(), chunk.begin(), chunk.end());
        }
        QCOMPARE(qint64(all.size()), qint64(reader.SampleCount()) * channels);
        reads << all;
    }
    QVERIFY(outputs[0] == outputs[1]);
    QVERIFY(reads[0] == reads[1]);
}

void TestAudioFile::workerFailuresSurfaceAtTheNextCall_data()
{
    QTest::addColumn<bool>("decode");
    QTest::addColumn<int>("goodChunks");
    QTest::addColumn<bool>("workers");
    QTest::addColumn<QString>("thrown");
    QTest::addColumn<QString>("message");
    for (bool workers : {true, false}) {
        const char *mode = workers ? "workers" : "direct";
        QTest::addRow("decode, %s", mode) << true << 5 << workers << ""
                                          << "the decoder broke";
        QTest::addRow("encode, %s", mode) << false << 5 << workers << ""
                                          << "the encoder broke";
        // Everything is queued before the worker fails: Close reports it.
        QTest::addRow("encode at the end, %s", mode) << false << 1 << workers << ""
                                                     << "the encoder broke";
    }
    // Whatever a worker meets is carried to the caller, never the end of the program.
    QTest::addRow("decode throws") << true << 5 << true << "std"
                                   << "the decoder broke";
    QTest::addRow("decode throws a non-exception") << true << 5 << true << "other"
                                                   << "An unknown error while decoding.";
    QTest::addRow("encode throws") << false << 5 << true << "std"
                                   << "the encoder broke";
    QTest::addRow("encode throws a non-exception") << false << 5 << true << "other"
                                                   << "An unknown error while encoding.";
}

void TestAudioFile::workerFailuresSurfaceAtTheNextCall()
{
    QFETCH(bool, decode);
    QFETCH(int, goodChunks);
    QFETCH(bool, workers);
    QFETCH(QString, thrown);
    QFETCH(QString, message);
    const QString source = path("faults.wav");
    if (!QFile::exists(source))
        QVERIFY(makeSource(source, 10, 44100, 2, {"-c:a", "pcm_s16le"}));
    AudioFileOptions options;
    options.workerThreads = workers;
    (decode ? options.decodeFault : options.encodeFault) =
        failAfter(goodChunks, decode ? "the decoder broke" : "the encoder broke", thrown);
    const int threadsBefore = threadCount();

    TAudioFile2 reader(std::make_unique<FfmpegAudioFile>(options));
    TAudioFile2 writer(std::make_unique<FfmpegAudioFile>(options));
    const int chunks = goodChunks == 1 ? 2 : 1000;
    try {
        reader.Open(source, 0, 1);
        writer.SetWmaProfile(10);
        writer.SetSourceFormat(reader.SourceFormatA(), reader.SourceFormatB());
        writer.CreateOutput(path("faults.wma"), 0);
        for (int i = 0; i < chunks; ++i)
            writer.WriteSamples(reader.ReadSamples(kChunk));
        reader.Close();
        writer.Close();
        QFAIL("the injected failure was not reported");
    } catch (const AudioFileError &error) {
        QCOMPARE(error.message(), message);
    }
    // As after any failure, the caller closes both; the rest goes quietly.
    reader.Close();
    writer.Close();
    QCOMPARE(threadCount(), threadsBefore);
    QVERIFY(QFile::remove(path("faults.wma")));
}

void TestAudioFile::stopMidFileLeavesNoThread()
{
    const QString source = path("stop.mp3");
    const QString output = path("stop.wma");
    QVERIFY(makeSource(source, 30, 44100, 2, {"-c:a", "libmp3lame"}));
    const int threadsBefore = threadCount();
    FfmpegAudioFile reader;
    FfmpegAudioFile writer;
    QVERIFY(reader.Open(source, 0, 1).ok);
    QVERIFY(writer.SetWmaProfile(10).ok);
    QVERIFY(writer.SetSourceFormat(44100, 2).ok);
    QVERIFY(writer.CreateOutput(output, 0).ok);
    std::vector<float> chunk;
    for (int i = 0; i < 100; ++i) {
        QVERIFY(reader.ReadSamples(kChunk, chunk).ok);
        QVERIFY(writer.WriteSamples(chunk).ok);
    }
    QCOMPARE(threadCount(), threadsBefore + 2);
    QVERIFY(reader.Close().ok);
    QVERIFY(writer.Close().ok);
    QCOMPARE(threadCount(), threadsBefore);
    // What was written before the stop is all there, in a finished file.
    const double seconds = probe(output).duration - firstSampleTime(output);
    QVERIFY2(qAbs(seconds - 100.0 * kChunk / 44100) <= 0.005, qPrintable(QString::number(seconds)));
}

// A source truncated while it is read fails, naming the file; silence never
// stands in for the rest.
void TestAudioFile::sourceCutShortWhileReadFails_data()
{
    QTest::addColumn<QString>("codec"); // also the file's suffix
    QTest::addColumn<bool>("workers");
    for (const char *codec : {"wav", "flac"}) {
        QTest::addRow("%s, workers", codec) << codec << true;
        QTest::addRow("%s, direct", codec) << codec << false;
    }
}

void TestAudioFile::sourceCutShortWhileReadFails()
{
    QFETCH(QString, codec);
    QFETCH(bool, workers);
    const QString whole = path("whole." + codec);
    const QString source = path("cut." + codec);
    if (!QFile::exists(whole))
        QVERIFY(makeSource(whole, 20, 44100, 2, {"-c:a", codec == "wav" ? "pcm_s16le" : codec}));
    QFile::remove(source);
    QVERIFY(QFile::copy(whole, source));
    AudioFileOptions options;
    options.workerThreads = workers;
    FfmpegAudioFile reader(options);
    QVERIFY(reader.Open(source, 0, 1).ok);
    std::vector<float> chunk;
    QVERIFY(reader.ReadSamples(kChunk, chunk).ok && !chunk.empty());
    QVERIFY(QFile::resize(source, QFileInfo(source).size() / 3));
    AudioStatus status;
    qint64 frames = kChunk;
    while ((status = reader.ReadSamples(kChunk, chunk)).ok && !chunk.empty())
        frames += qint64(chunk.size()) / 2;
    QVERIFY2(!status.ok, qPrintable(QString::number(frames)));
    QVERIFY2(status.message.contains(source) && status.message.contains("cut short"),
             qPrintable(status.message));
    QVERIFY(frames < reader.SampleCount() / 2);
}

// Why a file cannot be opened, in the system's words.
void TestAudioFile::unreadableFilesSayWhy_data()
{
    QTest::addColumn<QString>("link"); // where the file links to; none: it is missing
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << ""
                             << "No such file or directory";
    QTest::newRow("dangling link") << "nowhere.wav"
                                   << "No such file or directory (its symbolic link leads to ";
    QTest::newRow("link loop") << "loop.wav"
                               << "Too many levels of symbolic links";
    QTest::newRow("not sound") << "notes.txt"
                               << "it is damaged or not a sound file (";
}

void TestAudioFile::unreadableFilesSayWhy()
{
    QFETCH(QString, link);
    QFETCH(QString, reason);
    const QString file = path("loop.wav"); // in the loop row, it links to itself
    QFile::remove(file);
    if (!link.isEmpty())
        QVERIFY(QFile::link(path(link), file));
    QFile notes(path("notes.txt"));
    QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("Track list\n1. Overture\n") > 0);
    notes.close();
    const AudioStatus status = FfmpegAudioFile().Open(file, 0, 1);
    QVERIFY2(status.message.startsWith(QStringLiteral("Cannot open \"%1\": %2").arg(file, reason)),
             qPrintable(status.message));
}

QTEST_GUILESS_MAIN(TestAudioFile)
#include "tst_audiofile.moc"
