#include "fakeaudiofile.h"
#include "filelist.h"
#include "filelistmodel.h"
#include "messagerecorder.h"
#include "messages.h"
#include "sourcekinds.h"
#include "tagintake.h"
#include "taudiofile2.h"

#include <QtTest>

class TestFileList : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::shared_ptr<FakeAudioState> m_state;
    std::unique_ptr<TAudioFile2> m_reader;
    std::unique_ptr<FileListModel> m_model;
    std::unique_ptr<FileList> m_files;

    QString touch(const QString &name, int bytes = 5000)
    {
        QFile f(m_dir.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(QByteArray(bytes, 'x'));
        return f.fileName();
    }

private slots:
    void init()
    {
        m_state = std::make_shared<FakeAudioState>();
        m_state->sources["a.mp3"] = FakeSource{44100, 2, 3725000, 0};
        m_state->sources["b.wav"] = FakeSource{8000, 1, 999, 0};
        m_state->sources["c.wav"] = FakeSource{};
        m_state->sources["d.VOX"] = FakeSource{8000, 1, 1000, 8000};
        m_state->sources["e.Mp3"] = FakeSource{};
        m_state->sources["zero.mp3"] = FakeSource{44100, 2, 0, 0};
        m_reader = std::make_unique<TAudioFile2>(std::make_unique<FakeAudioFile>(m_state));
        m_model = std::make_unique<FileListModel>();
        m_files = std::make_unique<FileList>(*m_model, *m_reader);
        m_files->setPump([] {});
    }
    void cleanup()
    {
        for (const QString &f : QDir(m_dir.path()).entryList(QDir::Files))
            QFile::remove(m_dir.filePath(f));
    }

    void addedRowHasItsCells()
    {
        const QString path = touch("a.mp3", 3456789);
        QVERIFY(m_files->AddOneFile(path));
        QCOMPARE(m_model->count(), 1);
        QCOMPARE(m_model->caption(0), QStringLiteral("a.mp3"));
        QCOMPARE(m_model->cell(0, FileListModel::Frequency), QStringLiteral("44100 Hz"));
        QCOMPARE(m_model->cell(0, FileListModel::Channels), QStringLiteral(" Stereo "));
        QCOMPARE(m_model->cell(0, FileListModel::Time), QStringLiteral("01:02:05"));
        QCOMPARE(m_model->cell(0, FileListModel::Size), QLocale().toString(3.30, 'f', 2) + "MB");
        QCOMPARE(m_model->cell(0, FileListModel::Status), QStringLiteral("Unconvert"));
        QCOMPARE(m_model->cell(0, FileListModel::Path), path);
        QCOMPARE(m_model->record(0).duration, 3725000);
        QCOMPARE(m_model->data(m_model->index(0, 0), Qt::DisplayRole).toString(), QStringLiteral("a.mp3"));
        // A title of megabytes is shown by its start, or every repaint lays out all of it.
        const int huge = m_model->appendRow(QString(10'000'000, QLatin1Char('x')));
        QCOMPARE(m_model->data(m_model->index(huge, 0), Qt::DisplayRole).toString().size(), 1001);
        QCOMPARE(m_model->caption(huge).size(), 10'000'000);
        m_model->removeRowAt(huge);
        QCOMPARE(m_model->columnCount(), 6); // the path has no column
        QVERIFY(m_files->AddOneFile(touch("b.wav")));
        QCOMPARE(m_model->cell(1, FileListModel::Channels), QStringLiteral(" Mono "));
    }

    void sameFileTwiceGivesTwoRows()
    {
        const QString path = touch("a.mp3");
        m_files->AddPaths({path, path});
        QCOMPARE(m_model->count(), 2);
        QCOMPARE(m_model->cell(1, FileListModel::Path), path);
    }

    void unsupportedFileAmongOthers()
    {
        Messages::Recorder messages;
        m_files->AddPaths({touch("a.mp3"), touch("unknown.mp3"), touch("zero.mp3"), touch("c.wav")});
        QCOMPARE(messages.informations, QStringList({"unknown.mp3 this File is not supported.",
                                                     "zero.mp3 this File is not supported."}));
        QCOMPARE(m_model->count(), 2);
        QCOMPARE(m_model->caption(1), QStringLiteral("c.wav"));
        QCOMPARE(m_model->fileTagTable().size(), 2);
        QVERIFY(m_state->log.contains("SetActive 0"));
        QCOMPARE(m_state->log.indexOf("SetActive 0") + 1, m_state->log.indexOf("SetActive 1"));
    }

    void folderTakesSupportedExtensionsInAnyCase()
    {
        touch("a.mp3");
        touch("d.VOX");
        touch("e.Mp3");
        touch("notes.txt");
        QDir(m_dir.path()).mkdir("sub.mp3");
        m_files->AddFolderFiles(m_dir.path());
        QStringList captions;
        for (int i = 0; i < m_model->count(); ++i)
            captions << m_model->caption(i);
        QCOMPARE(captions, QStringList({"a.mp3", "d.VOX", "e.Mp3"}));
        QDir(m_dir.path()).rmdir("sub.mp3");
    }

    // Names from an old Latin-1 disk: added through the folder and given
    // directly, opened by their bytes; only an ambiguous name is refused,
    // with a message.
    void namesThatAreNotUtf8()
    {
        const QByteArray folder = QFile::encodeName(m_dir.filePath("latin1"));
        QVERIFY(QDir().mkpath(m_dir.filePath("latin1")));
        const auto names = {"Caf\xe9.mp3", "Caf\xe8.mp3", "Na\xefve.mp3"};
        for (const char *name : names) {
            FILE *file = std::fopen((folder + "/" + name).constData(), "w");
            QVERIFY(file);
            std::fputs(name, file);
            std::fclose(file);
        }
        const QString cafe = QStringLiteral("Caf\uFFFD.mp3");
        const QString naive = QStringLiteral("Na\uFFFDve.mp3");
        m_state->sources[cafe] = m_state->sources[naive] = FakeSource{};
        Messages::Recorder messages;
        m_files->AddFolderFiles(m_dir.filePath("latin1"));
        m_files->AddPaths({m_dir.filePath("latin1/" + naive), m_dir.filePath("latin1/" + cafe)});
        QCOMPARE(messages.informations, QStringList{cafe + " cannot be opened: its name is not valid UTF-8 "
                                                           "(2 files have names that read like this one)."});
        QStringList contents;
        for (int row = 0; row < m_model->count(); ++row) {
            QCOMPARE(m_model->caption(row), row < 2 ? cafe : naive);
            QFile file(m_model->cell(row, FileListModel::Path));
            QVERIFY(file.open(QIODevice::ReadOnly));
            contents << QString::fromLatin1(file.readAll());
        }
        QCOMPARE(contents.join('|'),
                 QString::fromLatin1("Caf\xe8.mp3|Caf\xe9.mp3|Na\xefve.mp3|Na\xefve.mp3"));
        for (const char *name : names) // Qt cannot name them
            std::remove((folder + "/" + name).constData());
    }

    void titleColumnNarrowsAboveTenRows()
    {
        const QString path = touch("c.wav");
        for (int i = 0; i < 10; ++i)
            m_files->AddOneFile(path);
        QCOMPARE(m_model->titleColumnWidth(), 120);
        m_files->AddOneFile(path);
        QCOMPARE(m_model->titleColumnWidth(), 105);
        m_files->DeleteRows({3});
        QCOMPARE(m_model->titleColumnWidth(), 120);
    }

    void deletingKeepsRecordsAligned()
    {
        const QString path = touch("c.wav");
        for (int i = 0; i < 5; ++i) {
            m_files->AddOneFile(path);
            m_model->record(i).artist = QString::number(i + 1);
            m_model->record(i).duration = i + 1;
        }
        m_files->DeleteRows({3, 1, 3});
        QCOMPARE(m_model->count(), 3);
        QCOMPARE(m_model->fileTagTable().size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(m_model->record(i).artist, QString::number(2 * i + 1));
            QCOMPARE(m_model->record(i).duration, 2 * i + 1);
        }
        m_files->ClearList();
        QCOMPARE(m_model->count(), 0);
        QCOMPARE(m_model->fileTagTable().size(), 0);
    }

    void pipeIsRefusedWithoutBlocking()
    {
        // The real intake: its Ogg reader blocked for ever opening a pipe.
        m_files->setTagIntake(TagIntake);
        const QString pipe = m_dir.filePath("pipe.ogg");
        QVERIFY(QProcess::execute("mkfifo", {pipe}) == 0);
        Messages::Recorder messages;
        const bool added = m_files->AddOneFile(pipe);
        QFile::remove(pipe);
        QVERIFY(!added);
        QCOMPARE(messages.informations, QStringList{"pipe.ogg this File is not supported."});
        QCOMPARE(m_model->count(), 0);
    }

    // The reader's message is shown, its row goes, and the add goes on.
    void failingTagIntakeLeavesNoRow()
    {
        m_files->setTagIntake([](const QString &path, FileListModel &, int) {
            if (path.endsWith("c.ogg"))
                throw std::runtime_error("Cannot open c.ogg: broken");
        });
        Messages::Recorder messages;
        m_files->AddPaths({touch("a.mp3"), touch("c.ogg"), touch("e.Mp3")});
        QCOMPARE(messages.errors, QStringList{"Cannot open c.ogg: broken"});
        QCOMPARE(m_model->count(), 2);
        QCOMPARE(m_model->fileTagTable().size(), 2);
    }

    // One table of kinds feeds the open-file filter and folder adding.
    void sourceKindsFeedFilterAndFolders()
    {
        QCOMPARE(openFileFilter(),
                 QStringLiteral(
                     "All Supported Files (*.mp3 *.wav *.wma *.ogg *.flac *.opus *.m4a *.aif *.aiff *.wv);;"
                     "MP3 Files(*.mp3);;WAV Files(*.wav);;WMA Files(*.wma);;OGG Files(*.ogg);;"
                     "FLAC Files(*.flac);;Opus Files(*.opus);;M4A Files(*.m4a);;AIFF Files(*.aif *.aiff);;"
                     "WavPack Files(*.wv);;All File(*.*)"));
        for (const char *name : {"a.FLAC", "b.opus", "c.m4a", "d.aif", "e.AIFF", "f.wv", "g.vox"})
            QVERIFY2(FileList::hasFolderExtension(name), name);
        QVERIFY(!FileList::hasFolderExtension("h.txt"));
    }
};

QTEST_GUILESS_MAIN(TestFileList)
#include "tst_filelist.moc"
