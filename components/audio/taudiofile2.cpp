#include "taudiofile2.h"

namespace {
void check(const AudioStatus &status)
{
    if (!status.ok)
        throw AudioFileError(status.message);
}
} // namespace

TAudioFile2::TAudioFile2() : m_impl(createAudioFile()) {}
TAudioFile2::TAudioFile2(std::unique_ptr<IAudioFile2> impl) : m_impl(std::move(impl)) {}
TAudioFile2::~TAudioFile2() = default;

void TAudioFile2::Open(const QString &path, int mode, int flags)
{
    check(m_impl->Open(path, mode, flags));
}
void TAudioFile2::Close()
{
    check(m_impl->Close());
}
bool TAudioFile2::IsOpen() const
{
    return m_impl->IsOpen();
}
int TAudioFile2::SampleCount() const
{
    return m_impl->SampleCount();
}
int TAudioFile2::SampleRate() const
{
    return m_impl->SampleRate();
}
int TAudioFile2::Channels() const
{
    return m_impl->Channels();
}
int TAudioFile2::DurationMs() const
{
    return m_impl->DurationMs();
}
int TAudioFile2::SourceFormatA() const
{
    return m_impl->SourceFormatA();
}
int TAudioFile2::SourceFormatB() const
{
    return m_impl->SourceFormatB();
}

std::vector<float> TAudioFile2::ReadSamples(int count)
{
    std::vector<float> samples;
    check(m_impl->ReadSamples(count, samples));
    return samples;
}

void TAudioFile2::SetWmaProfile(int profileNumber)
{
    check(m_impl->SetWmaProfile(profileNumber));
}
void TAudioFile2::SetSourceFormat(int a, int b)
{
    check(m_impl->SetSourceFormat(a, b));
}
void TAudioFile2::CreateOutput(const QString &path, int flags)
{
    check(m_impl->CreateOutput(path, flags));
}
void TAudioFile2::WriteSamples(const std::vector<float> &samples)
{
    check(m_impl->WriteSamples(samples));
}
void TAudioFile2::SetActive(bool active)
{
    check(m_impl->SetActive(active));
}
