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
    QVector<qint16> samples;
};

DecodedAudio decodeWithLibav(const QString &path);
