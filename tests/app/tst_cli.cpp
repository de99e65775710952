// sonbrel-cli on real files: its JSON, its exit codes, and outputs equal to
// what the window's code path writes.
#include "conversionrun.h"
#include "filelist.h"
#include "filelistmodel.h"
#include "messages.h"
#include "runreport.h"
#include "tagintake.h"
#include "taudiofile2.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <csignal>

namespace {

struct CliRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

bool makeSource(const QString &path, const QStringList &metadata, const QStringList &extra = {})
{
    QStringList args{"-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=330:duration=1", "-ac", "2"};
    for (const QString &pair : metadata)
        args << "-metadata" << pair;
    return QProcess::execute("ffmpeg", args + extra + QStringList{path}) == 0;
}

QString probe(const QString &path, const QString &entries)
{
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-show_entries", entries, "-of", "default=noprint_wrappers=1", path});
    p.waitForFinished();
    return QString::fromUtf8(p.readAllStandardOutput());
}

QByteArray pcmOf(const QString &path)
{
    QProcess p;
    p.start("ffmpeg", {"-v", "error", "-i", path, "-f", "s16le", "-"});
    p.waitForFinished();
    return p.readAllStandardOutput();
}

QString tagsOf(const QString &path)
{
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-show_entries", "format_tags=title,artist,album,genre", "-of",
                        "default=noprint_wrappers=1", path});
    p.waitForFinished();
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    CliRun cli(const QStringList &arguments)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", m_dir.filePath("config"));
        env.insert("HOME", m_dir.filePath("home")); // a stray default never reaches the real music folder
        process.setProcessEnvironment(env);
        process.start(QCoreApplication::applicationDirPath() + "/sonbrel-cli", arguments);
        process.waitForFinished(120000);
        return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
    }
    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QDir().mkpath(path("src"));
        QDir().mkpath(path("config"));
        QVERIFY(makeSource(path("src/a.mp3"), {"title=First: One", "artist=Ann", "album=Al", "genre=Pop"},
                           {"-id3v2_version", "3"}));
        QVERIFY(makeSource(path("src/b.ogg"), {"title=Second", "artist=Bob"}, {"-c:a", "libvorbis"}));
        QVERIFY(makeSource(path("src/c.wav"), {}));
        QVERIFY(makeSource(path("src/d.wma"), {"title=Fourth", "genre=Jazz"}, {"-c:a", "wmav2"}));
        QCOMPARE(QProcess::execute("sox", {path("src/c.wav"), "-r", "8000", "-c", "1", path("src/e.vox")}),
                 0);
        QFile text(path("notes.mp3"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("just some words, no audio");
    }

    void infoPrintsWhatAddingShows()
    {
        QCOMPARE(QProcess::execute("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "anullsrc", "-t", "0",
                                              path("empty.wav")}),
                 0);
        const CliRun r =
            cli({"info", path("src/a.mp3"), path("notes.mp3"), path("missing.wav"), path("empty.wav")});
        QCOMPARE(r.exitCode, 1);
        const QList<QByteArray> lines = r.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 4);
        const QJsonObject first = QJsonDocument::fromJson(lines[0]).object();
        QCOMPARE(first["caption"].toString(), QStringLiteral("First One"));
        QCOMPARE(first["title"].toString(), QStringLiteral("First One"));
        QCOMPARE(first["artist"].toString(), QStringLiteral("Ann"));
        QCOMPARE(first["frequency"].toString(), QStringLiteral("44100 Hz"));
        QCOMPARE(first["channels"].toString(), QStringLiteral(" Stereo "));
        QCOMPARE(first["time"].toString(), QStringLiteral("00:00:01"));
        QCOMPARE(first["status"].toString(), QStringLiteral("Unconvert"));
        QCOMPARE(first["year"].toString(), QString());
        QVERIFY(first["duration"].toInt() > 900);
        const QJsonObject second = QJsonDocument::fromJson(lines[1]).object();
        // The window's fixed text, then the reason.
        QVERIFY(second["error"].toString().startsWith(
            QStringLiteral("notes.mp3 this File is not supported. Cannot open \"%1\": ")
                .arg(path("notes.mp3"))));
        QCOMPARE(second["path"].toString(), path("notes.mp3"));
        QCOMPARE(QJsonDocument::fromJson(lines[2]).object()["error"].toString(),
                 QStringLiteral("missing.wav this File is not supported. Cannot open \"%1\": No such file or "
                                "directory")
                     .arg(path("missing.wav")));
        QCOMPARE(QJsonDocument::fromJson(lines[3]).object()["error"].toString(),
                 QStringLiteral("empty.wav this File is not supported. \"%1\" holds no sound.")
                     .arg(path("empty.wav")));
        QCOMPARE(cli({"info", path("src/b.ogg")}).exitCode, 0);
    }

    // info shows the track, disc and cover that will travel; a cover left
    // out (over 16 MB) is noted on the row and the run exits 1.
    void coversAreShownAndLossesNoted()
    {
        QVERIFY(QDir().mkpath(path("covers"))); // beside the sources other tests convert whole
        const QString cover = path("cover.png");
        QCOMPARE(QProcess::execute("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "color=s=40x30",
                                              "-frames:v", "1", cover}),
                 0);
        QCOMPARE(QProcess::execute("ffmpeg", {"-v",
                                              "error",
                                              "-y",
                                              "-i",
                                              path("src/c.wav"),
                                              "-i",
                                              cover,
                                              "-map",
                                              "0",
                                              "-map",
                                              "1",
                                              "-c:v",
                                              "copy",
                                              "-metadata",
                                              "track=3/9",
                                              "-metadata",
                                              "disc=2",
                                              "-id3v2_version",
                                              "3",
                                              path("covers/covered.mp3")}),
                 0);
        const CliRun info = cli({"info", path("covers/covered.mp3")});
        const QJsonObject shown = QJsonDocument::fromJson(info.out).object();
        QCOMPARE(shown["track"].toInt(), 3);
        QCOMPARE(shown["disc"].toInt(), 2);
        QCOMPARE(
            shown["cover"].toObject(),
            (QJsonObject{
                {"mime", "image/png"}, {"bytes", QFileInfo(cover).size()}, {"width", 40}, {"height", 30}}));

        // An ID3v2.3 tag whose only frame is a 17 MB picture, before plain audio.
        QVERIFY(makeSource(path("plain.mp3"), {}, {"-write_id3v2", "0"}));
        const QByteArray content = QByteArray("\0image/png\0\x03\0", 13) + QByteArray(17 << 20, 'p');
        const auto bigEndian = [](quint32 v, int shift) {
            QByteArray bytes;
            for (int i = 3; i >= 0; --i)
                bytes += char((v >> (shift * i)) & ((1u << shift) - 1));
            return bytes;
        };
        const QByteArray frame =
            "APIC" + bigEndian(quint32(content.size()), 8) + QByteArray(2, '\0') + content;
        QFile big(path("covers/huge-cover.mp3")), plain(path("plain.mp3"));
        QVERIFY(big.open(QIODevice::WriteOnly) && plain.open(QIODevice::ReadOnly));
        big.write(QByteArray("ID3\x03\0\0", 6) + bigEndian(quint32(frame.size()), 7) + frame +
                  plain.readAll());
        big.close();
        QVERIFY(cli({"info", path("covers/huge-cover.mp3")}).out.contains("over the 16 MB"));
        const CliRun run = cli({"convert", "--output", path("out-cover"), path("covers/huge-cover.mp3")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("over the 16 MB"), run.err);
        QVERIFY(QFile::exists(path("out-cover/huge-cover.wma")));
    }

    void profilesListsAllPositions()
    {
        const CliRun r = cli({"profiles"});
        QCOMPARE(r.exitCode, 0);
        const QList<QByteArray> lines = r.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 48);
        QCOMPARE(lines[0], QByteArray("position (--format)\tnumber\tprofile\tthis build"));
        QCOMPARE(lines[23], QByteArray("22\t23\tWMA9 32KHz, 32Kbps, Stereo, CBR\tavailable"));
        QVERIFY(lines[35].startsWith("34\t35\tWMA9 8KHz,  12Kbps, Stereo, CBR\t"));
    }

    void usageErrors()
    {
        QCOMPARE(cli({}).exitCode, 2);
        QCOMPARE(cli({"frobnicate"}).exitCode, 2);
        QCOMPARE(cli({"convert"}).exitCode, 2);
        QCOMPARE(cli({"convert", "--format", "47", path("src/a.mp3")}).exitCode, 2);
        QCOMPARE(cli({"--bogus"}).exitCode, 2);
        QCOMPARE(cli({"convert", "--output", "", path("src/c.wav")}).exitCode, 2);
        QCOMPARE(cli({"convert", "--jobs", "0", path("src/c.wav")}).exitCode, 2);
        QCOMPARE(cli({"--version"}).exitCode, 0);
    }

    void convertWritesWhatTheWindowWrites()
    {
        const QString cliOut = path("out-cli");
        const CliRun r = cli({"convert", "--output", cliOut, path("src")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.count('\n'), 5);
        QVERIFY(!QFile::exists(path("config/sonbrel.ini"))); // read, never written

        // The same folder through the window's own code path.
        TAudioFile2 reader, writer;
        FileListModel model;
        FileList files(model, reader);
        files.setTagIntake(TagIntake);
        files.setPump([] {});
        files.AddFolderFiles(path("src"));
        AppSettings held;
        held.outputFolder = path("out-window");
        ConversionRun run(model, reader, writer, held);
        run.setPump([] {});
        run.setTagWriter(CarryTags);
        run.ConvertAll();

        const QStringList names = QDir(cliOut).entryList(QDir::Files, QDir::Name);
        QCOMPARE(names, QDir(path("out-window")).entryList(QDir::Files, QDir::Name));
        QCOMPARE(names, QStringList({"First One.wma", "Fourth.wma", "Second.wma", "c.wma", "e.wma"}));
        for (const QString &name : names)
            QCOMPARE(tagsOf(cliOut + "/" + name), tagsOf(path("out-window/") + name));
        QVERIFY(tagsOf(cliOut + "/First One.wma").contains("artist=Ann"));

        // Again into the same folder: nothing replaced, numbered names instead.
        QCOMPARE(cli({"convert", "--output", cliOut, "--format", "9", path("src/c.wav")}).exitCode, 0);
        QVERIFY(QFile::exists(cliOut + "/c_1.wma"));
    }

    // Every frame of a source reaches its output: lossless outputs decode to
    // the source's exact samples at lengths around the read size and blocks.
    void losslessKeepsEveryFrame_data()
    {
        QTest::addColumn<int>("frames");
        for (int frames : {100, 2033, 2084, 44100})
            QTest::newRow(qPrintable(QString::number(frames))) << frames;
    }
    void losslessKeepsEveryFrame()
    {
        QFETCH(int, frames);
        const QString name = QStringLiteral("len%1").arg(frames);
        const QString source = path("src-lossless/" + name + ".wav");
        QDir().mkpath(path("src-lossless"));
        QCOMPARE(QProcess::execute("sox", {"-r", "44100", "-c", "2", "-n", "-b", "16", source, "synth",
                                           QStringLiteral("%1s").arg(frames), "sine", "330", "sine", "440"}),
                 0);
        QCOMPARE(cli({"convert", "--output", path("out-lossless"), "--format", "46", source}).exitCode, 0);
        const QString output = path("out-lossless/" + name + ".wma");
        QCOMPARE(probe(output, "stream=codec_name,sample_rate,channels"),
                 QStringLiteral("codec_name=wmalossless\nsample_rate=44100\nchannels=2\n"));
        const QByteArray expected = pcmOf(source);
        QCOMPARE(expected.size(), frames * 4);
        QVERIFY(pcmOf(output) == expected);
    }

    void runsIntoOneFolderAtOnce()
    {
        QList<QProcess *> runs;
        for (int i = 0; i < 4; ++i) {
            auto *process = new QProcess(this);
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("XDG_CONFIG_HOME", path("config"));
            process->setProcessEnvironment(env);
            process->start(QCoreApplication::applicationDirPath() + "/sonbrel-cli",
                           {"convert", "--output", path("out-race"), path("src/c.wav")});
            runs << process;
        }
        for (QProcess *process : runs) {
            QVERIFY(process->waitForFinished(60000));
            QCOMPARE(process->exitCode(), 0);
        }
        QCOMPARE(QDir(path("out-race")).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                 QStringList({"c.wma", "c_1.wma", "c_2.wma", "c_3.wma"}));
    }

    // A stop by signal closes the file in progress; no partial output ever
    // carries a final name, not even after kill -9.
    // Several jobs write exactly what one job writes: the same names, also for
    // two rows with the same title, and the same bytes.
    void jobsWriteWhatOneJobWrites()
    {
        const QStringList inputs{path("src"), path("src/a.mp3")};
        QCOMPARE(cli(QStringList{"convert", "--jobs", "1", "--output", path("out-jobs1")} + inputs).exitCode,
                 0);
        QCOMPARE(cli(QStringList{"convert", "--jobs", "4", "--output", path("out-jobs4")} + inputs).exitCode,
                 0);
        const QStringList names = QDir(path("out-jobs1")).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        QCOMPARE(names.size(), 6);
        QVERIFY(names.contains("First One_1.wma"));
        QCOMPARE(QDir(path("out-jobs4")).entryList(QDir::Files | QDir::Hidden, QDir::Name), names);
        for (const QString &name : names) {
            QFile one(path("out-jobs1/" + name)), four(path("out-jobs4/" + name));
            QVERIFY(one.open(QIODevice::ReadOnly) && four.open(QIODevice::ReadOnly));
            QVERIFY2(one.readAll() == four.readAll(), qPrintable(name));
        }
    }

    // A stop by signal closes the files in progress and starts no more; no
    // partial output ever carries a final name, not even after kill -9.
    void signalsStopTheRun_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("jobs");
        QTest::addColumn<QStringList>("states");
        const QStringList one{"Stopped", "Unconvert", "Unconvert"};
        QTest::newRow("SIGINT") << int(SIGINT) << 1 << one;
        QTest::newRow("SIGTERM") << int(SIGTERM) << 1 << one;
        QTest::newRow("SIGHUP") << int(SIGHUP) << 1 << one;
        QTest::newRow("SIGKILL") << int(SIGKILL) << 1 << QStringList();
        QTest::newRow("SIGTERM, two jobs")
            << int(SIGTERM) << 2 << QStringList{"Stopped", "Stopped", "Unconvert"};
    }
    void signalsStopTheRun()
    {
        QFETCH(int, signal);
        QFETCH(int, jobs);
        QFETCH(QStringList, states);
        if (!QFile::exists(path("long.wav")))
            QVERIFY(QProcess::execute("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                                 "sine=frequency=220:duration=600", "-ac", "2", "-c:a",
                                                 "pcm_s16le", path("long.wav")}) == 0);
        const QString out = path(QStringLiteral("out-signal-%1-%2").arg(signal).arg(jobs));
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", path("config"));
        process.setProcessEnvironment(env);
        process.start(QCoreApplication::applicationDirPath() + "/sonbrel-cli",
                      {"convert", "--jobs", QString::number(jobs), "--output", out, path("long.wav"),
                       path("long.wav"), path("src/c.wav")});
        QVERIFY(process.waitForStarted());
        const QStringList partials = QStringList{".long.wma.part", ".long_1.wma.part"}.mid(0, jobs);
        QTRY_VERIFY_WITH_TIMEOUT(QDir(out).entryList(QDir::Hidden | QDir::Files).size() == jobs, 20000);
        QCOMPARE(QDir(out).entryList(QDir::Hidden | QDir::Files, QDir::Name), partials);
        ::kill(static_cast<pid_t>(process.processId()), signal);
        QVERIFY(process.waitForFinished(20000));
        if (signal == SIGKILL) {
            QCOMPARE(QDir(out).entryList(QDir::Files), QStringList());
            return;
        }
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QStringList printed;
        for (const QString &line :
             QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
            printed << line.section('\t', 0, 0);
        QCOMPARE(printed, states);
        // Scripts run it again: nothing stopped keeps a final name.
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name), QStringList());
    }

    // A step that keeps the first signal waiting cannot keep a second one
    // waiting: the second ends the program at once (two signals delivered
    // together stand for that here).
    void secondSignalEndsAtOnce()
    {
        const QString source = path("long.wav");
        if (!QFile::exists(source))
            QVERIFY(QProcess::execute("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                                 "sine=frequency=220:duration=600", "-ac", "2", "-c:a",
                                                 "pcm_s16le", source}) == 0);
        const QString out = path("out-twice");
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", path("config"));
        process.setProcessEnvironment(env);
        process.start(QCoreApplication::applicationDirPath() + "/sonbrel-cli",
                      {"convert", "--jobs", "1", "--output", out, source});
        QVERIFY(process.waitForStarted());
        const auto pid = static_cast<pid_t>(process.processId());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(out + "/.long.wma.part"), 20000);
        ::kill(pid, SIGSTOP);
        ::kill(pid, SIGINT);
        ::kill(pid, SIGTERM);
        ::kill(pid, SIGCONT);
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QVERIFY(process.readAllStandardOutput().isEmpty()); // no row was reported
    }

    void convertReportsRejectedFiles()
    {
        const CliRun r = cli({"convert", "--output", path("out-bad"), path("src/c.wav"), path("notes.mp3")});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains("notes.mp3 this File is not supported."));
        QVERIFY(
            r.err.startsWith("Profile 22: WMA9 32KHz, 32Kbps, Stereo, CBR (choose another with --format)\n"));
        QVERIFY(QFile::exists(path("out-bad/c.wma")));
    }

    // The terminal line: drawn again only when it changes, at most about ten
    // times a second; a stopped row counts what it got through, not as done.
    void progressLineOnATerminal()
    {
        FileListModel list;
        for (const char *caption : {"One", "Two", "Three"})
            list.appendRow(caption);
        qint64 now = 0;
        QList<QByteArray> drawn;
        RunReport report(
            list, true, [&](const QByteArray &line) { drawn << line; }, [&] { return now; });
        report.rowStarted(0);
        for (int done = 0; done <= 1000; ++done, now += 2) // 2 s, every percent
            report.rowProgress(0, done, 1000);
        QVERIFY2(drawn.size() >= 15 && drawn.size() <= 22, qPrintable(QString::number(drawn.size())));
        report.rowFinished(0, {RowResult::Converted, {}, {}});
        now += 1000;
        report.rowStarted(1);
        const qsizetype before = drawn.size();
        for (int read = 0; read < 100; ++read, now += 200)
            report.rowProgress(1, 44, 100);
        QCOMPARE(drawn.size(), before + 1);
        QVERIFY(drawn.last().contains(" 48% Two"));
        now += 1000;
        report.rowFinished(1, {RowResult::Stopped, {}, {}});
        report.runFinished();
        QVERIFY2(drawn.at(drawn.size() - 2).contains(" 48% Two"), drawn.at(drawn.size() - 2).constData());
        QCOMPARE(drawn.last(), QByteArray("\r\x1b[K"));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
