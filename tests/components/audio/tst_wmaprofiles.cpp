#include "wmaprofiles.h"
#include "wmastdencoder.h"
#include "wmastdoutputencoder.h"

#include <QTest>

class TestWmaProfiles : public QObject {
    Q_OBJECT

private slots:
    void fieldsMatchTheirText_data();
    void fieldsMatchTheirText();
    void numbering();
    void encoderRefuses_data();
    void encoderRefuses();
};

using Setup = WmaStdEncoder::Setup;

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
    // The encoder takes every lossy profile as the writer sets it up.
    if (p.rateControl != WmaProfile::RateControl::Lossless)
        QCOMPARE(
            WmaStdEncoder::check(wmaStdParams({p.sampleRate, p.channels, p.bitRateKbps * 1000, p.quality})),
            Setup::Ok);
}

void TestWmaProfiles::numbering()
{
    QCOMPARE(wmaProfileByNumber(0), nullptr);
    QCOMPARE(wmaProfileByNumber(kWmaProfileCount + 1), nullptr);
    // Stored settings and the command line's default name this profile.
    QCOMPARE(QByteArray(wmaProfiles()[kDefaultWmaPosition].text),
             QByteArray("WMA9 32KHz, 32Kbps, Stereo, CBR"));
}

void TestWmaProfiles::encoderRefuses_data()
{
    QTest::addColumn<int>("sampleRate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("bitRate");
    QTest::addColumn<int>("quality");
    QTest::addColumn<Setup>("setup");
    QTest::newRow("no channel") << 44100 << 0 << 128000 << 0 << Setup::InvalidChannelCount;
    QTest::newRow("three channels") << 44100 << 3 << 128000 << 0 << Setup::InvalidChannelCount;
    QTest::newRow("under 8 kHz") << 7999 << 2 << 32000 << 0 << Setup::InvalidSampleRate;
    QTest::newRow("over 48 kHz") << 48001 << 2 << 128000 << 0 << Setup::InvalidSampleRate;
    QTest::newRow("quality over 100") << 44100 << 2 << 0 << 101 << Setup::InvalidQuality;
    QTest::newRow("negative quality") << 44100 << 2 << 128000 << -1 << Setup::InvalidQuality;
    QTest::newRow("neither rate nor quality") << 44100 << 2 << 0 << 0 << Setup::InvalidBitRate;
    QTest::newRow("too few bits a frame") << 8000 << 1 << 1200 << 0 << Setup::InvalidBitRate;
    QTest::newRow("superframe over 64 KiB") << 48000 << 2 << 8000000 << 0 << Setup::InvalidBitRate;
}

// A refused set-up is named, and the writer's encoder says why instead of
// coding a stream no decoder plays.
void TestWmaProfiles::encoderRefuses()
{
    QFETCH(int, sampleRate);
    QFETCH(int, channels);
    QFETCH(int, bitRate);
    QFETCH(int, quality);
    QFETCH(Setup, setup);
    const EncoderParams params{sampleRate, channels, bitRate, quality};
    QCOMPARE(WmaStdEncoder::check(wmaStdParams(params)), setup);
    WmaStdOutputEncoder encoder;
    EncoderSetup stream;
    const AudioStatus opened = encoder.open(params, stream);
    QVERIFY(!opened.ok);
    QCOMPARE(opened.message, QString::fromUtf8(WmaStdEncoder::describe(setup)));
}

QTEST_GUILESS_MAIN(TestWmaProfiles)
#include "tst_wmaprofiles.moc"
