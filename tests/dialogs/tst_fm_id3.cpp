#include "filelistmodel.h"
#include "genrenames.h"
#include "geometry.h"
#include "tfm_id3.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <functional>

namespace {

AudioFileinfo record(const QString &title, const QString &artist, const QString &genre)
{
    AudioFileinfo info;
    info.title = title;
    info.artist = artist;
    info.genre = genre;
    info.comment = QStringLiteral("c ") + artist;
    return info;
}

void fill(FileListModel &list)
{
    for (const char *caption : {"one.mp3", "two.ogg", "Third Song"})
        list.appendRow(QString::fromLatin1(caption));
    list.setFileTagTable(
        {record({}, QStringLiteral("Artist 1"), QStringLiteral("Rock")),
         record({}, QStringLiteral("Artist 2"), QStringLiteral("Jazz")),
         record(QStringLiteral("Third Song"), QStringLiteral("Artist 3"), QStringLiteral("Polka"))});
}

QStringList rowTexts(const QTreeWidget *view)
{
    QStringList texts;
    for (int row = 0; row < view->topLevelItemCount(); ++row)
        texts.append(view->topLevelItem(row)->text(0));
    return texts;
}

int selectedRow(const QTreeWidget *view)
{
    const QList<QTreeWidgetItem *> items = view->selectedItems();
    return items.size() == 1 ? view->indexOfTopLevelItem(items.first()) : -1;
}

void clickRow(QTreeWidget *view, int row)
{
    const QRect rect = view->visualItemRect(view->topLevelItem(row));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
}

void retype(QWidget *field, const QString &text)
{
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClicks(field, text);
}

} // namespace

class TestFmId3 : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void windowAndControls();
    void layoutFitsClientArea();
    void openingShowsFirstRowAndCentres();
    void cancelThrowsEditsAway();
    void closeBoxThrowsEditsAway();
    void leavingTitleRenamesRowThenOkRenamesMainRow();
    void keyboardSelectionKeepsFieldsInStep();
    void clickBelowRowsSelectsFirstRow();
    void trackLineWithoutAll();
    void typedGenreForAllRows();
    void allForTitleKeepsRowTexts();
    void resetThenOk();
    void genreListAfterTwoOpenings();
    void emptyListOpensAndOkChangesNothing();

private:
    // Runs `steps` inside the dialog's modal loop; closes it if they did not.
    void execute(const std::function<void()> &steps);

    QWidget *m_main = nullptr;
    Tfm_id3 *m_dialog = nullptr;
    FileListModel *m_list = nullptr;
};

void TestFmId3::init()
{
    m_main = new QWidget;
    m_main->setGeometry(100, 80, 800, 600);
    m_main->show();
    m_dialog = new Tfm_id3(m_main);
    m_list = new FileListModel;
    fill(*m_list);
}

void TestFmId3::cleanup()
{
    delete m_list;
    delete m_main;
}

void TestFmId3::execute(const std::function<void()> &steps)
{
    QTimer::singleShot(0, m_dialog, [this, steps] {
        m_dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_dialog));
        steps();
        if (m_dialog->isVisible())
            m_dialog->reject();
    });
    m_dialog->Execute(*m_list, m_main);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(m_dialog->lv_id3->topLevelItemCount(), 0);
}

void TestFmId3::windowAndControls()
{
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("ID3 Edit"));
    QCOMPARE(m_dialog->size(), QSize(419, 288));
    QCOMPARE(m_dialog->minimumSize(), m_dialog->maximumSize());
    QVERIFY(m_dialog->isModal());

    QTreeWidget *view = m_dialog->lv_id3;
    QCOMPARE(view->columnCount(), 1);
    QCOMPARE(view->headerItem()->text(0), QStringLiteral("File Name"));
    QCOMPARE(view->columnWidth(0), 128);
    QVERIFY(!view->header()->sectionsClickable());
    QCOMPARE(view->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(view->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(view->width(), 149);

    QVERIFY(m_dialog->edt_genre->isEditable());
    QCOMPARE(m_dialog->edt_genre->insertPolicy(), QComboBox::NoInsert);
    for (QPushButton *button : {m_dialog->Button1, m_dialog->Button2, m_dialog->Button3, m_dialog->Button4,
                                m_dialog->Button5, m_dialog->Button6})
        QCOMPARE(button->text(), QStringLiteral("All"));
    QCOMPARE(m_dialog->Button7->text(), QStringLiteral("Reset"));
    QCOMPARE(m_dialog->btn_ok->text(), QStringLiteral("Ok"));
    QCOMPARE(m_dialog->btn_cancel->text(), QStringLiteral("Cancel"));
}

// Every control must sit wholly inside the fixed client area at no less than
// the height it asks for, or the desktop font has pushed something off.
void TestFmId3::layoutFitsClientArea()
{
    execute([this] {
        const QByteArray shot = qgetenv("SONBREL_ID3EDIT_SHOT");
        if (!shot.isEmpty())
            m_dialog->grab().save(QString::fromLocal8Bit(shot));
        const QRect client = m_dialog->rect();
        const QList<QWidget *> controls = {m_dialog->lv_id3,    m_dialog->GroupBox1, m_dialog->edt_tatal,
                                           m_dialog->edt_art,   m_dialog->edt_alb,   m_dialog->edt_year,
                                           m_dialog->edt_track, m_dialog->edt_genre, m_dialog->edt_com,
                                           m_dialog->Button1,   m_dialog->Button6,   m_dialog->Button7,
                                           m_dialog->btn_ok,    m_dialog->btn_cancel};
        for (QWidget *control : controls) {
            const QRect placed(control->mapTo(m_dialog, QPoint(0, 0)), control->size());
            const QByteArray name = control->metaObject()->className();
            QVERIFY2(client.contains(placed), name);
            // The comment field is two lines high on purpose, below its hint.
            QVERIFY2(control == m_dialog->edt_com || control->height() >= control->minimumSizeHint().height(),
                     name + ' ' + QByteArray::number(control->height()) + " < " +
                         QByteArray::number(control->minimumSizeHint().height()));
        }
        const int lineHeight = m_dialog->edt_com->fontMetrics().lineSpacing();
        QVERIFY(m_dialog->edt_com->height() >= 2 * lineHeight);
        QVERIFY(m_dialog->edt_com->height() < 3 * lineHeight + 12);
    });
}

void TestFmId3::openingShowsFirstRowAndCentres()
{
    execute([this] {
        QCOMPARE(rowTexts(m_dialog->lv_id3), QStringList({"one.mp3", "two.ogg", "Third Song"}));
        QCOMPARE(selectedRow(m_dialog->lv_id3), 0);
        QCOMPARE(m_dialog->edt_tatal->text(), QStringLiteral("one.mp3"));
        QCOMPARE(m_dialog->edt_art->text(), QStringLiteral("Artist 1"));
        QCOMPARE(m_dialog->edt_genre->currentText(), QStringLiteral("Rock"));
        QCOMPARE(m_dialog->edt_com->toPlainText(), QStringLiteral("c Artist 1"));
        QCOMPARE(m_dialog->pos(), centredOver(m_main->frameGeometry(), m_dialog->frameGeometry().size()));
    });
}

void TestFmId3::cancelThrowsEditsAway()
{
    const FileTagTable before = m_list->fileTagTable();
    execute([this] {
        clickRow(m_dialog->lv_id3, 1);
        retype(m_dialog->edt_art, QStringLiteral("Changed"));
        QCOMPARE(m_dialog->session().workingCopy()[1].artist, QStringLiteral("Changed"));
        QTest::mouseClick(m_dialog->btn_cancel, Qt::LeftButton);
    });
    QCOMPARE(m_list->fileTagTable(), before);

    execute([this] {
        clickRow(m_dialog->lv_id3, 1);
        QCOMPARE(m_dialog->edt_art->text(), QStringLiteral("Artist 2"));
    });
}

void TestFmId3::closeBoxThrowsEditsAway()
{
    const FileTagTable before = m_list->fileTagTable();
    execute([this] {
        retype(m_dialog->edt_tatal, QStringLiteral("Typed"));
        m_dialog->close();
    });
    QCOMPARE(m_list->fileTagTable(), before);
    QCOMPARE(m_list->caption(0), QStringLiteral("one.mp3"));
}

void TestFmId3::leavingTitleRenamesRowThenOkRenamesMainRow()
{
    execute([this] {
        clickRow(m_dialog->lv_id3, 2);
        retype(m_dialog->edt_tatal, QStringLiteral("New Title"));
        QCOMPARE(m_dialog->lv_id3->topLevelItem(2)->text(0), QStringLiteral("Third Song"));
        // A context menu taking the focus is not leaving the field.
        m_dialog->edt_art->setFocus(Qt::PopupFocusReason);
        QCOMPARE(m_dialog->lv_id3->topLevelItem(2)->text(0), QStringLiteral("Third Song"));
        m_dialog->edt_tatal->setFocus();
        // Clicking another row leaves the field first: the edited row is renamed.
        clickRow(m_dialog->lv_id3, 0);
        QCOMPARE(rowTexts(m_dialog->lv_id3), QStringList({"one.mp3", "two.ogg", "New Title"}));
        QCOMPARE(m_dialog->edt_tatal->text(), QStringLiteral("one.mp3"));
        QCOMPARE(m_list->caption(2), QStringLiteral("Third Song"));
        m_dialog->edt_art->setFocus();
        // Enter in a field neither commits nor closes.
        QTest::keyClick(m_dialog->edt_art, Qt::Key_Return);
        QVERIFY(m_dialog->isVisible());
        QTest::mouseClick(m_dialog->btn_ok, Qt::LeftButton);
    });
    QCOMPARE(m_list->caption(2), QStringLiteral("New Title"));
    QCOMPARE(m_list->record(2).title, QStringLiteral("New Title"));
    // The first row's file name became its title; the second stays untitled.
    QCOMPARE(m_list->record(0).title, QStringLiteral("one.mp3"));
    QCOMPARE(m_list->record(1).title, QString());
    QCOMPARE(m_list->caption(1), QStringLiteral("two.ogg"));
}

void TestFmId3::keyboardSelectionKeepsFieldsInStep()
{
    execute([this] {
        QTreeWidget *view = m_dialog->lv_id3;
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Down);
        QCOMPARE(selectedRow(view), 1);
        QCOMPARE(m_dialog->edt_art->text(), QStringLiteral("Artist 2"));
        QCOMPARE(m_dialog->edt_tatal->text(), QString());

        retype(m_dialog->edt_art, QStringLiteral("Edited 2"));
        view->setFocus();
        QTest::keyClick(view, Qt::Key_End);
        QCOMPARE(selectedRow(view), 2);
        QCOMPARE(m_dialog->edt_art->text(), QStringLiteral("Artist 3"));
        QCOMPARE(m_dialog->edt_genre->currentText(), QStringLiteral("Polka"));
        QTest::keyClick(view, Qt::Key_Up);
        QCOMPARE(m_dialog->edt_art->text(), QStringLiteral("Edited 2"));

        // Ctrl+Space would leave no row selected; the first row takes over.
        QTest::keyClick(view, Qt::Key_Space, Qt::ControlModifier);
        QCOMPARE(selectedRow(view), 0);
        QCOMPARE(m_dialog->edt_art->text(), QStringLiteral("Artist 1"));
        QTest::mouseClick(m_dialog->btn_ok, Qt::LeftButton);
    });
    QCOMPARE(m_list->record(1).artist, QStringLiteral("Edited 2"));
    QCOMPARE(m_list->record(2).artist, QStringLiteral("Artist 3"));
}

void TestFmId3::clickBelowRowsSelectsFirstRow()
{
    execute([this] {
        QTreeWidget *view = m_dialog->lv_id3;
        clickRow(view, 2);
        QCOMPARE(selectedRow(view), 2);
        QCOMPARE(m_dialog->edt_art->text(), QStringLiteral("Artist 3"));

        const QRect last = view->visualItemRect(view->topLevelItem(2));
        const QPoint below(last.center().x(), view->viewport()->height() - 4);
        QVERIFY(below.y() > last.bottom());
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, below);
        QCOMPARE(selectedRow(view), 0);
        QCOMPARE(m_dialog->edt_art->text(), QStringLiteral("Artist 1"));
        QCOMPARE(m_dialog->edt_tatal->text(), QStringLiteral("one.mp3"));
    });
}

void TestFmId3::trackLineWithoutAll()
{
    m_list->record(2).track = 9;
    execute([this] {
        QCOMPARE(m_dialog->GroupBox1->findChildren<QPushButton *>().size(), 6);
        QCOMPARE(m_dialog->edt_track->text(), QString());
        clickRow(m_dialog->lv_id3, 2);
        QCOMPARE(m_dialog->edt_track->text(), QStringLiteral("9"));
        retype(m_dialog->edt_track, QStringLiteral("1x2"));
        QCOMPARE(m_dialog->edt_track->text(), QStringLiteral("12"));
        QCOMPARE(m_dialog->session().workingCopy()[2].track, quint16(12));
        QTest::mouseClick(m_dialog->btn_ok, Qt::LeftButton);
    });
    QCOMPARE(m_list->record(2).track, quint16(12));
    QCOMPARE(m_list->record(0).track, quint16(0));
}

void TestFmId3::typedGenreForAllRows()
{
    execute([this] {
        clickRow(m_dialog->lv_id3, 1);
        retype(m_dialog->edt_genre, QStringLiteral("Chiptune"));
        QTest::keyClick(m_dialog->edt_genre, Qt::Key_Return);
        QVERIFY(m_dialog->isVisible());
        QCOMPARE(m_dialog->edt_genre->count(), 148);
        QTest::mouseClick(m_dialog->Button5, Qt::LeftButton);
        QCOMPARE(m_dialog->edt_genre->currentText(), QStringLiteral("Chiptune"));

        // A pick from the drop-down is a change like typing.
        clickRow(m_dialog->lv_id3, 2);
        QCOMPARE(m_dialog->edt_genre->currentText(), QStringLiteral("Chiptune"));
        m_dialog->edt_genre->setCurrentIndex(genreNames().indexOf(QStringLiteral("Drum & Bass")));
        QTest::mouseClick(m_dialog->btn_ok, Qt::LeftButton);
    });
    QCOMPARE(m_list->record(0).genre, QStringLiteral("Chiptune"));
    QCOMPARE(m_list->record(1).genre, QStringLiteral("Chiptune"));
    QCOMPARE(m_list->record(2).genre, QStringLiteral("Drum & Bass"));
}

void TestFmId3::allForTitleKeepsRowTexts()
{
    execute([this] {
        clickRow(m_dialog->lv_id3, 1);
        retype(m_dialog->edt_tatal, QStringLiteral("Common"));
        QTest::mouseClick(m_dialog->Button1, Qt::LeftButton);
        QCOMPARE(m_dialog->edt_tatal->text(), QStringLiteral("Common"));
        QCOMPARE(selectedRow(m_dialog->lv_id3), 1);
        // Clicking the button left the title field, which renamed only the second row.
        QCOMPARE(rowTexts(m_dialog->lv_id3), QStringList({"one.mp3", "Common", "Third Song"}));
        clickRow(m_dialog->lv_id3, 2);
        QCOMPARE(m_dialog->edt_tatal->text(), QStringLiteral("Common"));
        QCOMPARE(rowTexts(m_dialog->lv_id3), QStringList({"one.mp3", "Common", "Third Song"}));
        QTest::mouseClick(m_dialog->btn_ok, Qt::LeftButton);
    });
    for (int row = 0; row < m_list->count(); ++row) {
        QCOMPARE(m_list->caption(row), QStringLiteral("Common"));
        QCOMPARE(m_list->record(row).title, QStringLiteral("Common"));
    }
}

void TestFmId3::resetThenOk()
{
    const FileTagTable before = m_list->fileTagTable();
    execute([this] {
        clickRow(m_dialog->lv_id3, 1);
        retype(m_dialog->edt_art, QStringLiteral("Changed"));
        retype(m_dialog->edt_tatal, QStringLiteral("Renamed"));
        QTest::mouseClick(m_dialog->Button7, Qt::LeftButton);
        QCOMPARE(rowTexts(m_dialog->lv_id3), QStringList({"one.mp3", "two.ogg", "Third Song"}));
        QCOMPARE(selectedRow(m_dialog->lv_id3), 0);
        QCOMPARE(m_dialog->edt_art->text(), QStringLiteral("Artist 1"));
        QTest::mouseClick(m_dialog->btn_ok, Qt::LeftButton);
    });
    QCOMPARE(m_list->record(1), before[1]);
    QCOMPARE(m_list->caption(1), QStringLiteral("two.ogg"));
}

void TestFmId3::genreListAfterTwoOpenings()
{
    for (int opening = 0; opening < 2; ++opening) {
        execute([this] {
            QStringList items;
            for (int i = 0; i < m_dialog->edt_genre->count(); ++i)
                items.append(m_dialog->edt_genre->itemText(i));
            QCOMPARE(items, genreNames());
        });
    }
}

void TestFmId3::emptyListOpensAndOkChangesNothing()
{
    // Values left over from an earlier opening must not show.
    execute([] {});
    m_list->clear();
    execute([this] {
        QCOMPARE(m_dialog->lv_id3->topLevelItemCount(), 0);
        QCOMPARE(m_dialog->edt_tatal->text(), QString());
        QCOMPARE(m_dialog->edt_art->text(), QString());
        retype(m_dialog->edt_art, QStringLiteral("x"));
        QTest::mouseClick(m_dialog->Button2, Qt::LeftButton);
        QTest::mouseClick(m_dialog->lv_id3->viewport(), Qt::LeftButton);
        QTest::mouseClick(m_dialog->Button7, Qt::LeftButton);
        QCOMPARE(m_dialog->lv_id3->topLevelItemCount(), 0);
        QTest::mouseClick(m_dialog->btn_ok, Qt::LeftButton);
    });
    QCOMPARE(m_list->count(), 0);
    QVERIFY(m_list->fileTagTable().isEmpty());
}

QTEST_MAIN(TestFmId3)
#include "tst_fm_id3.moc"
