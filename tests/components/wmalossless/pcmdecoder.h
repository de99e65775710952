#pragma once

#include <QString>
#include <QVector>

// What libavformat and libavcodec make of a file: interleaved 16-bit samples.
struct DecodedAudio {
    bool ok = false;
    QString error;
    QString codecName;
    int sampleRate = 0;
    int channels = 0;
    double durationSeconds = 0;
    double firstSeconds = -1; // time stamp of the first decoded frame

    QVector<qint16> samples;
};

// With seekSeconds >= 0 the demuxer seeks there first and the decoder resumes where it can.
DecodedAudio decodeWithLibav(const QString &path, double seekSeconds = -1);
