#pragma once

#include <QByteArray>
#include <QtGlobal>

// One fixed-size stream packet; times are in samples per channel.
struct WmaLosslessPacket {
    QByteArray data;
    qint64 pts = 0;
    qint64 duration = 0;
};
