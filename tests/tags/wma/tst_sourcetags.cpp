#include "id3v1.h"
#include "libraryfolder.h"
#include "oggcomments.h"
#include "taglibtags.h"
#include "wmatags.h"
#include "wmatestfiles.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <taglib/asffile.h>
#include <taglib/asfpicture.h>
#include <taglib/asftag.h>

#include <csignal>
#include <sys/resource.h>

using namespace WmaTestFiles;

namespace {

bool tool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

QString text(const TagLib::String &value)
{
    return QString::fromStdString(value.to8Bit(true));
}

// The WMA output of a source, as the conversion writes it.
Result<> writeOutput(const QString &path, AudioFileinfo source)
{
    source.comment.clear();
    return WriteWMATagChecked(path, source);
}

} // namespace

class TestSourceTags : public QObject {
    Q_OBJECT

    QTemporaryDir m_folder;
    QString m_wav, m_cover;

    QString path(const QString &name) const { return m_folder.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        m_wav = path("source.wav");
        m_cover = path("cover.png");
        QVERIFY(tool("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "sine=duration=1", "-ac", "2", m_wav}));
        QVERIFY(tool("ffmpeg",
                     {"-v", "error", "-f", "lavfi", "-i", "color=c=red:s=8x8", "-frames:v", "1", m_cover}));
    }

    // Each kind tagged in its own way by its own tool; the values and the
    // cover reach the record and then the WMA output.
    void kinds_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("disc"); // 0 where the tool writes none

        const QString picture = "3|image/png|||" + m_cover;
        QTest::newRow("FLAC, Vorbis comments") << "song.flac"
                                               << "flac" << QStringList{"-s",        "-f",
                                                                        "--picture", picture,
                                                                        "-T",        "TITLE=Title",
                                                                        "-T",        "ARTIST=Artist",
                                                                        "-T",        "ALBUM=Album",
                                                                        "-T",        "DATE=2001-05-06",
                                                                        "-T",        "GENRE=Jazz",
                                                                        "-T",        "TRACKNUMBER=7",
                                                                        "-T",        "DISCNUMBER=2",
                                                                        "-T",        "COMMENT=Note",
                                                                        "-o",        path("song.flac"),
                                                                        m_wav}
                                               << 2;
        QTest::newRow("Opus, Vorbis comments") << "song.opus"
                                               << "opusenc"
                                               << QStringList{"--quiet",
                                                              "--title",
                                                              "Title",
                                                              "--artist",
                                                              "Artist",
                                                              "--album",
                                                              "Album",
                                                              "--date",
                                                              "2001",
                                                              "--genre",
                                                              "Jazz",
                                                              "--comment",
                                                              "TRACKNUMBER=7/12",
                                                              "--comment",
                                                              "DISCNUMBER=2",
                                                              "--comment",
                                                              "COMMENT=Note",
                                                              "--picture",
                                                              picture,
                                                              m_wav,
                                                              path("song.opus")}
                                               << 2;
        const QStringList ffmpegTags{"-map",
                                     "0:a",
                                     "-map",
                                     "1:v",
                                     "-c:v",
                                     "copy",
                                     "-disposition:v:0",
                                     "attached_pic",
                                     "-metadata:s:v",
                                     "comment=Cover (front)",
                                     "-metadata",
                                     "title=Title",
                                     "-metadata",
                                     "artist=Artist",
                                     "-metadata",
                                     "album=Album",
                                     "-metadata",
                                     "date=2001",
                                     "-metadata",
                                     "genre=Jazz",
                                     "-metadata",
                                     "track=7/12",
                                     "-metadata",
                                     "disc=2",
                                     "-metadata",
                                     "comment=Note"};
        const QStringList ffmpegInputs{"-v", "error", "-i", m_wav, "-i", m_cover};
        QTest::newRow("M4A AAC, MP4 atoms")
            << "aac.m4a"
            << "ffmpeg" << ffmpegInputs + ffmpegTags + QStringList{"-c:a", "aac", path("aac.m4a")} << 2;
        QTest::newRow("M4A ALAC, MP4 atoms")
            << "alac.m4a"
            << "ffmpeg" << ffmpegInputs + ffmpegTags + QStringList{"-c:a", "alac", path("alac.m4a")} << 2;
        QTest::newRow("AIFF, ID3 chunk")
            << "song.aiff"
            << "ffmpeg" << ffmpegInputs + ffmpegTags + QStringList{"-write_id3v2", "1", path("song.aiff")}
            << 2;
        QTest::newRow("WavPack, APE tag") << "song.wv"
                                          << "wavpack"
                                          << QStringList{"-q",
                                                         "-y",
                                                         "-w",
                                                         "Title=Title",
                                                         "-w",
                                                         "Artist=Artist",
                                                         "-w",
                                                         "Album=Album",
                                                         "-w",
                                                         "Year=2001",
                                                         "-w",
                                                         "Genre=Jazz",
                                                         "-w",
                                                         "Track=7/12",
                                                         "-w",
                                                         "Disc=2",
                                                         "-w",
                                                         "Comment=Note",
                                                         "--write-binary-tag",
                                                         "Cover Art (Front)=@" + m_cover,
                                                         m_wav,
                                                         "-o",
                                                         path("song.wv")}
                                          << 2;
    }
    void kinds()
    {
        QFETCH(QString, name);
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, disc);
        QVERIFY2(tool(program, arguments), qPrintable(program));

        AudioFileinfo tag;
        QVERIFY(readTagLibSource(path(name), tag));
        QCOMPARE(tag.title, QString("Title"));
        QCOMPARE(tag.artist, QString("Artist"));
        QCOMPARE(tag.album, QString("Album"));
        QCOMPARE(tag.year, QString("2001"));
        QCOMPARE(tag.genre, QString("Jazz"));
        QCOMPARE(tag.comment, QString("Note"));
        QCOMPARE(int(tag.track), 7);
        QCOMPARE(int(tag.disc), disc);
        QCOMPARE(tag.cover.data, readAll(m_cover));
        QCOMPARE(tag.cover.mimeType, QString("image/png"));
        QCOMPARE(int(tag.cover.type), 3);
        AudioFileinfo again;
        readTagLibSource(path(name), again);
        QCOMPARE(again.cover.data.constData(), tag.cover.data.constData()); // one copy for an album's tracks

        const QString output = makeWma(m_folder.path(), name + ".wma");
        QVERIFY(!output.isEmpty());
        const Result<> result = writeOutput(output, tag);
        QVERIFY2(result.ok(), qPrintable(result.reason()));
        TagLib::ASF::File file(QFile::encodeName(output).constData());
        QVERIFY(file.isValid());
        TagLib::ASF::Tag *written = file.tag();
        QCOMPARE(text(written->title()), QString("Title"));
        QCOMPARE(text(written->genre()), QString("Jazz"));
        QCOMPARE(written->attribute("WM/TrackNumber").front().type(), TagLib::ASF::Attribute::DWordType);
        QCOMPARE(written->attribute("WM/TrackNumber").front().toUInt(), 7u);
        QCOMPARE(text(written->attribute("WM/PartOfSet").front().toString()), QString::number(disc));
        const TagLib::ASF::Picture cover = written->attribute("WM/Picture").front().toPicture();
        QCOMPARE(cover.type(), TagLib::ASF::Picture::FrontCover);
        QCOMPARE(text(cover.mimeType()), QString("image/png"));
        QCOMPARE(QByteArray(cover.picture().data(), cover.picture().size()), readAll(m_cover));
    }

    // MP3, Ogg Vorbis and WMA sources: their disc number and cover, read by
    // their own readers in the same pass as their texts. The WMA row's source
    // is written as outputs are.
    void discAndCover_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");

        const QStringList mp3{
            "-v",        "error",   "-i", m_wav,  "-i",   m_cover,         "-map",
            "0",         "-map",    "1",  "-c:v", "copy", "-metadata:s:v", "comment=Cover (front)",
            "-metadata", "disc=2/3"};
        QTest::newRow("MP3") << "song.mp3"
                             << "ffmpeg" << mp3 + QStringList{"-id3v2_version", "3", path("song.mp3")};
        // A FLAC picture block: type, MIME type, empty description, four
        // unknown dimensions, then the picture; all lengths big-endian.
        const auto be32 = [](quint32 value) {
            return QByteArray(1, char(value >> 24)) + char(value >> 16) + char(value >> 8) + char(value);
        };
        const QByteArray png = readAll(m_cover);
        const QByteArray block =
            be32(3) + be32(9) + "image/png" + QByteArray(20, '\0') + be32(png.size()) + png;
        const QString picture = "METADATA_BLOCK_PICTURE=" + block.toBase64();
        QTest::newRow("Ogg Vorbis") << "song.ogg"
                                    << "oggenc" << QStringList{"-Q",    "-c", "DISCNUMBER=2",   "-c",
                                                               picture, "-o", path("song.ogg"), m_wav};
        QTest::newRow("WMA") << "source.wma" << QString() << QStringList();
    }
    void discAndCover()
    {
        QFETCH(QString, name);
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        const QString source = path(name);
        const CoverPicture png{readAll(m_cover), "image/png", 3};
        if (program.isEmpty())
            QVERIFY(!makeWma(m_folder.path(), name).isEmpty() &&
                    WriteWMATagChecked(source, {.disc = 2, .cover = png}).ok());
        else
            QVERIFY2(tool(program, arguments), qPrintable(program));
        AudioFileinfo more;
        if (name.endsWith(".mp3"))
            QVERIFY(readId3Source(source, more) && ReadID3(source) == ID3TagKind::V2);
        else if (name.endsWith(".ogg"))
            QVERIFY(readOggSource(source, more));
        else
            QVERIFY(readWmaSource(source, more));
        QCOMPARE(int(more.disc), 2);
        QCOMPARE(more.cover, png);

        // Without the kind's own library, TagLib still finds both.
        if (name.endsWith(".mp3"))
            return;
        QTemporaryDir noLibraries;
        setLibraryFolder(noLibraries.path());
        AudioFileinfo fallback;
        const bool read =
            name.endsWith(".ogg") ? readOggSource(source, fallback) : readWmaSource(source, fallback);
        setLibraryFolder({});
        QVERIFY(read);
        QCOMPARE(int(fallback.disc), 2);
        QCOMPARE(fallback.cover, png);
    }

    // Of several WM/Picture values the front cover is taken, wherever it stands.
    void wmaFrontCoverAmongPictures()
    {
        const QString source = makeWma(m_folder.path(), "pictures.wma");
        QVERIFY(!source.isEmpty());
        {
            TagLib::ASF::File file(QFile::encodeName(source).constData(), false);
            QVERIFY(file.isValid());
            TagLib::ASF::AttributeList pictures;
            for (const auto type : {TagLib::ASF::Picture::Other, TagLib::ASF::Picture::FrontCover}) {
                TagLib::ASF::Picture picture;
                picture.setType(type);
                picture.setMimeType("image/png");
                const QByteArray bytes = type == TagLib::ASF::Picture::Other ? "other" : readAll(m_cover);
                picture.setPicture(TagLib::ByteVector(bytes.constData(), unsigned(bytes.size())));
                pictures.append(TagLib::ASF::Attribute(picture));
            }
            file.tag()->setAttribute("WM/Picture", pictures);
            QVERIFY(file.save());
        }
        AudioFileinfo tags;
        QVERIFY(readWmaSource(source, tags));
        QCOMPARE(tags.cover, (CoverPicture{readAll(m_cover), "image/png", 3}));
    }

    // What is not one of the kinds, whatever its name, leaves the record alone.
    void otherFilesLeaveTheRecord()
    {
        QVERIFY(tool("ffmpeg", {"-v", "error", "-i", m_wav, "-f", "mp3", path("mp3.opus")}));
        QVERIFY(tool("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "color=s=16x16:d=1", "-c:v", "mpeg4",
                                "-metadata", "title=Video", "-f", "mp4", path("video.m4a")}));
        QCOMPARE(TagLibContentKind(path("mp3.opus")), QString());
        QCOMPARE(TagLibContentKind(path("video.m4a")), QString("mp4"));
        for (const char *name : {"mp3.opus", "source.wav", "missing.flac"}) {
            AudioFileinfo tag{.title = "untouched"};
            QVERIFY(!readTagLibSource(path(name), tag));
            QCOMPARE(tag.title, QString("untouched"));
        }
        // An MP4 file holding only video is still an MP4 file: its tag is read,
        // and the audio component refuses it later.
        AudioFileinfo video;
        QVERIFY(readTagLibSource(path("video.m4a"), video));
        QCOMPARE(video.title, QString("Video"));
    }

    // An album-sized cover costs the output about its own size, stored where
    // values beyond 64 KiB belong.
    void largeCover()
    {
        const QString output = makeWma(m_folder.path(), "large.wma");
        QVERIFY(!output.isEmpty());
        const QString audio = decodedAudioMd5(output);
        const qint64 before = QFileInfo(output).size();
        AudioFileinfo tag;
        tag.cover.data = QByteArray("\xFF\xD8\xFF\xE0") + QByteArray(500 * 1024, 'j');
        tag.cover.mimeType = "image/jpeg";
        const Result<> result = writeOutput(output, tag);
        QVERIFY2(result.ok(), qPrintable(result.reason()));
        const qint64 growth = QFileInfo(output).size() - before;
        QVERIFY2(growth >= tag.cover.data.size() && growth < tag.cover.data.size() + 2048,
                 qPrintable(QString::number(growth)));
        QCOMPARE(decodedAudioMd5(output), audio);
        TagLib::ASF::File file(QFile::encodeName(output).constData());
        QVERIFY(file.isValid());
        QCOMPARE(int(file.tag()->attribute("WM/Picture").front().toPicture().picture().size()),
                 int(tag.cover.data.size()));
    }

    // A write that cannot complete (here: the file size limit) names its
    // reason and leaves the file as it was; the old entry point still says
    // the library took the file.
    void writeFailureIsReported()
    {
        const QString output = makeWma(m_folder.path(), "limited.wma");
        QVERIFY(!output.isEmpty());
        const QByteArray before = readAll(output);
        AudioFileinfo tag{.title = "Title"};
        tag.cover.data = QByteArray(256 * 1024, 'p');
        tag.cover.mimeType = "image/png";

        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved;
        limited.rlim_cur = rlim_t(before.size() + 64 * 1024);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const Result<> result = writeOutput(output, tag);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);

        QVERIFY(!result.ok());
        QCOMPARE(result.reason(), qt_error_string(EFBIG));
        QCOMPARE(readAll(output), before);
        QCOMPARE(QDir(m_folder.path()).entryList({".limited.wma.*"}, QDir::Hidden | QDir::Files),
                 QStringList());

        WMATagInfo plain{};
        setWmaTagText(plain.Title, "Title");
        QCOMPARE(WriteWMATag(output, plain), -1);
        QCOMPARE(WriteWMATagChecked(m_folder.filePath("missing.wma"), {.title = "Title"}).reason(),
                 QString("it is not a regular file"));
    }
};

QTEST_GUILESS_MAIN(TestSourceTags)
#include "tst_sourcetags.moc"
