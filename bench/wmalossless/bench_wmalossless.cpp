// Size and speed of the lossless WMA encoder against `flac -5` and `flac -8`
// on 44.1 kHz stereo rows: real recordings (--recording, repeatable), a
// synthetic music mix, digital silence (also 10 s and 2 s of it), independent
// white noise (also 37 s of it), a sweep, and a mix of the easy cases. With --cli PATH each row
// is also converted by the whole `sonbrel-cli convert --format 46` process
// from a WAV, timed against `flac -5` on the same WAV (run the bench under
// `taskset -c N` to pin both to one core).
// Each row writes its own files; sizes are those files' sizes. Encoding time
// is the CPU time for a whole file (flac's is its process's), ours and
// flac -5 interleaved, median of runs: both run on one core, and other work
// on the machine does not count.
#include "wmalosslessasf.h"
#include "wmalosslessencoder.h"
#include "wmalosslesslayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int Rate = 44100;
constexpr const char *DefaultRecording = "/usr/share/scummvm/drascula/audio/track2.ogg"; // drascula-music

double ownCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

double childCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

qint16 clip16(double v)
{
    return qint16(std::clamp(std::lround(v), -32768L, 32767L));
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
        out[2 * i] = clip16(left + noise);
        out[2 * i + 1] = clip16(right - noise);
    }
    return out;
}

// A third each: full-scale white noise with left = right, digital silence,
// and a logarithmic sine sweep from 20 Hz to 20 kHz at half scale.
QVector<qint16> noiseSilenceSweep(int seconds)
{
    const qsizetype third = qsizetype(seconds) * Rate / 3;
    QVector<qint16> out(third * 3 * 2, 0);
    quint32 seed = 99;
    for (qsizetype i = 0; i < third; ++i) {
        seed = seed * 1664525u + 1013904223u;
        out[2 * i] = out[2 * i + 1] = qint16(seed >> 16);
    }
    const double duration = double(third) / Rate;
    const double k = std::log(1000.0);
    for (qsizetype i = 0; i < third; ++i) {
        const double t = double(i) / Rate;
        const double phase = 2 * M_PI * 20 * duration / k * (std::exp(k * t / duration) - 1);
        const qsizetype at = 2 * (2 * third + i);
        out[at] = out[at + 1] = clip16(16384 * std::sin(phase));
    }
    return out;
}

QVector<qint16> silence(double seconds)
{
    return QVector<qint16>(qsizetype(seconds * Rate) * 2, 0);
}

// Full-scale white noise, independent in each channel: nothing to predict.
QVector<qint16> whiteNoise(int seconds)
{
    QVector<qint16> out(qsizetype(seconds) * Rate * 2);
    quint32 seed = 5;
    for (qint16 &v : out) {
        seed = seed * 1664525u + 1013904223u;
        v = qint16(seed >> 16);
    }
    return out;
}

// A logarithmic sweep from 20 Hz to 20 kHz at half scale, the right channel a quarter turn behind.
QVector<qint16> sweep(int seconds)
{
    const qsizetype frames = qsizetype(seconds) * Rate;
    QVector<qint16> out(frames * 2);
    const double k = std::log(1000.0);
    for (qsizetype i = 0; i < frames; ++i) {
        const double t = double(i) / Rate;
        const double phase = 2 * M_PI * 20 * seconds / k * (std::exp(k * t / seconds) - 1);
        out[2 * i] = clip16(16384 * std::sin(phase));
        out[2 * i + 1] = clip16(16384 * std::sin(phase - M_PI / 2));
    }
    return out;
}

QByteArray wavFile(const QByteArray &pcm)
{
    QByteArray out;
    auto le = [&out](quint32 v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.append(char(v >> (8 * i)));
    };
    out.append("RIFF");
    le(36 + pcm.size(), 4);
    out.append("WAVEfmt ");
    le(16, 4);
    le(1, 2);
    le(2, 2);
    le(Rate, 4);
    le(Rate * 4, 4);
    le(4, 2);
    le(16, 2);
    out.append("data");
    le(pcm.size(), 4);
    return out + pcm;
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

double runFlac(const QString &level, const QString &raw, const QString &out)
{
    QProcess flac;
    const double start = childCpuSeconds();
    flac.start(QStringLiteral("flac"),
               {level, "-s", "-f", "--force-raw-format", "--endian=little", "--sign=signed", "--channels=2",
                "--bps=16", "--sample-rate=44100", "-o", out, raw});
    flac.waitForFinished(600000);
    return childCpuSeconds() - start;
}

// The whole program converting one WAV file, with settings of its own.
double runCli(const QString &cli, const QString &wav, const QString &outDir)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), outDir);
    process.setProcessEnvironment(env);
    QDir(outDir).removeRecursively();
    QDir().mkpath(outDir);
    const double start = childCpuSeconds();
    process.start(cli, {"convert", "--jobs", "1", "--format", "46", "--output", outDir, wav});
    process.waitForFinished(600000);
    return childCpuSeconds() - start;
}

double runFlacWav(const QString &level, const QString &wav, const QString &out)
{
    QProcess flac;
    const double start = childCpuSeconds();
    flac.start(QStringLiteral("flac"), {level, "-s", "-f", "-o", out, wav});
    flac.waitForFinished(600000);
    return childCpuSeconds() - start;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct Row {
    QByteArray name;
    QVector<qint16> pcm;
};

void runCliRow(const Row &row, const QString &cli, int runs, QTemporaryDir &dir)
{
    const QString base = dir.filePath(QString::fromUtf8(row.name));
    const QString wav = base + "-cli.wav", outDir = base + "-cli", flac5 = base + "-cli-5.flac",
                  flac8 = base + "-cli-8.flac";
    QFile wavOut(wav);
    const QByteArray pcm(reinterpret_cast<const char *>(row.pcm.constData()), row.pcm.size() * 2);
    if (!wavOut.open(QIODevice::WriteOnly) || wavOut.write(wavFile(pcm)) < 0)
        return;
    wavOut.close();
    std::vector<double> ours, peer;
    for (int i = 0; i < runs; ++i) {
        ours.push_back(runCli(cli, wav, outDir));
        peer.push_back(runFlacWav(QStringLiteral("-5"), wav, flac5));
    }
    runFlacWav(QStringLiteral("-8"), wav, flac8);
    const qint64 size = QFileInfo(outDir + "/" + QFileInfo(wav).completeBaseName() + ".wma").size();
    const qint64 size5 = QFileInfo(flac5).size(), size8 = QFileInfo(flac8).size();
    const double timeOurs = median(ours), timeFlac = median(peer);
    std::printf("%-20s cli: ours %9lld  x%.4f flac-5  x%.4f flac-8  cpu %.3f s vs flac-5 %.3f s (x%.2f)\n",
                row.name.constData(), (long long)size, double(size) / std::max<qint64>(size5, 1),
                double(size) / std::max<qint64>(size8, 1), timeOurs, timeFlac, timeOurs / timeFlac);
    std::fflush(stdout);
}

void run(const Row &row, const WmaLosslessSettings &settings, int runs, QTemporaryDir &dir)
{
    const qint64 frames = row.pcm.size() / 2;
    if (frames == 0) {
        std::printf("%-20s no audio\n", row.name.constData());
        return;
    }
    const QString base = dir.filePath(QString::fromUtf8(row.name));
    const QString raw = base + ".raw", asf = base + ".wma", flac5 = base + "-5.flac",
                  flac8 = base + "-8.flac";
    const QByteArray input(reinterpret_cast<const char *>(row.pcm.constData()), row.pcm.size() * 2);
    QFile rawFile(raw);
    if (!rawFile.open(QIODevice::WriteOnly) || rawFile.write(input) != input.size())
        return;
    rawFile.close();

    // The packet size the program would choose for this row (unless one was given).
    WmaLosslessSettings chosen = settings;
    if (chosen.blockAlign == 0) {
        std::vector<float> samples(row.pcm.begin(), row.pcm.end());
        for (float &v : samples)
            v /= 32768.0f;
        const wmalossless::SourceEstimate estimate = wmalossless::estimateSource(samples.data(), frames, 2);
        const wmalossless::StreamLayout layout =
            wmalossless::layoutFor(Rate, 2, frames, estimate.bitsPerSample, estimate.noise);
        chosen.frameShift = layout.frameShift;
        chosen.blockAlign = layout.blockAlign;
    }
    std::vector<double> ours, peer;
    for (int i = 0; i < runs; ++i) {
        QFile::remove(asf);
        const double start = ownCpuSeconds();
        (void)writeWmaLosslessAsf(asf, row.pcm.constData(), frames, Rate, 2, chosen);
        ours.push_back(ownCpuSeconds() - start);
        peer.push_back(runFlac(QStringLiteral("-5"), raw, flac5));
    }
    runFlac(QStringLiteral("-8"), raw, flac8);

    // ffmpeg must give the input back, and say nothing about time stamps.
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-v", "warning", "-i", asf, "-f", "s16le", "-"});
    ffmpeg.waitForFinished(600000);
    const bool exact = ffmpeg.readAllStandardOutput() == input;
    const int warnings = int(ffmpeg.readAllStandardError().count('\n'));

    const double seconds = double(frames) / Rate;
    const qint64 size = QFileInfo(asf).size(), size5 = QFileInfo(flac5).size(),
                 size8 = QFileInfo(flac8).size();
    const double vs5 = double(size) / std::max<qint64>(size5, 1),
                 vs8 = double(size) / std::max<qint64>(size8, 1);
    const double timeOurs = median(ours), timeFlac = median(peer);
    std::printf("%-20s %5.1f s raw %9lld  ours %9lld  flac-5 %9lld (x%.3f)  flac-8 %9lld (x%.3f)  "
                "speed %5.0fx rt vs flac-5 %5.0fx rt (time x%.2f)  %s, %d ffmpeg warnings\n",
                row.name.constData(), seconds, (long long)input.size(), (long long)size, (long long)size5,
                vs5, (long long)size8, vs8, seconds / timeOurs, seconds / timeFlac, timeOurs / timeFlac,
                exact ? "bit-exact" : "DIFFERENT", warnings);
    std::printf("%-20s targets: size <= 1.00 x flac -5: %s; time <= 1.5 x flac -5: %s\n",
                row.name.constData(), vs5 <= 1.0 ? "met" : "MISSED",
                timeOurs <= 1.5 * timeFlac ? "met" : "MISSED");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int seconds = 60;
    int runs = 3;
    QStringList recordings;
    QString cli;
    WmaLosslessSettings settings;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += args[i] == "--keep" ? 1 : 2) {
        if (args[i] == "--seconds")
            seconds = std::max(3, args[i + 1].toInt());
        else if (args[i] == "--runs")
            runs = std::max(1, args[i + 1].toInt());
        else if (args[i] == "--recording")
            recordings << args[i + 1];
        else if (args[i] == "--cli")
            cli = args[i + 1];
        else if (args[i] == "--block-align") // bytes; 0 (default): as the program chooses
            settings.blockAlign = args[i + 1].toInt();
        else if (args[i] == "--seekable")
            settings.seekableInterval = args[i + 1].toInt();
        else if (args[i] == "--ac" && args[i + 1] == "off")
            settings.acCoefs.clear();
        else if (args[i] == "--lms") { // order:scaling,order:scaling...
            settings.lms.clear();
            for (const QString &stage : args[i + 1].split(','))
                settings.lms.push_back({stage.section(':', 0, 0).toInt(), stage.section(':', 1, 1).toInt()});
        }
    }
    if (recordings.isEmpty())
        recordings << QString::fromUtf8(DefaultRecording);
    QTemporaryDir dir;
    dir.setAutoRemove(!args.contains(QStringLiteral("--keep")));
    if (!dir.autoRemove())
        std::printf("files kept in %s\n", qPrintable(dir.path()));
    std::vector<Row> rows;
    for (const QString &recording : recordings) {
        if (QFileInfo::exists(recording))
            rows.push_back(
                {QFileInfo(recording).completeBaseName().toUtf8(), decodeRecording(recording, seconds)});
        else
            std::printf("%s not found (install drascula-music or pass --recording FILE)\n",
                        qPrintable(recording));
    }
    rows.push_back({"music-like", musicLike(seconds)});
    rows.push_back({"silence", silence(seconds)});
    rows.push_back({"silence-10s", silence(10)});
    rows.push_back({"silence-2s", silence(2)});
    rows.push_back({"white-noise", whiteNoise(seconds)});
    rows.push_back({"white-noise-37s", whiteNoise(37)});
    rows.push_back({"sweep", sweep(seconds)});
    rows.push_back({"noise-silence-sweep", noiseSilenceSweep(seconds)});
    for (const Row &row : rows) {
        run(row, settings, runs, dir);
        if (!cli.isEmpty())
            runCliRow(row, cli, runs, dir);
    }
    return 0;
}
