#include "rules.h"

#include <QtTest>

class TestRules : public QObject {
    Q_OBJECT
private slots:
    void mulDiv_data()
    {
        QTest::addColumn<int>("a");
        QTest::addColumn<int>("b");
        QTest::addColumn<int>("c");
        QTest::addColumn<int>("expected");
        QTest::newRow("exact") << 5000 << 44100 << 1000 << 220500;
        QTest::newRow("half up") << 1 << 3 << 2 << 2;
        QTest::newRow("half away from zero, negative") << -1 << 3 << 2 << -2;
        QTest::newRow("below half") << 1 << 1 << 3 << 0;
        QTest::newRow("zero divisor") << 7 << 7 << 0 << -1;
        QTest::newRow("64-bit intermediate") << 2000000000 << 2000000000 << 2000000000 << 2000000000;
        QTest::newRow("overflow") << 2000000000 << 4 << 1 << -1;
        QTest::newRow("negative divisor") << 10 << 3 << -4 << -8;
        QTest::newRow("progress -1") << -1 << 439 << 10000 << 0;
    }
    void mulDiv()
    {
        QFETCH(int, a);
        QFETCH(int, b);
        QFETCH(int, c);
        QFETCH(int, expected);
        QCOMPARE(MulDiv(a, b, c), expected);
    }

    void formatDuration_data()
    {
        QTest::addColumn<int>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0 << "00:00:00";
        QTest::newRow("999") << 999 << "00:00:00";
        QTest::newRow("61999") << 61999 << "00:01:01";
        QTest::newRow("3725000") << 3725000 << "01:02:05";
        QTest::newRow("360000000") << 360000000 << "100:00:00";
    }
    void formatDuration()
    {
        QFETCH(int, ms);
        QFETCH(QString, text);
        QCOMPARE(FormatDuration(ms), text);
    }

    void formatSize_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        for (const auto &[name, sep] : {std::pair{"C", "."}, std::pair{"de_DE", ","}}) {
            const QString s = QString::fromLatin1(sep);
            QTest::addRow("3456789 %s", name) << qint64(3456789) << name << "3" + s + "30MB";
            QTest::addRow("1234567890 %s", name) << qint64(1234567890) << name << "1177" + s + "40MB";
            QTest::addRow("5000 %s", name) << qint64(5000) << name << "0" + s + "00MB";
        }
        QTest::newRow("exactly one MB") << qint64(1048576) << "C"
                                        << "1.00MB";
        QTest::newRow("six integer digits") << qint64(123456) * 1048576 + 800000 << "C"
                                            << "123460.00MB";
    }
    void formatSize()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QCOMPARE(FormatSizeMB(bytes, QLocale(locale)), text);
    }

    void cleanTitle()
    {
        QCOMPARE(CleanTitle(QStringLiteral("AC/DC: Live?")), QStringLiteral("ACDC Live"));
        QCOMPARE(CleanTitle(QStringLiteral("*?|:\"/\\<>")), QString());
        QCOMPARE(CleanTitle(QStringLiteral(" a.b-c_(d) ")), QStringLiteral(" a.b-c_(d) "));
        QCOMPARE(TrimControl(QStringLiteral("\x01 Song \t")), QStringLiteral("Song"));
    }

    void outputNames_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("numbered");
        QTest::addColumn<QString>("name");
        QTest::newRow("dot in title") << "Mr. Jones" << 0 << "Mr.wma";
        QTest::newRow("dot numbered") << "Mr. Jones" << 1 << "Mr_1.wma";
        QTest::newRow("plain") << "Song" << 0 << "Song.wma";
        QTest::newRow("plain numbered") << "Song" << 2 << "Song_2.wma";
        QTest::newRow("file name caption") << "track.mp3" << 0 << "track.wma";
        QTest::newRow("path escape removed") << "../../etc/passwd" << 0 << "etcpasswd.wma";
        QTest::newRow("leading dots") << "...Baby One More Time" << 0 << "Baby One More Time.wma";
        QTest::newRow("leading dot numbered") << ".abc" << 1 << "abc_1.wma";
        QTest::newRow("only dots falls back") << "..." << 0 << "source.wma";
        QTest::newRow("dot-dot falls back") << ".." << 0 << "source.wma";
        QTest::newRow("only unsafe falls back") << "???" << 0 << "source.wma";
        QTest::newRow("control characters dropped") << QStringLiteral("a\tb\nc") << 0 << "abc.wma";
    }
    void outputNames()
    {
        QFETCH(QString, caption);
        QFETCH(int, numbered);
        QFETCH(QString, name);
        QCOMPARE(outputFileName(caption, QStringLiteral("/music/source.ogg"), numbered), name);
    }

    // Cut in one pass: a title of megabytes takes no longer than reading it.
    void longNamesFitTheFileSystem_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("numbered");
        QTest::addColumn<QString>("start"); // what the name starts with, before its ending
        QTest::addColumn<QString>("ending");
        const QString accents(300, QChar(0x00E9));
        const QString emoji = QString::fromUtf8("\xF0\x9F\x8E\xB5").repeated(100); // 4 bytes, 2 units each
        QTest::newRow("two-byte characters") << accents << 0 << accents.left(98) << ".wma";
        QTest::newRow("pairs never split") << "x" + emoji << 0 << "x" + emoji.left(96) << ".wma";
        QTest::newRow("10 MB title") << QString(10 << 20, 'a') + ".mp3" << 0 << QString(196, 'a') << ".wma";
        QTest::newRow("10 MB title numbered")
            << QString(10 << 20, 'a') << 37 << QString(193, 'a') << "_37.wma";
    }
    void longNamesFitTheFileSystem()
    {
        QFETCH(QString, caption);
        QFETCH(int, numbered);
        QFETCH(QString, start);
        QFETCH(QString, ending);
        QCOMPARE(outputFileName(caption, QStringLiteral("/x/y.mp3"), numbered), start + ending);
    }

    void chooseSkipsTakenNames()
    {
        QSet<QString> taken{"/o/Mr.wma", "/o/Mr_1.wma"};
        const auto exists = [&](const QString &p) { return taken.contains(p); };
        QCOMPARE(chooseOutputPath("/o/", "Mr. Jones", "/s/a.mp3", exists), QStringLiteral("/o/Mr_2.wma"));
        taken.insert("/o/Mr_2.wma");
        for (int n = 3; n <= 100; ++n)
            taken.insert(QStringLiteral("/o/Mr_%1.wma").arg(n));
        QCOMPARE(chooseOutputPath("/o/", "Mr. Jones", "/s/a.mp3", exists), QString());
    }
};

QTEST_GUILESS_MAIN(TestRules)
#include "tst_rules.moc"
