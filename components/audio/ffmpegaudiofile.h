#pragma once

#include "audioreader.h"
#include "audiowriter.h"
#include "iaudiofile2.h"
#include "writebehind.h"

#include <functional>
#include <memory>

class ReadAhead;

struct AudioFileOptions {
    // Decode ahead and encode behind on worker threads; off, every call does
    // its work before it returns. Either way callers see the same results.
    bool workerThreads = true;
    // Seams for tests: asked before each chunk is decoded or encoded (on the
    // worker when there is one); a failure stands for the codec's own.
    std::function<AudioStatus()> decodeFault;
    std::function<AudioStatus()> encodeFault;
};

// IAudioFile2 on FFmpeg. An instance is used either as a reader (Open,
// ReadSamples) or as a writer (SetWmaProfile … WriteSamples); it holds both
// halves so the program can treat its two instances alike.
class FfmpegAudioFile : public IAudioFile2 {
public:
    explicit FfmpegAudioFile(AudioFileOptions options = {});
    ~FfmpegAudioFile() override;
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

    // For tests: safe once reading has ended.
    const AudioReader &reader() const { return m_reader; }

private:
    AudioStatus readChunk(int frames, std::vector<float> &samples);
    AudioStatus writeChunk(const std::vector<float> &samples);
    void closeReader();
    AudioStatus closeWriter();

    const AudioFileOptions m_options;
    AudioReader m_reader;
    AudioWriter m_writer;
    int m_writerChannels = 0;
    // Declared after what their workers use, so they stop first.
    std::unique_ptr<ReadAhead> m_readAhead;
    WriteBehind m_writeBehind;
};
