// Converts the same long sources to WMA 128 kbps 44.1 kHz through the audio
// component, with and without its worker threads, and through the ffmpeg
// tool, interleaved in one run; prints the medians of wall time, CPU time and
// peak memory.
#include "../benchtools.h"
#include "ffmpegaudiofile.h"
#include "taudiofile2.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

namespace {
constexpr int kChunk = 2034;
constexpr int kProfile128 = 10; // WMA9 44KHz, 128Kbps, Stereo, CBR

struct Measured {
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKb = 0;
};

// Runs a program and reports its wall time and its own peak resident size.
Measured measure(const QStringList &command)
{
    Measured result;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = bench::spawn(command);
    if (pid < 0)
        return result;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return result;
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    result.peakKb = usage.ru_maxrss;
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

// Per measure, the median over the runs; any failed run fails the row.
Measured median(std::vector<Measured> runs)
{
    Measured result;
    result.ok =
        !runs.empty() && std::all_of(runs.begin(), runs.end(), [](const Measured &m) { return m.ok; });
    auto mid = [&](auto field) {
        std::vector<double> values;
        for (const Measured &m : runs)
            values.push_back(double(field(m)));
        std::sort(values.begin(), values.end());
        return values.empty() ? 0.0 : values[values.size() / 2];
    };
    result.seconds = mid([](const Measured &m) { return m.seconds; });
    result.cpuSeconds = mid([](const Measured &m) { return m.cpuSeconds; });
    result.peakKb = long(mid([](const Measured &m) { return m.peakKb; }));
    return result;
}

// The conversion as the window's run makes it: one chunk read, one written.
int convert(const QString &source, const QString &output, bool workers)
{
    try {
        AudioFileOptions options;
        options.workerThreads = workers;
        TAudioFile2 reader(std::make_unique<FfmpegAudioFile>(options));
        TAudioFile2 writer(std::make_unique<FfmpegAudioFile>(options));
        writer.SetWmaProfile(kProfile128);
        reader.Open(source, 0, 1);
        writer.SetSourceFormat(reader.SourceFormatA(), reader.SourceFormatB());
        writer.CreateOutput(output, 0);
        writer.SetSourceFormat(reader.SourceFormatA(), reader.SourceFormatB());
        for (;;) {
            const std::vector<float> samples = reader.ReadSamples(kChunk);
            if (upperBound(samples) < 0)
                break;
            writer.WriteSamples(samples);
        }
        reader.Close();
        writer.Close();
    } catch (const AudioFileError &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}

bool makeSources(const QTemporaryDir &dir, double minutes, const QString &tag)
{
    const QString seconds = QString::number(minutes * 60);
    const QString wav = dir.filePath(tag + ".wav");
    // A beeping tone under noise, so the encoders have something to work on.
    const QStringList tone{"ffmpeg",
                           "-nostdin",
                           "-v",
                           "error",
                           "-f",
                           "lavfi",
                           "-i",
                           "sine=f=440:b=3:sample_rate=44100:d=" + seconds,
                           "-f",
                           "lavfi",
                           "-i",
                           "anoisesrc=a=0.05:r=44100:d=" + seconds,
                           "-filter_complex",
                           "amix=inputs=2",
                           "-ac",
                           "2"};
    return measure(tone + QStringList{"-c:a", "pcm_s16le", wav}).ok &&
           measure({"ffmpeg", "-nostdin", "-v", "error", "-i", wav, "-c:a", "libmp3lame", "-b:a", "192k",
                    dir.filePath(tag + ".mp3")})
               .ok &&
           measure({"ffmpeg", "-nostdin", "-v", "error", "-i", wav, "-c:a", "libvorbis", "-q:a", "5",
                    dir.filePath(tag + ".ogg")})
               .ok;
}

void printRow(const char *kind, const char *who, const Measured &m, const Measured &peer, long shortPeakKb)
{
    std::printf("%-4s %-11s %7.2f %6.3f %7.2f %6.3f %8.1f %8.1f%s\n", kind, who, m.seconds,
                peer.seconds > 0 ? m.seconds / peer.seconds : 0.0, m.cpuSeconds,
                peer.cpuSeconds > 0 ? m.cpuSeconds / peer.cpuSeconds : 0.0, m.peakKb / 1024.0,
                shortPeakKb / 1024.0, m.ok ? "" : "  FAILED");
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == "--convert")
        return convert(args[2], args[3], args[4] == "workers");

    auto option = [&](const char *name, double fallback) {
        const qsizetype at = args.indexOf(QLatin1String(name));
        return at > 0 && at + 1 < args.size() ? args[at + 1].toDouble() : fallback;
    };
    const double minutes = option("--minutes", 10);
    const int runs = int(option("--runs", 3));
    if (minutes <= 0 || runs < 1) {
        std::fprintf(stderr, "usage: %s [--minutes N] [--runs N] [--all-kinds]\n", qPrintable(args[0]));
        return 2;
    }
    QStringList kinds{"mp3"};
    if (args.contains("--all-kinds"))
        kinds << "wav"
              << "ogg";

    QTemporaryDir dir;
    const double shortMinutes = minutes / 10;
    std::printf("Making %.1f- and %.1f-minute sources (44.1 kHz stereo MP3, WAV, Ogg)...\n", minutes,
                shortMinutes);
    std::fflush(stdout);
    if (!dir.isValid() || !makeSources(dir, minutes, "long") || !makeSources(dir, shortMinutes, "short")) {
        std::fprintf(stderr, "Could not make the sources with the ffmpeg tool.\n");
        return 1;
    }

    const QString self = QCoreApplication::applicationFilePath();
    std::printf("%d runs each, interleaved; medians. Ratios are against ffmpeg in the same run.\n", runs);
    std::printf("%-4s %-11s %7s %6s %7s %6s %8s %8s\n", "src", "who", "wall s", "ratio", "cpu s", "ratio",
                "peak MiB", "short pk");
    bool allOk = true;
    for (const QString &kind : kinds) {
        const QString source = dir.filePath("long." + kind);
        const QString shortSource = dir.filePath("short." + kind);
        std::vector<Measured> threaded, direct, ffmpeg, shortThreaded, shortDirect;
        for (int run = 0; run < runs; ++run) {
            const QString tag = kind + QString::number(run);
            auto ours = [&](const QString &from, const QString &name, const char *mode) {
                return measure({self, "--convert", from, dir.filePath(name + tag + ".wma"), mode});
            };
            threaded.push_back(ours(source, "workers-", "workers"));
            ffmpeg.push_back(measure({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", source, "-c:a",
                                      "wmav2", "-b:a", "128k", dir.filePath("ffmpeg-" + tag + ".wma")}));
            direct.push_back(ours(source, "direct-", "direct"));
            shortThreaded.push_back(ours(shortSource, "short-workers-", "workers"));
            shortDirect.push_back(ours(shortSource, "short-direct-", "direct"));
            for (const char *name : {"workers-", "ffmpeg-", "direct-", "short-workers-", "short-direct-"})
                QFile::remove(dir.filePath(QLatin1String(name) + tag + ".wma"));
        }
        const Measured peer = median(ffmpeg);
        const QByteArray name = kind.toLatin1();
        printRow(name.constData(), "ours", median(threaded), peer, median(shortThreaded).peakKb);
        printRow(name.constData(), "ours 1 thr", median(direct), peer, median(shortDirect).peakKb);
        printRow(name.constData(), "ffmpeg", peer, peer, 0);
        std::fflush(stdout);
        allOk = allOk && median(threaded).ok && median(direct).ok && peer.ok;
    }
    std::printf(
        "Targets: wall ratio of \"ours\" <= 0.85; peak memory <= 60 MiB and the same for the %.1f-minute "
        "source (short pk).\n",
        shortMinutes);
    return allOk ? 0 : 1;
}
