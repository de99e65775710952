#include "appsettings.h"
#include "profilefile.h"

#include <QtTest>

class TestProfileFile : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath("sonbrel.ini"); }
    void writeText(const QByteArray &text)
    {
        QFile f(path());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
    QByteArray readText()
    {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void cleanup() { QFile::remove(path()); }

    void defaultsWithoutFile()
    {
        const ProfileFile ini(path());
        const AppSettings held = readStartupSettings(ini);
        QCOMPARE(held.outputFolder, defaultOutputFolder());
        QCOMPARE(held.folderLabel, defaultOutputFolder());
        QCOMPARE(held.fadeIn, false);
        QCOMPARE(held.fadeOut, false);
        QCOMPARE(held.fadeInTime, 5);
        QCOMPARE(held.fadeOutTime, 5);
        QCOMPARE(held.norVol, 98);
        QCOMPARE(storedProfileNumber(ini), 23);
    }

    void integers_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("hex") << QByteArray("0x0A") << 10;
        QTest::newRow("HEX") << QByteArray("0X1f") << 31;
        QTest::newRow("word") << QByteArray("ten") << 5;
        QTest::newRow("empty") << QByteArray("") << 5;
        QTest::newRow("bare 0x") << QByteArray("0x") << 5;
        QTest::newRow("negative") << QByteArray("-3") << -3;
        QTest::newRow("spaces") << QByteArray("  7 ") << 7;
        QTest::newRow("trailing junk") << QByteArray("7s") << 5;
    }
    void integers()
    {
        QFETCH(QByteArray, value);
        QFETCH(int, expected);
        writeText("[Fade]\nIntime=" + value + "\n");
        QCOMPARE(ProfileFile(path()).ReadInteger("Fade", "Intime", 5), expected);
    }

    void namesIgnoreCaseAndBooleansNormalise()
    {
        writeText("; kept comment\n[fade]\nIN=2\n[Format]\nDir=\n");
        ProfileFile ini(path());
        AppSettings held = readStartupSettings(ini);
        QCOMPARE(held.fadeIn, true);
        QCOMPARE(held.outputFolder, QString()); // empty stays empty, not the default
        writeCloseSettings(ini, held);
        const QByteArray text = readText();
        QVERIFY(text.startsWith("; kept comment\n"));
        QVERIFY(text.contains("IN=1\n"));
        QCOMPARE(ini.ReadBool("Fade", "In", false), true);
    }

    void closeWritesAllEntries()
    {
        ProfileFile ini(path());
        AppSettings held = readStartupSettings(ini);
        held.outputFolder = "/home/u/Music/";
        writeCloseSettings(ini, held);
        const ProfileFile again(path());
        QCOMPARE(again.ReadString("Format", "Dir", "x"), QStringLiteral("/home/u/Music/"));
        QCOMPARE(again.ReadInteger("Format", "int", 0), 2);
        QCOMPARE(again.ReadString("Fade", "In", ""), QStringLiteral("0"));
        QCOMPARE(again.ReadString("Fade", "Out", ""), QStringLiteral("0"));
        QCOMPARE(again.ReadInteger("Fade", "Intime", 0), 5);
        QCOMPARE(again.ReadInteger("Fade", "Outtime", 0), 5);
        QCOMPARE(again.ReadInteger("Nor", "vol", 0), 98);
        QCOMPARE(readText().count('['), 3);

        held.outputFolder = "/home/u/two\nlines";
        writeCloseSettings(ini, held);
        QCOMPARE(ProfileFile(path()).ReadString("Format", "Dir", "x"), QStringLiteral("/home/u/Music/"));
    }

    void foreignEntriesSurviveAndProfileIsUnchecked()
    {
        writeText("[wma]\nformat=50\nother=keep me\n[Mine]\nx=1\n");
        ProfileFile ini(path());
        QCOMPARE(storedProfileNumber(ini), 51);
        ini.WriteInteger("wma", "format", std::numeric_limits<int>::max());
        QCOMPARE(storedProfileNumber(ini), std::numeric_limits<int>::min()); // wraps, never overflows
        ini.WriteInteger("wma", "format", 50);
        ini.WriteInteger("wma", "format", 3);
        ini.WriteString("wma", "new", "v");
        const QByteArray text = readText();
        QVERIFY(text.contains("format=3\nother=keep me\nnew=v\n[Mine]\nx=1\n"));
    }

    void valuesSurviveARoundTrip_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("trailing blank") << "/home/u/My Music ";
        QTest::newRow("leading blank") << " x";
        QTest::newRow("quoted") << "\"q\"";
        QTest::newRow("equals and brackets") << "/a=b/[c]/;d";
        QTest::newRow("non-ASCII") << QStringLiteral("/home/u/M\u00fcsik/\u97f3\u697d");
    }
    void valuesSurviveARoundTrip()
    {
        QFETCH(QString, value);
        ProfileFile ini(path());
        ini.WriteString("Format", "Dir", value);
        QCOMPARE(ProfileFile(path()).ReadString("Format", "Dir", ""), value);
    }

    // What is not ours is kept byte for byte, and writing the same value
    // twice gives the same file.
    void rewriteKeepsOtherLinesExactly_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("value"); // of the key "vol"
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("lone CR at the end") << QByteArray("[Nor]\nfoo\r") << "Nor"
                                            << "1" << QByteArray("[Nor]\nfoo\r\nvol=1\r\n");
        QTest::newRow("lone CR, other section") << QByteArray("x\r") << "Nor"
                                                << "1" << QByteArray("x\r\n[Nor]\r\nvol=1\r\n");
        QTest::newRow("two byte-order marks")
            << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF; c\n[Nor]\nvol=1\n") << "Nor"
            << "2" << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF; c\n[Nor]\nvol=2\n");
        QTest::newRow("byte-order mark before our section")
            << QByteArray("\xEF\xBB\xBF[Nor]\nvol=1\n") << "Nor"
            << "2" << QByteArray("\xEF\xBB\xBF[Nor]\nvol=2\n");
        QTest::newRow("CR-LF lines") << QByteArray("[Nor]\r\nvol=1\r\nx=y\r\n") << "Nor"
                                     << "2" << QByteArray("[Nor]\r\nvol=2\r\nx=y\r\n");
        QTest::newRow("not UTF-8") << QByteArray("\xff\xc0 x\n[Nor]\nk=\xe9\n") << "Nor"
                                   << "3" << QByteArray("\xff\xc0 x\n[Nor]\nk=\xe9\nvol=3\n");
        QTest::newRow("no newline at the end")
            << QByteArray("[Nor]\nvol=1\n[X]\ny=2") << "Nor"
            << "3" << QByteArray("[Nor]\nvol=1\n[X]\ny=2").replace("vol=1", "vol=3");
        QTest::newRow("key in the section's second part")
            << QByteArray("[Nor]\na=1\n[X]\n[nor]\nvol=5\n") << "Nor"
            << "6" << QByteArray("[Nor]\na=1\n[X]\n[nor]\nvol=6\n");
        QTest::newRow("same value, own spelling") << QByteArray("[Nor]\n VOL = \"7\" \r\n") << "Nor"
                                                  << "7" << QByteArray("[Nor]\n VOL = \"7\" \r\n");
    }
    void rewriteKeepsOtherLinesExactly()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        writeText(before);
        ProfileFile ini(path());
        for (int write = 1; write <= 2; ++write) {
            ini.WriteString(section, "vol", value);
            QCOMPARE(readText(), after);
        }
        QCOMPARE(ini.ReadString(section, "vol", "none"), value);
    }

    void longTextIsCut()
    {
        writeText("[Format]\nDir=" + QByteArray(3000, 'a') + "\n");
        QCOMPARE(ProfileFile(path()).ReadString("Format", "Dir", "").size(), 2047);
    }

    void refusedWriteReportsTheFile()
    {
        if (geteuid() == 0)
            QSKIP("root can write anywhere");
        QDir(m_dir.path()).mkdir("ro");
        QFile::setPermissions(m_dir.filePath("ro"), QFile::ReadOwner | QFile::ExeOwner);
        ProfileFile ini(m_dir.filePath("ro/sonbrel.ini"));
        try {
            ini.WriteInteger("wma", "format", 1);
            QFAIL("write should fail");
        } catch (const SettingsWriteError &e) {
            QCOMPARE(e.message(), "Unable to write to " + m_dir.filePath("ro/sonbrel.ini"));
        }
    }

    void refusedWriteAsRootToo()
    {
        // A path below a regular file can't be written by anyone.
        writeText("x");
        ProfileFile ini(path() + "/sonbrel.ini");
        QVERIFY_THROWS_EXCEPTION(SettingsWriteError, ini.WriteInteger("wma", "format", 1));
    }
};

QTEST_GUILESS_MAIN(TestProfileFile)
#include "tst_profilefile.moc"
