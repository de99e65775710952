#include "audiotesttools.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <cstring>
#include <limits>

namespace AudioTestTools {

bool run(const QString &program, const QStringList &args, QByteArray *out)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForStarted())
        return false;
    process.closeWriteChannel();
    // QProcess keeps reading the output into its buffer while it waits.
    process.waitForFinished(-1);
    const QByteArray data = process.readAllStandardOutput();
    if (out)
        *out = data;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool makeSource(const QString &path, double seconds, int rate, int channels, const QStringList &codecArgs,
                const QString &sine)
{
    const QString tone =
        !sine.isEmpty() ? QStringLiteral("sine=%1:sample_rate=%2:d=%3").arg(sine).arg(rate).arg(seconds)
                        : QStringLiteral("aevalsrc=exprs='0.5*sin(2*PI*(200+400*t)*t)+0.05*(random(0)-0.5)':"
                                         "s=%1:d=%2")
                              .arg(rate)
                              .arg(seconds);
    QStringList args{"-v", "error", "-y", "-f", "lavfi", "-i", tone, "-ac", QString::number(channels)};
    args += codecArgs;
    args += path;
    return run(QStringLiteral("ffmpeg"), args);
}

Probe probe(const QString &path)
{
    QByteArray json;
    Probe result;
    if (!run(QStringLiteral("ffprobe"),
             {"-v", "error", "-print_format", "json", "-show_format", "-show_streams", path}, &json))
        return result;
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    const QJsonArray streams = root.value("streams").toArray();
    if (!streams.isEmpty()) {
        const QJsonObject stream = streams.first().toObject();
        result.sampleRate = stream.value("sample_rate").toString().toInt();
        result.channels = stream.value("channels").toInt();
        result.codec = stream.value("codec_name").toString();
        for (const QString &key : stream.value("tags").toObject().keys())
            result.tags << key;
    }
    const QJsonObject format = root.value("format").toObject();
    result.duration = format.value("duration").toString().toDouble();
    result.startTime = format.value("start_time").toString().toDouble();
    for (const QString &key : format.value("tags").toObject().keys())
        result.tags << key;
    result.size = QFileInfo(path).size();
    return result;
}

double firstSampleTime(const QString &path)
{
    QByteArray out;
    if (!run(QStringLiteral("ffprobe"),
             {"-v", "error", "-select_streams", "a:0", "-show_entries", "frame=best_effort_timestamp_time",
              "-of", "csv=p=0", path},
             &out))
        return std::numeric_limits<double>::quiet_NaN();
    return out.left(out.indexOf('\n')).trimmed().toDouble();
}

namespace {
std::vector<float> decodeWith(QStringList args)
{
    args << "-f"
         << "f32le"
         << "-";
    QByteArray raw;
    if (!run(QStringLiteral("ffmpeg"), args, &raw))
        return {};
    std::vector<float> samples(static_cast<size_t>(raw.size()) / sizeof(float));
    std::memcpy(samples.data(), raw.constData(), samples.size() * sizeof(float));
    return samples;
}
} // namespace

std::vector<float> decode(const QString &path, int channels)
{
    QStringList args{"-v", "error", "-i", path};
    if (channels > 0)
        args << "-ac" << QString::number(channels);
    return decodeWith(args);
}

std::vector<float> decodeSpan(const QString &path, double from, double seconds)
{
    return decodeWith(
        {"-v", "error", "-ss", QString::number(from), "-i", path, "-t", QString::number(seconds)});
}

int bestLag(const std::vector<float> &a, int channelsA, const std::vector<float> &b, int channelsB,
            int maxLag, int window)
{
    const auto framesA = static_cast<int>(a.size()) / channelsA;
    const auto framesB = static_cast<int>(b.size()) / channelsB;
    double best = -1e300;
    int bestAt = 0;
    for (int lag = -maxLag; lag <= maxLag; ++lag) {
        double sum = 0;
        for (int i = maxLag; i < maxLag + window; ++i) {
            const int j = i + lag;
            if (i >= framesA || j < 0 || j >= framesB)
                continue;
            sum +=
                double(a[static_cast<size_t>(i * channelsA)]) * double(b[static_cast<size_t>(j * channelsB)]);
        }
        if (sum > best) {
            best = sum;
            bestAt = lag;
        }
    }
    return bestAt;
}

} // namespace AudioTestTools
