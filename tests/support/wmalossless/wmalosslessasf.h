#pragma once

#include "result.h"
#include "wmalosslesssettings.h"

#include <QString>
#include <QtGlobal>

struct AVCodecParameters;
struct AVFormatContext;
struct AVStream;
struct WmaLosslessPacket;
class WmaLosslessEncoder;

// ASF data packet size for a lossless stream: one stream packet per ASF
// packet, so the muxer neither splits nor pads them (its 3200-byte default
// would cost about 1% in headers, larger sizes waste the unfilled rest).
int wmaLosslessAsfPacketSize(int blockAlign);

// Sets codec id, tag 0x0163, rate, channels, extradata, block_align and bit rate.
bool setWmaLosslessCodecParameters(AVCodecParameters *par, const WmaLosslessEncoder &encoder);

// Writes one encoder packet, timestamps converted from samples to the stream's time base.
int writeWmaLosslessPacket(AVFormatContext *format, AVStream *stream, const WmaLosslessPacket &packet,
                           int sampleRate);

// Encodes interleaved 16-bit PCM into a complete ASF file at `path`.
Result<> writeWmaLosslessAsf(const QString &path, const qint16 *interleaved, qint64 frames, int sampleRate,
                             int channels, const WmaLosslessSettings &settings = WmaLosslessSettings());
