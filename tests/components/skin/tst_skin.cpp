#include "iskinobject.h"
#include "skinerror.h"
#include "tskin.h"
#include "tskinlabel.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kSourceSkin = QStringLiteral(SONBREL_SOURCE_DIR "/skins/mp3enc.dll");

const QStringList kButtons = {"setpath", "addfolder", "addfile", "settings", "remove", "converter",
                              "help",    "stop",      "clear",   "open",     "id3"};

const QMap<QString, QString> kCaptions = {
    {"addfile", "Add Files"},
    {"addfolder", "Add Folder"},
    {"remove", "Remove"},
    {"clear", "Clear"},
    {"setpath", "Output Folder"},
    {"open", "Open Folder"},
    {"settings", "Format"},
    {"id3", "Tags"},
    {"converter", "Convert"},
    {"stop", "Stop"},
    {"help", "Help"},
};

// A window like the main one: the skin under it, the list and the folder label on top.
struct Host {
    QWidget window;
    TSkin *skin = new TSkin(&window);
    ISkinObject *root = nullptr;

    explicit Host(const QString &path = kSourceSkin)
    {
        skin->LoadSkin(path);
        skin->AttachWindow(&window);
        skin->ApplyFormSkin(&window, QStringLiteral("From"));
        root = skin->GetWindowObject(&window);
    }
    QAbstractButton *button(const QString &name) const { return skin->findChild<QAbstractButton *>(name); }
};

QStringList clickedNames(TSkin *skin, const std::function<void()> &action)
{
    QStringList names;
    auto connection = QObject::connect(skin, &TSkin::OnClick, [&](QObject *sender, ISkinObject *source) {
        QCOMPARE(sender, skin);
        names << source->GetName();
    });
    action();
    QObject::disconnect(connection);
    return names;
}

QString writeSkin(const QTemporaryDir &dir, const QByteArray &text)
{
    static int counter = 0;
    const QString path = dir.filePath(QStringLiteral("skin%1.dll").arg(++counter));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

} // namespace

class TestSkin : public QObject {
    Q_OBJECT

private slots:
    void defaultSkinFromEverySource_data();
    void defaultSkinFromEverySource();
    void brokenSkinIsRejected_data();
    void brokenSkinIsRejected();
    void missingFileIsNamed();
    void failedLoadKeepsPreviousSkin();
    void missingProgressElement_data();
    void missingProgressElement();
    void facets();
    void applyFormSkin();
    void buttonClicks_data();
    void buttonClicks();
    void clickOnPaintedElement();
    void accessibility();
    void tabReachesEveryButton();
    void progressBarPaintsItsArea();
    void labelElidesLongPaths();

private:
    QTemporaryDir m_dir;
};

void TestSkin::defaultSkinFromEverySource_data()
{
    QTest::addColumn<QString>("source");
    QTest::newRow("source tree") << kSourceSkin;
    QTest::newRow("beside the executable") << TSkin::defaultSkinPath();
    QTest::newRow("built in") << QString();
}

void TestSkin::defaultSkinFromEverySource()
{
    QFETCH(QString, source);
    QWidget window;
    auto *skin = new TSkin;
    if (source.isEmpty())
        skin->loadBuiltinSkin();
    else
        skin->LoadSkin(source);
    skin->AttachWindow(&window);
    QCOMPARE(skin->parentWidget(), &window);
    ISkinObject *root = skin->GetWindowObject(&window);
    QVERIFY(root);
    QCOMPARE(root->GetName(), QStringLiteral("From"));
    QCOMPARE(skin->GetWindowObject(nullptr), nullptr);
    QWidget other;
    QCOMPARE(skin->GetWindowObject(&other), nullptr);

    for (const QString &name : kButtons + QStringList{"pb", "pbpos", "From"}) {
        ISkinObject *element = root->FindObject(name);
        QVERIFY2(element, qPrintable(name));
        QCOMPARE(element->GetName(), name);
        QVERIFY(element->TextFacet());
        QVERIFY(element->FrameFacet());
    }
    // Names are matched exactly, as the dispatch matches them.
    QCOMPARE(root->FindObject("AddFile"), nullptr);
    QCOMPARE(root->FindObject("nothing"), nullptr);
}

void TestSkin::brokenSkinIsRejected_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("expected");

    const QByteArray head = "[form From]\nsize = 100 50\n";
    QTest::newRow("empty") << QByteArray() << QStringList{"no form \"From\""};
    QTest::newRow("other form only") << QByteArray("[form Main]\nsize = 10 10\n")
                                     << QStringList{"no form \"From\""};
    QTest::newRow("stray line") << head + "this is not a line\n" << QStringList{"line 3", "expected"};
    QTest::newRow("unknown kind") << head + "[widget w]\n"
                                  << QStringList{"line 3", "unknown element kind \"widget\""};
    QTest::newRow("element before form")
        << QByteArray("# skin\n[panel p]\nrect = 0 0 1 1\n") << QStringList{"line 2", "before any [form]"};
    QTest::newRow("key before form") << QByteArray("size = 1 1\n")
                                     << QStringList{"line 1", "before any [form]"};
    QTest::newRow("unknown key") << head + "colour = red\n"
                                 << QStringList{"line 3", "unknown key \"colour\""};
    QTest::newRow("short rect") << head + "[panel p]\nrect = 1 2 3\n" << QStringList{"line 4", "\"rect\""};
    QTest::newRow("negative width") << head + "[panel p]\nrect = 1 2 -3 4\n"
                                    << QStringList{"line 4", "negative"};
    QTest::newRow("huge number") << head + "[panel p]\nrect = 1 2 3 99999999999\n" << QStringList{"line 4"};
    QTest::newRow("bad colour") << head + "[panel p]\nrect = 0 0 1 1\nfill = notacolour\n"
                                << QStringList{"line 5", "not a colour"};
    QTest::newRow("three colours") << head + "[panel p]\nrect = 0 0 1 1\nfill = red red red\n"
                                   << QStringList{"line 5"};
    QTest::newRow("duplicate name") << head + "[panel p]\nrect = 0 0 1 1\n[text p]\n"
                                    << QStringList{"line 5", "used twice"};
    QTest::newRow("name of the form") << head + "[panel From]\n" << QStringList{"line 3", "used twice"};
    QTest::newRow("second form") << head + "[form From]\n" << QStringList{"line 3", "second [form From]"};
    QTest::newRow("missing rect") << head + "[panel p]\ntext = x\n" << QStringList{"line 3", "no \"rect\""};
    QTest::newRow("missing size") << QByteArray("[form From]\n") << QStringList{"line 1", "no \"size\""};
    QTest::newRow("unknown icon") << head + "[button b]\nrect = 0 0 1 1\nicon = rocket\n"
                                  << QStringList{"line 5", "unknown icon \"rocket\""};
    QTest::newRow("unknown style") << head + "[button b]\nrect = 0 0 1 1\nstyle = fancy\n"
                                   << QStringList{"line 5", "style"};
    QTest::newRow("font too big") << head + "font-size = 1000\n" << QStringList{"line 3", "font-size"};
    QTest::newRow("bad bool") << head + "[text t]\nrect = 0 0 1 1\nbold = maybe\n" << QStringList{"line 5"};
    QTest::newRow("binary") << QByteArray("\x01\x02\xff\xfe\x00[", 6) << QStringList{"line 1", "found"};
}

void TestSkin::brokenSkinIsRejected()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, expected);
    const QString path = writeSkin(m_dir, text);
    TSkin skin;
    try {
        skin.LoadSkin(path);
        QFAIL("no SkinError");
    } catch (const SkinError &e) {
        QVERIFY2(e.message().contains(path), qPrintable(e.message()));
        for (const QString &part : expected)
            QVERIFY2(e.message().contains(part), qPrintable(e.message()));
        QCOMPARE(QString::fromUtf8(e.what()), e.message());
    }
    QCOMPARE(skin.GetWindowObject(&skin), nullptr);
}

void TestSkin::missingFileIsNamed()
{
    const QString path = m_dir.filePath(QStringLiteral("absent/mp3enc.dll"));
    TSkin skin;
    try {
        skin.LoadSkin(path);
        QFAIL("no SkinError");
    } catch (const SkinError &e) {
        QVERIFY2(e.message().startsWith(QStringLiteral("Cannot open the skin file \"%1\"").arg(path)),
                 qPrintable(e.message()));
    }
}

void TestSkin::failedLoadKeepsPreviousSkin()
{
    Host host;
    ISkinObject *before = host.root->FindObject("addfile");
    QAbstractButton *button = host.button("addfile");
    QVERIFY(before && button);
    QVERIFY_THROWS_EXCEPTION(SkinError,
                             host.skin->LoadSkin(writeSkin(m_dir, "[form From]\nsize = 1 1\nx\n")));
    QVERIFY_THROWS_EXCEPTION(SkinError, host.skin->LoadSkin(m_dir.filePath("none")));
    QCOMPARE(host.skin->GetWindowObject(&host.window), host.root);
    QCOMPARE(host.root->FindObject("addfile"), before);
    QCOMPARE(clickedNames(host.skin, [&] { button->click(); }), QStringList{"addfile"});

    // A good load replaces every element and widget.
    host.skin->LoadSkin(writeSkin(m_dir, "[form From]\nsize = 30 20\n[button only]\nrect = 0 0 10 10\n"));
    ISkinObject *root = host.skin->GetWindowObject(&host.window);
    QVERIFY(root);
    QCOMPARE(root->FindObject("addfile"), nullptr);
    QVERIFY(root->FindObject("only"));
    QCOMPARE(host.button("addfile"), nullptr);
}

void TestSkin::missingProgressElement_data()
{
    QTest::addColumn<QString>("missing");
    QTest::newRow("pb") << "pb";
    QTest::newRow("pbpos") << "pbpos";
}

void TestSkin::missingProgressElement()
{
    QFETCH(QString, missing);
    // The default skin with one section renamed out of the way.
    QFile source(kSourceSkin);
    QVERIFY(source.open(QIODevice::ReadOnly));
    QByteArray text = source.readAll();
    const QByteArray section = missing == "pb" ? "[bar pb]" : "[text pbpos]";
    QVERIFY(text.contains(section));
    text.replace(section, missing == "pb" ? "[bar gone]" : "[text gone]");

    Host host(writeSkin(m_dir, text));
    QCOMPARE(host.root->FindObject(missing), nullptr);
    QVERIFY(host.root->FindObject("gone"));
    const QString other = missing == "pb" ? "pbpos" : "pb";
    QVERIFY(host.root->FindObject(other));
}

void TestSkin::facets()
{
    Host host;
    ISkinObject *pbpos = host.root->FindObject("pbpos");
    ISkinObject *pb = host.root->FindObject("pb");
    ISkinObject *stop = host.root->FindObject("stop");
    QVERIFY(pbpos && pb && stop);

    auto *label = host.skin->findChild<QLabel *>("pbpos");
    QVERIFY(label);
    pbpos->TextFacet()->SetText("37%");
    pbpos->FrameFacet()->Refresh();
    QCOMPARE(label->text(), QStringLiteral("37%"));
    QCOMPARE(pbpos->TextFacet()->Text(), QStringLiteral("37%"));
    pbpos->TextFacet()->SetText(QString());
    QCOMPARE(label->text(), QString());

    // The bar is 439 wide at full; only its right edge is ever moved.
    const SkinRect full = pb->FrameFacet()->GetRect();
    QCOMPARE(full.right - full.left, 439);
    QVERIFY(full.bottom > full.top);
    SkinRect narrowed = full;
    narrowed.right = narrowed.left;
    pb->FrameFacet()->SetRect(narrowed);
    pb->FrameFacet()->Refresh();
    QCOMPARE(pb->FrameFacet()->GetRect(), narrowed);
    SkinRect inverted = full;
    inverted.right = inverted.left - 5;
    pb->FrameFacet()->SetRect(inverted);
    QCOMPARE(pb->FrameFacet()->GetRect(), narrowed);

    // A button's text facet is its caption; its frame facet moves the widget.
    QAbstractButton *button = host.button("stop");
    stop->TextFacet()->SetText("Halt");
    QCOMPARE(button->text(), QStringLiteral("Halt"));
    const SkinRect moved{5, 6, 55, 36};
    stop->FrameFacet()->SetRect(moved);
    stop->FrameFacet()->Refresh();
    QCOMPARE(button->geometry(), QRect(5, 6, 50, 30));
    QCOMPARE(stop->FrameFacet()->GetRect(), moved);
}

void TestSkin::applyFormSkin()
{
    Host host;
    QCOMPARE(host.window.size(), QSize(508, 380));
    QCOMPARE(host.window.minimumSize(), QSize(508, 380));
    QCOMPARE(host.window.maximumSize(), QSize(508, 380));
    QCOMPARE(host.skin->geometry(), QRect(0, 0, 508, 380));
    const QPalette palette = host.window.palette();
    QCOMPARE(palette.color(QPalette::Base), QColor(Qt::white));
    QCOMPARE(palette.color(QPalette::Text), QColor(Qt::black));
    QCOMPARE(palette.color(QPalette::Window), QColor(216, 233, 236));
    QCOMPARE(palette.color(QPalette::WindowText), QColor(Qt::black));

    // The skin stays under the window's own controls.
    auto *list = new QListWidget(&host.window);
    list->setGeometry(24, 87, 446, 189);
    host.skin->AttachWindow(&host.window);
    QWidget *top = host.window.childAt(100, 150);
    QVERIFY(top == list || list->isAncestorOf(top));

    try {
        host.skin->ApplyFormSkin(&host.window, "from");
        QFAIL("no SkinError");
    } catch (const SkinError &e) {
        QCOMPARE(e.message(), QStringLiteral("The skin has no form \"from\"."));
    }
    QCOMPARE(host.window.size(), QSize(508, 380));
}

void TestSkin::buttonClicks_data()
{
    QTest::addColumn<int>("key"); // 0: mouse click
    QTest::newRow("mouse") << 0;
    QTest::newRow("space") << int(Qt::Key_Space);
    QTest::newRow("return") << int(Qt::Key_Return);
    QTest::newRow("enter") << int(Qt::Key_Enter);
}

void TestSkin::buttonClicks()
{
    QFETCH(int, key);
    Host host;
    host.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host.window));
    for (const QString &name : kButtons) {
        QAbstractButton *button = host.button(name);
        QVERIFY2(button, qPrintable(name));
        const QStringList names = clickedNames(host.skin, [&] {
            if (key == 0)
                QTest::mouseClick(button, Qt::LeftButton);
            else
                QTest::keyClick(button, Qt::Key(key));
        });
        QCOMPARE(names, QStringList{name});
    }
    // A press that leaves the button before release is no click.
    QAbstractButton *button = host.button("clear");
    const QStringList names = clickedNames(host.skin, [&] {
        QTest::mousePress(button, Qt::LeftButton);
        QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(-20, -20));
    });
    QVERIFY(names.isEmpty());
}

void TestSkin::clickOnPaintedElement()
{
    Host host;
    host.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host.window));
    // Texts and panels report clicks too, under their own names.
    const QRect trough = QRect(22, 283, 445, 16);
    QCOMPARE(clickedNames(
                 host.skin,
                 [&] { QTest::mouseClick(host.skin, Qt::LeftButton, {}, trough.topLeft() + QPoint(1, 1)); }),
             QStringList{"trough"});
    QCOMPARE(
        clickedNames(host.skin, [&] { QTest::mouseClick(host.skin, Qt::LeftButton, {}, QPoint(30, 68)); }),
        QStringList{"folder-caption"});
}

void TestSkin::accessibility()
{
    Host host;
    host.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host.window));
    for (const QString &name : kButtons) {
        QAbstractButton *button = host.button(name);
        QVERIFY(button);
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(button);
        QVERIFY(iface);
        QCOMPARE(iface->role(), QAccessible::PushButton);
        QCOMPARE(iface->text(QAccessible::Name), kCaptions.value(name));
        QCOMPARE(iface->text(QAccessible::Description), name);
        QVERIFY(!button->toolTip().isEmpty());
        QVERIFY(iface->state().focusable);
    }

    QAccessibleInterface *percent =
        QAccessible::queryAccessibleInterface(host.skin->findChild<QLabel *>("pbpos"));
    QVERIFY(percent);
    host.root->FindObject("pbpos")->TextFacet()->SetText("64%");
    QCOMPARE(percent->role(), QAccessible::StaticText);
    QCOMPARE(percent->text(QAccessible::Name), QStringLiteral("64%"));

    // Pressing through the accessibility action is a click like any other.
    QAccessibleInterface *convert = QAccessible::queryAccessibleInterface(host.button("converter"));
    QVERIFY(convert->actionInterface());
    QSignalSpy spy(host.skin, &TSkin::OnClick);
    QVERIFY(spy.isValid());
    convert->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTRY_COMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<QObject *>(), host.skin);
    QCOMPARE(spy.at(0).at(1).value<ISkinObject *>()->GetName(), QStringLiteral("converter"));
}

void TestSkin::tabReachesEveryButton()
{
    Host host;
    host.window.show();
    host.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&host.window));
    host.button(kButtons.first())->setFocus();
    QSet<QString> reached;
    for (int i = 0; i < 2 * kButtons.size() && QApplication::focusWidget(); ++i) {
        reached << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    for (const QString &name : kButtons)
        QVERIFY2(reached.contains(name), qPrintable(name));
}

void TestSkin::progressBarPaintsItsArea()
{
    Host host;
    ISkinFrame *pb = host.root->FindObject("pb")->FrameFacet();
    const SkinRect full = pb->GetRect();
    SkinRect empty = full;
    empty.right = empty.left;

    pb->SetRect(empty);
    pb->Refresh();
    const QImage idle = host.skin->grab().toImage();
    pb->SetRect(full);
    pb->Refresh();
    const QImage busy = host.skin->grab().toImage();
    QCOMPARE(idle.size(), QSize(508, 380));

    const QRect bar(full.left, full.top, full.right - full.left, full.bottom - full.top);
    int changed = 0;
    for (int y = 0; y < idle.height(); ++y)
        for (int x = 0; x < idle.width(); ++x)
            if (idle.pixel(x, y) != busy.pixel(x, y)) {
                QVERIFY2(bar.contains(x, y),
                         qPrintable(QStringLiteral("%1,%2 outside the bar").arg(x).arg(y)));
                ++changed;
            }
    // Rounded corners give up a few pixels; the rest of the bar is painted.
    const int area = bar.width() * bar.height();
    QVERIFY2(changed > area * 97 / 100, qPrintable(QStringLiteral("%1 of %2").arg(changed).arg(area)));
}

void TestSkin::labelElidesLongPaths()
{
    TSkinLabel label;
    label.setGeometry(106, 67, 201, 14);
    label.show();
    const QString shortPath = QStringLiteral("/home/me/Music");
    label.setCaption(shortPath);
    QCOMPARE(label.caption(), shortPath);
    QCOMPARE(label.text(), shortPath);
    QVERIFY(label.toolTip().isEmpty());

    const QString longPath =
        QStringLiteral("/home/me/") + QString(40, QChar('x')) + QStringLiteral("/Converted/Last");
    label.setCaption(longPath);
    QCOMPARE(label.caption(), longPath);
    QCOMPARE(label.toolTip(), longPath);
    QCOMPARE(label.accessibleName(), longPath);
    QVERIFY(label.text().contains(QChar(0x2026)));
    QVERIFY(label.text().startsWith(QStringLiteral("/home")));
    QVERIFY(label.text().endsWith(QStringLiteral("Last")));
    QVERIFY(label.fontMetrics().horizontalAdvance(label.text()) <= 201);

    // Wide enough again: the whole path comes back.
    label.resize(2000, 14);
    QCOMPARE(label.text(), longPath);
    QVERIFY(label.toolTip().isEmpty());
}

QTEST_MAIN(TestSkin)
#include "tst_skin.moc"
