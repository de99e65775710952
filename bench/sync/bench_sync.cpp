// bench_sync noop [COUNT] [ROUNDS]: a sync with nothing to do over COUNT
// (10,000) recorded sources in 100 folders; the sources and outputs are tiny
// stand-in files, since a sync that finds nothing changed opens none of them.
// Prints the median wall and CPU time of this process.
//
// bench_sync fresh [COUNT] [SECONDS] [ROUNDS] [JOBS]: a fresh library of COUNT
// (200) tones of SECONDS (4) in ten folders, through `sonbrel-cli sync` and
// through `sonbrel-cli convert` of the same ten folders, with JOBS (2) jobs,
// interleaved; prints the median wall time and the children's CPU time.
#include "../benchtools.h"

#include "librarysync.h"
#include "syncplan.h"
#include "syncrecord.h"
#include "wmaprofiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdlib>
#include <sys/wait.h>
#include <vector>

namespace {

struct Measure {
    double wall = 0;
    double cpu = 0;
};

double cpuSeconds(const rusage &usage)
{
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

Measure median(std::vector<Measure> runs)
{
    std::sort(runs.begin(), runs.end(), [](const Measure &a, const Measure &b) { return a.wall < b.wall; });
    return runs[runs.size() / 2];
}

bool touch(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("x", 1) == 1;
}

int noop(int count, int rounds)
{
    QTemporaryDir dir;
    const QString lib = dir.filePath("lib");
    const QString out = dir.filePath("out");
    const int profile = kDefaultWmaPosition + 1;
    QList<SyncRecord::Entry> entries;
    for (int i = 0; i < count; ++i) {
        const QString folder = QStringLiteral("f%1").arg(i % 100, 3, 10, QLatin1Char('0'));
        const QString name = QStringLiteral("song %1").arg(i, 5, 10, QLatin1Char('0'));
        if (i < 100 && (!QDir().mkpath(lib + "/" + folder) || !QDir().mkpath(out + "/" + folder)))
            return 1;
        const QString source = lib + "/" + folder + "/" + name + ".flac";
        const QString output = folder + "/" + name + ".wma";
        if (!touch(source) || !touch(out + "/" + output))
            return 1;
        const SyncPlan::Stamp s = SyncPlan::stampOf(source);
        const SyncPlan::Stamp o = SyncPlan::stampOf(out + "/" + output);
        entries << SyncRecord::Entry{source,  s.size, s.modified, QByteArray(16, 'a'), QByteArray(16, 't'),
                                     profile, output, o.size,     o.modified};
    }
    {
        SyncRecord record(out);
        const Result<> opened = record.open(false);
        if (!opened || !record.putAll(entries)) {
            std::fprintf(stderr, "cannot write the record: %s\n", qPrintable(opened.reason()));
            return 1;
        }
    }
    std::vector<Measure> runs;
    for (int round = 0; round < rounds; ++round) {
        LibrarySync::Options options;
        options.outputFolder = out;
        options.profile = profile;
        LibrarySync sync(options);
        int upToDate = 0;
        sync.setListener(
            [&](const LibrarySync::Report &r) { upToDate += r.outcome == LibrarySync::Outcome::UpToDate; });
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        QElapsedTimer timer;
        timer.start();
        const int result = sync.run({lib});
        const double wall = timer.nsecsElapsed() / 1e9;
        getrusage(RUSAGE_SELF, &after);
        if (result != 0 || upToDate != count) {
            std::fprintf(stderr, "not a no-op: %d of %d up to date\n", upToDate, count);
            return 1;
        }
        runs.push_back({wall, cpuSeconds(after) - cpuSeconds(before)});
    }
    const Measure m = median(runs);
    std::printf("no-op sync of %d recorded sources: %.3f s wall, %.3f s CPU (median of %d)\n", count, m.wall,
                m.cpu, rounds);
    return 0;
}

Measure runChild(const QStringList &command)
{
    QElapsedTimer timer;
    timer.start();
    if (bench::spawn(command, true) < 0)
        std::exit(1);
    int status = 0;
    rusage usage{};
    if (wait4(-1, &status, 0, &usage) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(command.join(' ')));
        std::exit(1);
    }
    return {timer.nsecsElapsed() / 1e9, cpuSeconds(usage)};
}

int fresh(int count, int seconds, int rounds, int jobs)
{
    const QString cli = QCoreApplication::applicationDirPath() + "/sonbrel-cli";
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    if (!bench::makeTone(dir.filePath("tone.flac"), seconds))
        return 1;
    QStringList folders;
    for (int i = 0; i < count; ++i) {
        const QString folder = dir.filePath(QStringLiteral("lib/album%1").arg(i % 10));
        if (i < 10) {
            QDir().mkpath(folder);
            folders << folder;
        }
        QFile::copy(dir.filePath("tone.flac"), folder + QStringLiteral("/track %1.flac").arg(i));
    }
    std::vector<Measure> syncs, converts;
    const QString jobText = QString::number(jobs);
    for (int round = 0; round < rounds; ++round) {
        const QString out = dir.filePath(QStringLiteral("out%1").arg(round));
        syncs.push_back(
            runChild({cli, "sync", "--jobs", jobText, "--output", out + "sync", dir.filePath("lib")}));
        converts.push_back(
            runChild(QStringList{cli, "convert", "--jobs", jobText, "--output", out + "convert"} + folders));
        QDir(out + "sync").removeRecursively();
        QDir(out + "convert").removeRecursively();
    }
    const Measure s = median(syncs), c = median(converts);
    std::printf("fresh library of %d files of %d s, %d jobs (median of %d):\n", count, seconds, jobs, rounds);
    std::printf("  sync:    %.2f s wall, %.2f s CPU\n  convert: %.2f s wall, %.2f s CPU\n", s.wall, s.cpu,
                c.wall, c.cpu);
    std::printf("  sync / convert: %.3f wall, %.3f CPU\n", s.wall / c.wall, s.cpu / c.cpu);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromUtf8(argv[1]) : QStringLiteral("noop");
    const auto arg = [&](int index, int fallback) {
        return argc > index ? std::atoi(argv[index]) : fallback;
    };
    if (mode == QLatin1String("noop"))
        return noop(arg(2, 10000), arg(3, 5));
    if (mode == QLatin1String("fresh"))
        return fresh(arg(2, 200), arg(3, 4), arg(4, 3), arg(5, 2));
    std::fprintf(stderr,
                 "usage: bench_sync noop [COUNT] [ROUNDS] | fresh [COUNT] [SECONDS] [ROUNDS] [JOBS]\n");
    return 2;
}
