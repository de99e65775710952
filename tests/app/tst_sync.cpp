// Library sync on a small generated library: what a second sync does after
// each kind of change, damaged and missing records, partial files of killed
// and live runs, and the command line's keep-going and stop rules.
#include "audiodigest.h"
#include "librarysync.h"
#include "partialfile.h"
#include "syncplan.h"
#include "syncrecord.h"
#include "wmaprofiles.h"

#include <QProcess>
#include <QtTest>

#include <csignal>
#include <sys/time.h>

namespace {

using Outcome = LibrarySync::Outcome;

bool run(const QString &program, const QStringList &args)
{
    return QProcess::execute(program, args) == 0;
}

bool sine(const QString &path, int frequency, double seconds = 0.5, const QStringList &metadata = {})
{
    QStringList args{"-v",
                     "error",
                     "-y",
                     "-f",
                     "lavfi",
                     "-i",
                     QStringLiteral("sine=frequency=%1:duration=%2").arg(frequency).arg(seconds)};
    for (const QString &pair : metadata)
        args << "-metadata" << pair;
    return run("ffmpeg", args << path);
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every file under `folder` but the record, relative, sorted.
QStringList filesUnder(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = QDir(folder).relativeFilePath(it.next());
        if (!path.startsWith(".sonbrel/"))
            files << path;
    }
    files.sort();
    return files;
}

const QByteArray asfStart = QByteArray::fromHex("3026B2758E66CF11A6D900AA0062CE6C");

struct Outcomes {
    int exitCode = -1;
    QHash<QString, LibrarySync::Report> bySource; // by file name
    QStringList notices;
};

Outcomes sync(const QStringList &inputs, const QString &output, int profile = kDefaultWmaPosition + 1,
              bool dryRun = false)
{
    LibrarySync::Options options;
    options.outputFolder = output;
    options.profile = profile;
    options.jobs = 2;
    options.dryRun = dryRun;
    LibrarySync sync(options);
    Outcomes outcomes;
    sync.setListener([&](const LibrarySync::Report &report) {
        outcomes.bySource.insert(QFileInfo(report.source).fileName(), report);
    });
    outcomes.exitCode = sync.run(inputs);
    outcomes.notices = sync.notices();
    return outcomes;
}

} // namespace

class TestSync : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_case = 0;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    // lib/three.mp3 (title "Three"), lib/a/one.flac, lib/a/b/two.wav, lib/notes.txt
    QString makeLibrary(const QString &root)
    {
        const QString lib = root + "/lib";
        QDir().mkpath(lib + "/a/b");
        if (!sine(lib + "/three.mp3", 330, 0.5, {"title=Three", "artist=First"}) ||
            !sine(lib + "/a/one.flac", 440) || !sine(lib + "/a/b/two.wav", 550) ||
            !write(lib + "/notes.txt", "x"))
            return {};
        return lib;
    }

    QProcess *startCli(const QStringList &arguments)
    {
        auto *process = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", path("config"));
        env.insert("HOME", path("home"));
        process->setProcessEnvironment(env);
        process->start(QCoreApplication::applicationDirPath() + "/sonbrel-cli", arguments);
        return process;
    }

    // Waits until the hidden partial output `partial` holds some audio.
    static bool waitForPartial(const QString &partial)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 60000) {
            if (QFileInfo(partial).size() > 4096)
                return true;
            QThread::msleep(10);
        }
        return false;
    }

private slots:
    // Reads come in blocks of any size; only the samples count.
    void digestIgnoresBlocks()
    {
        std::vector<float> all(1001);
        for (size_t i = 0; i < all.size(); ++i)
            all[i] = float(i % 17) / 17.0f - 0.5f;
        AudioDigest whole;
        whole.add(all);
        for (const int size : {1, 2, 3, 5, 7, 2034, 0}) {
            AudioDigest blocks;
            for (size_t at = 0; at < all.size(); at += size_t(std::max(size, 1)))
                blocks.add(std::vector<float>(
                    all.begin() + long(at),
                    all.begin() + long(std::min(all.size(), at + size_t(std::max(size, 1))))));
            QCOMPARE(blocks.result(), whole.result());
        }
        std::vector<float> changed = all;
        changed[500] = 0.25f;
        AudioDigest other;
        other.add(changed);
        QVERIFY(other.result() != whole.result());
    }

    void needs_data()
    {
        QTest::addColumn<bool>("recorded");
        QTest::addColumn<bool>("sourceSame");
        QTest::addColumn<int>("output"); // 0 gone, 1 as made, 2 changed since
        QTest::addColumn<bool>("profileSame");
        QTest::addColumn<SyncPlan::Need>("need");
        QTest::newRow("never made") << false << true << 0 << true << SyncPlan::Need::New;
        QTest::newRow("untouched") << true << true << 1 << true << SyncPlan::Need::UpToDate;
        QTest::newRow("source changed") << true << false << 1 << true << SyncPlan::Need::Check;
        QTest::newRow("output deleted") << true << true << 0 << true << SyncPlan::Need::Remake;
        QTest::newRow("other profile") << true << true << 1 << false << SyncPlan::Need::Reencode;
        QTest::newRow("output edited") << true << true << 2 << true << SyncPlan::Need::OutputEdited;
        QTest::newRow("output edited, source too") << true << false << 2 << true << SyncPlan::Need::New;
    }
    void needs()
    {
        QFETCH(bool, recorded);
        QFETCH(bool, sourceSame);
        QFETCH(int, output);
        QFETCH(bool, profileSame);
        QFETCH(SyncPlan::Need, need);
        const SyncRecord::Entry entry{"/music/a.flac", 100, 5, {}, {}, 3, "a.wma", 50, 7};
        const SyncPlan::Stamp source{100, sourceSame ? 5 : 6};
        const SyncPlan::Stamp out =
            output == 0 ? SyncPlan::Stamp{} : SyncPlan::Stamp{50, output == 1 ? 7 : 8};
        QCOMPARE(SyncPlan::needOf(recorded ? &entry : nullptr, source, out, profileSame ? 3 : 4), need);
    }

    // What a second sync does after one change; a user's own file and every
    // other output stay as they were, and no name drifts.
    void secondSync_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("source");
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("nothing") << "none"
                                 << "three.mp3" << Outcome::UpToDate;
        QTest::newRow("tags only") << "tags"
                                   << "three.mp3" << Outcome::Retagged;
        QTest::newRow("touched only") << "touch"
                                      << "three.mp3" << Outcome::UpToDate;
        QTest::newRow("audio changed") << "audio"
                                       << "two.wav" << Outcome::Converted;
        QTest::newRow("output deleted") << "delete"
                                        << "one.flac" << Outcome::Converted;
        QTest::newRow("other profile") << "profile"
                                       << "one.flac" << Outcome::Converted;
        QTest::newRow("output edited") << "edit"
                                       << "three.mp3" << Outcome::UpToDate;
        QTest::newRow("record damaged") << "damage"
                                        << "one.flac" << Outcome::UpToDate;
        QTest::newRow("record missing") << "lose"
                                        << "two.wav" << Outcome::UpToDate;
        QTest::newRow("killed before naming") << "killed"
                                              << "one.flac" << Outcome::Converted;
    }
    void secondSync()
    {
        QFETCH(QString, change);
        QFETCH(QString, source);
        QFETCH(Outcome, outcome);
        const QString root = path(QStringLiteral("case%1").arg(++m_case));
        const QString lib = makeLibrary(root);
        QVERIFY(!lib.isEmpty());
        const QString out = root + "/out";
        QDir().mkpath(out);
        QVERIFY(write(out + "/mine.wma", "the user's own"));

        const Outcomes first = sync({lib}, out);
        QCOMPARE(first.exitCode, 0);
        const QStringList made{"Three.wma", "a/b/two.wma", "a/one.wma", "mine.wma"};
        QCOMPARE(filesUnder(out), made);
        QCOMPARE(first.bySource.value("one.flac").outcome, Outcome::Converted);
        QCOMPARE(first.bySource.value("one.flac").output, out + "/a/one.wma");
        QVERIFY(!first.bySource.contains("notes.txt"));

        QHash<QString, QByteArray> before;
        for (const QString &file : made)
            before.insert(file, contentOf(out + "/" + file));
        int profile = kDefaultWmaPosition + 1;
        if (change == "tags") {
            QVERIFY(sine(root + "/t.mp3", 330, 0.5, {"title=Three", "artist=Second"}));
            QVERIFY(run("ffmpeg", {"-v", "error", "-y", "-i", lib + "/three.mp3", "-i", root + "/t.mp3",
                                   "-map", "0:a", "-map_metadata", "1", "-c", "copy", root + "/t2.mp3"}));
            QVERIFY(QFile::remove(lib + "/three.mp3") && QFile::rename(root + "/t2.mp3", lib + "/three.mp3"));
        } else if (change == "touch") {
            QVERIFY(::utimes(QFile::encodeName(lib + "/three.mp3").constData(), nullptr) == 0);
        } else if (change == "audio") {
            QVERIFY(sine(lib + "/a/b/two.wav", 660));
        } else if (change == "delete") {
            QVERIFY(QFile::remove(out + "/a/one.wma"));
        } else if (change == "profile") {
            profile = kDefaultWmaPosition; // the next lower one
        } else if (change == "edit") {
            QVERIFY(write(out + "/Three.wma", "edited by the user"));
            before["Three.wma"] = "edited by the user";
        } else if (change == "damage") {
            QVERIFY(write(out + "/.sonbrel/record.db", QByteArray(4096, 'x')));
        } else if (change == "lose") {
            QVERIFY(QDir(out + "/.sonbrel").removeRecursively());
        } else if (change == "killed") {
            // Killed after converting, before naming: the partial file is
            // left, unlocked, where the output should be.
            QVERIFY(QFile::rename(out + "/a/one.wma", out + "/a/.one.wma.part"));
        }
        QThread::msleep(20); // a time stamp of its own for whatever the sync writes

        // A dry run foresees it and changes nothing.
        const QStringList present = filesUnder(out);
        const Outcomes dry = sync({lib}, out, profile, true);
        QCOMPARE(dry.bySource.value(source).outcome, outcome);
        QCOMPARE(filesUnder(out), present);

        const Outcomes second = sync({lib}, out, profile);
        QCOMPARE(second.exitCode, 0);
        QCOMPARE(second.bySource.value(source).outcome, outcome);
        QCOMPARE(filesUnder(out), made);
        QCOMPARE(second.notices.isEmpty(), change != "damage");
        for (const QString &file : made) {
            const QString name = QFileInfo(file).fileName();
            const bool changed =
                (change == "tags" && name == "Three.wma") || (change == "audio" && name == "two.wma") ||
                (change == "profile" && name != "mine.wma") || (change == "delete" && name == "one.wma");
            if (!changed && change != "killed")
                QVERIFY2(contentOf(out + "/" + file) == before.value(file), qPrintable(file));
            if (changed && change != "delete")
                QVERIFY2(contentOf(out + "/" + file) != before.value(file), qPrintable(file));
        }
        if (change == "tags") {
            QProcess probe;
            probe.start("ffprobe", {"-v", "error", "-show_entries", "format_tags=artist", "-of", "csv=p=0",
                                    out + "/Three.wma"});
            probe.waitForFinished();
            QCOMPARE(probe.readAllStandardOutput().trimmed(), QByteArray("Second"));
        }
        // A third sync finds nothing to do.
        const Outcomes third = sync({lib}, out, profile);
        for (const LibrarySync::Report &report : third.bySource)
            QVERIFY2(report.outcome == Outcome::UpToDate, qPrintable(report.source));
    }

    void dryRunWritesNothing()
    {
        const QString root = path("dry");
        const QString lib = makeLibrary(root);
        QVERIFY(!lib.isEmpty());
        const Outcomes dry = sync({lib}, root + "/out", kDefaultWmaPosition + 1, true);
        QCOMPARE(dry.bySource.size(), 3);
        QVERIFY(dry.bySource.value("two.wav").planned);
        QCOMPARE(dry.bySource.value("two.wav").output, root + "/out/a/b/two.wma");
        QVERIFY(!QFileInfo::exists(root + "/out"));
    }

    // Unreadable sources are reported by name with a reason; the rest are converted.
    void keepsGoingPastUnreadableSources()
    {
        const QString root = path("bad");
        const QString lib = makeLibrary(root);
        QVERIFY(!lib.isEmpty());
        QVERIFY(write(lib + "/a/empty.ogg", {}));
        QVERIFY(write(lib + "/a/b/text.mp3", "not audio at all"));
        QVERIFY(write(lib + "/cut.flac", contentOf(lib + "/a/one.flac").left(60)));
        // A name with ": " in it is still reported whole.
        const Outcomes outcomes = sync({lib, root + "/missing: gone.flac"}, root + "/out");
        QCOMPARE(outcomes.exitCode, 1);
        for (const QString bad : {"empty.ogg", "text.mp3", "cut.flac", "missing: gone.flac"}) {
            QCOMPARE(outcomes.bySource.value(bad).outcome, Outcome::Failed);
            const QString note = outcomes.bySource.value(bad).note;
            QVERIFY2(!note.isEmpty() && !note.endsWith("not supported."), qPrintable(bad + ": " + note));
        }
        QCOMPARE(filesUnder(root + "/out"), QStringList({"Three.wma", "a/b/two.wma", "a/one.wma"}));
    }

    // An output that cannot be created ends a conversion run; the sources
    // after it still get theirs.
    void keepsGoingPastFailedConversions()
    {
        const QString root = path("blocked");
        const QString lib = makeLibrary(root);
        QVERIFY(!lib.isEmpty());
        QDir().mkpath(lib + "/z");
        QVERIFY(QFile::copy(lib + "/a/one.flac", lib + "/z/four.flac"));
        QDir().mkpath(root + "/out");
        QVERIFY(write(root + "/out/a", "a user's file where a folder would go"));
        const Outcomes outcomes = sync({lib}, root + "/out");
        QCOMPARE(outcomes.exitCode, 1);
        QCOMPARE(outcomes.bySource.value("one.flac").outcome, Outcome::Failed);
        QCOMPARE(outcomes.bySource.value("two.wav").outcome, Outcome::Failed);
        QCOMPARE(filesUnder(root + "/out"), QStringList({"Three.wma", "a", "z/four.wma"}));
        QCOMPARE(contentOf(root + "/out/a"), QByteArray("a user's file where a folder would go"));
    }

    // A killed run's partial file goes; a live run's and a user's file stay.
    void partialFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("locked");
        QTest::addColumn<bool>("removed");
        QTest::newRow("killed run") << asfStart + QByteArray(100, 0) << false << true;
        QTest::newRow("killed at creation") << QByteArray() << false << true;
        QTest::newRow("live run") << asfStart + QByteArray(100, 0) << true << false;
        QTest::newRow("user's file") << QByteArray("notes") << false << false;
    }
    void partialFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, locked);
        QFETCH(bool, removed);
        const QString folder = path(QStringLiteral("partial%1").arg(++m_case));
        QDir().mkpath(folder + "/sub");
        const QString partial = folder + "/sub/.song.wma.part";
        QVERIFY(write(partial, content));
        PartialFileLock lock;
        if (locked)
            QVERIFY(lock.acquire(partial));
        QCOMPARE(SyncPlan::removeStalePartials(folder), removed ? 1 : 0);
        QCOMPARE(QFileInfo::exists(partial), !removed);
    }

    // kill -9 in the middle of a conversion: the next sync finishes the job
    // under the same name and leaves no partial file.
    void killedSyncResumes()
    {
        const QString lib = path("long");
        QDir().mkpath(lib);
        QVERIFY(
            run("sox", {"-n", "-r", "22050", "-c", "1", lib + "/long.wav", "synth", "300", "sine", "440"}));
        const QString out = path("longout");
        QProcess *process = startCli({"sync", "--jobs", "1", "--output", out, lib});
        QVERIFY(waitForPartial(out + "/.long.wma.part"));
        ::kill(pid_t(process->processId()), SIGKILL);
        QVERIFY(process->waitForFinished());
        QVERIFY(QFileInfo::exists(out + "/.long.wma.part"));
        QVERIFY(!QFileInfo::exists(out + "/long.wma"));

        const Outcomes next = sync({lib}, out);
        QCOMPARE(next.exitCode, 0);
        QCOMPARE(next.bySource.value("long.wav").outcome, Outcome::Converted);
        QCOMPARE(filesUnder(out), QStringList{"long.wma"});
    }

    // On the command line a stopped row leaves no file under a final name,
    // and neither does a failed one, for convert and sync alike.
    void cliStopLeavesNoOutput_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("convert") << "convert";
        QTest::newRow("sync") << "sync";
    }
    void cliStopLeavesNoOutput()
    {
        QFETCH(QString, command);
        const QString source = path("stop/long.wav");
        QDir().mkpath(path("stop"));
        if (!QFileInfo::exists(source))
            QVERIFY(run("sox", {"-n", "-r", "22050", "-c", "1", source, "synth", "300", "sine", "440"}));
        const QString out = path("stopout-" + command);
        QProcess *process = startCli({command, "--jobs", "1", "--output", out, source});
        QVERIFY(waitForPartial(out + "/.long.wma.part"));
        ::kill(pid_t(process->processId()), SIGTERM);
        QVERIFY(process->waitForFinished());
        QCOMPARE(process->exitCode(), 1);
        QCOMPARE(filesUnder(out), QStringList());
    }

    // A source that turns unreadable while an earlier one converts fails
    // its row, and the run goes on with the rows after it.
    void convertGoesOnAfterAFailedRow()
    {
        const QString lib = makeLibrary(path("turn"));
        QVERIFY(!lib.isEmpty());
        QVERIFY(
            run("sox", {"-n", "-r", "22050", "-c", "1", lib + "/long.wav", "synth", "120", "sine", "440"}));
        const QString out = path("turnout");
        QProcess *process = startCli({"convert", "--jobs", "1", "--output", out, lib + "/long.wav",
                                      lib + "/a/one.flac", lib + "/three.mp3"});
        QVERIFY(waitForPartial(out + "/.long.wma.part"));
        QVERIFY(write(lib + "/a/one.flac", "no longer audio"));
        QVERIFY(process->waitForFinished(120000));
        QCOMPARE(process->exitCode(), 1);
        QCOMPARE(filesUnder(out), QStringList({"Three.wma", "long.wma"}));
        const QList<QByteArray> lines = process->readAllStandardOutput().trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[1].startsWith("Failed\t"));
    }

    // `convert a.flac empty.ogg b.mp3` converts the two it can read.
    void convertKeepsGoing()
    {
        const QString lib = makeLibrary(path("keep"));
        QVERIFY(!lib.isEmpty());
        QVERIFY(write(lib + "/empty.ogg", {}));
        const QString out = path("keepout");
        QProcess *process = startCli({"convert", "--output", out, lib + "/a/one.flac", lib + "/empty.ogg",
                                      lib + "/notes.txt", lib + "/three.mp3"});
        QVERIFY(process->waitForFinished(120000));
        QCOMPARE(process->exitCode(), 1);
        QVERIFY(process->readAllStandardError().contains("empty.ogg"));
        QCOMPARE(filesUnder(out), QStringList({"Three.wma", "one.wma"}));
    }
};

QTEST_GUILESS_MAIN(TestSync)
#include "tst_sync.moc"
