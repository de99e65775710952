#include "tfm_set.h"

#include "appsettings.h"
#include "dialogtestutil.h"
#include "geometry.h"
#include "messagerecorder.h"
#include "messages.h"
#include "profilefile.h"
#include "wmaprofiles.h"

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

class TestFmSet : public QObject {
    Q_OBJECT

private slots:
    void init();

    void listHoldsTheProfileTexts();
    void openingSelectsStored_data();
    void openingSelectsStored();
    void okStoresPosition_data();
    void okStoresPosition();
    void closingWritesNothing_data();
    void closingWritesNothing();
    void refusedWriteKeepsDialogOpen();
    void executeCentresAndStores();
    void fitsStatedSize();

private:
    void store(const QByteArray &content);
    QByteArray stored() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

void TestFmSet::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(QStringLiteral("sonbrel.ini"));
}

void TestFmSet::store(const QByteArray &content)
{
    QFile file(m_path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray TestFmSet::stored() const
{
    QFile file(m_path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void TestFmSet::listHoldsTheProfileTexts()
{
    Tfm_set dlg;
    QVERIFY(!dlg.cb_wma->isEditable());
    QCOMPARE(dlg.cb_wma->count(), kWmaProfileCount);
    for (int i = 0; i < kWmaProfileCount; ++i)
        QCOMPARE(dlg.cb_wma->itemText(i), QString::fromUtf8(wmaProfiles()[i].text));
}

void TestFmSet::openingSelectsStored_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no settings file
    QTest::addColumn<int>("selected");
    QTest::newRow("no file") << QByteArray() << 22;
    QTest::newRow("no key") << QByteArray("[Format]\nDir=/music\n") << 22;
    QTest::newRow("first") << QByteArray("[wma]\nformat=0\n") << 0;
    QTest::newRow("twin of the default") << QByteArray("[wma]\nformat=20\n") << 20;
    QTest::newRow("lossless") << QByteArray("[WMA]\nFORMAT=46\n") << 46;
    QTest::newRow("hexadecimal") << QByteArray("[wma]\nformat=0x14\n") << 20;
    QTest::newRow("one past the end") << QByteArray("[wma]\nformat=47\n") << -1;
    QTest::newRow("nothing selected before") << QByteArray("[wma]\nformat=-1\n") << -1;
    QTest::newRow("huge") << QByteArray("[wma]\nformat=2147483647\n") << -1;
    QTest::newRow("not a number") << QByteArray("[wma]\nformat=high\n") << 22;
}

void TestFmSet::openingSelectsStored()
{
    QFETCH(QByteArray, content);
    QFETCH(int, selected);
    if (!content.isEmpty())
        store(content);
    ProfileFile settings(m_path);
    Tfm_set dlg;
    dlg.setStore(profilePositionStore(settings));
    dlg.show();
    QCOMPARE(dlg.cb_wma->currentIndex(), selected);
    QCOMPARE(stored(), content.isEmpty() ? QByteArray("<missing>") : content);
}

void TestFmSet::okStoresPosition_data()
{
    QTest::addColumn<int>("pick");
    QTest::newRow("twin of the default") << 20;
    QTest::newRow("default") << 22;
    QTest::newRow("first") << 0;
    QTest::newRow("lossless") << 46;
    QTest::newRow("nothing selected") << -1;
}

// What Ok stores is read back on the next opening, so a pick of position 20
// must not come back as its twin 22.
void TestFmSet::okStoresPosition()
{
    QFETCH(int, pick);
    store("[Format]\nDir=/music\n[wma]\nformat=5\n");
    ProfileFile settings(m_path);
    Tfm_set dlg;
    dlg.setStore(profilePositionStore(settings));
    dlg.show();
    dlg.cb_wma->setCurrentIndex(pick);
    dlg.Ok->click();
    QVERIFY(!dlg.isVisible());
    QCOMPARE(settings.ReadInteger(QStringLiteral("wma"), QStringLiteral("format"), 999), pick);
    QCOMPARE(settings.ReadString(QStringLiteral("Format"), QStringLiteral("Dir"), QString()),
             QStringLiteral("/music"));

    dlg.show();
    QCOMPARE(dlg.cb_wma->currentIndex(), pick);
}

void TestFmSet::closingWritesNothing_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("how");
    const QByteArray content("[wma]\nformat=7\n");
    QTest::newRow("Cancel") << content << 0;
    QTest::newRow("close box") << content << 1;
    QTest::newRow("Escape") << content << 2;
    QTest::newRow("Cancel, no file") << QByteArray() << 0;
}

void TestFmSet::closingWritesNothing()
{
    QFETCH(QByteArray, content);
    QFETCH(int, how);
    if (!content.isEmpty())
        store(content);
    const QByteArray before = stored();
    ProfileFile settings(m_path);
    Tfm_set dlg;
    dlg.setStore(profilePositionStore(settings));
    dlg.show();
    const int opened = dlg.cb_wma->currentIndex();
    dlg.cb_wma->setCurrentIndex(30);
    switch (how) {
    case 0:
        dlg.Cancel->click();
        break;
    case 1:
        dlg.close();
        break;
    default:
        QTest::keyClick(&dlg, Qt::Key_Escape);
    }
    QVERIFY(!dlg.isVisible());
    QCOMPARE(stored(), before);

    dlg.show();
    QCOMPARE(dlg.cb_wma->currentIndex(), opened);
}

void TestFmSet::refusedWriteKeepsDialogOpen()
{
    Messages::Recorder messages;
    // A folder that cannot be made, because a file holds its name.
    store("not a folder");
    const QString path = m_path + QStringLiteral("/sonbrel.ini");
    ProfileFile settings(path);
    Tfm_set dlg;
    dlg.setStore(profilePositionStore(settings));
    dlg.show();
    dlg.cb_wma->setCurrentIndex(3);
    dlg.Ok->click();
    QVERIFY(dlg.isVisible());
    QCOMPARE(messages.errors.size(), 1);
    QVERIFY(messages.errors.first().startsWith(QStringLiteral("Unable to write to ")));
    QVERIFY(messages.informations.isEmpty());
    QVERIFY(!QFile::exists(path));

    dlg.Cancel->click();
    QVERIFY(!dlg.isVisible());
    QCOMPARE(messages.errors.size(), 1);
}

void TestFmSet::executeCentresAndStores()
{
    QWidget owner;
    owner.setGeometry(40, 30, 508, 380);
    owner.show();
    ProfileFile settings(m_path);
    Tfm_set dlg(&owner);
    dlg.setStore(profilePositionStore(settings));
    QPoint seen;
    int opened = -2;
    QTimer::singleShot(0, &dlg, [&] {
        seen = dlg.frameGeometry().topLeft();
        opened = dlg.cb_wma->currentIndex();
        dlg.cb_wma->setCurrentIndex(46);
        dlg.Ok->click();
    });
    dlg.Execute(&owner);
    QCOMPARE(opened, kDefaultWmaPosition);
    QCOMPARE(seen, centredOver(owner.frameGeometry(), dlg.frameGeometry().size()));
    QCOMPARE(settings.ReadInteger(QStringLiteral("wma"), QStringLiteral("format"), -2), 46);
}

void TestFmSet::fitsStatedSize()
{
    ProfileFile settings(m_path);
    Tfm_set dlg;
    dlg.setStore(profilePositionStore(settings));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Settings"));
    QCOMPARE(dlg.size(), QSize(351, 191));
    QCOMPARE(dlg.GroupBox2->title(), QStringLiteral("WMA Format"));
    QVERIFY(controlsFit(dlg, *dlg.GroupBox2, *dlg.Ok, *dlg.Cancel));
    // The longest profile text is shown whole.
    QVERIFY(dlg.cb_wma->width() >= dlg.cb_wma->sizeHint().width());
    QVERIFY(dlg.GroupBox2->contentsRect().contains(dlg.cb_wma->geometry()));
    saveGrab(dlg, QStringLiteral("fm_set"));
}

QTEST_MAIN(TestFmSet)
#include "tst_fm_set.moc"
