// Converts the same long sources to WMA 128 kbps through the audio component
// and through the ffmpeg command-line tool, and prints time and peak memory.
#include "taudiofile2.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

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
    std::vector<QByteArray> args;
    for (const QString &arg : command)
        args.push_back(arg.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    Measured result;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
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

int convert(const QString &source, const QString &output)
{
    try {
        TAudioFile2 reader;
        TAudioFile2 writer;
        reader.SetActive(true);
        writer.SetActive(true);
        writer.SetWmaProfile(kProfile128);
        reader.Open(source, 0, 1);
        writer.SetSourceFormat(reader.SourceFormatA(), reader.SourceFormatB());
        writer.CreateOutput(output, 0);
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
    const QStringList tone{"ffmpeg", "-nostdin", "-v", "error",
                           "-f",     "lavfi",    "-i", "sine=f=440:b=3:sample_rate=44100:d=" + seconds,
                           "-ac",    "2"};
    return measure(tone + QStringList{"-c:a", "pcm_s16le", wav}).ok &&
           measure({"ffmpeg", "-nostdin", "-v", "error", "-i", wav, "-c:a", "libmp3lame", "-b:a", "192k",
                    dir.filePath(tag + ".mp3")})
               .ok &&
           measure({"ffmpeg", "-nostdin", "-v", "error", "-i", wav, "-c:a", "libvorbis", "-q:a", "5",
                    dir.filePath(tag + ".ogg")})
               .ok;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == "--convert")
        return convert(args[2], args[3]);

    double minutes = 10;
    if (const qsizetype at = args.indexOf("--minutes"); at > 0 && at + 1 < args.size())
        minutes = args[at + 1].toDouble();
    if (minutes <= 0) {
        std::fprintf(stderr, "usage: %s [--minutes N]\n", qPrintable(args[0]));
        return 2;
    }

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
    std::printf("%-5s %8s %8s %6s %8s %8s %6s %12s %12s %14s\n", "src", "ours s", "ffmpeg s", "ratio",
                "ours cpu", "ffm cpu", "ratio", "ours peak", "ffmpeg peak", "ours short pk");
    bool allOk = true;
    for (const QString &kind : {QString("mp3"), QString("wav"), QString("ogg")}) {
        const QString source = dir.filePath("long." + kind);
        const Measured ours = measure({self, "--convert", source, dir.filePath("ours-" + kind + ".wma")});
        const Measured theirs =
            measure({"ffmpeg", "-nostdin", "-v", "error", "-i", source, "-c:a", "wmav2", "-b:a", "128k",
                     "-ar", "44100", "-ac", "2", dir.filePath("ffmpeg-" + kind + ".wma")});
        const Measured small = measure(
            {self, "--convert", dir.filePath("short." + kind), dir.filePath("ours-short-" + kind + ".wma")});
        allOk = allOk && ours.ok && theirs.ok && small.ok;
        std::printf("%-5s %8.2f %8.2f %6.3f %8.2f %8.2f %6.3f %9ld kB %9ld kB %11ld kB\n", qPrintable(kind),
                    ours.seconds, theirs.seconds, theirs.seconds > 0 ? ours.seconds / theirs.seconds : 0.0,
                    ours.cpuSeconds, theirs.cpuSeconds,
                    theirs.cpuSeconds > 0 ? ours.cpuSeconds / theirs.cpuSeconds : 0.0, ours.peakKb,
                    theirs.peakKb, small.peakKb);
        std::fflush(stdout);
    }
    std::printf(
        "ratio: our wall (and CPU) time / ffmpeg's (target <= 1.05); peak memory should not grow with length "
        "(compare the %.1f-minute column).\n",
        shortMinutes);
    return allOk ? 0 : 1;
}
