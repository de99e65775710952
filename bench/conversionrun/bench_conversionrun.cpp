// A run of 20 sources (MP3, WAV, Ogg; 3 minutes each by default) through
// ConvertAll's code path with the default profile, against ffmpeg converting
// the same files one after the other to the same profile.
#include "../benchtools.h"
#include "conversionrun.h"
#include "filelist.h"
#include "filelistmodel.h"
#include "tagintake.h"
#include "taudiofile2.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 180;
    const int count = argc > 2 ? std::atoi(argv[2]) : 20;

    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("src"));
    const QStringList kinds{"mp3", "wav", "ogg"};
    for (const QString &kind : kinds) {
        QStringList extra;
        if (kind == "ogg")
            extra << "-c:a"
                  << "libvorbis";
        if (!bench::makeTone(dir.filePath("src/tone." + kind), seconds, extra))
            return 1;
    }
    QStringList sources;
    for (int i = 0; i < count; ++i) {
        const QString kind = kinds[i % kinds.size()];
        const QString path =
            dir.filePath(QStringLiteral("src/%1.%2").arg(i, 2, 10, QLatin1Char('0')).arg(kind));
        QFile::copy(dir.filePath("src/tone." + kind), path);
        sources << path;
    }
    for (const QString &kind : kinds)
        QFile::remove(dir.filePath("src/tone." + kind));

    TAudioFile2 reader, writer;
    FileListModel model;
    FileList list(model, reader);
    list.setTagIntake(TagIntake);
    list.AddPaths(sources);
    AppSettings held;
    held.outputFolder = dir.filePath("ours");
    ConversionRun run(model, reader, writer, held);
    run.setTagWriter(CarryTags);

    QElapsedTimer timer;
    timer.start();
    run.ConvertAll();
    const double ours = timer.nsecsElapsed() / 1e9;
    const double oursPeak = bench::peakMiB();
    for (int row = 0; row < model.count(); ++row) {
        if (model.rowState(row) != RowState::Converted) {
            std::fprintf(stderr, "row %d: %s\n", row, qPrintable(model.cell(row, FileListModel::Status)));
            return 1;
        }
    }

    // The default profile: 32 kHz, 32 kbps, stereo.
    QDir().mkpath(dir.filePath("ffmpeg"));
    timer.restart();
    for (int i = 0; i < sources.size(); ++i)
        bench::runTool("ffmpeg",
                       {"-v", "error", "-y", "-i", sources[i], "-c:a", "wmav2", "-b:a", "32k", "-ar", "32000",
                        "-ac", "2", dir.filePath(QStringLiteral("ffmpeg/%1.wma").arg(i))});
    const double theirs = timer.nsecsElapsed() / 1e9;

    std::printf("sources:              %d x %d s (mp3, wav, ogg)\n", count, seconds);
    std::printf("ConvertAll:           %.2f s, peak %.1f MiB\n", ours, oursPeak);
    std::printf("ffmpeg one by one:    %.2f s, peak %.1f MiB (largest child)\n", theirs,
                bench::peakMiB(RUSAGE_CHILDREN));
    std::printf("time ratio ours/ffmpeg: %.3f\n", ours / theirs);
    return 0;
}
