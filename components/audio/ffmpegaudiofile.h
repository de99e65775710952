#pragma once

#include "audioreader.h"
#include "audiowriter.h"
#include "iaudiofile2.h"

// IAudioFile2 on FFmpeg. An instance is used either as a reader (Open,
// ReadSamples) or as a writer (SetWmaProfile … WriteSamples); it holds both
// halves so the program can treat its two instances alike.
class FfmpegAudioFile : public IAudioFile2 {
public:
    FfmpegAudioFile();
    AudioStatus Open(const QString &path, int mode, int flags) override;
    AudioStatus Close() override;
    bool IsOpen() const override;
    int SampleCount() const override;
    int SampleRate() const override;
    int Channels() const override;
    int DurationMs() const override;
    int SourceFormatA() const override;
    int SourceFormatB() const override;
    AudioStatus ReadSamples(int count, std::vector<float> &samples) override;
    AudioStatus SetWmaProfile(int profileNumber) override;
    AudioStatus SetSourceFormat(int sampleRate, int channels) override;
    AudioStatus CreateOutput(const QString &path, int flags) override;
    AudioStatus WriteSamples(const std::vector<float> &samples) override;
    AudioStatus SetActive(bool active) override;

    const AudioReader &reader() const { return m_reader; }
    const AudioWriter &writer() const { return m_writer; }

private:
    AudioReader m_reader;
    AudioWriter m_writer;
};
