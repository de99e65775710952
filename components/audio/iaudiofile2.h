#pragma once

#include <QString>

#include <memory>
#include <vector>

// Result of one audio component call: the component reports failures as
// values; TAudioFile2 turns them into exceptions for the program.
struct AudioStatus {
    bool ok = true;
    QString message;

    static AudioStatus success() { return {}; }
    static AudioStatus failure(QString text) { return {false, std::move(text)}; }
};

// The audio file component. One instance either reads a source (Open,
// ReadSamples) or writes an output (SetWmaProfile, SetSourceFormat,
// CreateOutput, WriteSamples). Samples are interleaved 32-bit float.
class IAudioFile2 {
public:
    virtual ~IAudioFile2() = default;

    virtual AudioStatus Open(const QString &path, int mode, int flags) = 0;
    virtual AudioStatus Close() = 0;
    virtual bool IsOpen() const = 0;

    // Describe the open source; 0 when nothing is open.
    virtual int SampleCount() const = 0; // frames that ReadSamples will deliver
    virtual int SampleRate() const = 0;  // Hz
    virtual int Channels() const = 0;
    virtual int DurationMs() const = 0;    // 0: not supported
    virtual int SourceFormatA() const = 0; // sample rate in Hz
    virtual int SourceFormatB() const = 0; // channel count

    // The next `count` frames, fewer at the end, empty when nothing is left.
    virtual AudioStatus ReadSamples(int count, std::vector<float> &samples) = 0;

    virtual AudioStatus SetWmaProfile(int profileNumber) = 0;
    virtual AudioStatus SetSourceFormat(int sampleRate, int channels) = 0;
    virtual AudioStatus CreateOutput(const QString &path, int flags) = 0;
    virtual AudioStatus WriteSamples(const std::vector<float> &samples) = 0;

    // false closes the file and releases decoder or encoder; true readies it.
    virtual AudioStatus SetActive(bool active) = 0;
};

// The FFmpeg-backed implementation.
std::unique_ptr<IAudioFile2> createAudioFile();
