#include "wmatestfiles.h"
#include "wmaudsdk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <QTemporaryDir>
#include <QTest>
#include <QRegularExpression>

#include <sys/stat.h>

using namespace WmaTestFiles;

namespace {

struct Release {
    void operator()(IWMAudioInfo *info) const { info->Release(); }
};
using Info = std::unique_ptr<IWMAudioInfo, Release>;

Info open(const QString &path, std::int32_t *status = nullptr)
{
    IWMAudioInfo *info = reinterpret_cast<IWMAudioInfo *>(0x1);
    const std::int32_t result = WMAudioCreateInfo(reinterpret_cast<const char16_t *>(path.utf16()), &info);
    if (status)
        *status = result;
    if (result != WMA_S_OK && info != nullptr)
        qWarning("a failed open must leave a null interface");
    return Info(result == WMA_S_OK ? info : nullptr);
}

std::int32_t write(IWMAudioInfo *info, const char16_t *name, std::uint32_t type, const QByteArray &bytes)
{
    return info->WriteAttribute(name, type, reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                                std::uint16_t(bytes.size()));
}

QByteArray text(const QString &value)
{
    return QByteArray(reinterpret_cast<const char *>(value.utf16()), (value.size() + 1) * 2);
}

QByteArray le(quint64 value, int size)
{
    QByteArray bytes;
    for (int i = 0; i < size; ++i)
        bytes.append(char(value >> (8 * i)));
    return bytes;
}

// The file size the File Properties Object states, or -1.
qint64 statedFileSize(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray head = file.read(64 * 1024);
    const QByteArray fileProperties = QByteArray::fromHex("a1dcab8c47a9cf118ee400c00c205365");
    for (qsizetype pos = 30; pos + 48 <= head.size();) {
        const auto size = qFromLittleEndian<qint64>(head.constData() + pos + 16);
        if (head.mid(pos, 16) == fileProperties)
            return qFromLittleEndian<qint64>(head.constData() + pos + 40);
        if (size < 24)
            return -1;
        pos += size;
    }
    return -1;
}

} // namespace

class TestWmaudsdk : public QObject {
    Q_OBJECT

    QTemporaryDir m_folder;

    QStringList hiddenFiles() const
    {
        return QDir(m_folder.path()).entryList(QDir::Hidden | QDir::Files).filter(QRegularExpression("^\\."));
    }

private slots:
    void refusesWhatIsNotAsf_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing") << "/nonexistent/file.wma";
        QTest::newRow("folder") << QDir::tempPath();
        QTest::newRow("empty name") << "";
        QTest::newRow("mp3") << QString(SONBREL_REALWORLD_DIR "/mp3/mutagen__no-tags.mp3");
        QTest::newRow("empty file") << QString(SONBREL_REALWORLD_DIR "/mp3/mutagen__emptyfile.mp3");
        QTest::newRow("ogg") << QString(SONBREL_REALWORLD_DIR "/ogg/mutagen__empty.ogg");
    }
    void refusesWhatIsNotAsf()
    {
        QFETCH(QString, path);
        std::int32_t status = WMA_S_OK;
        QVERIFY(!open(path, &status));
        QVERIFY(status != WMA_S_OK);
        QCOMPARE(WMAudioCreateInfo(u"x", nullptr), WMA_E_INVALIDARG);
    }

    void valuesKeepTheirTypes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<uint>("type");
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("dword") << "WM/TrackNumber" << uint(WMA_TYPE_DWORD) << le(70000, 4);
        QTest::newRow("text") << "WM/AlbumTitle" << uint(WMA_TYPE_STRING)
                              << text(QString::fromUtf8("\xC3\xA9t\xC3\xA9"));
        QTest::newRow("empty text") << "WM/Genre" << uint(WMA_TYPE_STRING) << text("");
        QTest::newRow("content description") << "Description" << uint(WMA_TYPE_STRING) << text("About");
        QTest::newRow("binary") << "WM/Blob" << uint(WMA_TYPE_BINARY) << QByteArray("\x00\x01\x02", 3);
        QTest::newRow("bool") << "IsVBR" << uint(WMA_TYPE_BOOL) << le(1, 4);
        QTest::newRow("qword") << "WM/Big" << uint(WMA_TYPE_QWORD) << le(0x123456789ull, 8);
        QTest::newRow("word") << "WM/Small" << uint(WMA_TYPE_WORD) << le(513, 2);
    }
    void valuesKeepTheirTypes()
    {
        QFETCH(QString, name);
        QFETCH(uint, type);
        QFETCH(QByteArray, value);
        const QString path = makeWma(m_folder.path(), "types.wma");
        QVERIFY(!path.isEmpty());
        const auto *key = reinterpret_cast<const char16_t *>(name.utf16());
        {
            Info info = open(path);
            QVERIFY(info);
            QCOMPARE(write(info.get(), key, type, value), WMA_S_OK);
            QCOMPARE(info->Finish(), WMA_S_OK);
        }
        // The header grew: the size it states grows with it.
        QCOMPARE(statedFileSize(path), QFileInfo(path).size());
        Info info = open(path);
        QVERIFY(info);
        std::uint32_t readType = 99;
        std::uint8_t buffer[256];
        std::uint16_t length = sizeof buffer;
        QCOMPARE(info->ReadAttribute(key, &readType, buffer, &length), WMA_S_OK);
        QCOMPARE(readType, type);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(buffer), length), value);
        QCOMPARE(info->ReadAttribute(u"WM/NotThere", &readType, buffer, &length), WMA_E_NOTFOUND);
    }

    void refusesValuesThatDoNotFit_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<uint>("type");
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("short dword") << "WM/TrackNumber" << uint(WMA_TYPE_DWORD) << le(1, 3);
        QTest::newRow("number as title") << "Title" << uint(WMA_TYPE_DWORD) << le(1, 4);
        QTest::newRow("odd text") << "WM/Genre" << uint(WMA_TYPE_STRING) << QByteArray("abc");
        QTest::newRow("unknown type") << "WM/Genre" << 42u << le(1, 4);
        QTest::newRow("empty name") << "" << uint(WMA_TYPE_DWORD) << le(1, 4);
    }
    void refusesValuesThatDoNotFit()
    {
        QFETCH(QString, name);
        QFETCH(uint, type);
        QFETCH(QByteArray, value);
        const QString path = makeWma(m_folder.path(), "refuse.wma");
        const QByteArray before = readAll(path);
        Info info = open(path);
        QVERIFY(info);
        QCOMPARE(write(info.get(), reinterpret_cast<const char16_t *>(name.utf16()), type, value),
                 WMA_E_INVALIDARG);
        QCOMPARE(info->Finish(), WMA_S_OK);
        QCOMPARE(readAll(path), before);
    }

    void longTextsAreCutToTheBuffer()
    {
        const QString path = makeWma(m_folder.path(), "long.wma");
        const QString clef = QString::fromUtf8("\xF0\x9D\x84\x9E");
        // 126 units, then a pair that would straddle the end of a 256-byte buffer.
        const QString value = QString(126, 'a') + clef + "tail";
        Info info = open(path);
        QVERIFY(info);
        QCOMPARE(write(info.get(), u"Title", WMA_TYPE_STRING, text(value)), WMA_S_OK);
        std::uint32_t type = 0;
        std::uint16_t length = 0;
        QCOMPARE(info->ReadAttribute(u"Title", &type, nullptr, &length), WMA_S_OK); // size query
        QCOMPARE(int(length), (value.size() + 1) * 2);
        std::uint8_t buffer[256];
        length = sizeof buffer;
        QCOMPARE(info->ReadAttribute(u"Title", &type, buffer, &length), WMA_S_OK);
        QCOMPARE(int(length), 127 * 2);
        QCOMPARE(QString::fromUtf16(reinterpret_cast<const char16_t *>(buffer)), QString(126, 'a'));
        std::uint8_t tiny[3];
        length = sizeof tiny;
        QCOMPARE(info->ReadAttribute(u"WM/NotThere", &type, tiny, &length), WMA_E_NOTFOUND);
        QCOMPARE(write(info.get(), u"WM/TrackNumber", WMA_TYPE_DWORD, le(7, 4)), WMA_S_OK);
        QCOMPARE(info->ReadAttribute(u"WM/TrackNumber", &type, tiny, &length), WMA_E_BUFFERTOOSMALL);
    }

    void nothingWrittenLeavesTheFileAlone()
    {
        const QString path = makeWma(m_folder.path(), "alone.wma", {"title=Same"});
        const QByteArray before = readAll(path);
        const QDateTime modified = QFileInfo(path).lastModified();
        Info info = open(path);
        QVERIFY(info);
        QCOMPARE(info->Finish(), WMA_S_OK);
        info.reset();
        QCOMPARE(readAll(path), before);
        QCOMPARE(QFileInfo(path).lastModified(), modified);
    }

    void releasedWithoutFinishWritesNothing()
    {
        const QString path = makeWma(m_folder.path(), "unfinished.wma");
        const QByteArray before = readAll(path);
        Info info = open(path);
        QCOMPARE(write(info.get(), u"Title", WMA_TYPE_STRING, text("Never")), WMA_S_OK);
        info.reset();
        QCOMPARE(readAll(path), before);
    }

    // The file changed under the writer and no longer parses: the rewrite is
    // refused and what is on disk stays exactly as it is.
    void failedRewriteLeavesTheFileIntact()
    {
        const QString path = makeWma(m_folder.path(), "intact.wma");
        Info info = open(path);
        QVERIFY(info);
        QCOMPARE(write(info.get(), u"Title", WMA_TYPE_STRING, text("Lost")), WMA_S_OK);
        const QByteArray garbage = earlyObject(OtherGuid, QByteArray(4000, '\x7f'));
        QVERIFY(writeAll(path, garbage));
        QVERIFY(info->Finish() != WMA_S_OK);
        QCOMPARE(readAll(path), garbage);
        QCOMPARE(hiddenFiles(), QStringList());
    }

    // A header whose declared size disagrees with its objects would have the
    // rewrite cut away or duplicate part of the file; it is refused instead.
    void inconsistentHeaderSizeIsNotRewritten_data()
    {
        QTest::addColumn<qint64>("change"); // added to the real header size
        QTest::addColumn<bool>("minimum");  // declare the bare header object's 30 bytes instead
        QTest::newRow("beyond the file") << qint64(1 << 20) << false;
        QTest::newRow("eight bytes long") << qint64(8) << false;
        QTest::newRow("eight bytes short") << qint64(-8) << false;
        QTest::newRow("bare header object") << qint64(0) << true;
    }
    void inconsistentHeaderSizeIsNotRewritten()
    {
        QFETCH(qint64, change);
        QFETCH(bool, minimum);
        const QString path = makeWma(m_folder.path(), "header.wma", {"title=Old"});
        QByteArray bytes = readAll(path);
        QVERIFY(bytes.size() > 30);
        quint64 size = 0;
        for (int i = 0; i < 8; ++i)
            size |= quint64(quint8(bytes[16 + i])) << (8 * i);
        bytes.replace(16, 8, le(minimum ? 30 : quint64(qint64(size) + change), 8));
        QVERIFY(writeAll(path, bytes));
        Info info = open(path);
        if (!info)
            return; // not even readable: nothing can be written either
        QCOMPARE(write(info.get(), u"Title", WMA_TYPE_STRING, text("New")), WMA_S_OK);
        QVERIFY(info->Finish() != WMA_S_OK);
        info.reset();
        QCOMPARE(readAll(path), bytes);
        QCOMPARE(hiddenFiles(), QStringList());
    }

    void rewriteKeepsModeAndAudio()
    {
        const QString path = makeWma(m_folder.path(), "mode.wma", {"title=Old"});
        const QString audio = decodedAudioMd5(path);
        QVERIFY(!audio.isEmpty());
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0604), 0);
        Info info = open(path);
        QCOMPARE(write(info.get(), u"Title", WMA_TYPE_STRING, text(QString(5000, 'x'))), WMA_S_OK);
        QCOMPARE(info->Finish(), WMA_S_OK);
        struct stat status {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &status), 0);
        QCOMPARE(status.st_mode & 07777, mode_t(0604));
        QCOMPARE(decodedAudioMd5(path), audio);
        QCOMPARE(probeTags(path).value("title"), QString(5000, 'x'));
        QCOMPARE(hiddenFiles(), QStringList());
    }

    void queryInterface()
    {
        const QString path = makeWma(m_folder.path(), "query.wma");
        Info info = open(path);
        void *other = reinterpret_cast<void *>(0x1);
        QCOMPARE(info->QueryInterface(nullptr, &other), WMA_E_NOINTERFACE);
        QCOMPARE(other, nullptr);
        QCOMPARE(info->QueryInterface(WMA_IID_AUDIOINFO, &other), WMA_S_OK);
        QCOMPARE(other, static_cast<void *>(info.get()));
        QCOMPARE(static_cast<IWMAudioInfo *>(other)->Release(), 1u);
    }
};

QTEST_GUILESS_MAIN(TestWmaudsdk)
#include "tst_wmaudsdk.moc"
