#include "realworld.h"
#include "libraryfolder.h"
#include "oggcomments.h"
#include "oggtestfiles.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

#include <vorbis/codec.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

Q_DECLARE_METATYPE(OGGTag)

namespace {

OGGTag tagOf(const QString &title, const QString &artist = {}, const QString &album = {},
             const QString &comment = {}, const QString &genre = {}, const QString &date = {},
             const QString &track = {})
{
    return OGGTag{album, title, artist, comment, genre, date, track};
}

QStringList fieldsOf(const OGGTag &tag)
{
    return {tag.Album, tag.Title, tag.Artist, tag.Comment, tag.Genre, tag.Date, tag.TrackNumber};
}

QByteArray sha1Of(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1)
                                          : QByteArray();
}

} // namespace

class TestOggComments : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { setLibraryFolder({}); }
    void parseComments_data();
    void parseComments();
    void callbacks();
    void readComments_data();
    void readComments();
    void unreadableFiles_data();
    void unreadableFiles();
    void pipeDoesNotBlock();
    void libraryMissing_data();
    void libraryMissing();
    void otherTools_data();
    void otherTools();
    void realWorldFiles();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString vorbisFile(const QString &name, const QByteArray &comments, const OggLayout &layout = {});

    QTemporaryDir m_dir;
    QByteArray m_idHeader;
    QByteArray m_setupHeader;
};

void TestOggComments::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(runTool("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", path("tone.wav"), "synth", "0.5",
                            "sine", "440"}));
    QVERIFY(runTool("oggenc", {"-Q", "-o", path("base.ogg"), path("tone.wav")}));
    const QList<QByteArray> packets = headerPackets(path("base.ogg"));
    QCOMPARE(packets.size(), 3);
    m_idHeader = packets.at(0);
    m_setupHeader = packets.at(2);
}

QString TestOggComments::vorbisFile(const QString &name, const QByteArray &comments, const OggLayout &layout)
{
    const QString fileName = path(name);
    if (!writeFile(fileName, oggFile(m_idHeader, comments, m_setupHeader, layout)))
        return {};
    return fileName;
}

void TestOggComments::parseComments_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("line");

    const auto row = [](const char *rowName, const QByteArray &text, const QString &name,
                        const QString &value) {
        QTest::newRow(rowName) << text << name << value << (name.isEmpty() ? value : name + "=" + value);
    };
    row("plain", "ARTIST=Nina", "ARTIST", "Nina");
    row("no equals", "just text", "", "just text");
    row("first equals splits", "a=b=c", "a", "b=c");
    row("leading equals", "=value", "", "value");
    row("tilde in name", "ti~tle=x", "", "ti~tle=x");
    row("high byte in name", "t\xc3\xadtle=x", "", u8"t\u00edtle=x");
    row("control in name", "ti\ttle=x", "", "ti\ttle=x");
    row("space and brace in name", " }=x", " }", "x");
    row("accented value", "title=Caf\xc3\xa9 \xce\xa3", "title", u8"Caf\u00e9 \u03a3");
    row("invalid utf-8", "title=a\xff\x62", "title", u8"a\ufffdb");
    row("embedded zero", QByteArray("title=a\0b", 9), "title", QString::fromUtf8("a\0b", 3));
}

void TestOggComments::parseComments()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, name);
    QFETCH(QString, value);
    QFETCH(QString, line);

    // Bytes past a comment's length belong to nobody and must be ignored.
    QByteArray stored = text + "=junk";
    char *comments[] = {stored.data(), nullptr};
    int lengths[] = {static_cast<int>(text.size()), 5};
    vorbis_comment block{comments, lengths, 2, nullptr};

    const TStrCommentsPtr list = ParseComments(&block);
    QCOMPARE(list->size(), 2);
    QCOMPARE(list->at(0).Name, name);
    QCOMPARE(list->at(0).Value, value);
    QCOMPARE(list->at(0).Line, line);
    QCOMPARE(list->at(1).Line, QString()); // a null pointer reads as an empty comment
}

void TestOggComments::callbacks()
{
    QByteArray data("0123456789");
    QBuffer buffer(&data);
    QVERIFY(buffer.open(QIODevice::ReadWrite));
    char out[16] = {};
    QCOMPARE(StreamReadCallback(out, 0, 4, &buffer), size_t(0));
    QCOMPARE(StreamReadCallback(out, 4, 0, &buffer), size_t(0));
    QCOMPARE(StreamReadCallback(out, 4, 2, &buffer), size_t(2));
    QCOMPARE(QByteArray(out, 8), QByteArray("01234567"));
    QCOMPARE(StreamReadCallback(out, 4, 2, &buffer), size_t(0)); // two bytes left: no whole element
    QCOMPARE(StreamReadCallback(out, 1, 4, &buffer), size_t(0));

    QCOMPARE(StreamWriteCallback("abcdef", 0, 3, &buffer), static_cast<size_t>(-1));
    QCOMPARE(StreamWriteCallback("abcdef", 3, 2, &buffer), size_t(2));
    QCOMPARE(data.right(6), QByteArray("abcdef"));

    QBuffer closed;
    QTest::ignoreMessage(QtWarningMsg, "QIODevice::read (QBuffer): device not open");
    QTest::ignoreMessage(QtWarningMsg, "QIODevice::write (QBuffer): device not open");
    QCOMPARE(StreamReadCallback(out, 1, 4, &closed), size_t(0));
    QCOMPARE(StreamWriteCallback("ab", 1, 2, &closed), size_t(0));
}

void TestOggComments::readComments_data()
{
    QTest::addColumn<QList<QByteArray>>("comments");
    QTest::addColumn<OGGTag>("expected");
    QTest::addColumn<int>("pageFill");
    QTest::addColumn<QByteArray>("leadingStream");

    const auto row = [](const char *name, const QList<QByteArray> &comments, const OGGTag &expected) {
        QTest::newRow(name) << comments << expected << 4096 << QByteArray();
    };
    row("all seven keys",
        {"album=A", "title=T", "artist=R", "comment=C", "genre=G", "date=2001", "tracknumber=7"},
        OGGTag{"A", "T", "R", "C", "G", "2001", "7"});
    row("keys in capitals", {"ARTIST=Nina", "Title=Song"}, tagOf("Song", "Nina"));
    row("no equals", {"title"}, tagOf({}));
    row("name byte 0x7e and above", {"title~=x", "t\xc3\xadtle=y", "artist\x7f=z"}, tagOf({}));
    row("leading equals", {"=title=x", "="}, tagOf({}));
    row("later title wins", {"title=first", "title=second"}, tagOf("second"));
    row("later empty title wins", {"title=first", "TITLE="}, tagOf({}));
    row("surrounding blanks trimmed", {"title=  spaced \t", "artist=\r\nline\n"}, tagOf("spaced", "line"));
    row("no-break space kept", {"title=\xc2\xa0x"}, tagOf(u8"\u00a0x"));
    row("accented utf-8", {"title=\xc3\x96sterreich \xe2\x82\xac", "artist=\xce\xa3\xcf\x8c"},
        tagOf(u8"\u00d6sterreich \u20ac", u8"\u03a3\u03cc"));
    row("invalid utf-8", {"title=ab\xc3"}, tagOf(u8"ab\ufffd"));
    row("other names ignored", {"titles=x", "performer=y", "album =z"}, tagOf({}));
    row("no comments", {}, tagOf({}));

    const QByteArray longValue(70000, 'v');
    QTest::newRow("comment header over many pages")
        << QList<QByteArray>{"artist=" + longValue, "title=small"} << tagOf("small", QString(longValue))
        << 512 << QByteArray();
    QTest::newRow("after another stream's first page")
        << QList<QByteArray>{"title=x"} << tagOf("x") << 4096 << QByteArray("OpusHead\x01\x02\x38\x01");
}

void TestOggComments::readComments()
{
    QFETCH(QList<QByteArray>, comments);
    QFETCH(OGGTag, expected);
    QFETCH(int, pageFill);
    QFETCH(QByteArray, leadingStream);

    const QString fileName =
        vorbisFile("comments.ogg", commentPacket(comments, "title=vendor"), {leadingStream, pageFill, -1});
    QVERIFY(!fileName.isEmpty());
    OGGTag tag{"old", "old", "old", "old", "old", "old", "old"};
    ReadOggComments(fileName, tag);
    QCOMPARE(fieldsOf(tag), fieldsOf(expected));
}

void TestOggComments::unreadableFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes"); // null: no file at all
    QTest::addColumn<QString>("reason");

    const QByteArray valid = commentPacket({"title=x"});
    QByteArray countPastPacket = valid;
    countPastPacket[7 + 4 + 13] = '\x7f'; // comment count 127 in a packet with room for one
    QByteArray lengthPastPacket = valid;
    lengthPastPacket[7 + 4 + 13 + 4 + 1] = '\x01'; // the comment claims 263 bytes
    QByteArray hugeComment = commentPacket({});
    hugeComment.chop(1 + 4);
    hugeComment.append(QByteArray::fromHex("01000000"
                                           "00e1f505")); // one comment of 100 000 000 bytes
    hugeComment.append(QByteArray(10000, 'x'));

    QTest::newRow("missing file") << "missing.ogg" << QByteArray() << "No such file";
    QTest::newRow("empty file") << "empty.ogg" << QByteArray("") << "empty";
    QTest::newRow("garbage") << "garbage.ogg" << QByteArray(2 * 1024 * 1024, 'O') << "not an Ogg";
    QTest::newRow("truncated in comment")
        << "truncated.ogg"
        << oggFile(m_idHeader, commentPacket({QByteArray(9000, 'c')}), m_setupHeader, {{}, 4096, 6000})
        << "ends before";
    QTest::newRow("truncated in setup")
        << "truncated2.ogg" << oggFile(m_idHeader, valid, m_setupHeader, {{}, 100000, 200}) << "ends before";
    QTest::newRow("count past packet")
        << "count.ogg" << oggFile(m_idHeader, countPastPacket, m_setupHeader) << "comment header";
    QTest::newRow("length past packet")
        << "length.ogg" << oggFile(m_idHeader, lengthPastPacket, m_setupHeader) << "comment header";
    QTest::newRow("100 MB declared comment")
        << "huge.ogg" << oggFile(m_idHeader, hugeComment, m_setupHeader) << "comment header";
    QTest::newRow("setup header missing")
        << "nosetup.ogg" << oggFile(m_idHeader, valid, valid) << "setup header";
    QTest::newRow("opus") << "opus.ogg" << QByteArray() << "Opus";
    QTest::newRow("flac in ogg") << "flac.oga" << QByteArray() << "FLAC";
}

void TestOggComments::unreadableFiles()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);

    const QString fileName = path(name);
    if (name == "opus.ogg")
        QVERIFY(
            runTool("ffmpeg", {"-v", "error", "-y", "-i", path("tone.wav"), "-c:a", "libopus", fileName}));
    else if (name == "flac.oga")
        QVERIFY(runTool("ffmpeg", {"-v", "error", "-y", "-i", path("tone.wav"), "-c:a", "flac", fileName}));
    else if (!bytes.isNull())
        QVERIFY(writeFile(fileName, bytes));

    OGGTag tag{"old", "old", "old", "old", "old", "old", "old"};
    try {
        ReadOggComments(fileName, tag);
        QFAIL("no error raised");
    } catch (const OggReadError &error) {
        QVERIFY2(error.message().startsWith("Cannot open " + fileName + ": "), qPrintable(error.message()));
        QVERIFY2(error.message().contains(reason, Qt::CaseInsensitive), qPrintable(error.message()));
    }
    QCOMPARE(tag.Title, QString("old"));
}

void TestOggComments::pipeDoesNotBlock()
{
    const QString pipe = path("pipe.ogg");
    const QByteArray encoded = QFile::encodeName(pipe);
    QCOMPARE(::mkfifo(encoded.constData(), 0644), 0);
    // Should the reader wait in open() for a writer, this one lets it go after
    // a while, so a regression fails the test instead of hanging it.
    std::atomic<bool> done{false};
    std::thread releaser([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (!done && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        for (int i = 0; !done && i < 100; ++i) {
            const int fd = ::open(encoded.constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                ::close(fd);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    OGGTag tag{"old", "old", "old", "old", "old", "old", "old"};
    QString message;
    try {
        ReadOggComments(pipe, tag);
    } catch (const OggReadError &error) {
        message = error.message();
    }
    done = true;
    releaser.join();
    QVERIFY2(message.startsWith("Cannot open " + pipe + ": "), qPrintable(message));
    QVERIFY2(message.contains("regular file"), qPrintable(message));
    QCOMPARE(tag.Title, QString("old"));
}

void TestOggComments::libraryMissing_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("no library") << QString();
    QTest::newRow("library without entry points") << QStringLiteral(SONBREL_NOENTRY_LIBRARY_DIR);
}

void TestOggComments::libraryMissing()
{
    QFETCH(QString, folder);
    QTemporaryDir empty;
    setLibraryFolder(folder.isEmpty() ? empty.path() : folder);

    const QString fileName = vorbisFile("untouched.ogg", commentPacket({"title=new"}));
    OGGTag tag{"a", "t", "r", "c", "g", "d", "n"};
    ReadOggComments(fileName, tag);
    ReadOggComments(path("no such file.ogg"), tag);
    QCOMPARE(fieldsOf(tag), QStringList({"a", "t", "r", "c", "g", "d", "n"}));
}

void TestOggComments::otherTools_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QString>("album");

    const QString big = QString(u8"Gr\u00fc\u00dfe ").repeated(100 * 1024 / 8);
    QTest::newRow("oggenc") << "oggenc" << u8"sch\u00f6n";
    QTest::newRow("oggenc, 100 kB comment") << "oggenc" << big;
    QTest::newRow("ffmpeg") << "ffmpeg" << u8"sch\u00f6n";
    QTest::newRow("ffmpeg, 100 kB comment") << "ffmpeg" << big;
}

void TestOggComments::otherTools()
{
    QFETCH(QString, tool);
    QFETCH(QString, album);

    const QString fileName = path(tool + ".ogg");
    const QString title = u8"  \u00c9t\u00e9 ";
    if (tool == "oggenc") {
        QVERIFY(
            runTool("oggenc", {"-Q", "-t", title, "-a", "Artiste", "-l", album, "-G", "Chanson", "-d", "1999",
                               "-N", "3", "-c", "comment=Note", "-o", fileName, path("tone.wav")}));
    } else {
        // ffmpeg stores its comment as DESCRIPTION, which is not read.
        QVERIFY(runTool("ffmpeg", {"-v",
                                   "error",
                                   "-y",
                                   "-i",
                                   path("tone.wav"),
                                   "-c:a",
                                   "libvorbis",
                                   "-metadata",
                                   "title=" + title,
                                   "-metadata",
                                   "artist=Artiste",
                                   "-metadata",
                                   "album=" + album,
                                   "-metadata",
                                   "genre=Chanson",
                                   "-metadata",
                                   "date=1999",
                                   "-metadata",
                                   "track=3",
                                   "-metadata",
                                   "comment=Note",
                                   fileName}));
    }
    OGGTag tag;
    ReadOggComments(fileName, tag);
    const QString comment = tool == "oggenc" ? "Note" : "";
    QCOMPARE(fieldsOf(tag),
             fieldsOf(tagOf(u8"\u00c9t\u00e9", "Artiste", album.trimmed(), comment, "Chanson", "1999", "3")));
}

void TestOggComments::realWorldFiles()
{
    SONBREL_REQUIRE_REALWORLD();
    // What the well-formed Ogg samples hold; every other sample must fail cleanly.
    const QHash<QString, OGGTag> expected{
        {"mutagen__empty.ogg", OGGTag{}},
        {"mutagen__multipagecomment.ogg", OGGTag{}},
        {"taglib__test.ogg", OGGTag{}},
        {"mutagen__multipage-setup.ogg",
         OGGTag{"Timeless", "Burst", "UVERworld", "SRCL-6240", "JRock", "2006", "7"}},
    };
    int read = 0;
    int failed = 0;
    QDirIterator files(QStringLiteral(SONBREL_REALWORLD_DIR), QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString fileName = files.next();
        if (fileName.endsWith(".md"))
            continue;
        const QByteArray before = sha1Of(fileName);
        OGGTag tag{"old", "old", "old", "old", "old", "old", "old"};
        const QString name = QFileInfo(fileName).fileName();
        try {
            ReadOggComments(fileName, tag);
            QVERIFY2(expected.contains(name), qPrintable(fileName));
            QCOMPARE(fieldsOf(tag), fieldsOf(expected.value(name)));
            ++read;
        } catch (const OggReadError &error) {
            QVERIFY2(!expected.contains(name), qPrintable(error.message()));
            QVERIFY(error.message().startsWith("Cannot open " + fileName + ": "));
            ++failed;
        }
        QCOMPARE(sha1Of(fileName), before);
    }
    QCOMPARE(read, expected.size());
    QVERIFY(failed > 20);
}

QTEST_GUILESS_MAIN(TestOggComments)
#include "tst_oggcomments.moc"
