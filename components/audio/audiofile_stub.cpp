// Temporary stand-in until the FFmpeg component lands: every call fails.
#include "iaudiofile2.h"

namespace {
class UnavailableAudioFile : public IAudioFile2 {
    AudioStatus Open(const QString &, int, int) override { return AudioStatus::failure("no audio component"); }
    AudioStatus Close() override { return {}; }
    bool IsOpen() const override { return false; }
    int SampleCount() const override { return 0; }
    int SampleRate() const override { return 0; }
    int Channels() const override { return 0; }
    int DurationMs() const override { return 0; }
    int SourceFormatA() const override { return 0; }
    int SourceFormatB() const override { return 0; }
    AudioStatus ReadSamples(int, std::vector<float> &) override { return AudioStatus::failure("no audio component"); }
    AudioStatus SetWmaProfile(int) override { return {}; }
    AudioStatus SetSourceFormat(int, int) override { return {}; }
    AudioStatus CreateOutput(const QString &, int) override { return AudioStatus::failure("no audio component"); }
    AudioStatus WriteSamples(const std::vector<float> &) override { return AudioStatus::failure("no audio component"); }
    AudioStatus SetActive(bool) override { return {}; }
};
} // namespace

std::unique_ptr<IAudioFile2> createAudioFile() { return std::make_unique<UnavailableAudioFile>(); }
