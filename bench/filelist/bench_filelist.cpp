// Adding a folder of 1,000 short tagged MP3 files through the file list's own
// code path (tag intake and probe included), against one ffprobe run per file.
#include "../benchtools.h"
#include "filelist.h"
#include "filelistmodel.h"
#include "messages.h"
#include "tagintake.h"
#include "taudiofile2.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int files = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int probed = std::min(files, 100);

    QTemporaryDir dir;
    const QString first = dir.filePath("0000.mp3");
    if (!bench::makeTone(
            first, 2,
            {"-metadata", "title=Bench tone", "-metadata", "artist=Sonbrel", "-id3v2_version", "3"}))
        return 1;
    for (int i = 1; i < files; ++i)
        QFile::copy(first, dir.filePath(QStringLiteral("%1.mp3").arg(i, 4, 10, QLatin1Char('0'))));

    TAudioFile2 reader;
    FileListModel model;
    FileList list(model, reader);
    list.setTagIntake(TagIntake);

    QElapsedTimer timer;
    timer.start();
    list.AddFolderFiles(dir.path());
    const double ours = timer.nsecsElapsed() / 1e6;
    if (model.count() != files) {
        std::fprintf(stderr, "only %d of %d files were added\n", model.count(), files);
        return 1;
    }

    timer.restart();
    for (int i = 0; i < probed; ++i)
        bench::runTool("ffprobe", {"-v", "error", "-show_format", "-show_streams", "-of", "json",
                                   dir.filePath(QStringLiteral("%1.mp3").arg(i, 4, 10, QLatin1Char('0')))});
    const double theirs = timer.nsecsElapsed() / 1e6;

    std::printf("files added:          %d\n", files);
    std::printf("sonbrel, per file:    %.2f ms (total %.0f ms, peak %.1f MiB)\n", ours / files, ours,
                bench::peakMiB());
    std::printf("ffprobe, per file:    %.2f ms (over %d files)\n", theirs / probed, probed);
    std::printf("ratio ffprobe/ours:   %.1f\n", (theirs / probed) / (ours / files));
    return 0;
}
