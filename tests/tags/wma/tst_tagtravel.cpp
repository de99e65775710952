// Every source kind, tagged in each of the forms taggers write, added to the
// list and converted: what arrives in the WMA output, read back with TagLib
// (texts and numbers) and FFmpeg (the picture players show).
#include "conversionrun.h"
#include "filelist.h"
#include "filelistmodel.h"
#include "messagerecorder.h"
#include "messages.h"
#include "runobserver.h"
#include "tagintake.h"
#include "taudiofile2.h"
#include "wmatestfiles.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <taglib/asffile.h>
#include <taglib/asfpicture.h>

using namespace WmaTestFiles;

namespace {

bool tool(const QStringList &command)
{
    QProcess process;
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        qWarning() << command << process.readAllStandardError();
        return false;
    }
    return true;
}

QByteArray be32(quint32 value)
{
    return QByteArray(1, char(value >> 24)) + char(value >> 16) + char(value >> 8) + char(value);
}

QByteArray synchsafe(quint32 value)
{
    return QByteArray(1, char((value >> 21) & 0x7F)) + char((value >> 14) & 0x7F) +
           char((value >> 7) & 0x7F) + char(value & 0x7F);
}

// An ID3v2 frame of version 3 or 4 with the given second flag byte.
QByteArray frame(int version, const QByteArray &id, const QByteArray &content, quint8 flags = 0)
{
    return id + (version == 4 ? synchsafe(content.size()) : be32(content.size())) + '\0' + char(flags) +
           content;
}

QByteArray text(const QByteArray &utf8)
{
    return '\x03' + utf8;
}

// A text frame compressed as each version stores it.
QByteArray compressed(int version, const QByteArray &id, const QByteArray &utf8)
{
    const QByteArray content = text(utf8);
    const QByteArray stream = qCompress(content).mid(4);
    if (version == 3)
        return frame(3, id, be32(content.size()) + stream, 0x80);
    return frame(4, id, synchsafe(content.size()) + stream, 0x09);
}

QByteArray picture(const QByteArray &data)
{
    return frame(3, "APIC", QByteArray("\0image/png\0\x03\0", 13) + data);
}

QByteArray id3Tag(int version, const QByteArray &frames)
{
    return QByteArray("ID3") + char(version) + '\0' + '\0' + synchsafe(frames.size()) + frames;
}

struct Output {
    QString title, year, genre, disc;
    uint track = 0;
    QByteArray pictureData;
    QString pictureMime;
};

QString asfText(TagLib::ASF::Tag *tag, const char *name)
{
    if (!tag->contains(name))
        return {};
    return QString::fromStdString(tag->attribute(name).front().toString().to8Bit(true));
}

Output readOutput(const QString &path)
{
    Output out;
    TagLib::ASF::File file(QFile::encodeName(path).constData());
    if (!file.isValid())
        return out;
    TagLib::ASF::Tag *tag = file.tag();
    out.title = QString::fromStdString(tag->title().to8Bit(true));
    out.year = asfText(tag, "WM/Year");
    out.genre = asfText(tag, "WM/Genre");
    out.disc = asfText(tag, "WM/PartOfSet");
    if (tag->contains("WM/TrackNumber"))
        out.track = tag->attribute("WM/TrackNumber").front().toUInt();
    if (tag->contains("WM/Picture")) {
        const TagLib::ASF::Picture cover = tag->attribute("WM/Picture").front().toPicture();
        out.pictureData = QByteArray(cover.picture().data(), qsizetype(cover.picture().size()));
        out.pictureMime = QString::fromStdString(cover.mimeType().to8Bit());
    }
    return out;
}

// The picture stream FFmpeg shows in a file: "codec WxH", empty when none.
QString shownPicture(const QString &path)
{
    QProcess process;
    process.start("ffprobe", {"-v", "error", "-select_streams", "v", "-show_entries",
                              "stream=codec_name,width,height", "-of", "csv=p=0", path});
    process.waitForFinished(60000);
    const QStringList fields = QString::fromUtf8(process.readAllStandardOutput()).trimmed().split(',');
    return fields.size() == 3 ? fields[0] + ' ' + fields[1] + 'x' + fields[2] : QString();
}

} // namespace

class TestTagTravel : public QObject {
    Q_OBJECT

    QTemporaryDir m_folder;
    QString m_wav, m_png, m_bigJpeg, m_untaggedMp3;

    QString path(const QString &name) const { return m_folder.filePath(name); }

    // The words of a row's command, with its placeholders filled in.
    QStringList command(const QString &make, const QString &out) const
    {
        const auto attached = [](const QString &file) {
            return QStringList{"-i",
                               file,
                               "-map",
                               "0",
                               "-map",
                               "1",
                               "-c:v",
                               "copy",
                               "-disposition:v:0",
                               "attached_pic",
                               "-metadata:s:v",
                               "comment=Cover (front)"};
        };
        QStringList words;
        for (const QString &word : make.split(' ')) {
            if (word == "{wav}" && words.size() == 1) // ffmpeg's input
                words << "-v"
                      << "error"
                      << "-i" << m_wav;
            else if (word == "{cover}")
                words << attached(m_png);
            else if (word == "{big}")
                words << attached(m_bigJpeg);
            else
                words << QString(word)
                             .replace("{wav}", m_wav)
                             .replace("{out}", out)
                             .replace("{pngfile}", m_png)
                             .replace("{bigfile}", m_bigJpeg);
        }
        return words;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        m_wav = path("tone.wav");
        m_png = path("small.png");
        m_bigJpeg = path("big.jpg");
        m_untaggedMp3 = path("untagged.mp3");
        QVERIFY(tool({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=duration=1", "-ac", "2", m_wav}));
        QVERIFY(tool(
            {"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "color=c=red:s=8x8", "-frames:v", "1", m_png}));
        // A photo-like cover far over 64 KiB, as scanned covers are.
        QVERIFY(tool({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "mandelbrot=s=1600x1200", "-frames:v",
                      "1", "-q:v", "1", m_bigJpeg}));
        QVERIFY(QFileInfo(m_bigJpeg).size() > 200 * 1024);
        QVERIFY(tool({"ffmpeg", "-v", "error", "-i", m_wav, "-write_id3v2", "0", m_untaggedMp3}));
    }

    void travels_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("make"); // the command that makes it, words split at spaces (see command())
        QTest::addColumn<QByteArray>("id3"); // else: an ID3v2 tag put before an untagged MP3
        QTest::addColumn<QString>("title");  // what the output shows
        QTest::addColumn<QString>("year");
        QTest::addColumn<QString>("genre");
        QTest::addColumn<int>("track");
        QTest::addColumn<QString>("disc");
        QTest::addColumn<QString>("cover"); // "" none, "same" the source's bytes, or what FFmpeg shows
        QTest::addColumn<QString>("note");  // in the run's message; empty when none

        const QString scaled = "mjpeg 600x450";
        const QByteArray no;
        const QByteArray png = readAll(m_png);
        const QByteArray block =
            be32(3) + be32(9) + "image/png" + QByteArray(20, '\0') + be32(png.size()) + png;
        // clang-format off
        QTest::newRow("MP3 v2.3: TYER, (17), n/m, TPOS, cover") << "a.mp3"
            << "ffmpeg {wav} {cover} -metadata title=Title -metadata date=1995 -metadata genre=(17) "
               "-metadata track=5/12 -metadata disc=2/3 -id3v2_version 3 {out}"
            << no << "Title" << "1995" << "Rock" << 5 << "2" << "same" << "";
        QTest::newRow("MP3 v2.4: TDRC date, bare 17, big cover") << "b.mp3"
            << "ffmpeg {wav} {big} -metadata title=Title -metadata date=1995-04-01 -metadata genre=17 "
               "-metadata track=5 -id3v2_version 4 {out}"
            << no << "Title" << "1995" << "Rock" << 5 << "" << scaled << "";
        QTest::newRow("MP3 v2.3: compressed title, (17)refinement") << "c.mp3" << ""
            << id3Tag(3, compressed(3, "TIT2", "Compressed title") + frame(3, "TYER", text("1995")) +
                         frame(3, "TCON", text("(17)Rock & Roll")) + frame(3, "TRCK", text("05")))
            << "Compressed title" << "1995" << "Rock & Roll" << 5 << "" << "" << "";
        QTest::newRow("MP3 v2.4: compressed title, (RX), TDRC") << "d.mp3" << ""
            << id3Tag(4, compressed(4, "TIT2", "Compressed title") +
                         frame(4, "TDRC", text("1995-04-01T10:00")) + frame(4, "TCON", text("(RX)")))
            << "Compressed title" << "1995" << "Remix" << 0 << "" << "" << "";
        QTest::newRow("MP3 ID3v1 only") << "e.mp3"
            << "ffmpeg {wav} -metadata title=Title -metadata date=1995 -metadata genre=Rock -metadata track=5 "
               "-write_id3v2 0 -write_id3v1 1 {out}"
            << no << "Title" << "1995" << "Rock" << 5 << "" << "" << "";
        QTest::newRow("MP3: undecodable cover") << "f.mp3" << ""
            << id3Tag(3, frame(3, "TIT2", text("Title")) + picture("\x89PNG\r\n\x1A\n" + QByteArray(300, 'Z')))
            << "Title" << "" << "" << 0 << "" << "" << "could not be decoded";
        QTest::newRow("MP3: cover over 16 MB") << "g.mp3" << ""
            << id3Tag(3, frame(3, "TIT2", text("Title")) + picture(QByteArray(17 << 20, 'Z')))
            << "Title" << "" << "" << 0 << "" << "" << "over the 16 MB";
        QTest::newRow("Ogg Vorbis: DATE, DISCNUMBER, picture block") << "h.ogg"
            << QString("oggenc -Q -t Title -d 1995-04-01 -G Rock -N 5 -c DISCNUMBER=2 -c METADATA_BLOCK_PICTURE=") +
                   QString::fromLatin1(block.toBase64()) + " -o {out} {wav}"
            << no << "Title" << "1995" << "Rock" << 5 << "2" << "same" << "";
        QTest::newRow("Opus in .ogg: big cover") << "i.ogg"
            << "opusenc --quiet --title Title --date 1995 --genre Rock --comment TRACKNUMBER=5/12 "
               "--comment DISCNUMBER=2 --picture 3||||{bigfile} {wav} {out}"
            << no << "Title" << "1995" << "Rock" << 5 << "2" << scaled << "";
        QTest::newRow("FLAC in .ogg") << "j.ogg"
            << "flac -s -f --ogg -T TITLE=Title -T DATE=1995 -T GENRE=Rock -T TRACKNUMBER=5 "
               "--picture 3|image/png|||{pngfile} -o {out} {wav}"
            << no << "Title" << "1995" << "Rock" << 5 << "" << "same" << "";
        QTest::newRow("FLAC: big cover") << "k.flac"
            << "flac -s -f -T TITLE=Title -T DATE=1995-04-01 -T TRACKNUMBER=5 --picture 3||||{bigfile} "
               "-o {out} {wav}"
            << no << "Title" << "1995" << "" << 5 << "" << scaled << "";
        QTest::newRow("WMA: WM/Year, WM/TrackNumber as text") << "l.wma"
            << "ffmpeg {wav} -metadata title=Title -metadata WM/Year=1995 -metadata genre=Rock -metadata track=05 "
               "-metadata disc=2 -c:a wmav2 {out}"
            << no << "Title" << "1995" << "Rock" << 5 << "2" << "" << "";
        QTest::newRow("WMA: only WM/Track, zero-based") << "m.wma"
            << "ffmpeg {wav} -metadata title=Title -metadata WM/Track=4 -c:a wmav2 {out}"
            << no << "Title" << "" << "" << 5 << "" << "" << "";
        QTest::newRow("M4A: date, cover") << "n.m4a"
            << "ffmpeg {wav} {cover} -metadata title=Title -metadata date=1995 -metadata genre=Rock "
               "-metadata track=5/12 -metadata disc=2 -c:a aac {out}"
            << no << "Title" << "1995" << "Rock" << 5 << "2" << "same" << "";
        QTest::newRow("WavPack: APE year") << "o.wv"
            << "wavpack -q -y -w Title=Title -w Year=1995 -w Genre=Rock -w Track=5 {wav} -o {out}"
            << no << "Title" << "1995" << "Rock" << 5 << "" << "" << "";
        // clang-format on
    }

    void travels()
    {
        QFETCH(QString, source);
        QFETCH(QString, make);
        QFETCH(QByteArray, id3);
        const QString file = path(source);
        if (make.isEmpty())
            QVERIFY(writeAll(file, id3 + readAll(m_untaggedMp3)));
        else
            QVERIFY(tool(command(make, file)));

        FileListModel list;
        TAudioFile2 reader, writer;
        FileList files(list, reader);
        files.setTagIntake(TagIntake);
        files.setPump([] {});
        Messages::Recorder messages;
        QVERIFY(files.AddOneFile(file));
        AppSettings held;
        held.outputFolder = path("out-" + source);
        ConversionRun run(list, reader, writer, held);
        run.setPump([] {});
        run.setTagWriter(CarryTags);
        RunRecord results;
        run.addObserver(results);
        run.ConvertAll();
        QCOMPARE(list.cell(0, FileListModel::Status), QStringLiteral("finish"));
        const QString output = results.result(0)->output;

        const Output out = readOutput(output);
        QTEST(out.title, "title");
        QTEST(out.year, "year");
        QTEST(out.genre, "genre");
        QTEST(int(out.track), "track");
        QTEST(out.disc, "disc");

        QFETCH(QString, cover);
        const QString shown = shownPicture(output);
        if (cover.isEmpty()) {
            QCOMPARE(out.pictureData, QByteArray());
            QCOMPARE(shown, QString());
        } else if (cover == "same") {
            QCOMPARE(out.pictureData, readAll(m_png));
            QCOMPARE(shown, QString("png 8x8"));
        } else {
            QCOMPARE(shown, cover);
            QCOMPARE(out.pictureMime, QString("image/jpeg"));
        }

        QFETCH(QString, note);
        if (note.isEmpty()) {
            QCOMPARE(messages.all, QStringList());
        } else {
            QCOMPARE(messages.all.size(), 1);
            QVERIFY2(messages.all.first().contains(note), qPrintable(messages.all.first()));
        }
    }
};

QTEST_GUILESS_MAIN(TestTagTravel)
#include "tst_tagtravel.moc"
