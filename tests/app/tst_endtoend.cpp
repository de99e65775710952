// Real files, real components: tags read on adding name the rows, the rows
// name the outputs, and the outputs carry the tags.
#include "conversionrun.h"
#include "filelist.h"
#include "filelistmodel.h"
#include "messagerecorder.h"
#include "messages.h"
#include "tagintake.h"
#include "taudiofile2.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <taglib/asffile.h>
#include <taglib/asfpicture.h>

namespace {

bool run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        qWarning() << program << arguments << process.readAllStandardError();
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return true;
}

// A two-second stereo tone with the given ffmpeg -metadata pairs.
bool makeSource(const QString &path, const QStringList &metadata, const QStringList &extra = {})
{
    QStringList args{
        "-v",  "error", "-y", "-f", "lavfi", "-i", "sine=frequency=440:duration=2:sample_rate=44100",
        "-ac", "2"};
    for (const QString &pair : metadata)
        args << "-metadata" << pair;
    return run("ffmpeg", args + extra + QStringList{path});
}

struct Probe {
    int sampleRate = 0;
    int channels = 0;
    double duration = 0;
    double firstSample = 0; // the time of the first decoded sample: a decoder's lead-in comes before it
    QJsonObject tags;
};

Probe probe(const QString &path)
{
    QByteArray json;
    Probe result;
    if (!run("ffprobe",
             {"-v", "error", "-show_entries",
              "stream=sample_rate,channels:format=duration:format_tags:frame=best_effort_timestamp_time",
              "-of", "json", path},
             &json))
        return result;
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    const QJsonObject stream = root["streams"].toArray().first().toObject();
    result.sampleRate = stream["sample_rate"].toString().toInt();
    result.channels = stream["channels"].toInt();
    result.duration = root["format"].toObject()["duration"].toString().toDouble();
    result.firstSample =
        root["frames"].toArray().first().toObject()["best_effort_timestamp_time"].toString().toDouble();
    const QJsonObject tags = root["format"].toObject()["tags"].toObject();
    for (auto it = tags.begin(); it != tags.end(); ++it)
        result.tags.insert(it.key().toLower(), it.value());
    return result;
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<TAudioFile2> m_reader, m_writer;
    std::unique_ptr<FileListModel> m_model;
    std::unique_ptr<FileList> m_files;

    QString src(const QString &name) const { return m_dir.filePath("src/" + name); }
    QStringList captions() const
    {
        QStringList c;
        for (int i = 0; i < m_model->count(); ++i)
            c << m_model->caption(i);
        return c;
    }

private slots:
    void initTestCase()
    {
        QDir().mkpath(src(""));
        QVERIFY(makeSource(src("plain.wav"), {"title=Ignored In Wav"}));
        QVERIFY(run("sox", {src("plain.wav"), "-r", "8000", "-c", "1", src("speech.vox")}));
        QVERIFY(
            makeSource(src("v3.mp3"),
                       {"title=Été à Paris", "artist=Zoë", "album=Chansons", "genre=Chanson", "date=1999"},
                       {"-id3v2_version", "3"}));
        QVERIFY(makeSource(src("v4.mp3"), {"title=AC/DC: Live?", "artist=AC/DC", "album=Live", "genre=Rock"},
                           {"-id3v2_version", "4"}));
        QVERIFY(makeSource(src("untagged.mp3"), {}, {"-write_id3v2", "0"}));
        QVERIFY(makeSource(src("blank.mp3"), {"title=   ", "artist=Someone"}, {"-id3v2_version", "3"}));
        QVERIFY(makeSource(src("song.mp3"), {"title=Song?"}, {"-id3v2_version", "3"}));
        QVERIFY(makeSource(src("song.wma"), {"title= Song?", "artist=W", "album=WA", "genre=Pop"},
                           {"-c:a", "wmav2", "-b:a", "64k"}));
        QVERIFY(makeSource(src("tune.ogg"),
                           {"title=Ögg Tune", "artist=Vorbis", "album=Xiph", "genre=Ambient"},
                           {"-c:a", "libvorbis"}));
        QFile broken(src("broken.ogg"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("OggS this is not really an Ogg Vorbis stream");
    }

    void init()
    {
        m_reader = std::make_unique<TAudioFile2>();
        m_writer = std::make_unique<TAudioFile2>();
        m_model = std::make_unique<FileListModel>();
        m_files = std::make_unique<FileList>(*m_model, *m_reader);
        m_files->setTagIntake(TagIntake);
        m_files->setPump([] {});
    }

    void captionsComeFromCleanedTitles()
    {
        Messages::Recorder messages;
        m_files->AddPaths({src("plain.wav"), src("speech.vox"), src("v3.mp3"), src("untagged.mp3"),
                           src("v4.mp3"), src("blank.mp3"), src("song.mp3"), src("song.wma"),
                           src("tune.ogg")});
        QCOMPARE(messages.all, QStringList());
        QCOMPARE(captions(),
                 QStringList({"plain.wav", "speech.vox", QStringLiteral("Été à Paris"), "untagged.mp3",
                              "ACDC Live", "blank.mp3", "Song", "Song", QStringLiteral("Ögg Tune")}));
        QCOMPARE(m_model->record(0), (AudioFileinfo{"", "", "", "", "", "", m_model->record(0).duration}));
        QCOMPARE(m_model->record(2).artist, QStringLiteral("Zoë"));
        QCOMPARE(m_model->record(2).year, QString("1999")); // the year travels from every kind
        QCOMPARE(m_model->record(3).title, QString());      // nothing carried over from the file before
        QCOMPARE(m_model->record(3).artist, QString());
        QCOMPARE(m_model->record(4).title, QStringLiteral("ACDC Live"));
        QCOMPARE(m_model->record(5).title, QString());
        QCOMPARE(m_model->record(5).artist, QStringLiteral("Someone"));
        QCOMPARE(m_model->record(7).album, QStringLiteral("WA"));
        QCOMPARE(m_model->record(8).genre, QStringLiteral("Ambient"));
        QCOMPARE(m_model->cell(1, FileListModel::Frequency), QStringLiteral("8000 Hz"));
        QCOMPARE(m_model->cell(1, FileListModel::Channels), QStringLiteral(" Mono "));
        QCOMPARE(m_model->cell(1, FileListModel::Time), QStringLiteral("00:00:02"));
    }

    // An Ogg file that holds neither Vorbis, Opus nor FLAC is refused as any
    // unsupported file is; the add goes on without a half row.
    void brokenOggIsRefusedAndTheAddGoesOn()
    {
        Messages::Recorder messages;
        m_files->AddPaths({src("v3.mp3"), src("broken.ogg"), src("tune.ogg")});
        QCOMPARE(messages.all, QStringList{"broken.ogg this File is not supported."});
        QCOMPARE(captions(), QStringList({QStringLiteral("Été à Paris"), QStringLiteral("Ögg Tune")}));
        QCOMPARE(m_model->fileTagTable().size(), 2);
    }

    void convertedOutputsCarryTheirRowsTags()
    {
        Messages::Recorder messages;
        m_files->AddPaths({src("plain.wav"), src("speech.vox"), src("v3.mp3"), src("v4.mp3"), src("song.wma"),
                           src("tune.ogg")});
        QCOMPARE(m_model->count(), 6);
        m_model->record(3).year = "2001"; // as the tag editor would set it
        AppSettings held;
        held.outputFolder = m_dir.filePath("out");
        ConversionRun run(*m_model, *m_reader, *m_writer, held);
        run.setPump([] {});
        run.setTagWriter(CarryTags);
        RunRecord results;
        run.addObserver(results);
        run.ConvertAll();
        QCOMPARE(messages.all, QStringList());

        const QStringList expectedNames{"plain.wma",     "speech.wma", QStringLiteral("Été à Paris.wma"),
                                        "ACDC Live.wma", "Song.wma",   QStringLiteral("Ögg Tune.wma")};
        for (int row = 0; row < m_model->count(); ++row) {
            QCOMPARE(m_model->cell(row, FileListModel::Status), QStringLiteral("finish"));
            const QString output = held.outputFolder + expectedNames[row];
            QCOMPARE(results.result(row)->output, output);
            const Probe p = probe(output);
            QCOMPARE(p.sampleRate, 32000); // the default profile
            QCOMPARE(p.channels, 2);
            QVERIFY2(std::abs(p.duration - p.firstSample - 2.0) <= 0.1,
                     qPrintable(QString::number(p.duration)));
            const AudioFileinfo &record = m_model->record(row);
            QCOMPARE(p.tags.value("title").toString(), record.title);
            QCOMPARE(p.tags.value("artist").toString(), record.artist);
            QCOMPARE(p.tags.value("album").toString(), record.album);
            QCOMPARE(p.tags.value("genre").toString(), record.genre);
        }
        // FFmpeg shows the year under its attribute name.
        const QJsonObject withYear = probe(held.outputFolder + expectedNames[3]).tags;
        QCOMPARE(withYear.value("wm/year").toString(), QStringLiteral("2001"));
        QCOMPARE(probe(held.outputFolder + expectedNames[2]).tags.value("wm/year").toString(),
                 QString("1999"));
    }

    // Every kind in one folder converts in one run: each row named by its
    // title, its track number and cover in the output. Files that only wear
    // a kind's extension are refused as any unsupported file is.
    void everyKindInOneFolder()
    {
        const QString folder = m_dir.filePath("kinds/");
        QVERIFY(QDir().mkpath(folder));
        const QString wav = src("plain.wav"), cover = m_dir.filePath("cover.png");
        QVERIFY(run("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "color=c=red:s=8x8", "-frames:v",
                               "1", cover}));
        const QStringList withCover{"-v",
                                    "error",
                                    "-y",
                                    "-i",
                                    wav,
                                    "-i",
                                    cover,
                                    "-map",
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
                                    "track=4"};
        QVERIFY(run("flac", {"-s", "-f", "--picture", "3|image/png|||" + cover, "-T", "TITLE=Flac", "-T",
                             "TRACKNUMBER=4", "-o", folder + "a.flac", wav}));
        QVERIFY(run("opusenc", {"--quiet", "--title", "Opus", "--comment", "TRACKNUMBER=4", "--picture",
                                "3|image/png|||" + cover, wav, folder + "b.opus"}));
        QVERIFY(run("ffmpeg",
                    withCover + QStringList{"-metadata", "title=AAC", "-c:a", "aac", folder + "c.m4a"}));
        QVERIFY(run("ffmpeg",
                    withCover + QStringList{"-metadata", "title=ALAC", "-c:a", "alac", folder + "d.m4a"}));
        QVERIFY(run("ffmpeg", withCover + QStringList{"-metadata", "title=AIFF", "-write_id3v2", "1",
                                                      folder + "e.aiff"}));
        QVERIFY(run("wavpack", {"-q", "-y", "-w", "Title=WavPack", "-w", "Track=4", "--write-binary-tag",
                                "Cover Art (Front)=@" + cover, wav, "-o", folder + "f.wv"}));
        QVERIFY(run("ffmpeg", {"-v", "error", "-y", "-i", wav, "-f", "mp3", folder + "g.opus"}));
        QVERIFY(run("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "color=s=16x16:d=1", "-c:v", "mpeg4",
                               "-f", "mp4", folder + "h.m4a"}));
        QVERIFY(run("ffmpeg", {"-v", "error", "-y", "-i", wav, "-write_id3v2", "0", "-write_id3v1", "1",
                               "-metadata", "title=Trailer", "-metadata", "track=4", folder + "i.mp3"}));
        QVERIFY(run("ffmpeg", withCover + QStringList{"-metadata", "title=ID3v2", "-metadata", "disc=2/3",
                                                      "-id3v2_version", "3", folder + "j.mp3"}));

        Messages::Recorder messages;
        m_files->AddFolderFiles(folder);
        QCOMPARE(messages.informations,
                 QStringList({"g.opus this File is not supported.", "h.m4a this File is not supported."}));
        const QStringList titles{"Flac", "Opus", "AAC", "ALAC", "AIFF", "WavPack", "Trailer", "ID3v2"};
        QCOMPARE(captions(), titles);
        messages.clear();
        AppSettings held;
        held.outputFolder = m_dir.filePath("kinds-out");
        ConversionRun conversion(*m_model, *m_reader, *m_writer, held);
        conversion.setPump([] {});
        conversion.setTagWriter(CarryTags);
        RunRecord results;
        conversion.addObserver(results);
        conversion.ConvertAll();
        QCOMPARE(messages.all, QStringList());
        for (int row = 0; row < m_model->count(); ++row) {
            QCOMPARE(m_model->cell(row, FileListModel::Status), QStringLiteral("finish"));
            QByteArray streams;
            QVERIFY(run("ffprobe",
                        {"-v", "error", "-show_entries", "stream=codec_name:format_tags=title,track", "-of",
                         "compact", results.result(row)->output},
                        &streams));
            QVERIFY2(streams.contains("tag:title=" + titles[row].toUtf8()) && streams.contains("tag:track=4"),
                     streams);
            // The ID3v1 trailer has no picture; every other kind's cover travels.
            QCOMPARE(streams.contains("codec_name=png"), row != 6);
        }
        // The MP3's ID3v2 cover and disc number reach its output whole.
        TagLib::ASF::File mp3Output(QFile::encodeName(results.result(7)->output).constData());
        const TagLib::ASF::Tag *written = mp3Output.tag();
        QVERIFY(written && written->contains("WM/Picture") && written->contains("WM/PartOfSet"));
        const TagLib::ASF::Picture picture = written->attribute("WM/Picture").front().toPicture();
        QFile png(cover);
        QVERIFY(png.open(QIODevice::ReadOnly));
        QCOMPARE(QByteArray(picture.picture().data(), qsizetype(picture.picture().size())), png.readAll());
        QCOMPARE(picture.mimeType().to8Bit(), std::string("image/png"));
        QCOMPARE(picture.type(), TagLib::ASF::Picture::FrontCover);
        QCOMPARE(written->attribute("WM/PartOfSet").front().toString().to8Bit(), std::string("2"));
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
