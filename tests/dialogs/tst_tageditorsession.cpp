#include "filelistmodel.h"
#include "genrenames.h"
#include "tageditorsession.h"

#include <QSet>
#include <QTest>

Q_DECLARE_METATYPE(TagField)

namespace {

AudioFileinfo record(const QString &title, const QString &artist, const QString &genre, qint32 duration)
{
    AudioFileinfo info;
    info.title = title;
    info.artist = artist;
    info.year = QStringLiteral("1999");
    info.album = QStringLiteral("Album ") + artist;
    info.comment = QStringLiteral("line one\nline two");
    info.genre = genre;
    info.duration = duration;
    return info;
}

// Rows as the tag intake leaves them: the first two files had no title tag
// and show their file names, the third shows its tag title.
void fill(FileListModel &list)
{
    const QStringList captions = {QStringLiteral("one.mp3"), QStringLiteral("two.ogg"),
                                  QStringLiteral("Third Song")};
    const FileTagTable table = {
        record({}, QStringLiteral("Artist 1"), QStringLiteral("Rock"), 1000),
        record({}, QStringLiteral("Artist 2"), QStringLiteral("Jazz"), 2000),
        record(QStringLiteral("Third Song"), QStringLiteral("Artist 3"), QStringLiteral("Polka"), 3000)};
    for (const QString &caption : captions)
        list.appendRow(caption);
    list.setFileTagTable(table);
}

QStringList captions(const FileListModel &list)
{
    QStringList texts;
    for (int row = 0; row < list.count(); ++row)
        texts.append(list.caption(row));
    return texts;
}

} // namespace

class TestTagEditorSession : public QObject {
    Q_OBJECT
private slots:
    void openingShowsFirstRowsListTextAsTitle();
    void rowWithoutTitleTagShowsEmptyTitle();
    void editsGoToSelectedRowOnly();
    void closingWithoutCommitKeepsTable();
    void resetThrowsEditsAway();
    void leavingTitleRenamesDialogRowOnly();
    void emptiedTitleKeepsMainRowText();
    void trackIsStoredAsANumber_data();
    void trackIsStoredAsANumber();
    void allSetsEveryRecord_data();
    void allSetsEveryRecord();
    void rowOutOfRangeSelectsFallback_data();
    void rowOutOfRangeSelectsFallback();
    void emptyListChangesNothing();
    void rowWithoutRecordStoresNothing();
    void genreNameTable_data();
    void genreNameTable();
};

void TestTagEditorSession::openingShowsFirstRowsListTextAsTitle()
{
    FileListModel list;
    fill(list);
    TagEditorSession session;
    session.open(list);

    QCOMPARE(session.selectedRow(), 0);
    QCOMPARE(session.fallbackRow(), 0);
    QCOMPARE(session.rowTexts(), captions(list));
    const AudioFileinfo shown = session.shownValues();
    QCOMPARE(shown.title, QStringLiteral("one.mp3"));
    QCOMPARE(shown.artist, QStringLiteral("Artist 1"));
    QCOMPARE(shown.comment, QStringLiteral("line one\nline two"));

    session.commit(list);
    QCOMPARE(list.record(0).title, QStringLiteral("one.mp3"));
    QCOMPARE(list.caption(0), QStringLiteral("one.mp3"));
    // Only the first row takes its list text; the second stays untitled.
    QCOMPARE(list.record(1).title, QString());
    QCOMPARE(list.caption(1), QStringLiteral("two.ogg"));
}

void TestTagEditorSession::rowWithoutTitleTagShowsEmptyTitle()
{
    FileListModel list;
    fill(list);
    TagEditorSession session;
    session.open(list);

    session.select(1);
    QCOMPARE(session.shownValues().title, QString());
    QCOMPARE(session.shownValues().artist, QStringLiteral("Artist 2"));
    QCOMPARE(session.rowText(1), QStringLiteral("two.ogg"));
}

void TestTagEditorSession::editsGoToSelectedRowOnly()
{
    FileListModel list;
    fill(list);
    const FileTagTable before = list.fileTagTable();
    TagEditorSession session;
    session.open(list);

    session.select(1);
    session.store(TagField::Artist, QStringLiteral("New Artist"));
    session.store(TagField::Comment, QStringLiteral("a\nb"));
    session.leave(TagField::Year, QStringLiteral("MMXX"));
    QCOMPARE(session.shownValues().artist, QStringLiteral("New Artist"));
    QCOMPARE(list.fileTagTable(), before);

    session.commit(list);
    QCOMPARE(list.record(1).artist, QStringLiteral("New Artist"));
    QCOMPARE(list.record(1).comment, QStringLiteral("a\nb"));
    QCOMPARE(list.record(1).year, QStringLiteral("MMXX"));
    QCOMPARE(list.record(1).duration, 2000);
    QCOMPARE(list.record(2), before[2]);
}

void TestTagEditorSession::closingWithoutCommitKeepsTable()
{
    FileListModel list;
    fill(list);
    const FileTagTable before = list.fileTagTable();
    TagEditorSession session;
    session.open(list);
    session.select(1);
    session.store(TagField::Artist, QStringLiteral("Changed"));
    session.close();

    QCOMPARE(list.fileTagTable(), before);
    QCOMPARE(session.rowCount(), 0);
    session.open(list);
    session.select(1);
    QCOMPARE(session.shownValues().artist, QStringLiteral("Artist 2"));
}

void TestTagEditorSession::resetThrowsEditsAway()
{
    FileListModel list;
    fill(list);
    const FileTagTable before = list.fileTagTable();
    TagEditorSession session;
    session.open(list);
    session.select(1);
    session.store(TagField::Artist, QStringLiteral("Changed"));
    session.select(2);
    session.leave(TagField::Title, QStringLiteral("Renamed"));

    session.open(list);
    QCOMPARE(session.selectedRow(), 0);
    QCOMPARE(session.rowTexts(), captions(list));
    session.commit(list);
    QCOMPARE(list.record(1), before[1]);
    QCOMPARE(list.record(2), before[2]);
    QCOMPARE(list.caption(2), QStringLiteral("Third Song"));
}

void TestTagEditorSession::leavingTitleRenamesDialogRowOnly()
{
    FileListModel list;
    fill(list);
    TagEditorSession session;
    session.open(list);
    session.select(2);
    session.store(TagField::Title, QStringLiteral("New Title"));
    QCOMPARE(session.rowText(2), QStringLiteral("Third Song"));

    session.leave(TagField::Title, QStringLiteral("New Title"));
    QCOMPARE(session.rowText(2), QStringLiteral("New Title"));
    QCOMPARE(list.caption(2), QStringLiteral("Third Song"));

    session.commit(list);
    QCOMPARE(list.caption(2), QStringLiteral("New Title"));
    QCOMPARE(list.record(2).title, QStringLiteral("New Title"));
}

void TestTagEditorSession::emptiedTitleKeepsMainRowText()
{
    FileListModel list;
    fill(list);
    TagEditorSession session;
    session.open(list);
    session.select(2);
    session.store(TagField::Title, QString());
    session.leave(TagField::Title, QString());
    session.commit(list);

    QCOMPARE(list.record(2).title, QString());
    QCOMPARE(list.caption(2), QStringLiteral("Third Song"));
}

void TestTagEditorSession::trackIsStoredAsANumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("track");
    QTest::newRow("number") << QStringLiteral("7") << 7;
    QTest::newRow("empty") << QString() << 0;
    QTest::newRow("beyond 16 bits") << QStringLiteral("99999") << 65535;
    QTest::newRow("not a number") << QStringLiteral("x") << 0;
}

void TestTagEditorSession::trackIsStoredAsANumber()
{
    QFETCH(QString, text);
    QFETCH(int, track);
    FileListModel list;
    fill(list);
    list.record(1).track = 3;
    list.record(1).cover.data = "picture";
    FileTagTable expected = list.fileTagTable();
    expected[0].title = QStringLiteral("one.mp3");
    expected[1].track = quint16(track);
    TagEditorSession session;
    session.open(list);
    session.select(1);
    QCOMPARE(TagEditorSession::trackText(session.shownValues().track), QStringLiteral("3"));
    session.storeTrack(text);
    session.commit(list);
    QCOMPARE(list.fileTagTable(), expected);
}

void TestTagEditorSession::allSetsEveryRecord_data()
{
    QTest::addColumn<TagField>("field");
    QTest::addColumn<QString>("text");
    QTest::newRow("title") << TagField::Title << QStringLiteral("Common Title");
    QTest::newRow("artist") << TagField::Artist << QStringLiteral("Common Artist");
    QTest::newRow("album") << TagField::Album << QStringLiteral("Common Album");
    QTest::newRow("year, not a number") << TagField::Year << QStringLiteral("circa 1970");
    QTest::newRow("genre not in the table") << TagField::Genre << QStringLiteral("Chiptune");
    QTest::newRow("genre from the table") << TagField::Genre << QStringLiteral("Drum & Bass");
    QTest::newRow("comment with line break") << TagField::Comment << QStringLiteral("first\r\nsecond");
    QTest::newRow("empty artist") << TagField::Artist << QString();
}

void TestTagEditorSession::allSetsEveryRecord()
{
    QFETCH(TagField, field);
    QFETCH(QString, text);
    FileListModel list;
    fill(list);
    const FileTagTable before = list.fileTagTable();
    TagEditorSession session;
    session.open(list);
    session.select(1);

    session.applyToAll(field, text);
    QCOMPARE(session.rowTexts(), captions(list));
    QCOMPARE(session.selectedRow(), 1);
    session.commit(list);

    for (int row = 0; row < list.count(); ++row) {
        AudioFileinfo expected = before[row];
        if (row == 0)
            expected.title = QStringLiteral("one.mp3");
        TagEditorSession::fieldOf(expected, field) = text;
        QCOMPARE(list.record(row), expected);
        if (field == TagField::Title)
            QCOMPARE(list.caption(row), text);
    }
}

void TestTagEditorSession::rowOutOfRangeSelectsFallback_data()
{
    QTest::addColumn<int>("row");
    QTest::newRow("click below the rows") << -1;
    QTest::newRow("one past the last") << 3;
    QTest::newRow("far out") << 1000;
}

void TestTagEditorSession::rowOutOfRangeSelectsFallback()
{
    QFETCH(int, row);
    FileListModel list;
    fill(list);
    TagEditorSession session;
    session.open(list);
    session.select(2);
    QCOMPARE(session.shownValues().artist, QStringLiteral("Artist 3"));

    session.select(row);
    QCOMPARE(session.selectedRow(), 0);
    QCOMPARE(session.shownValues().artist, QStringLiteral("Artist 1"));
    QCOMPARE(session.shownValues().title, QStringLiteral("one.mp3"));
}

void TestTagEditorSession::emptyListChangesNothing()
{
    FileListModel list;
    TagEditorSession session;
    session.open(list);
    QCOMPARE(session.rowCount(), 0);
    QCOMPARE(session.selectedRow(), -1);
    QCOMPARE(session.fallbackRow(), -1);

    session.select(0);
    session.store(TagField::Artist, QStringLiteral("x"));
    session.leave(TagField::Title, QStringLiteral("x"));
    session.applyToAll(TagField::Genre, QStringLiteral("x"));
    QCOMPARE(session.selectedRow(), -1);
    QCOMPARE(session.shownValues(), AudioFileinfo{});
    QVERIFY(session.workingCopy().isEmpty());
    session.commit(list);
    QCOMPARE(list.count(), 0);
    QVERIFY(list.fileTagTable().isEmpty());
}

void TestTagEditorSession::rowWithoutRecordStoresNothing()
{
    const FileTagTable table = {record(QStringLiteral("T"), QStringLiteral("A"), QStringLiteral("Rock"), 5)};
    TagEditorSession session;
    session.open({QStringLiteral("first"), QStringLiteral("second")}, table);

    session.select(1);
    QCOMPARE(session.shownValues(), AudioFileinfo{});
    session.store(TagField::Artist, QStringLiteral("x"));
    session.applyToAll(TagField::Album, QStringLiteral("Common"));
    QCOMPARE(session.workingCopy().size(), 1);
    QCOMPARE(session.workingCopy()[0].album, QStringLiteral("Common"));
    QCOMPARE(session.workingCopy()[0].artist, QStringLiteral("A"));
}

void TestTagEditorSession::genreNameTable_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("name");
    QTest::newRow("first") << 0 << QStringLiteral("Blues");
    QTest::newRow("last of the original set") << 79 << QStringLiteral("Hard Rock");
    QTest::newRow("first extension") << 80 << QStringLiteral("Folk");
    QTest::newRow("shortened") << 136 << QStringLiteral("Christian Gangsta");
    QTest::newRow("cut short") << 140 << QStringLiteral("Contemporary C");
    QTest::newRow("capitals kept") << 146 << QStringLiteral("JPop");
    QTest::newRow("last") << 147 << QStringLiteral("SynthPop");
}

void TestTagEditorSession::genreNameTable()
{
    QFETCH(int, position);
    QFETCH(QString, name);
    const QStringList &names = genreNames();
    QCOMPARE(names.size(), 148);
    QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), 148);
    QCOMPARE(names.at(position), name);
}

QTEST_GUILESS_MAIN(TestTagEditorSession)
#include "tst_tageditorsession.moc"
