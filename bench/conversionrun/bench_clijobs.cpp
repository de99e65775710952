// A batch of 20 three-minute MP3s (by default) to 128 kbps 44.1 kHz through
// sonbrel-cli with its default number of jobs and with one job, against
// ffmpeg converting the same files one after the other and two at once.
// The four are run interleaved, several rounds; medians are printed, with
// each program's peak memory (the largest process of a round).
#include "../benchtools.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <vector>

namespace {

struct Measure {
    double seconds = 0;
    double peakMiB = 0;
};

// Runs the commands, at most `parallel` at a time; wall time and the
// largest peak memory among them.
Measure run(const QList<QStringList> &commands, int parallel)
{
    QElapsedTimer timer;
    timer.start();
    Measure measure;
    int started = 0;
    int running = 0;
    while (started < commands.size() || running > 0) {
        while (running < parallel && started < commands.size()) {
            if (bench::spawn(commands[started++], true) < 0)
                std::exit(1);
            ++running;
        }
        int status = 0;
        rusage usage{};
        if (wait4(-1, &status, 0, &usage) < 0)
            std::exit(1);
        --running;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "a command failed\n");
            std::exit(1);
        }
        measure.peakMiB = std::max(measure.peakMiB, usage.ru_maxrss / 1024.0);
    }
    measure.seconds = timer.nsecsElapsed() / 1e9;
    return measure;
}

Measure median(std::vector<Measure> runs)
{
    std::sort(runs.begin(), runs.end(),
              [](const Measure &a, const Measure &b) { return a.seconds < b.seconds; });
    Measure middle = runs[runs.size() / 2];
    for (const Measure &m : runs)
        middle.peakMiB = std::max(middle.peakMiB, m.peakMiB);
    return middle;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 180;
    const int count = argc > 2 ? std::atoi(argv[2]) : 20;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    const QString cli = QCoreApplication::applicationDirPath() + "/sonbrel-cli";

    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("src"));
    if (!bench::makeTone(dir.filePath("tone.mp3"), seconds, {"-b:a", "192k"}))
        return 1;
    QStringList sources;
    for (int i = 0; i < count; ++i) {
        sources << dir.filePath(QStringLiteral("src/%1.mp3").arg(i, 2, 10, QLatin1Char('0')));
        QFile::copy(dir.filePath("tone.mp3"), sources.last());
    }

    // The settings file of the user running this is left alone.
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    std::vector<Measure> jobs, oneJob, ffmpegOne, ffmpegTwo;
    for (int round = 0; round < rounds; ++round) {
        const QString out = dir.filePath(QStringLiteral("out%1").arg(round));
        const auto cliRun = [&](const QString &name, const QStringList &extra) {
            return run({QStringList{cli, "convert", "--format", "9", "--output", out + name} + extra +
                        QStringList{dir.filePath("src")}},
                       1);
        };
        jobs.push_back(cliRun("jobs", {}));
        QList<QStringList> ffmpeg;
        QDir().mkpath(out + "ffmpeg");
        for (int i = 0; i < sources.size(); ++i)
            ffmpeg << QStringList{"ffmpeg",
                                  "-v",
                                  "error",
                                  "-y",
                                  "-i",
                                  sources[i],
                                  "-c:a",
                                  "wmav2",
                                  "-b:a",
                                  "128k",
                                  out + QStringLiteral("ffmpeg/%1.wma").arg(i)};
        ffmpegOne.push_back(run(ffmpeg, 1));
        oneJob.push_back(cliRun("one", {"--jobs", "1"}));
        ffmpegTwo.push_back(run(ffmpeg, 2));
        QDir(out + "jobs").removeRecursively();
        QDir(out + "one").removeRecursively();
        QDir(out + "ffmpeg").removeRecursively();
    }

    const Measure a = median(jobs), b = median(oneJob), c = median(ffmpegOne), d = median(ffmpegTwo);
    std::printf("sources:                 %d x %d s MP3 -> WMA 128 kbps 44.1 kHz, %d rounds, medians\n",
                count, seconds, rounds);
    std::printf("sonbrel-cli (%d jobs):    %.2f s, peak %.1f MiB\n", QThread::idealThreadCount(), a.seconds,
                a.peakMiB);
    std::printf("sonbrel-cli --jobs 1:    %.2f s, peak %.1f MiB\n", b.seconds, b.peakMiB);
    std::printf("ffmpeg one after other:  %.2f s, peak %.1f MiB\n", c.seconds, c.peakMiB);
    std::printf("ffmpeg two at once:      %.2f s, peak %.1f MiB\n", d.seconds, d.peakMiB);
    std::printf("ratio jobs/ffmpeg one by one: %.3f (target <= 0.60)\n", a.seconds / c.seconds);
    std::printf("ratio jobs/ffmpeg two at once: %.3f (target <= 1.00)\n", a.seconds / d.seconds);
    return 0;
}
