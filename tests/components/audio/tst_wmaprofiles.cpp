#include "wmaprofiles.h"

#include <QTest>

class TestWmaProfiles : public QObject {
    Q_OBJECT

private slots:
    void tableMatchesItsTexts_data();
    void tableMatchesItsTexts();
    void numbering();
};

void TestWmaProfiles::tableMatchesItsTexts_data()
{
    QTest::addColumn<int>("position");
    for (int i = 0; i < kWmaProfileCount; ++i)
        QTest::addRow("%d %s", i, wmaProfiles()[static_cast<size_t>(i)].text) << i;
}

void TestWmaProfiles::tableMatchesItsTexts()
{
    QFETCH(int, position);
    const WmaProfile &entry = wmaProfiles()[static_cast<size_t>(position)];
    bool ok = false;
    const WmaProfile parsed = parseWmaProfileText(entry.text, &ok);
    QVERIFY2(ok, entry.text);
    QCOMPARE(entry.sampleRate, parsed.sampleRate);
    QCOMPARE(entry.channels, parsed.channels);
    QCOMPARE(entry.bitRateKbps, parsed.bitRateKbps);
    QCOMPARE(entry.quality, parsed.quality);
    QCOMPARE(entry.rateControl, parsed.rateControl);
    QCOMPARE(wmaProfileByNumber(position + 1), &entry);
}

void TestWmaProfiles::numbering()
{
    QCOMPARE(int(wmaProfiles().size()), 47);
    QCOMPARE(wmaProfileByNumber(0), nullptr);
    QCOMPARE(wmaProfileByNumber(48), nullptr);
    QCOMPARE(wmaProfileByNumber(-1), nullptr);
    // Positions 20 and 22 share a text; both stay in the list.
    QCOMPARE(QByteArray(wmaProfiles()[20].text), QByteArray(wmaProfiles()[22].text));
    QCOMPARE(QByteArray(wmaProfiles()[kDefaultWmaPosition].text),
             QByteArray("WMA9 32KHz, 32Kbps, Stereo, CBR"));
    QCOMPARE(QByteArray(wmaProfiles()[34].text), QByteArray("WMA9 8KHz,  12Kbps, Stereo, CBR"));
    QCOMPARE(wmaProfiles()[46].rateControl, WmaProfile::RateControl::Lossless);
    bool ok = true;
    parseWmaProfileText("WMA9 44KHz, 128Kbps, Quad, CBR", &ok);
    QVERIFY(!ok);
}

QTEST_GUILESS_MAIN(TestWmaProfiles)
#include "tst_wmaprofiles.moc"
