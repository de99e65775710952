#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// Command-line helpers for the audio tests: make sources with ffmpeg or sox
// and inspect outputs with ffprobe and ffmpeg, independently of our code.
namespace AudioTestTools {

bool run(const QString &program, const QStringList &args, QByteArray *out = nullptr);

// A test tone: a chirp under a little noise, so cross-correlation has one peak;
// or `sine` (ffmpeg's sine source options, such as "f=440:b=3" for beeps).
bool makeSource(const QString &path, double seconds, int rate, int channels,
                const QStringList &codecArgs = {}, const QString &sine = {});

struct Probe {
    int sampleRate = 0;
    int channels = 0;
    QString codec;
    double duration = 0;  // seconds, as the container states it
    double startTime = 0; // seconds; what "-ss" counts from
    qint64 size = 0;
    QStringList tags;
};
Probe probe(const QString &path);
// Seconds: the time ffmpeg gives the first sample it decodes (a stream that
// starts with a decoder's lead-in times its first sample after zero).
double firstSampleTime(const QString &path);

// Decoded by ffmpeg as interleaved float at the stream's own rate and channels.
std::vector<float> decode(const QString &path, int channels = 0);
// `seconds` decoded from `from` on, the way "ffmpeg -ss FROM -i PATH -t SECONDS" seeks.
std::vector<float> decodeSpan(const QString &path, double from, double seconds);

// The lag (in frames) of `b` against `a` within ±maxLag at which the first
// channel correlates best.
int bestLag(const std::vector<float> &a, int channelsA, const std::vector<float> &b, int channelsB,
            int maxLag, int window);

} // namespace AudioTestTools
