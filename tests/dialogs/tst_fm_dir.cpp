#include "tfm_dir.h"

#include "dialogtestutil.h"
#include "geometry.h"
#include "profilefile.h"

#include <QFileSystemModel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <functional>

class TestFmDir : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void firstOpeningSelectsHome();
    void firstOpeningShowsHomeAmongManyFolders_data();
    void firstOpeningShowsHomeAmongManyFolders();
    void treeKeepsStateBetweenOpenings();
    void okYieldsPathUnchanged_data();
    void okYieldsPathUnchanged();
    void okWithoutSelectionIsEmpty();
    void closingAfterEarlierOkIsEmpty_data();
    void closingAfterEarlierOkIsEmpty(); // and the title follows the use
    void centredOverOwner();
    void rightClickSelects();
    void foldersOnlyAndLazy();
    void fitsStatedSize();

private:
    // Runs the dialog modally; `press` acts from inside its event loop.
    QString execute(Tfm_dir &dlg, const QString &title, const std::function<void()> &press,
                    QWidget *over = nullptr);
    void select(Tfm_dir &dlg, const QString &path);

    QTemporaryDir m_root;
    QString m_home;
};

void TestFmDir::initTestCase()
{
    QVERIFY(m_root.isValid());
    // A home of our own, so the first opening is the same on every machine.
    m_home = m_root.filePath(QStringLiteral("home"));
    QVERIFY(QDir().mkpath(m_home + QStringLiteral("/Music")));
    qputenv("HOME", m_home.toLocal8Bit());
}

QString TestFmDir::execute(Tfm_dir &dlg, const QString &title, const std::function<void()> &press,
                           QWidget *over)
{
    QTimer::singleShot(0, &dlg, press);
    return dlg.Execute(title, over);
}

void TestFmDir::select(Tfm_dir &dlg, const QString &path)
{
    const QModelIndex index = dlg.model()->index(path);
    QVERIFY(index.isValid());
    dlg.ShellTreeView1->setCurrentIndex(index);
}

void TestFmDir::firstOpeningSelectsHome()
{
    Tfm_dir dlg;
    QVERIFY(dlg.result().isEmpty());
    const QString chosen = execute(dlg, QStringLiteral("Output Directory"), [&] { dlg.btn_ok->click(); });
    QCOMPARE(chosen, m_home);
    QVERIFY(dlg.ShellTreeView1->isExpanded(dlg.model()->index(m_home)));
    QVERIFY(dlg.ShellTreeView1->isExpanded(dlg.model()->index(QStringLiteral("/"))));
}

// The folders above home are listed after the first opening has begun, and
// push home down as they arrive; it must still be in sight once they are in,
// or the folder the user chose meanwhile.
void TestFmDir::firstOpeningShowsHomeAmongManyFolders_data()
{
    QTest::addColumn<QString>("picked"); // by the user at once; empty: nothing
    QTest::newRow("home") << "";
    QTest::newRow("user's choice") << "a000";
}

void TestFmDir::firstOpeningShowsHomeAmongManyFolders()
{
    QFETCH(QString, picked);
    QTemporaryDir root;
    const QString crowded = root.filePath(QStringLiteral("crowded"));
    for (int i = 0; i < 300; ++i)
        QVERIFY(QDir().mkpath(crowded + QStringLiteral("/a%1").arg(i, 3, 10, QLatin1Char('0'))));
    const QString home = crowded + QStringLiteral("/home");
    QVERIFY(QDir().mkpath(home));
    qputenv("HOME", home.toLocal8Bit());
    Tfm_dir dlg;
    dlg.show();
    qputenv("HOME", m_home.toLocal8Bit());
    QFileSystemModel &model = *dlg.model();
    QTreeView &tree = *dlg.ShellTreeView1;
    const QString shown = picked.isEmpty() ? home : crowded + QLatin1Char('/') + picked;
    if (!picked.isEmpty())
        tree.setCurrentIndex(model.index(shown));
    QTRY_COMPARE(model.rowCount(model.index(crowded)), 301);
    QTest::qWait(100); // the model sorts what it listed a moment later
    QCOMPARE(tree.currentIndex(), model.index(shown));
    QVERIFY(tree.viewport()->rect().contains(tree.visualRect(model.index(shown))));
    QCOMPARE(tree.viewport()->rect().contains(tree.visualRect(model.index(home))), picked.isEmpty());
}

void TestFmDir::treeKeepsStateBetweenOpenings()
{
    Tfm_dir dlg;
    const QString music = m_home + QStringLiteral("/Music");
    execute(dlg, QStringLiteral("Add File Directory"), [&] {
        select(dlg, music);
        dlg.ShellTreeView1->expand(dlg.model()->index(m_root.path()));
        dlg.btn_cancel->click();
    });
    // Reopening neither moves back home nor collapses what was opened.
    QCOMPARE(execute(dlg, QStringLiteral("Output Directory"), [&] { dlg.btn_ok->click(); }), music);
    QVERIFY(dlg.ShellTreeView1->isExpanded(dlg.model()->index(m_root.path())));
}

void TestFmDir::okYieldsPathUnchanged_data()
{
    QTest::addColumn<QString>("relative");
    QTest::newRow("plain") << QStringLiteral("out");
    QTest::newRow("nested") << QStringLiteral("a/b/c");
    QTest::newRow("blanks") << QStringLiteral("my music/new folder");
    QTest::newRow("trailing blank") << QStringLiteral("ends with blank ");
    QTest::newRow("profile characters") << QStringLiteral("a=b;c[d]");
    QTest::newRow("non-ASCII") << QStringLiteral("Müsik/日本語");
    QTest::newRow("dots") << QStringLiteral("v1.0.");
}

// The chosen folder goes to the settings file at close; it must come back
// exactly as chosen, with no separator added or removed.
void TestFmDir::okYieldsPathUnchanged()
{
    QFETCH(QString, relative);
    const QString path = m_root.filePath(relative);
    QVERIFY(QDir().mkpath(path));

    Tfm_dir dlg;
    const QString chosen = execute(dlg, QStringLiteral("Output Directory"), [&] {
        select(dlg, path);
        dlg.btn_ok->click();
    });
    QCOMPARE(chosen, path);
    QCOMPARE(dlg.result(), path);

    ProfileFile settings(m_root.filePath(QStringLiteral("sonbrel.ini")));
    settings.WriteString(QStringLiteral("Format"), QStringLiteral("Dir"), chosen);
    QCOMPARE(settings.ReadString(QStringLiteral("Format"), QStringLiteral("Dir"), QString()), path);
}

void TestFmDir::okWithoutSelectionIsEmpty()
{
    Tfm_dir dlg;
    QCOMPARE(execute(dlg, QStringLiteral("Output Directory"), [&] { dlg.btn_ok->click(); }), m_home);
    const QString chosen = execute(dlg, QStringLiteral("Output Directory"), [&] {
        dlg.ShellTreeView1->clearSelection();
        dlg.btn_ok->click();
    });
    QVERIFY(chosen.isEmpty());
    QVERIFY(dlg.result().isEmpty());
}

void TestFmDir::closingAfterEarlierOkIsEmpty_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("Cancel") << 0;
    QTest::newRow("close box") << 1;
    QTest::newRow("Escape") << 2;
}

void TestFmDir::closingAfterEarlierOkIsEmpty()
{
    QFETCH(int, how);
    Tfm_dir dlg;
    const QString music = m_home + QStringLiteral("/Music");
    QCOMPARE(execute(dlg, QStringLiteral("Add File Directory"),
                     [&] {
                         select(dlg, music);
                         dlg.btn_ok->click();
                     }),
             music);

    QString title;
    const QString chosen = execute(dlg, QStringLiteral("Output Directory"), [&] {
        title = dlg.windowTitle();
        switch (how) {
        case 0:
            dlg.btn_cancel->click();
            break;
        case 1:
            dlg.close();
            break;
        default:
            QTest::keyClick(&dlg, Qt::Key_Escape);
        }
    });
    QCOMPARE(title, QStringLiteral("Output Directory"));
    QVERIFY(chosen.isEmpty());
    QVERIFY(dlg.result().isEmpty());
    QVERIFY(!dlg.isVisible());
}

void TestFmDir::centredOverOwner()
{
    QWidget owner;
    owner.setGeometry(101, 57, 508, 380);
    owner.show();
    Tfm_dir dlg(&owner);
    QPoint seen;
    execute(
        dlg, QStringLiteral("Output Directory"),
        [&] {
            seen = dlg.frameGeometry().topLeft();
            dlg.btn_cancel->click();
        },
        &owner);
    QCOMPARE(seen, centredOver(owner.frameGeometry(), dlg.frameGeometry().size()));

    // The owner moved between openings; the dialog follows it.
    owner.move(300, 200);
    execute(
        dlg, QStringLiteral("Add File Directory"),
        [&] {
            seen = dlg.frameGeometry().topLeft();
            dlg.btn_cancel->click();
        },
        &owner);
    QCOMPARE(seen, centredOver(owner.frameGeometry(), dlg.frameGeometry().size()));
}

void TestFmDir::rightClickSelects()
{
    const QString target = m_home + QStringLiteral("/Music");
    Tfm_dir dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.model()->filePath(dlg.ShellTreeView1->currentIndex()), m_home);

    const QModelIndex index = dlg.model()->index(target);
    QTRY_VERIFY(dlg.ShellTreeView1->visualRect(index).isValid());
    dlg.ShellTreeView1->scrollTo(index);
    QTest::mouseClick(dlg.ShellTreeView1->viewport(), Qt::RightButton, {},
                      dlg.ShellTreeView1->visualRect(index).center());
    dlg.btn_okClick();
    QCOMPARE(dlg.result(), target);
}

void TestFmDir::foldersOnlyAndLazy()
{
    const QString base = m_root.filePath(QStringLiteral("mixed"));
    QVERIFY(QDir().mkpath(base + QStringLiteral("/sub/deeper")));
    QFile file(base + QStringLiteral("/song.mp3"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    Tfm_dir dlg;
    dlg.show();
    const QModelIndex index = dlg.model()->index(base);
    dlg.ShellTreeView1->expand(index);
    QTRY_COMPARE(dlg.model()->rowCount(index), 1);
    const QModelIndex sub = dlg.model()->index(0, 0, index);
    QCOMPARE(dlg.model()->fileName(sub), QStringLiteral("sub"));
    // Nobody asked for what lies below "sub", so it has not been read.
    QVERIFY(dlg.model()->canFetchMore(sub));
}

void TestFmDir::fitsStatedSize()
{
    Tfm_dir dlg;
    dlg.setWindowTitle(QStringLiteral("Output Directory"));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.size(), QSize(287, 254));
    QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
    QVERIFY(controlsFit(dlg, *dlg.ShellTreeView1, *dlg.btn_ok, *dlg.btn_cancel));
    QCOMPARE(dlg.btn_ok->text(), QStringLiteral("Ok"));
    QCOMPARE(dlg.btn_cancel->text(), QStringLiteral("Cancel"));
    saveGrab(dlg, QStringLiteral("fm_dir"));
}

QTEST_MAIN(TestFmDir)
#include "tst_fm_dir.moc"
