#include "wmaprofiles.h"

#include <QTest>

class TestWmaProfiles : public QObject {
    Q_OBJECT

private slots:
    void fieldsMatchTheirText_data();
    void fieldsMatchTheirText();
    void numbering();
};

// The text the user picks a profile by, written from the fields the encoders
// use; the 8 kHz texts pad so the list lines up.
static QString textFor(const WmaProfile &p)
{
    const QString channels = p.channels == 1 ? "Mono" : p.channels == 2 ? "Stereo" : "?";
    QString mode;
    switch (p.rateControl) {
    case WmaProfile::RateControl::Cbr:
        mode = QString("%1Kbps, %2, CBR").arg(p.bitRateKbps).arg(channels);
        break;
    case WmaProfile::RateControl::VbrQuality:
        mode = QString("%1, VBR Quality %2").arg(channels).arg(p.quality);
        break;
    case WmaProfile::RateControl::Lossless:
        mode = channels + ", Lossless";
    }
    return QString("WMA9 %1KHz,").arg(p.sampleRate / 1000).leftJustified(11) + ' ' + mode;
}

void TestWmaProfiles::fieldsMatchTheirText_data()
{
    QTest::addColumn<int>("position");
    for (int i = 0; i < kWmaProfileCount; ++i)
        QTest::addRow("%d %s", i, wmaProfiles()[static_cast<size_t>(i)].text) << i;
}

// A field that disagrees with its text makes a file other than the one picked.
void TestWmaProfiles::fieldsMatchTheirText()
{
    QFETCH(int, position);
    const WmaProfile &p = wmaProfiles()[static_cast<size_t>(position)];
    QCOMPARE(textFor(p), QString::fromUtf8(p.text));
    QVERIFY(QList<int>({8000, 11025, 16000, 22050, 32000, 44100, 48000}).contains(p.sampleRate));
    QCOMPARE(p.bitRateKbps == 0, p.rateControl != WmaProfile::RateControl::Cbr);
    QCOMPARE(p.quality == 0, p.rateControl != WmaProfile::RateControl::VbrQuality);
    QCOMPARE(wmaProfileByNumber(position + 1), &p);
}

void TestWmaProfiles::numbering()
{
    QCOMPARE(wmaProfileByNumber(0), nullptr);
    QCOMPARE(wmaProfileByNumber(kWmaProfileCount + 1), nullptr);
    // Stored settings and the command line's default name this profile.
    QCOMPARE(QByteArray(wmaProfiles()[kDefaultWmaPosition].text),
             QByteArray("WMA9 32KHz, 32Kbps, Stereo, CBR"));
}

QTEST_GUILESS_MAIN(TestWmaProfiles)
#include "tst_wmaprofiles.moc"
