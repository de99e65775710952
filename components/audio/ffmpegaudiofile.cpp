#include "ffmpegaudiofile.h"

extern "C" {
#include <libavutil/log.h>
}

#include <climits>
#include <mutex>

FfmpegAudioFile::FfmpegAudioFile()
{
    // FFmpeg's warnings about damaged input would go to the terminal; the
    // program reports failures through its own messages instead.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); });
}

AudioStatus FfmpegAudioFile::Open(const QString &path, int, int)
{
    m_writer.close();
    AudioStatus status = m_reader.open(path);
    if (status.ok && m_reader.frameCount() > INT_MAX) {
        m_reader.close();
        status = AudioStatus::failure(QStringLiteral("Cannot open \"%1\": it is too long.").arg(path));
    }
    return status;
}

AudioStatus FfmpegAudioFile::Close()
{
    m_reader.close();
    return m_writer.close();
}

bool FfmpegAudioFile::IsOpen() const
{
    return m_reader.isOpen() || m_writer.isOpen();
}

int FfmpegAudioFile::SampleCount() const
{
    return static_cast<int>(m_reader.frameCount());
}

int FfmpegAudioFile::SampleRate() const
{
    return m_reader.sampleRate();
}

int FfmpegAudioFile::Channels() const
{
    return m_reader.channels();
}

int FfmpegAudioFile::DurationMs() const
{
    if (!m_reader.isOpen() || m_reader.sampleRate() <= 0)
        return 0;
    return static_cast<int>((m_reader.frameCount() * 1000 + m_reader.sampleRate() / 2) /
                            m_reader.sampleRate());
}

int FfmpegAudioFile::SourceFormatA() const
{
    return m_reader.sampleRate();
}

int FfmpegAudioFile::SourceFormatB() const
{
    return m_reader.channels();
}

AudioStatus FfmpegAudioFile::ReadSamples(int count, std::vector<float> &samples)
{
    return m_reader.read(count, samples);
}

AudioStatus FfmpegAudioFile::SetWmaProfile(int profileNumber)
{
    return m_writer.setProfile(profileNumber);
}

AudioStatus FfmpegAudioFile::SetSourceFormat(int sampleRate, int channels)
{
    return m_writer.setSourceFormat(sampleRate, channels);
}

AudioStatus FfmpegAudioFile::CreateOutput(const QString &path, int)
{
    m_reader.close();
    return m_writer.create(path);
}

AudioStatus FfmpegAudioFile::WriteSamples(const std::vector<float> &samples)
{
    return m_writer.write(samples);
}

AudioStatus FfmpegAudioFile::SetActive(bool active)
{
    // Switching off closes whatever is open and frees decoder and encoder;
    // switching on needs nothing, since every handle is made on demand.
    return active ? AudioStatus{} : Close();
}

std::unique_ptr<IAudioFile2> createAudioFile()
{
    return std::make_unique<FfmpegAudioFile>();
}
