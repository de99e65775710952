#pragma once

#include <QStringList>

#include <cstdint>
#include <vector>

// libavcodec's WMA decoder, the judge of our encoder: decodes packets as an
// ASF demuxer would hand them over and keeps every warning it logs.
struct DecodeResult {
    std::vector<float> samples; // interleaved
    QStringList messages;       // warnings and errors
    bool ok = false;
};

DecodeResult decodeWma(const std::vector<std::vector<uint8_t>> &packets,
                       const std::vector<uint8_t> &extradata, int sampleRate, int channels, int bitRate,
                       int blockAlign);
