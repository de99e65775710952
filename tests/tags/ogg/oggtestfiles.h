#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Ogg Vorbis files with hand-made comment headers, so tests control every
// byte of the comment block. The identification and setup headers come from
// a real encoder.
struct OggLayout {
    QByteArray leadingStream; // first packet of another stream placed before Vorbis
    long pageFill = 4096;     // bytes per page; smaller pages make headers span more pages
    qsizetype truncateAt = -1;
};

// The comment header packet: vendor, count, then each comment's length and bytes.
QByteArray commentPacket(const QList<QByteArray> &comments, const QByteArray &vendor = "Sonbrel tests");
// Whole Ogg file bytes: the three headers (with the given comment packet) in pages.
QByteArray oggFile(const QByteArray &idHeader, const QByteArray &comments, const QByteArray &setupHeader,
                   const OggLayout &layout = {});
// The first three packets of an Ogg file, empty on failure.
QList<QByteArray> headerPackets(const QString &fileName);
bool writeFile(const QString &fileName, const QByteArray &bytes);
// Runs a tool and reports whether it finished with exit code 0.
bool runTool(const QString &program, const QStringList &arguments);
