#include "oggtestfiles.h"

#include <QFile>
#include <QProcess>
#include <QtEndian>

#include <ogg/ogg.h>

namespace {

void appendLittleEndian32(QByteArray &bytes, quint32 value)
{
    char buffer[4];
    qToLittleEndian(value, buffer);
    bytes.append(buffer, 4);
}

ogg_packet packetOf(const QByteArray &bytes, bool first, ogg_int64_t number)
{
    ogg_packet packet{};
    packet.packet = reinterpret_cast<unsigned char *>(const_cast<char *>(bytes.constData()));
    packet.bytes = bytes.size();
    packet.b_o_s = first ? 1 : 0;
    packet.packetno = number;
    return packet;
}

void appendPages(QByteArray &out, ogg_stream_state &stream, long fill)
{
    ogg_page page;
    while (ogg_stream_flush_fill(&stream, &page, static_cast<int>(fill)) != 0) {
        out.append(reinterpret_cast<const char *>(page.header), page.header_len);
        out.append(reinterpret_cast<const char *>(page.body), page.body_len);
    }
}

} // namespace

QByteArray commentPacket(const QList<QByteArray> &comments, const QByteArray &vendor)
{
    QByteArray packet("\x03vorbis");
    appendLittleEndian32(packet, static_cast<quint32>(vendor.size()));
    packet.append(vendor);
    appendLittleEndian32(packet, static_cast<quint32>(comments.size()));
    for (const QByteArray &comment : comments) {
        appendLittleEndian32(packet, static_cast<quint32>(comment.size()));
        packet.append(comment);
    }
    packet.append('\x01');
    return packet;
}

QByteArray oggFile(const QByteArray &idHeader, const QByteArray &comments, const QByteArray &setupHeader,
                   const OggLayout &layout)
{
    QByteArray out;
    ogg_stream_state other;
    ogg_stream_state vorbis;
    ogg_stream_init(&other, 7);
    ogg_stream_init(&vorbis, 1234);
    if (!layout.leadingStream.isEmpty()) {
        ogg_packet packet = packetOf(layout.leadingStream, true, 0);
        ogg_stream_packetin(&other, &packet);
        appendPages(out, other, layout.pageFill);
    }
    ogg_packet id = packetOf(idHeader, true, 0);
    ogg_stream_packetin(&vorbis, &id);
    appendPages(out, vorbis, layout.pageFill);
    ogg_packet comment = packetOf(comments, false, 1);
    ogg_stream_packetin(&vorbis, &comment);
    ogg_packet setup = packetOf(setupHeader, false, 2);
    ogg_stream_packetin(&vorbis, &setup);
    appendPages(out, vorbis, layout.pageFill);
    ogg_stream_clear(&other);
    ogg_stream_clear(&vorbis);
    if (layout.truncateAt >= 0)
        out.truncate(layout.truncateAt);
    return out;
}

QList<QByteArray> headerPackets(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char *buffer = ogg_sync_buffer(&sync, bytes.size());
    memcpy(buffer, bytes.constData(), bytes.size());
    ogg_sync_wrote(&sync, bytes.size());
    ogg_stream_state stream;
    bool streamStarted = false;
    QList<QByteArray> packets;
    ogg_page page;
    while (packets.size() < 3 && ogg_sync_pageout(&sync, &page) == 1) {
        if (!streamStarted) {
            ogg_stream_init(&stream, ogg_page_serialno(&page));
            streamStarted = true;
        }
        ogg_stream_pagein(&stream, &page);
        ogg_packet packet;
        while (packets.size() < 3 && ogg_stream_packetout(&stream, &packet) == 1)
            packets.append(QByteArray(reinterpret_cast<const char *>(packet.packet), packet.bytes));
    }
    if (streamStarted)
        ogg_stream_clear(&stream);
    ogg_sync_clear(&sync);
    return packets.size() == 3 ? packets : QList<QByteArray>();
}

bool writeFile(const QString &fileName, const QByteArray &bytes)
{
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}
