#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// Test files made at test time: WMA files from ffmpeg, and early-layout
// headers built byte by byte.
namespace WmaTestFiles {

// A one-second WMA (wmav2 in ASF) made by ffmpeg with the given -metadata key=value pairs.
QString makeWma(const QString &folder, const QString &name, const QStringList &metadata = {});
QByteArray readAll(const QString &path);
bool writeAll(const QString &path, const QByteArray &bytes);
// format tags as ffprobe reports them
QMap<QString, QString> probeTags(const QString &path);
// MD5 of the decoded audio, empty when decoding fails or reports an error.
QString decodedAudioMd5(const QString &path);

struct EarlyEntry {
    quint8 type;
    QString name;
    QString value;
};
QByteArray earlyObject(const unsigned char (&guid)[16], const QByteArray &body, quint64 sizeOverride = 0);
QByteArray earlyDescription(const std::vector<EarlyEntry> &entries);
QByteArray earlyHeader(const QByteArray &children, quint64 sizeOverride = 0);

extern const unsigned char EarlyHeaderGuid[16];
extern const unsigned char EarlyDescriptionGuid[16];
extern const unsigned char OtherGuid[16];

} // namespace WmaTestFiles
