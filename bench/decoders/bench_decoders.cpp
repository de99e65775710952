// Does another decoder play our files as FFmpeg does? Every lossy profile
// (or --profiles 10,15) codes a source (--source FILE, or a generated one
// with notes, a silent channel, silence, loud noise with clicks and a quiet
// passage); FFmpeg and the decoder under test (--decoder "PROGRAM ARGS", or
// SONBREL_DECODER; it is run as PROGRAM ARGS IN.wma OUT.wav and must write
// a float or 16-bit WAV) decode it, and the table gives the agreement (SNR
// at the best lag and polarity), the samples each played, and the exit code.
// The decoder itself is never built here.
#include "audiowriter.h"
#include "wmaprofiles.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <vector>

namespace {

// Any file ffmpeg reads, as interleaved float.
std::vector<float> decodeWithFfmpeg(const QString &path, int channels)
{
    QProcess p;
    p.start("ffmpeg", {"-v", "error", "-i", path, "-ac", QString::number(channels), "-f", "f32le", "-"});
    p.waitForFinished(-1);
    const QByteArray raw = p.readAllStandardOutput();
    std::vector<float> out(static_cast<size_t>(raw.size()) / sizeof(float));
    std::memcpy(out.data(), raw.constData(), out.size() * sizeof(float));
    return out;
}

std::vector<float> generated(int rate, int channels, double seconds)
{
    const auto frames = static_cast<size_t>(seconds * rate);
    std::vector<float> s(frames * static_cast<size_t>(channels));
    uint32_t noise = 1;
    for (size_t i = 0; i < frames; ++i) {
        const double t = std::fmod(double(i) / rate, 6.0);
        noise = noise * 1664525u + 1013904223u;
        const double white = double(int32_t(noise)) / 2147483648.0;
        for (int c = 0; c < channels; ++c) {
            double v = 0;
            if (t < 1.5)
                v = 0.4 * std::exp(-4 * std::fmod(t, 0.25)) *
                    std::sin(2 * std::numbers::pi * (220 + 110 * c + 55 * std::floor(t * 4)) * t);
            else if (t < 2.5)
                v = c == 0 ? 0.5 * std::sin(2 * std::numbers::pi * 440 * t) : 0.0;
            else if (t >= 3.0 && t < 4.5)
                v = 0.6 * white + (std::fmod(t, 0.2) < 0.002 ? 0.35 : 0.0);
            else if (t >= 4.5)
                v = 0.003 * std::sin(2 * std::numbers::pi * 1000 * t) + 0.0005 * white;
            s[i * static_cast<size_t>(channels) + static_cast<size_t>(c)] = float(v);
        }
    }
    return s;
}

struct Agreement {
    double snr = -999;
    int lag = 0;
    int polarity = 1;
};

// The lag and polarity from a stretch after the start, the SNR over the whole overlap.
Agreement agreement(const std::vector<float> &ref, const std::vector<float> &test, int channels, int maxLag)
{
    const auto n = static_cast<int64_t>(ref.size() / static_cast<size_t>(channels));
    const auto m = static_cast<int64_t>(test.size() / static_cast<size_t>(channels));
    const auto snrAt = [&](int lag, int sign, int64_t from, int64_t to) {
        double s = 0, e = 0;
        for (int64_t i = std::max<int64_t>(from, -lag); i < to && i + lag < m; ++i)
            for (int c = 0; c < channels; ++c) {
                const double r = ref[static_cast<size_t>(i * channels + c)];
                const double t = sign * test[static_cast<size_t>((i + lag) * channels + c)];
                s += r * r;
                e += (r - t) * (r - t);
            }
        return 10 * std::log10((s + 1e-30) / (e + 1e-30));
    };
    Agreement best;
    const int64_t from = std::min<int64_t>(n / 4, 16384), to = std::min<int64_t>(n, from + 16384);
    for (int sign : {1, -1})
        for (int lag = -maxLag; lag <= maxLag; ++lag)
            if (const double snr = snrAt(lag, sign, from, to); snr > best.snr)
                best = {snr, lag, sign};
    best.snr = snrAt(best.lag, best.polarity, 0, n);
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList decoder = QString::fromLocal8Bit(qgetenv("SONBREL_DECODER")).split(' ', Qt::SkipEmptyParts);
    QString sourcePath;
    QList<int> positions;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--decoder" && i + 1 < args.size())
            decoder = args[++i].split(' ', Qt::SkipEmptyParts);
        else if (args[i] == "--source" && i + 1 < args.size())
            sourcePath = args[++i];
        else if (args[i] == "--profiles" && i + 1 < args.size())
            for (const QString &p : args[++i].split(','))
                positions << p.toInt();
    }
    if (decoder.isEmpty()) {
        std::fprintf(stderr,
                     "usage: bench_decoders --decoder \"PROGRAM ARGS\" [--source FILE] [--profiles 9,14]\n"
                     "       (or SONBREL_DECODER); PROGRAM ARGS IN.wma OUT.wav must write a WAV\n");
        return 2;
    }
    if (positions.isEmpty())
        for (int p = 0; p < kWmaProfileCount; ++p)
            if (wmaProfiles()[static_cast<size_t>(p)].rateControl != WmaProfile::RateControl::Lossless)
                positions << p;
    QTemporaryDir dir;
    std::printf("%-40s %9s %7s %8s %9s %9s %5s\n", "profile", "snr_dB", "lag", "polarity", "ffmpeg", "tested",
                "exit");
    for (int position : positions) {
        const WmaProfile &profile = wmaProfiles()[static_cast<size_t>(position)];
        const QString wma = dir.filePath(QStringLiteral("p%1.wma").arg(position));
        const QString wav = dir.filePath(QStringLiteral("p%1.wav").arg(position));
        AudioWriter writer;
        std::vector<float> source = sourcePath.isEmpty()
                                        ? generated(profile.sampleRate, profile.channels, 12.0)
                                        : std::vector<float>{};
        int sourceRate = profile.sampleRate;
        if (!sourcePath.isEmpty()) {
            source = decodeWithFfmpeg(sourcePath, profile.channels);
            QProcess probe; // the source's own rate: the writer resamples
            probe.start("ffprobe",
                        {"-v", "error", "-show_entries", "stream=sample_rate", "-of", "csv=p=0", sourcePath});
            probe.waitForFinished(-1);
            sourceRate = probe.readAllStandardOutput().trimmed().split('\n').value(0).toInt();
        }
        if (!writer.setProfile(position + 1).ok || !writer.setSourceFormat(sourceRate, profile.channels).ok ||
            !writer.create(wma).ok || !writer.write(source).ok || !writer.close().ok) {
            std::printf("%-40s conversion failed\n", profile.text);
            continue;
        }
        const std::vector<float> reference = decodeWithFfmpeg(wma, profile.channels);
        QProcess run;
        run.start(decoder.first(), decoder.mid(1) << wma << wav);
        run.waitForFinished(-1);
        const std::vector<float> tested = decodeWithFfmpeg(wav, profile.channels);
        const Agreement a = agreement(reference, tested, profile.channels, 4200);
        std::printf("%-40s %9.2f %7d %8d %9zu %9zu %5d\n", profile.text, a.snr, a.lag, a.polarity,
                    reference.size() / static_cast<size_t>(profile.channels),
                    tested.size() / static_cast<size_t>(profile.channels), run.exitCode());
        std::fflush(stdout);
    }
    return 0;
}
