#pragma once

#include "iaudiofile2.h"
#include "messageerror.h"

#include <QString>

#include <memory>
#include <vector>

// A failure of the audio component; what() is the component's message (UTF-8).
class AudioFileError : public MessageError {
public:
    using MessageError::MessageError;
};

// The program's handle on one audio component instance: every failed call
// raises AudioFileError carrying the component's message.
class TAudioFile2 {
public:
    TAudioFile2(); // the FFmpeg component
    explicit TAudioFile2(std::unique_ptr<IAudioFile2> impl);
    ~TAudioFile2();
    TAudioFile2(const TAudioFile2 &) = delete;
    TAudioFile2 &operator=(const TAudioFile2 &) = delete;

    void Open(const QString &path, int mode, int flags);
    void Close();
    bool IsOpen() const;
    int SampleCount() const;
    int SampleRate() const;
    int Channels() const;
    int DurationMs() const;
    int SourceFormatA() const;
    int SourceFormatB() const;
    std::vector<float> ReadSamples(int count);
    void SetWmaProfile(int profileNumber);
    void SetSourceFormat(int a, int b);
    void CreateOutput(const QString &path, int flags);
    void WriteSamples(const std::vector<float> &samples);
    void SetActive(bool active);

private:
    std::unique_ptr<IAudioFile2> m_impl;
};

// Upper bound of a sample array as the callers count it: size - 1, -1 when empty.
inline int upperBound(const std::vector<float> &samples)
{
    return static_cast<int>(samples.size()) - 1;
}
