// Feeds arbitrary bytes, under each source extension, to the audio reader:
// opening and reading to the stated end must never crash or overrun.
#include "ffmpegaudiofile.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QTemporaryDir dir;
    static const char *const kSuffixes[] = {"mp3", "wav", "wma", "ogg", "vox"};
    if (size < 1 || !dir.isValid())
        return 0;
    const QString path = dir.filePath(QStringLiteral("input.") + QLatin1String(kSuffixes[data[0] % 5]));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char *>(data + 1), static_cast<qint64>(size - 1));
    }
    FfmpegAudioFile audio;
    if (audio.Open(path, 0, 1).ok) {
        std::vector<float> samples;
        qint64 frames = 0;
        while (audio.ReadSamples(2034, samples).ok && !samples.empty())
            frames += static_cast<qint64>(samples.size()) / audio.Channels();
        if (frames != audio.SampleCount())
            __builtin_trap();
    }
    audio.Close();
    QFile::remove(path);
    return 0;
}
