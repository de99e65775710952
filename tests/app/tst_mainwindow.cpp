#include "fakeaudiofile.h"
#include "messagerecorder.h"
#include "messages.h"
#include "profilefile.h"
#include "tfm_main.h"
#include "tskin.h"

#include <QMimeData>
#include <QScreen>
#include <QStandardPaths>
#include <QTableView>
#include <QtTest>

class TestMainWindow : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::shared_ptr<FakeAudioState> m_state;
    std::unique_ptr<Tfm_main> m_window;
    QList<QUrl> m_opened;
    bool m_launcherWorks = true;

    QString iniPath() const { return ProfileFile::defaultPath(); }
    QString source(const QString &name)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        m_state->sources[name] = FakeSource{};
        return path;
    }
    void makeWindow(const QString &skin = {})
    {
        m_window = std::make_unique<Tfm_main>(std::make_unique<FakeAudioFile>(m_state),
                                              std::make_unique<FakeAudioFile>(m_state));
        if (!skin.isEmpty())
            m_window->skinPath = skin;
        m_window->openUrl = [this](const QUrl &url) {
            m_opened << url;
            return m_launcherWorks;
        };
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    QString writeSkinWithout(const QString &element)
    {
        QFile in(TSkin::defaultSkinPath());
        in.open(QIODevice::ReadOnly);
        QString text = QString::fromUtf8(in.readAll());
        // Rename the element so the rest of the skin stays intact.
        text.replace(QRegularExpression("\\[(\\w+) " + element + "\\]"), "[\\1 gone-" + element + "]");
        const QString path = m_dir.filePath("skin-" + element + ".txt");
        QFile out(path);
        out.open(QIODevice::WriteOnly);
        out.write(text.toUtf8());
        return path;
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init()
    {
        QFile::remove(iniPath());
        m_state = std::make_shared<FakeAudioState>();
        m_opened.clear();
        m_launcherWorks = true;
    }
    void cleanup() { m_window.reset(); }

    void startsWithDefaults()
    {
        Messages::Recorder messages;
        makeWindow();
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Sonbrel"));
        QCOMPARE(m_window->size(), QSize(508, 380));
        QCOMPARE(m_window->lv->geometry(), QRect(24, 87, 446, 189));
        const QRect screen = m_window->screen()->availableGeometry();
        QVERIFY(qAbs(m_window->frameGeometry().center().x() - screen.center().x()) <= 1);
        QVERIFY(qAbs(m_window->frameGeometry().center().y() - screen.center().y()) <= 1);
        QCOMPARE(m_window->outputFolder(), QStandardPaths::writableLocation(QStandardPaths::MusicLocation));
        QVERIFY(m_state->log.contains("SetActive 1"));
        QVERIFY(messages.all.isEmpty());
    }

    // The widest text each column can hold must show whole at its width.
    void listCellsAreReadable()
    {
        makeWindow();
        FileListModel &list = m_window->fileList();
        for (const RowState state : {RowState::Unconverted, RowState::Converting, RowState::Converted,
                                     RowState::Stopped, RowState::Failed}) {
            const int row = list.appendRow("x");
            list.setRowState(row, state);
            list.setCell(row, FileListModel::Frequency, "192000 Hz");
            list.setCell(row, FileListModel::Channels, " Stereo ");
            list.setCell(row, FileListModel::Time, "99:59:59");
            list.setCell(row, FileListModel::Size, "9999.99MB");
        }
        const QAbstractItemView *view = m_window->lv;
        for (int column = 1; column < list.columnCount(); ++column)
            QVERIFY2(view->sizeHintForColumn(column) <= m_window->lv->columnWidth(column),
                     qPrintable(QString::number(column)));
    }

    void closeWritesTheSettings()
    {
        makeWindow();
        m_window->close();
        const ProfileFile ini(iniPath());
        QCOMPARE(ini.ReadString("Format", "Dir", "x"),
                 QStandardPaths::writableLocation(QStandardPaths::MusicLocation));
        QCOMPARE(ini.ReadString("Format", "int", ""), QStringLiteral("2"));
        QCOMPARE(ini.ReadString("Fade", "In", ""), QStringLiteral("0"));
        QCOMPARE(ini.ReadString("Fade", "Out", ""), QStringLiteral("0"));
        QCOMPARE(ini.ReadString("Fade", "Intime", ""), QStringLiteral("5"));
        QCOMPARE(ini.ReadString("Fade", "Outtime", ""), QStringLiteral("5"));
        QCOMPARE(ini.ReadString("Nor", "vol", ""), QStringLiteral("98"));
    }

    void dispatchMatchesExactNames()
    {
        Messages::Recorder messages;
        makeWindow();
        for (const char *name : {"Converter", "CONVERTER", "converter ", "nothing", "", "pb", "From"})
            m_window->dispatch(name);
        QVERIFY(messages.all.isEmpty());
        m_window->dispatch("converter");
        QCOMPARE(messages.informations, QStringList{"Please add file!"});
        m_window->dispatch("help");
        QCOMPARE(m_opened.size(), 1);
        QVERIFY(m_opened.first().toLocalFile().endsWith("/faq.html"));
    }

    // "open" shows the folder the outputs go to and "help" the FAQ page; when
    // that cannot happen the user reads why, and nothing is created.
    void openAndHelpSayWhenTheyFail_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("target"); // the output folder or the help page, under a temporary folder
        QTest::addColumn<bool>("launcherWorks");
        QTest::addColumn<bool>("opened");
        QTest::addColumn<QString>("message"); // %1: the target's path
        QTest::newRow("folder") << "open"
                                << "out/" << true << true << "";
        QTest::newRow("folder, no launcher")
            << "open"
            << "out/" << false << true << "No program on this desktop could open %1.";
        QTest::newRow("folder missing")
            << "open"
            << "Music" << true << false
            << "The output folder %1 does not exist yet: the first conversion creates it.";
        QTest::newRow("folder is a file")
            << "open"
            << "file" << true << false << "The output folder %1 is not a folder.";
        QTest::newRow("no folder") << "open"
                                   << "" << true << false << "Please choose an output folder!";
        QTest::newRow("help") << "help"
                              << "file" << true << true << "";
        QTest::newRow("help, no launcher")
            << "help"
            << "file" << false << true << "No program on this desktop could open %1.";
        QTest::newRow("help page missing") << "help"
                                           << "faq.html" << true << false << "The help page %1 is missing.";
    }
    void openAndHelpSayWhenTheyFail()
    {
        QFETCH(QString, command);
        QFETCH(QString, target);
        QFETCH(bool, launcherWorks);
        QFETCH(bool, opened);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("out"));
        QFile file(dir.filePath("file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QString path = target.isEmpty() ? QString() : dir.filePath(target);
        if (command == "open")
            ProfileFile(iniPath()).WriteString("Format", "Dir", path);
        Messages::Recorder messages;
        m_launcherWorks = launcherWorks;
        makeWindow();
        m_window->helpPage = command == "help" ? path : QString();
        m_window->dispatch(command);
        QCOMPARE(m_opened, opened ? QList<QUrl>{QUrl::fromLocalFile(path)} : QList<QUrl>{});
        QCOMPARE(messages.informations, message.isEmpty() ? QStringList{} : QStringList{message.arg(path)});
        QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 (QStringList{"file", "out"}));
    }

    void guardDuringARun()
    {
        Messages::Recorder messages;
        QTemporaryDir out;
        ProfileFile(iniPath()).WriteString("Format", "Dir", out.path());
        makeWindow();
        m_window->AddPaths({source("a.mp3"), source("b.mp3")});
        bool checked = false;
        m_window->conversionRun().setPump([&] {
            if (checked)
                return;
            checked = true;
            for (const char *name :
                 {"setpath", "addfolder", "addfile", "settings", "remove", "clear", "open", "id3"})
                m_window->dispatch(name);
            m_window->dispatch("help");
            m_window->dispatch("converter"); // ignored while running
            m_window->dispatch("stop");
        });
        m_window->dispatch("converter");
        QCOMPARE(messages.informations.count("Please stop converting first!"), 8);
        QCOMPARE(m_opened.size(), 1); // help worked, open was refused
        QCOMPARE(m_window->fileList().count(), 2);
        QCOMPARE(m_window->fileList().cell(0, FileListModel::Status), QStringLiteral("Unconvert"));
        QVERIFY(!m_window->ConversionActive());
        QCOMPARE(m_state->log.count("SetWmaProfile 23"), 1);
    }

    void closingStopsARunAndSaves()
    {
        QTemporaryDir out;
        ProfileFile(iniPath()).WriteString("Format", "Dir", out.path());
        makeWindow();
        m_window->AddPaths({source("a.mp3")});
        int pumps = 0;
        m_window->conversionRun().setPump([&] {
            if (++pumps == 3)
                m_window->close();
        });
        m_window->dispatch("converter");
        QCOMPARE(m_window->fileList().cell(0, FileListModel::Status), QStringLiteral("Stopped"));
        QCOMPARE(ProfileFile(iniPath()).ReadString("Format", "Dir", ""), out.path() + "/");
    }

    void skinWithoutProgressElements_data()
    {
        QTest::addColumn<QString>("element");
        QTest::newRow("pb") << "pb";
        QTest::newRow("pbpos") << "pbpos";
    }
    void skinWithoutProgressElements()
    {
        QFETCH(QString, element);
        QTemporaryDir out;
        ProfileFile(iniPath()).WriteString("Format", "Dir", out.path());
        Messages::Recorder messages;
        makeWindow(writeSkinWithout(element));
        QVERIFY(messages.errors.isEmpty());
        m_window->AddPaths({source("a.mp3")});
        m_window->dispatch("converter");
        QCOMPARE(m_window->fileList().cell(0, FileListModel::Status), QStringLiteral("finish"));
    }

    void progressOnTheSkin()
    {
        QTemporaryDir out;
        ProfileFile(iniPath()).WriteString("Format", "Dir", out.path());
        makeWindow();
        ISkinObject *root = m_window->Skin1->GetWindowObject(m_window.get());
        ISkinFrame *bar = root->FindObject("pb")->FrameFacet();
        ISkinText *percent = root->FindObject("pbpos")->TextFacet();
        const SkinRect origin = bar->GetRect();
        const auto width = [&] { return bar->GetRect().right - bar->GetRect().left; };
        QCOMPARE(width(), 0);
        QCOMPARE(percent->Text(), QString());
        m_window->AddPaths({source("a.mp3")});
        QList<int> widths;
        m_window->conversionRun().setPump([&] { widths << width(); });
        m_window->dispatch("converter");
        QVERIFY(widths.size() > 3);
        QVERIFY(widths[widths.size() - 2] > widths[2]); // grows over the file
        QCOMPARE(width(), 0);                           // and is gone after the run
        QCOMPARE(percent->Text(), QString());
        QCOMPARE(bar->GetRect().top, origin.top);
    }

    // Drawn while a run is active; idle, any value draws an empty bar and "0%".
    void showProgressOnlyWhileRunning_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("pixels");
        QTest::addColumn<QString>("text");
        QTest::newRow("over full") << 12000 << 439 << "100%";
        QTest::newRow("negative") << -1 << 0 << "0%";
        QTest::newRow("half") << 5000 << 220 << "50%";
    }
    void showProgressOnlyWhileRunning()
    {
        QFETCH(int, value);
        QFETCH(int, pixels);
        QFETCH(QString, text);
        QTemporaryDir out;
        ProfileFile(iniPath()).WriteString("Format", "Dir", out.path());
        makeWindow();
        ISkinObject *root = m_window->Skin1->GetWindowObject(m_window.get());
        ISkinFrame *bar = root->FindObject("pb")->FrameFacet();
        ISkinText *percent = root->FindObject("pbpos")->TextFacet();
        const auto width = [&] { return bar->GetRect().right - bar->GetRect().left; };
        m_window->AddPaths({source("a.mp3")});
        QList<std::pair<int, QString>> drawn;
        m_window->conversionRun().setPump([&] {
            if (!drawn.isEmpty())
                return;
            m_window->progress().ShowProgress(value);
            drawn.append({width(), percent->Text()});
            m_window->dispatch("stop");
        });
        m_window->dispatch("converter");
        QCOMPARE(drawn, (QList<std::pair<int, QString>>{{pixels, text}}));
        m_window->progress().ShowProgress(value);
        QCOMPARE(width(), 0);
        QCOMPARE(percent->Text(), QStringLiteral("0%"));
    }

    void theConvertingRowStaysInSight()
    {
        QTemporaryDir out;
        ProfileFile(iniPath()).WriteString("Format", "Dir", out.path());
        Messages::Recorder messages; // the fake outputs take no tags
        makeWindow();
        QStringList paths;
        for (int i = 0; i < 30; ++i) {
            paths << source(QStringLiteral("%1.mp3").arg(i));
            m_state->sources[QStringLiteral("%1.mp3").arg(i)].sampleCount = 3000;
        }
        m_window->AddPaths(paths);
        QTableView *view = m_window->lv;
        QSet<int> seen;
        m_window->conversionRun().setPump([&] {
            for (int row = 0; row < m_window->fileList().count(); ++row) {
                if (m_window->fileList().rowState(row) != RowState::Converting)
                    continue;
                seen << row;
                const QRect cell = view->visualRect(m_window->fileList().index(row, 0));
                QVERIFY2(view->viewport()->rect().contains(cell), qPrintable(QString::number(row)));
            }
        });
        m_window->dispatch("converter");
        QCOMPARE(seen.size(), 30);
    }

    void brokenSkinFallsBackAndStillReadsSettings()
    {
        ProfileFile(iniPath()).WriteString("Format", "Dir", "/somewhere");
        Messages::Recorder messages;
        makeWindow(m_dir.filePath("missing-skin.dll"));
        QCOMPARE(messages.errors.size(), 1);
        QCOMPARE(m_window->outputFolder(), QStringLiteral("/somewhere"));
        QVERIFY(m_window->Skin1->GetWindowObject(m_window.get()));
        QVERIFY(m_window->Skin1->GetWindowObject(m_window.get())->FindObject("converter"));
    }

    void removeDeletesSelectedRows()
    {
        makeWindow();
        m_window->AddPaths({source("a.mp3"), source("b.mp3"), source("c.mp3")});
        m_window->lv->selectRow(1);
        m_window->dispatch("remove");
        QCOMPARE(m_window->fileList().count(), 2);
        QCOMPARE(m_window->fileList().caption(1), QStringLiteral("c.mp3"));
        m_window->dispatch("clear");
        QCOMPARE(m_window->fileList().count(), 0);
    }

    void keyboardShortcuts()
    {
        Messages::Recorder messages;
        makeWindow();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        const QStringList files{source("a.mp3"), source("b.mp3"), source("c.mp3")};
        m_window->chooseFiles = [&] { return files; };
        QTest::keyClick(m_window.get(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(m_window->fileList().count(), 3);
        QTest::keyClick(m_window.get(), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(m_window->lv->selectionModel()->selectedRows().size(), 3);
        QTest::keyClick(m_window.get(), Qt::Key_Delete);
        QCOMPARE(m_window->fileList().count(), 0);
        QTest::keyClick(m_window.get(), Qt::Key_F1);
        QCOMPARE(m_opened.size(), 1);
        QTest::keyClick(m_window.get(), Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(messages.informations, QStringList{"Please add file!"});
        QTest::keyClick(m_window.get(), Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!m_window->isVisible());
    }

    void droppedFilesAndFoldersAreAdded()
    {
        makeWindow();
        QDir(m_dir.path()).mkdir("drop");
        const QString inFolder = m_dir.filePath("drop/x.wav");
        QFile(inFolder).open(QIODevice::WriteOnly);
        m_state->sources["x.wav"] = FakeSource{};
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(source("a.mp3")), QUrl::fromLocalFile(m_dir.filePath("drop"))});
        QDragEnterEvent enter(QPoint(100, 150), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(100, 150), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &drop);
        QCOMPARE(m_window->fileList().count(), 2);
        QCOMPARE(m_window->fileList().caption(1), QStringLiteral("x.wav"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
