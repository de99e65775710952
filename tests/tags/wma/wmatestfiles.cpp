#include "wmatestfiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtEndian>

namespace WmaTestFiles {

const unsigned char EarlyHeaderGuid[16] = {0xD1, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11,
                                           0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE};
const unsigned char EarlyDescriptionGuid[16] = {0xD5, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11,
                                                0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE};
const unsigned char OtherGuid[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                     0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};

namespace {

QByteArray run(const QString &program, const QStringList &arguments, int *exitCode = nullptr,
               QByteArray *errors = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    if (errors)
        *errors = process.readAllStandardError();
    return process.readAllStandardOutput();
}

void appendLe(QByteArray &bytes, quint64 value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes.append(char(value >> (8 * i)));
}

QByteArray utf16Le(const QString &text)
{
    QByteArray bytes;
    for (const QChar c : text)
        appendLe(bytes, c.unicode(), 2);
    return bytes;
}

} // namespace

QString makeWma(const QString &folder, const QString &name, const QStringList &metadata)
{
    const QString path = QDir(folder).filePath(name);
    QStringList arguments{"-v",   "error", "-y",   "-f", "lavfi", "-i", "sine=frequency=440:duration=1",
                          "-c:a", "wmav2", "-b:a", "64k"};
    for (const QString &pair : metadata)
        arguments << "-metadata" << pair;
    arguments << path;
    int exitCode = -1;
    run("ffmpeg", arguments, &exitCode);
    return exitCode == 0 ? path : QString();
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QMap<QString, QString> probeTags(const QString &path)
{
    const QByteArray json =
        run("ffprobe", {"-v", "error", "-show_entries", "format_tags", "-of", "json", path});
    QMap<QString, QString> tags;
    const QJsonObject object = QJsonDocument::fromJson(json).object()["format"].toObject()["tags"].toObject();
    for (auto it = object.begin(); it != object.end(); ++it)
        tags.insert(it.key(), it.value().toString());
    return tags;
}

QString decodedAudioMd5(const QString &path)
{
    int exitCode = -1;
    QByteArray errors;
    const QByteArray out =
        run("ffmpeg", {"-v", "error", "-i", path, "-map", "0:a", "-f", "md5", "-"}, &exitCode, &errors);
    if (exitCode != 0 || !errors.trimmed().isEmpty())
        return {};
    return QString::fromLatin1(out.trimmed());
}

QByteArray earlyObject(const unsigned char (&guid)[16], const QByteArray &body, quint64 sizeOverride)
{
    QByteArray bytes(reinterpret_cast<const char *>(guid), 16);
    appendLe(bytes, sizeOverride ? sizeOverride : quint64(24 + body.size()), 8);
    return bytes + body;
}

QByteArray earlyDescription(const std::vector<EarlyEntry> &entries)
{
    QByteArray body;
    appendLe(body, entries.size(), 2);
    for (const EarlyEntry &entry : entries) {
        appendLe(body, entry.type, 1);
        appendLe(body, 0, 4);
        appendLe(body, quint64(entry.name.size()), 2);
        appendLe(body, quint64(entry.value.size()), 2);
        body += utf16Le(entry.name) + utf16Le(entry.value);
    }
    return earlyObject(EarlyDescriptionGuid, body);
}

QByteArray earlyHeader(const QByteArray &children, quint64 sizeOverride)
{
    return earlyObject(EarlyHeaderGuid, children, sizeOverride);
}

} // namespace WmaTestFiles
