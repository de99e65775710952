#pragma once

// Small shared pieces of the benchmarks: timing, peak memory, tool runs.
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace bench {

// Peak resident memory in MiB of this process (self) or of its waited-for children.
inline double peakMiB(int who = RUSAGE_SELF)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_maxrss / 1024.0;
}

// Starts a program without waiting for it (so its rusage can be taken with
// wait4); its standard output goes to /dev/null when `quiet`. -1 on failure.
inline pid_t spawn(const QStringList &command, bool quiet = false)
{
    std::vector<QByteArray> bytes;
    for (const QString &part : command)
        bytes.push_back(part.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &part : bytes)
        argv.push_back(part.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet)
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed ? -1 : pid;
}

inline bool runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
        return false;
    }
    return true;
}

// A tone of `seconds` at 44.1 kHz stereo in whatever format the path's extension names.
inline bool makeTone(const QString &path, int seconds, const QStringList &extra = {})
{
    return runTool(
        "ffmpeg",
        QStringList{"-v", "error", "-y", "-f", "lavfi", "-i",
                    QStringLiteral("sine=frequency=440:duration=%1:sample_rate=44100").arg(seconds), "-f",
                    "lavfi", "-i", QStringLiteral("anoisesrc=d=%1:a=0.05:r=44100").arg(seconds),
                    "-filter_complex", "amix=inputs=2,aformat=channel_layouts=stereo", "-ac", "2"} +
            extra + QStringList{path});
}

} // namespace bench
