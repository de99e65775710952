#pragma once

#include <QByteArray>
#include <QtGlobal>

// One stream packet; times are in samples per channel, and stand for the
// samples the decoder gives out once it has the packet.
struct WmaLosslessPacket {
    QByteArray data;
    qint64 pts = 0;
    qint64 duration = 0;
};
