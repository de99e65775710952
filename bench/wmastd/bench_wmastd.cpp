// Our standard WMA encoder against libavcodec's wmav2 at every CBR profile:
// file bit rate, lag, mean NMR and bandwidth (../shared/tools/nmr.py) on real
// recordings and a music-like synthetic signal, GStreamer's decoded length
// and lag, and encoding speed on one core, interleaved with the peer.
// `--levels`: level, peak and dropouts on generated stress signals instead.
#include "../benchtools.h"

#include "audiowriter.h"
#include "wmaprofiles.h"
#include "wmastdencoder.h"
#include "wmastdoutputencoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

const char *const kNmrTool = SONBREL_SOURCE_DIR "/../shared/tools/nmr.py";
QString keepDir; // --keep DIR: the references and decodes stay there for a closer look

struct Audio {
    int rate = 0;
    int channels = 0;
    std::vector<float> samples; // interleaved
    double seconds() const { return double(samples.size()) / channels / rate; }
};

QByteArray runCapture(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(-1);
    return process.exitCode() == 0 ? process.readAllStandardOutput() : QByteArray();
}

// Any file ffmpeg reads, as float at a given rate and channel count.
bool readAudio(const QString &path, int rate, int channels, Audio &out, double start = 0, double seconds = 0)
{
    QStringList args{"-v", "error"};
    if (start > 0)
        args << "-ss" << QString::number(start);
    if (seconds > 0)
        args << "-t" << QString::number(seconds);
    args << "-i" << path << "-f"
         << "f32le"
         << "-ar" << QString::number(rate) << "-ac" << QString::number(channels) << "-";
    const QByteArray raw = runCapture("ffmpeg", args);
    out.rate = rate;
    out.channels = channels;
    out.samples.resize(size_t(raw.size()) / sizeof(float));
    std::memcpy(out.samples.data(), raw.constData(), out.samples.size() * sizeof(float));
    return !out.samples.empty();
}

bool writeWav(const QString &path, const Audio &a)
{
    QFile raw(path + ".f32");
    if (!raw.open(QIODevice::WriteOnly))
        return false;
    raw.write(reinterpret_cast<const char *>(a.samples.data()), qint64(a.samples.size() * sizeof(float)));
    raw.close();
    const bool ok = bench::runTool("ffmpeg", {"-v", "error", "-y", "-f", "f32le", "-ar",
                                              QString::number(a.rate), "-ac", QString::number(a.channels),
                                              "-i", raw.fileName(), "-c:a", "pcm_f32le", path});
    QFile::remove(raw.fileName());
    return ok;
}

// Notes with harmonics and decay, a bass line, hi-hat-like noise bursts and
// a little reverb-like stereo spread: dense enough to need masking.
Audio syntheticMusic(double seconds)
{
    Audio a{44100, 2, {}};
    const int frames = int(seconds * a.rate);
    a.samples.resize(size_t(frames) * 2);
    const double pi = std::numbers::pi;
    uint32_t seed = 7;
    const int scale[] = {0, 2, 4, 7, 9, 12, 14, 16};
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / a.rate;
        const int beat = int(t * 4);
        const double inBeat = t * 4 - beat;
        const double f = 261.63 * std::pow(2.0, scale[(beat * 5) % 8] / 12.0);
        double melody = 0;
        for (int h = 1; h <= 10; ++h)
            melody += std::sin(2 * pi * f * h * t + h) / (h * h * 0.5 + 0.5);
        melody *= 0.25 * std::exp(-inBeat * 3);
        const double bass = 0.3 * std::sin(2 * pi * 55.0 * std::pow(2.0, (beat / 4 % 4) / 12.0) * t);
        seed = seed * 1664525u + 1013904223u;
        const double noise = (double(seed >> 8) / double(1u << 24) - 0.5);
        const double hat = (beat % 2 ? 0.15 : 0.05) * noise * std::exp(-std::fmod(t * 8, 1.0) * 25);
        a.samples[size_t(i) * 2] = float(melody * 0.8 + bass + hat);
        a.samples[size_t(i) * 2 + 1] = float(melody * 0.6 + bass + hat * 0.7 + 0.02 * noise);
    }
    return a;
}

struct Quality {
    double nmr = NAN;
    double bandwidth = NAN;
    int lag = 0;
    double kbps = NAN;
};

Quality judge(const QString &reference, const QString &encoded, double seconds)
{
    Quality q;
    const QString decoded = encoded + ".wav";
    if (!bench::runTool("ffmpeg", {"-v", "error", "-y", "-i", encoded, "-c:a", "pcm_f32le", decoded}))
        return q;
    const QJsonObject o =
        QJsonDocument::fromJson(runCapture(kNmrTool, {reference, decoded, "--json"})).object();
    q.nmr = o.value("nmr_total_db").toDouble(NAN);
    q.bandwidth = o.value("bandwidth_decoded_hz").toDouble(NAN);
    q.lag = o.value("lag_samples").toInt();
    q.kbps = double(QFileInfo(encoded).size()) * 8 / seconds / 1000;
    if (!keepDir.isEmpty()) {
        QFile::remove(keepDir + "/" + QFileInfo(decoded).fileName());
        QFile::copy(decoded, keepDir + "/" + QFileInfo(decoded).fileName());
        QFile::remove(keepDir + "/" + QFileInfo(reference).fileName());
        QFile::copy(reference, keepDir + "/" + QFileInfo(reference).fileName());
    }
    QFile::remove(decoded);
    return q;
}

// GStreamer's decode played by its time stamps (audiorate) and plain:
// "length/lag by stamps, lag plain" against the reference.
QString gstreamerCheck(const QString &reference, const QString &encoded, int rate, int channels)
{
    QString result;
    for (const bool byStamps : {true, false}) {
        const QString decoded = encoded + ".gst.wav";
        QStringList pipeline{"-q",        "filesrc", "location=" + encoded, "!",
                             "decodebin", "!",       "audioconvert",        "!"};
        if (byStamps)
            pipeline << "audiorate"
                     << "!";
        pipeline << QStringLiteral("audio/x-raw,format=F32LE,layout=interleaved,rate=%1,channels=%2")
                        .arg(rate)
                        .arg(channels)
                 << "!"
                 << "wavenc"
                 << "!"
                 << "filesink"
                 << "location=" + decoded;
        if (!bench::runTool("gst-launch-1.0", pipeline))
            return "fails";
        Audio a;
        readAudio(decoded, rate, channels, a);
        const QJsonObject o =
            QJsonDocument::fromJson(runCapture(kNmrTool, {reference, decoded, "--json"})).object();
        QFile::remove(decoded);
        const int lag = o.value("lag_samples").toInt();
        result += byStamps ? QStringLiteral("%1/%2").arg(a.samples.size() / size_t(channels)).arg(lag)
                           : QStringLiteral(", plain %1").arg(lag);
    }
    return result;
}

bool encodeOurs(const Audio &a, int profile, const QString &path)
{
    AudioWriter writer;
    if (!writer.setProfile(profile).ok || !writer.setSourceFormat(a.rate, a.channels).ok ||
        !writer.create(path).ok)
        return false;
    const size_t chunk = 4096 * size_t(a.channels);
    for (size_t pos = 0; pos < a.samples.size(); pos += chunk) {
        std::vector<float> piece(a.samples.begin() + std::ptrdiff_t(pos),
                                 a.samples.begin() + std::ptrdiff_t(std::min(a.samples.size(), pos + chunk)));
        if (!writer.write(piece).ok)
            return false;
    }
    return writer.close().ok;
}

// libavcodec's wmav2 encoder over the whole signal, packets thrown away.
void encodeWithLibavcodec(const Audio &a)
{
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    ctx->sample_rate = a.rate;
    av_channel_layout_default(&ctx->ch_layout, a.channels);
    ctx->bit_rate = 128000;
    if (avcodec_open2(ctx, codec, nullptr) < 0) {
        avcodec_free_context(&ctx);
        return;
    }
    AVFrame *frame = av_frame_alloc();
    AVPacket *packet = av_packet_alloc();
    const size_t step = size_t(ctx->frame_size);
    const size_t frames = a.samples.size() / size_t(a.channels);
    for (size_t pos = 0; pos <= frames; pos += step) {
        const bool last = pos + step > frames;
        if (!last) {
            frame->format = ctx->sample_fmt;
            frame->nb_samples = ctx->frame_size;
            av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
            av_frame_get_buffer(frame, 0);
            for (int c = 0; c < a.channels; ++c) {
                auto *plane = reinterpret_cast<float *>(frame->extended_data[c]);
                for (size_t i = 0; i < step; ++i)
                    plane[i] = a.samples[(pos + i) * size_t(a.channels) + size_t(c)];
            }
        }
        avcodec_send_frame(ctx, last ? nullptr : frame);
        av_frame_unref(frame);
        while (avcodec_receive_packet(ctx, packet) == 0)
            av_packet_unref(packet);
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
}

// Seconds of audio per second of one core, ours and libavcodec's, interleaved runs, medians.
void speed(const Audio &a, int runs)
{
    std::vector<double> ours, peer;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer timer;
        timer.start();
        const auto encoder = WmaStdEncoder::create(wmaStdParams({44100, 2, 128000, 0})).encoder;
        for (size_t pos = 0; pos < a.samples.size(); pos += 8192)
            encoder->encode(a.samples.data() + pos, int(std::min<size_t>(8192, a.samples.size() - pos) / 2));
        encoder->flush();
        ours.push_back(a.seconds() / (double(timer.nsecsElapsed()) * 1e-9));

        timer.restart();
        encodeWithLibavcodec(a);
        peer.push_back(a.seconds() / (double(timer.nsecsElapsed()) * 1e-9));
    }
    std::sort(ours.begin(), ours.end());
    std::sort(peer.begin(), peer.end());
    std::printf("\nSpeed at 44.1 kHz stereo 128 kbps, one core, median of %d: ours %.0f x real time, "
                "libavcodec %.0f x\n",
                runs, ours[ours.size() / 2], peer[peer.size() / 2]);
}

// Generated stress signals at 44.1 kHz stereo: a loud mix clipped at full
// scale, the same mix unclipped at -1.5 dBFS, decaying bell-like partials,
// a -6 dBFS sweep 20 Hz - 20 kHz, castanet-like clicks over near silence
// and a voiced speech-like signal.
Audio stressSignal(const QString &kind, double seconds)
{
    Audio a{44100, 2, {}};
    const int frames = int(seconds * a.rate);
    a.samples.resize(size_t(frames) * 2);
    const Audio music = syntheticMusic(seconds);
    const double pi = std::numbers::pi;
    uint32_t seed = 5;
    const auto noise = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return double(seed >> 8) / double(1u << 24) - 0.5;
    };
    double phase = 0;
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / a.rate;
        double v = 0;
        if (kind == "clipped" || kind == "loud") {
            for (int c = 0; c < 2; ++c) {
                const double m = music.samples[size_t(i) * 2 + size_t(c)];
                a.samples[size_t(i) * 2 + size_t(c)] =
                    float(kind == "clipped" ? std::clamp(4 * m, -1.0, 1.0) : m * 0.84 / 0.75);
            }
            continue;
        }
        if (kind == "bells") {
            const double in = std::fmod(t, 0.5);
            const double f = 880 * std::pow(2.0, int(t * 2) % 7 / 12.0);
            for (double p : {1.0, 2.76, 5.40, 8.93})
                v += 0.55 / 2.6 * std::exp(-in * 4 * p) * std::sin(2 * pi * f * p * in);
        } else if (kind == "sweep") {
            phase += 2 * pi * 20 * std::pow(1000.0, t / seconds) / a.rate;
            v = 0.485 * std::sin(phase);
        } else if (kind == "castanets") {
            const double in = std::fmod(t, 0.25);
            v = (in < 0.03 ? 0.7 * noise() * std::exp(-in * 200) : 0.0) + 0.001 * noise();
        } else if (kind == "speech") {
            const double syllable = std::fmod(t, 0.2);
            const double envelope = syllable < 0.15 ? std::sin(pi * syllable / 0.15) : 0;
            const double f0 = 120 + 30 * std::sin(2 * pi * 0.7 * t);
            phase += 2 * pi * f0 / a.rate;
            for (int h = 1; h < 30; ++h)
                v += std::sin(h * phase) / h *
                     std::exp(-std::pow((h * f0 - 700 - 300 * std::sin(t * 5)) / 600, 2));
            v = 0.3 * envelope * v + 0.003 * noise();
        }
        a.samples[size_t(i) * 2] = a.samples[size_t(i) * 2 + 1] = float(v);
    }
    return a;
}

Audio mono(const Audio &stereo)
{
    Audio m{stereo.rate, 1, std::vector<float>(stereo.samples.size() / 2)};
    for (size_t i = 0; i < m.samples.size(); ++i)
        m.samples[i] = 0.5f * (stereo.samples[2 * i] + stereo.samples[2 * i + 1]);
    return m;
}

double energyDb(double energy)
{
    return 10 * std::log10(energy + 1e-30);
}

// Level and peak of a decode against its source: the mean level, the peak
// over the source's, 100 ms windows (source above -40 dBFS) off by more
// than 0.5 and 3 dB, jumps of more than 2 dB between neighbouring windows'
// errors, and 20 ms blocks decoded below -80 dBFS where the source is above -40.
QString levelReport(const Audio &source, const Audio &decoded)
{
    const int ch = source.channels;
    const size_t frames = std::min(source.samples.size(), decoded.samples.size()) / size_t(ch);
    const auto energy = [&](const Audio &a, size_t from, size_t count) {
        double e = 0;
        for (size_t i = from * size_t(ch); i < (from + count) * size_t(ch); ++i)
            e += double(a.samples[i]) * a.samples[i];
        return e / double(count * size_t(ch));
    };
    float sourcePeak = 0, decodedPeak = 0;
    for (size_t i = 0; i < frames * size_t(ch); ++i) {
        sourcePeak = std::max(sourcePeak, std::abs(source.samples[i]));
        decodedPeak = std::max(decodedPeak, std::abs(decoded.samples[i]));
    }
    const size_t window = size_t(source.rate / 10), block = size_t(source.rate / 50);
    int windows = 0, offHalf = 0, offThree = 0, jumps = 0, silent = 0;
    double previous = 0;
    for (size_t w = 0; w + window <= frames; w += window) {
        const double s = energy(source, w, window);
        if (energyDb(s) < -40)
            continue;
        const double error = energyDb(energy(decoded, w, window)) - energyDb(s);
        offHalf += std::abs(error) > 0.5;
        offThree += std::abs(error) > 3;
        jumps += windows > 0 && std::abs(error - previous) > 2;
        previous = error;
        ++windows;
    }
    for (size_t b = 0; b + block <= frames; b += block)
        silent += energyDb(energy(source, b, block)) > -40 && energyDb(energy(decoded, b, block)) < -80;
    return QStringLiteral("%1 %2 %3/%4 %5 %6 %7")
        .arg(energyDb(energy(decoded, 0, frames)) - energyDb(energy(source, 0, frames)), 6, 'f', 2)
        .arg(20 * std::log10(decodedPeak / sourcePeak), 6, 'f', 2)
        .arg(offHalf, 3)
        .arg(windows, 3)
        .arg(offThree, 3)
        .arg(jumps, 3)
        .arg(silent, 3);
}

// The level table: every profile asked for, every stress signal, through the writer and ffmpeg's decoder.
void levels(const std::vector<int> &profiles, double seconds)
{
    const QStringList kinds{"clipped", "loud", "bells", "sweep", "castanets", "speech"};
    std::printf("Level in dB, peak over the source's in dB, 100 ms windows off > 0.5 dB / counted, "
                "> 3 dB, jumps > 2 dB, 20 ms blocks decoded silent\n%-34s",
                "profile");
    for (const QString &k : kinds)
        std::printf(" | %-31s", qPrintable(k));
    std::printf("\n");
    QTemporaryDir dir;
    std::vector<Audio> sources;
    for (const QString &k : kinds)
        sources.push_back(stressSignal(k, seconds));
    for (int number : profiles) {
        const WmaProfile &p = *wmaProfileByNumber(number);
        std::printf("%2d %-31s", number, p.text);
        for (size_t k = 0; k < sources.size(); ++k) {
            const QString folder = keepDir.isEmpty() ? dir.path() : keepDir;
            const QString srcPath = folder + QStringLiteral("/stress%1.wav").arg(k);
            if (!keepDir.isEmpty() || !QFile::exists(srcPath))
                writeWav(srcPath, sources[k]);
            Audio ref, decoded;
            readAudio(srcPath, p.sampleRate, 2, ref);
            if (p.channels ==
                1) // the mean of the sides, as the converter mixes them (ffmpeg's own lifts by 3 dB)
                ref = mono(ref);
            const QString path = folder + QStringLiteral("/stress%1-%2.wma").arg(number).arg(k);
            QString report = "fails";
            if (encodeOurs(ref, number, path) && readAudio(path, p.sampleRate, p.channels, decoded))
                report = levelReport(ref, decoded);
            if (keepDir.isEmpty())
                QFile::remove(path);
            std::printf(" | %-31s", qPrintable(report));
        }
        std::printf("\n");
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    double seconds = 30;
    bool peer = true;
    bool quick = false; // NMR only: no GStreamer check, no minute-long rate check
    bool synthetic = true;
    bool levelsOnly = false; // the level table of the generated stress signals instead
    QStringList recordings;
    std::vector<int> profiles;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--seconds" && i + 1 < args.size())
            seconds = args[++i].toDouble();
        else if (args[i] == "--recording" && i + 1 < args.size())
            recordings << args[++i];
        else if (args[i] == "--profiles" && i + 1 < args.size())
            for (const QString &n : args[++i].split(','))
                profiles.push_back(n.toInt());
        else if (args[i] == "--no-peer")
            peer = false;
        else if (args[i] == "--quick")
            quick = true;
        else if (args[i] == "--keep" && i + 1 < args.size())
            keepDir = args[++i];
        else if (args[i] == "--no-synthetic")
            synthetic = false;
        else if (args[i] == "--speed-only")
            profiles.push_back(0);
        else if (args[i] == "--levels")
            levelsOnly = true;
    }
    if (recordings.isEmpty()) // Debian's drascula-music: orchestral and band game music
        for (const char *track : {"track2.ogg", "track23.ogg"})
            if (QFile::exists(QStringLiteral("/usr/share/scummvm/drascula/audio/") + track))
                recordings << QStringLiteral("/usr/share/scummvm/drascula/audio/") + track;
    if (profiles.empty())
        for (int n = 1; n <= kWmaProfileCount; ++n)
            if (wmaProfileByNumber(n)->rateControl != WmaProfile::RateControl::Lossless)
                profiles.push_back(n);

    if (levelsOnly) {
        levels(profiles, std::min(seconds, 10.0));
        return 0;
    }
    if (profiles == std::vector<int>{0}) {
        speed(syntheticMusic(seconds), 5);
        return 0;
    }
    QTemporaryDir dir;
    std::vector<Audio> sources;
    QStringList names;
    for (const QString &r : recordings) {
        Audio a;
        if (readAudio(r, 44100, 2, a, 20, seconds)) {
            sources.push_back(std::move(a));
            names << QFileInfo(r).baseName();
        }
    }
    if (synthetic || sources.empty()) {
        sources.push_back(syntheticMusic(seconds));
        names << "synthetic";
    }

    std::printf("Sources (%.0f s each): %s\n", seconds, qPrintable(names.join(", ")));
    std::printf("NMR in dB (lower is better), bandwidth in kHz, file rate in kbps; ours | libavcodec\n\n");
    std::printf("%-34s", "profile");
    for (const QString &n : names)
        std::printf(" | %-10.10s kbps  dev%%  lag   NMR  bw  | lavc NMR   bw ", qPrintable(n));
    std::printf(" | 60 s kbps  dev%% | GStreamer length/lag by stamps, lag plain\n");
    Audio minute;
    readAudio(recordings.isEmpty() ? QString() : recordings.first(), 44100, 2, minute, 20, 60);
    if (minute.samples.empty())
        minute = syntheticMusic(60);
    const QString minutePath = dir.filePath("minute.wav");
    writeWav(minutePath, minute);
    for (int number : profiles) {
        const WmaProfile &p = *wmaProfileByNumber(number);
        std::printf("%2d %-31s", number, p.text);
        QString gst;
        for (size_t s = 0; s < sources.size(); ++s) {
            Audio ref;
            const QString refPath = dir.filePath(QStringLiteral("ref%1-%2.wav").arg(number).arg(s));
            const QString srcPath = dir.filePath(QStringLiteral("src%1.wav").arg(s));
            if (!QFile::exists(srcPath))
                writeWav(srcPath, sources[s]);
            readAudio(srcPath, p.sampleRate, p.channels, ref);
            writeWav(refPath, ref);
            const QString ours = dir.filePath(QStringLiteral("ours%1-%2.wma").arg(number).arg(s));
            Quality q;
            if (encodeOurs(ref, number, ours))
                q = judge(refPath, ours, ref.seconds());
            Quality l;
            const QString theirs = dir.filePath(QStringLiteral("lavc%1-%2.wma").arg(number).arg(s));
            if (peer && p.bitRateKbps > 0 &&
                bench::runTool("ffmpeg", {"-v", "quiet", "-y", "-i", refPath, "-c:a", "wmav2", "-b:a",
                                          QString::number(p.bitRateKbps * 1000), theirs}))
                l = judge(refPath, theirs, ref.seconds());
            std::printf(" | %-10s %5.1f %5.1f %4d %5.1f %4.1f | %5.1f %4.1f ", "", q.kbps,
                        p.bitRateKbps > 0 ? (q.kbps / p.bitRateKbps - 1) * 100 : NAN, q.lag, q.nmr,
                        q.bandwidth / 1000, l.nmr, l.bandwidth / 1000);
            if (s == 0 && !quick)
                gst = gstreamerCheck(refPath, ours, p.sampleRate, p.channels) +
                      QStringLiteral(" of %1").arg(ref.samples.size() / size_t(p.channels));
            QFile::remove(ours);
            QFile::remove(theirs);
            QFile::remove(refPath);
        }
        // The bit rate over a minute, as a player computes it from the file's size.
        Audio m;
        readAudio(minutePath, p.sampleRate, p.channels, m);
        const QString minuteOut = dir.filePath(QStringLiteral("minute%1.wma").arg(number));
        double kbps = NAN;
        if (!quick && encodeOurs(m, number, minuteOut))
            kbps = double(QFileInfo(minuteOut).size()) * 8 / m.seconds() / 1000;
        QFile::remove(minuteOut);
        // A constant-quality profile has no nominal rate: the deviation column stays empty.
        std::printf(" | %6.2f %+5.1f%% | %s\n", kbps,
                    p.bitRateKbps > 0 ? (kbps / p.bitRateKbps - 1) * 100 : NAN, qPrintable(gst));
        std::fflush(stdout);
    }
    if (!quick)
        speed(sources.back(), 5);
    return 0;
}
