// Size and speed of the lossless WMA encoder against `flac -5`, on a
// music-like synthetic signal and on a real recording, both 44.1 kHz stereo.
#include "wmalosslessasf.h"
#include "wmalosslessencoder.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

constexpr int Rate = 44100;
constexpr const char *DefaultRecording = "/usr/share/scummvm/drascula/audio/track2.ogg"; // drascula-music

double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Chords of decaying harmonic notes, panned, with a quiet noise floor.
QVector<qint16> musicLike(int seconds)
{
    const qsizetype frames = qsizetype(seconds) * Rate;
    QVector<qint16> out(frames * 2);
    const double roots[] = {220.0, 174.61, 261.63, 196.0};
    quint32 seed = 7;
    for (qsizetype i = 0; i < frames; ++i) {
        const double t = double(i) / Rate;
        const int bar = int(t / 2.0);
        const double inBar = t - bar * 2.0;
        const double root = roots[bar % 4];
        double left = 0, right = 0;
        const double ratios[] = {1.0, 1.25, 1.5, 2.0};
        for (int n = 0; n < 4; ++n) {
            const double onset = n * 0.25;
            if (inBar < onset)
                continue;
            const double env = std::exp(-(inBar - onset) * 1.8);
            const double f = root * ratios[n] * (1 + 0.003 * std::sin(2 * M_PI * 5 * t));
            double note = 0;
            for (int h = 1; h <= 6; ++h)
                note += std::sin(2 * M_PI * f * h * t + h) / (h * h);
            const double pan = 0.2 + 0.2 * n;
            left += 6000 * env * note * (1 - pan);
            right += 6000 * env * note * pan;
        }
        seed = seed * 1664525u + 1013904223u;
        const double noise = (int(seed >> 16) - 32768) / 2048.0;
        out[2 * i] = qint16(std::clamp(std::lround(left + noise), -32768L, 32767L));
        out[2 * i + 1] = qint16(std::clamp(std::lround(right - noise), -32768L, 32767L));
    }
    return out;
}

QVector<qint16> decodeRecording(const QString &path, int seconds)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-v", "error", "-i", path, "-t", QString::number(seconds), "-f",
                                            "s16le", "-ac", "2", "-ar", QString::number(Rate), "-"});
    if (!ffmpeg.waitForFinished(300000))
        return {};
    const QByteArray bytes = ffmpeg.readAllStandardOutput();
    QVector<qint16> out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.constData(), out.size() * 2);
    return out;
}

bool parseLms(const QString &text, std::vector<WmaLosslessLmsStage> &stages)
{
    stages.clear();
    for (const QString &part : text.split(',', Qt::SkipEmptyParts)) {
        const QStringList fields = part.split(':');
        if (fields.size() != 2)
            return false;
        stages.push_back({fields[0].toInt(), fields[1].toInt()});
    }
    return !stages.empty();
}

void run(const char *name, const QVector<qint16> &pcm, const WmaLosslessSettings &settings,
         QTemporaryDir &dir)
{
    const qint64 frames = pcm.size() / 2;
    const double audioSeconds = double(frames) / Rate;
    if (frames == 0) {
        std::printf("%-12s no audio\n", name);
        return;
    }

    WmaLosslessEncoder encoder(Rate, 2, settings);
    qint64 bytes = 0;
    const double start = cpuSeconds();
    for (qint64 done = 0; done < frames; done += 65536) {
        const int count = int(std::min<qint64>(65536, frames - done));
        for (const WmaLosslessPacket &p : encoder.encode(pcm.constData() + done * 2, count))
            bytes += p.data.size();
    }
    for (const WmaLosslessPacket &p : encoder.flush())
        bytes += p.data.size();
    const double encodeSeconds = cpuSeconds() - start;

    // The ASF file and a check that ffmpeg gives the input back.
    const QString asf = dir.filePath(QStringLiteral("%1.wma").arg(name));
    writeWmaLosslessAsf(asf, pcm.constData(), frames, Rate, 2, nullptr, settings);
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-v", "error", "-i", asf, "-f", "s16le", "-"});
    ffmpeg.waitForFinished(300000);
    const QByteArray input(reinterpret_cast<const char *>(pcm.constData()), pcm.size() * 2);
    const bool exact = ffmpeg.readAllStandardOutput() == input;

    const QString raw = dir.filePath(QStringLiteral("%1.raw").arg(name));
    const QString flacPath = dir.filePath(QStringLiteral("%1.flac").arg(name));
    QFile rawFile(raw);
    rawFile.open(QIODevice::WriteOnly);
    rawFile.write(input);
    rawFile.close();
    QProcess flac;
    const auto flacStart = std::chrono::steady_clock::now();
    flac.start(QStringLiteral("flac"),
               {"-5", "-s", "-f", "--force-raw-format", "--endian=little", "--sign=signed", "--channels=2",
                "--bps=16", "--sample-rate=44100", "-o", flacPath, raw});
    flac.waitForFinished(300000);
    const double flacSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - flacStart).count();
    const qint64 flacBytes = QFileInfo(flacPath).size();

    const double ratio = flacBytes > 0 ? double(bytes) / flacBytes : 0;
    const double speed = audioSeconds / std::max(encodeSeconds, 1e-9);
    std::printf(
        "%-12s %7.1f s  raw %9lld  ours %9lld (%.1f%%, %lld raw tiles of %lld)  asf %9lld  flac -5 %9lld "
        "(%.1fx rt)  ours/flac %.3f  speed %.1fx rt  decoded %s\n",
        name, audioSeconds, (long long)input.size(), (long long)bytes, 100.0 * bytes / input.size(),
        (long long)encoder.rawTiles(), (long long)(encoder.rawTiles() + encoder.codedTiles()),
        (long long)QFileInfo(asf).size(), (long long)flacBytes, audioSeconds / flacSeconds, ratio, speed,
        exact ? "bit-exact" : "DIFFERENT");
    std::printf("%-12s target size <= 1.10 x flac: %s; target speed >= 20x real time: %s\n", name,
                ratio <= 1.10 ? "met" : "MISSED", speed >= 20 ? "met" : "MISSED");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int seconds = 180;
    QString recording = QString::fromUtf8(DefaultRecording);
    WmaLosslessSettings settings;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--seconds")
            seconds = args[i + 1].toInt();
        else if (args[i] == "--recording")
            recording = args[i + 1];
        else if (args[i] == "--lms" && !parseLms(args[i + 1], settings.lms))
            return 2;
        else if (args[i] == "--movave")
            settings.moveAverageScaling = args[i + 1].toInt();
        else if (args[i] == "--seekable")
            settings.seekableInterval = args[i + 1].toInt();
        else if (args[i] == "--ac") { // scaling:c1:c2..., or "off"
            const QStringList f = args[i + 1].split(':');
            settings.acScaling = f.value(0).toInt();
            settings.acCoefs.clear();
            for (int k = 1; k < f.size(); ++k)
                settings.acCoefs.push_back(f[k].toInt());
        }
    }
    QTemporaryDir dir;
    run("music-like", musicLike(seconds), settings, dir);
    if (QFileInfo::exists(recording))
        run("recording", decodeRecording(recording, seconds), settings, dir);
    else
        std::printf("recording    %s not found (install drascula-music or pass --recording FILE)\n",
                    qPrintable(recording));
    return 0;
}
