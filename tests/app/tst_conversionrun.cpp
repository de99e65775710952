#include "conversionrun.h"
#include "fakeaudiofile.h"
#include "filelistmodel.h"
#include "messagerecorder.h"
#include "messages.h"
#include "profilefile.h"
#include "taudiofile2.h"

#include <QtTest>

namespace {
// The run's events as short texts, progress folded into one entry per row.
struct EventLog : RunRecord {
    QStringList events;
    void rowStarted(int row) override { events << QStringLiteral("start %1").arg(row); }
    void rowProgress(int row, int done, int total) override
    {
        const QString entry = QStringLiteral("progress %1").arg(row);
        if (events.last() != entry)
            events << entry;
        QVERIFY(done <= total);
    }
    void rowFinished(int row, const RowResult &result) override
    {
        RunRecord::rowFinished(row, result);
        static const char *kinds[] = {"converted", "stopped", "failed", "skipped"};
        events << QStringLiteral("finish %1 %2").arg(row).arg(kinds[result.kind]);
    }
    void runFinished() override { events << "end"; }
};
} // namespace

class TestConversionRun : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::shared_ptr<FakeAudioState> m_state;
    std::unique_ptr<TAudioFile2> m_reader, m_writer;
    std::unique_ptr<FileListModel> m_model;
    AppSettings m_held;
    std::unique_ptr<ConversionRun> m_run;
    EventLog m_log;
    QStringList m_tagged;
    std::function<void()> m_onPump;

    QString out() const { return m_dir.filePath("out"); }
    void addRow(const QString &caption, const QString &file, FakeSource source = {})
    {
        const QString path = m_dir.filePath("src/" + file);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        m_state->sources[file] = source;
        const int row = m_model->appendRow(caption);
        m_model->setCell(row, FileListModel::Path, path);
        m_model->setRowState(row, RowState::Unconverted);
    }
    QStringList statuses() const
    {
        QStringList s;
        for (int i = 0; i < m_model->count(); ++i)
            s << m_model->cell(i, FileListModel::Status);
        return s;
    }

private slots:
    void init()
    {
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.filePath("src"));
        m_state = std::make_shared<FakeAudioState>();
        m_reader = std::make_unique<TAudioFile2>(std::make_unique<FakeAudioFile>(m_state));
        m_writer = std::make_unique<TAudioFile2>(std::make_unique<FakeAudioFile>(m_state));
        m_model = std::make_unique<FileListModel>();
        m_held = AppSettings{};
        m_held.outputFolder = out();
        m_run = std::make_unique<ConversionRun>(*m_model, *m_reader, *m_writer, m_held);
        m_log = EventLog{};
        m_run->addObserver(m_log);
        m_tagged.clear();
        m_onPump = nullptr;
        m_run->setPump([this] {
            if (m_onPump)
                m_onPump();
        });
        m_run->setTagWriter([this](const QString &path, const AudioFileinfo &rec) {
            m_tagged << QFileInfo(path).fileName() + "|" + rec.title;
            // a comment stands for the writer's failure
            return rec.comment.isEmpty() ? Result<>() : Failure{rec.comment};
        });
    }

    void emptyListAsksForFiles()
    {
        Messages::Recorder messages;
        m_run->ConvertAll();
        QCOMPARE(messages.informations, QStringList{"Please add file!"});
        QVERIFY(!m_run->ConversionActive());
    }

    void emptyFolderIsRefused()
    {
        Messages::Recorder messages;
        addRow("Song", "a.mp3");
        m_held.outputFolder.clear();
        m_run->ConvertAll();
        QCOMPARE(messages.informations, QStringList{"Please choose an output folder!"});
        QVERIFY(m_state->log.isEmpty());
    }

    void callOrderOfOneFile()
    {
        addRow("Song", "a.mp3", FakeSource{44100, 2, 100, 4410});
        m_model->record(0).title = "T";
        bool partialWhileWriting = false;
        m_onPump = [&] {
            partialWhileWriting =
                QFile::exists(out() + "/.Song.wma.part") && !QFile::exists(out() + "/Song.wma");
        };
        m_run->ConvertAll();
        QCOMPARE(m_state->log.mid(0, 6),
                 QStringList({"SetWmaProfile 23", "Open a.mp3 0 1", "SetSourceFormat 44100 2",
                              "CreateOutput .Song.wma.part 0", "SetSourceFormat 44100 2", "ReadSamples"}));
        QVERIFY(partialWhileWriting);
        QCOMPARE(QDir(out()).entryList(QDir::Files | QDir::Hidden), QStringList{"Song.wma"});
        QCOMPARE(m_state->log.mid(m_state->log.size() - 2), QStringList({"Close", "Close"}));
        QCOMPARE(m_state->readSizes, QList<int>({2034, 2034, 2034}));
        QCOMPARE(statuses(), QStringList{"finish"});
        QCOMPARE(m_tagged, QStringList{".Song.wma.part|T"}); // tagged before it is named
        QCOMPARE(m_held.outputFolder, out() + "/");
        QVERIFY(QFileInfo(out()).isDir());
        QVERIFY(!m_run->ConversionActive());
        QCOMPARE(m_log.events, QStringList({"start 0", "progress 0", "finish 0 converted", "end"}));
    }

    void storedProfileIsUsed()
    {
        QTemporaryDir cfg;
        ProfileFile ini(cfg.filePath("sonbrel.ini"));
        ini.WriteInteger("wma", "format", 20);
        m_run->setSettings(&ini);
        addRow("Song", "a.mp3");
        m_run->ConvertAll();
        QCOMPARE(m_state->log.first(), QStringLiteral("SetWmaProfile 21"));
    }

    void fadeReadSizes_data()
    {
        QTest::addColumn<bool>("fadeIn");
        QTest::addColumn<bool>("fadeOut");
        QTest::addColumn<QList<int>>("reads");
        // 10 s at 1000 Hz mono: 10000 frames; 5 s is 5000 frames.
        QTest::newRow("fade in") << true << false << QList<int>({5000, 2034, 2034, 2034});
        QTest::newRow("fade out") << false << true << QList<int>({2034, 2034, 2034, 3898});
        QTest::newRow("both") << true << true << QList<int>({5000, 5000});
    }
    void fadeReadSizes()
    {
        QFETCH(bool, fadeIn);
        QFETCH(bool, fadeOut);
        QFETCH(QList<int>, reads);
        m_held.fadeIn = fadeIn;
        m_held.fadeOut = fadeOut;
        addRow("Song", "a.wav", FakeSource{1000, 1, 10000, 10000});
        m_run->ConvertAll();
        QCOMPARE(m_state->readSizes, reads);
    }

    void fadeTimesThatReadNothing_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::newRow("zero") << 0;
        QTest::newRow("negative") << -3;
        QTest::newRow("wraps in milliseconds") << std::numeric_limits<int>::max();
    }
    void fadeTimesThatReadNothing()
    {
        QFETCH(int, seconds);
        m_held.fadeIn = true;
        m_held.fadeInTime = seconds;
        addRow("Song", "a.wav", FakeSource{1000, 1, 10000, 10000});
        m_run->ConvertAll();
        QCOMPARE(m_state->readSizes.first(), 2034);
        QCOMPARE(m_state->readSizes.size(), 5); // the whole file, not an empty output
        QCOMPARE(statuses(), QStringList{"finish"});
    }

    void tinyFileIsReadOnce()
    {
        addRow("Tiny", "t.wav", FakeSource{44100, 2, 1, 50});
        m_run->ConvertAll();
        QCOMPARE(m_state->readSizes, QList<int>{2034});
        QCOMPARE(statuses(), QStringList{"finish"});
    }

    void takenNamesGetNumbers()
    {
        QDir().mkpath(out());
        for (const char *name : {"Mr.wma", "Mr_1.wma"}) {
            QFile f(out() + "/" + name);
            f.open(QIODevice::WriteOnly);
            f.write("keep");
        }
        addRow("Mr. Jones", "a.mp3");
        addRow("Mr. Jones", "b.mp3");
        m_run->ConvertAll();
        QVERIFY(QFile::exists(out() + "/Mr_2.wma"));
        QVERIFY(QFile::exists(out() + "/Mr_3.wma"));
        QFile kept(out() + "/Mr.wma");
        kept.open(QIODevice::ReadOnly);
        QCOMPARE(kept.readAll(), QByteArray("keep"));
    }

    // Another run takes a name after this one chose it: while creating the
    // partial file, or while writing it (the final name then appears).
    void nameTakenMeanwhileMovesOn_data()
    {
        QTest::addColumn<QString>("takenAtCreation");
        QTest::addColumn<QString>("takenBeforeNaming");
        QTest::addColumn<QString>("expected");
        QTest::newRow("partial name") << ".Song.wma.part"
                                      << ""
                                      << "Song_1.wma";
        QTest::newRow("final name") << ""
                                    << "Song.wma"
                                    << "Song_1.wma";
        QTest::newRow("both, one after the other") << ".Song.wma.part"
                                                   << "Song_1.wma"
                                                   << "Song_2.wma";
    }
    void nameTakenMeanwhileMovesOn()
    {
        QFETCH(QString, takenAtCreation);
        QFETCH(QString, takenBeforeNaming);
        QFETCH(QString, expected);
        const auto take = [this](const QString &name) {
            QFile f(out() + "/" + name);
            QVERIFY(f.open(QIODevice::NewOnly));
            f.write("theirs");
        };
        m_state->beforeCreate = [&](const QString &) {
            if (!takenAtCreation.isEmpty())
                take(std::exchange(takenAtCreation, QString()));
        };
        m_onPump = [&] {
            if (!takenBeforeNaming.isEmpty() && m_model->cell(0, FileListModel::Status) == "Converting")
                take(std::exchange(takenBeforeNaming, QString()));
        };
        addRow("Song", "a.mp3");
        m_run->ConvertAll();
        QCOMPARE(statuses(), QStringList{"finish"});
        QCOMPARE(m_log.result(0)->output, out() + "/" + expected);
        QDir dir(out());
        for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden)) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll() == "theirs", name != expected); // nothing of theirs replaced
        }
    }

    void allNamesTakenSkipsTheRow()
    {
        Messages::Recorder messages;
        QDir().mkpath(out());
        QFile(out() + "/Song.wma").open(QIODevice::WriteOnly);
        for (int n = 1; n <= 100; ++n)
            QFile(out() + QStringLiteral("/Song_%1.wma").arg(n)).open(QIODevice::WriteOnly);
        addRow("Song", "a.mp3");
        addRow("Other", "b.mp3");
        m_run->ConvertAll();
        QCOMPARE(messages.informations, QStringList{"Song.wma and its numbered names already exist."});
        QCOMPARE(statuses(), QStringList({"Unconvert", "finish"}));
    }

    void removedSourceIsReportedAndSkipped()
    {
        Messages::Recorder messages;
        addRow("One", "a.mp3");
        addRow("Two", "b.mp3");
        addRow("Three", "c.mp3");
        const QString gone = m_model->cell(1, FileListModel::Path);
        QFile::remove(gone);
        m_run->ConvertAll();
        QCOMPARE(messages.informations, QStringList{gone + " has been removed."});
        QCOMPARE(statuses(), QStringList({"finish", "Unconvert", "finish"}));
        QCOMPARE(m_log.events.mid(3, 2), QStringList({"start 1", "finish 1 skipped"}));
        QCOMPARE(m_log.result(1)->message, gone + " has been removed.");
    }

    void stopInTheMiddle()
    {
        addRow("One", "a.mp3");
        addRow("Two", "b.mp3");
        int pumps = 0;
        m_onPump = [&] {
            if (++pumps == 6)
                m_run->stop();
        };
        m_run->ConvertAll();
        QCOMPARE(statuses(), QStringList({"Stopped", "Unconvert"}));
        QCOMPARE(m_tagged, QStringList{".One.wma.part|"});
        QVERIFY(QFile::exists(out() + "/One.wma"));
        QVERIFY(!m_run->ConversionActive());
        QCOMPARE(m_log.events, QStringList({"start 0", "progress 0", "finish 0 stopped", "end"}));
        QCOMPARE(m_log.result(0)->output, out() + "/One.wma");
    }

    void componentFailureEndsCleanly()
    {
        Messages::Recorder messages;
        addRow("One", "a.mp3");
        addRow("Two", "b.mp3");
        addRow("Three", "c.mp3");
        m_state->failOn = "WriteSamples";
        m_state->failAfter = 25; // fails inside the second file
        m_run->ConvertAll();
        QCOMPARE(statuses(), QStringList({"finish", "Failed", "Unconvert"}));
        QVERIFY(QFile::exists(out() + "/One.wma"));
        QVERIFY(!QFile::exists(out() + "/Two.wma"));
        QVERIFY(!m_run->ConversionActive());
        QVERIFY(!m_reader->IsOpen());
        QVERIFY(!m_writer->IsOpen());
        QCOMPARE(messages.errors.size(), 1);
        QVERIFY(messages.errors.first().startsWith("injected failure"));
        QCOMPARE(m_log.events, QStringList({"start 0", "progress 0", "finish 0 converted", "start 1",
                                            "progress 1", "finish 1 failed", "end"}));
        QCOMPARE(m_log.result(1)->message, messages.errors.first());
    }

    void otherFailuresEndCleanlyToo()
    {
        Messages::Recorder messages;
        addRow("One", "a.mp3");
        addRow("Two", "b.mp3");
        int reads = 0;
        m_onPump = [&] {
            if (++reads == 8)
                throw std::bad_alloc();
        };
        m_run->ConvertAll();
        QCOMPARE(statuses(), QStringList({"Failed", "Unconvert"}));
        QVERIFY(!QFile::exists(out() + "/One.wma"));
        QVERIFY(!m_run->ConversionActive());
        QVERIFY(!m_writer->IsOpen());
        QCOMPARE(messages.errors.size(), 1);
    }

    // Two jobs: a row that fails ends the run as one job would, rows before
    // it are converted, no row after it starts once the failure is known,
    // and rows are reported in row order.
    void failureWithTwoJobs()
    {
        TAudioFile2 reader(std::make_unique<FakeAudioFile>(m_state)),
            writer(std::make_unique<FakeAudioFile>(m_state));
        m_run->addJob(reader, writer);
        Messages::Recorder messages;
        for (const char *name : {"a.mp3", "b.mp3", "c.mp3", "d.mp3", "e.mp3"})
            addRow(QString(name).left(1), name);
        m_state->sources["c.mp3"].failRead = true;
        m_run->ConvertAll();
        const QStringList states = statuses();
        QCOMPARE(states.mid(0, 3), QStringList({"finish", "finish", "Failed"}));
        for (const QString &state : states.mid(3))
            QVERIFY(state == "finish" || state == "Unconvert");
        QCOMPARE(messages.errors, QStringList{"cannot decode"});
        QStringList finished;
        for (const QString &event : m_log.events)
            if (event.startsWith("finish"))
                finished << event.section(' ', 1, 1);
        QCOMPARE(finished, QStringList({"0", "1", "2", "3", "4"}).mid(0, finished.size()));
        QVERIFY(!QFile::exists(out() + "/.c.wma.part") && !QFile::exists(out() + "/c.wma"));
        QVERIFY(!m_run->ConversionActive());
    }

    // A failure on the run's own thread while a job runs (here an observer's):
    // every job's thread is joined, its row ends, and the run reports it.
    void failureBesideRunningJobs_data()
    {
        QTest::addColumn<bool>("standard"); // a std::exception, or anything else thrown
        QTest::newRow("std::exception") << true;
        QTest::newRow("other") << false;
    }
    void failureBesideRunningJobs()
    {
        QFETCH(bool, standard);
        struct Thrower : RunObserver {
            bool standard = true;
            void rowStarted(int row) override
            {
                if (row == 1 && standard)
                    throw std::runtime_error("observer failed");
                if (row == 1)
                    throw 7;
            }
        } thrower;
        thrower.standard = standard;
        m_run->addObserver(thrower);
        TAudioFile2 reader(std::make_unique<FakeAudioFile>(m_state)),
            writer(std::make_unique<FakeAudioFile>(m_state));
        m_run->addJob(reader, writer);
        Messages::Recorder messages;
        for (const char *name : {"a.mp3", "b.mp3", "c.mp3"})
            addRow(QString(name).left(1), name, FakeSource{44100, 2, 10000, 441000});
        m_run->ConvertAll();
        QVERIFY(!m_run->ConversionActive());
        QCOMPARE(messages.errors.size(), 1);
        QCOMPARE(statuses().mid(1), QStringList({"Unconvert", "Unconvert"}));
        QVERIFY(QDir(out()).entryList({"*.part"}, QDir::Files | QDir::Hidden).isEmpty());
        QCOMPARE(m_log.events.last(), QStringLiteral("end"));
    }

    // A source that gives fewer frames than it said it has: a failed row,
    // never an output cut short and called converted.
    void sourceEndingEarlyFails()
    {
        Messages::Recorder messages;
        FakeSource shortSource;
        shortSource.readable = 30000;
        addRow("Short", "a.wav", shortSource);
        m_run->ConvertAll();
        QCOMPARE(statuses(), QStringList{"Failed"});
        QCOMPARE(messages.errors, QStringList{m_model->cell(0, FileListModel::Path) +
                                              " ended early, after 0.7 of its 1.0 seconds: it was cut "
                                              "short or is damaged."});
        QVERIFY(QDir(out()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }

    void tagFailureIsReportedAndTheAudioKept()
    {
        Messages::Recorder messages;
        addRow("One", "a.mp3");
        addRow("Two", "b.mp3");
        m_model->record(0).comment = "No space left on device";
        m_run->ConvertAll();
        QCOMPARE(statuses(), QStringList({"finish", "finish"}));
        QCOMPARE(messages.errors,
                 QStringList{"The tags could not be written into " + out() +
                             "/One.wma: No space left on device. The converted audio is kept."});
        QVERIFY(QFile::exists(out() + "/One.wma"));
        QVERIFY(!m_log.result(0)->clean());
        QCOMPARE(m_log.result(0)->message, messages.errors.first());
        QVERIFY(m_log.result(1)->clean());
    }

    void secondConverterIsIgnored()
    {
        addRow("One", "a.mp3");
        m_onPump = [this] { m_run->ConvertAll(); };
        m_run->ConvertAll();
        QCOMPARE(m_state->log.count("SetWmaProfile 23"), 1);
        QCOMPARE(statuses(), QStringList{"finish"});
        QCOMPARE(m_log.events.count("end"), 1);
    }
};

QTEST_GUILESS_MAIN(TestConversionRun)
#include "tst_conversionrun.moc"
