#include "ffmpegaudiofile.h"

#include "readahead.h"

extern "C" {
#include <libavutil/log.h>
}

#include <climits>
#include <mutex>

FfmpegAudioFile::FfmpegAudioFile(AudioFileOptions options)
    : m_options(std::move(options)),
      m_writeBehind([this](const std::vector<float> &samples) { return writeChunk(samples); })
{
    // FFmpeg's warnings about damaged input would go to the terminal; the
    // program reports failures through its own messages instead.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); });
}

FfmpegAudioFile::~FfmpegAudioFile()
{
    closeReader();
    closeWriter();
}

AudioStatus FfmpegAudioFile::readChunk(int frames, std::vector<float> &samples)
{
    if (m_options.decodeFault) {
        if (AudioStatus status = m_options.decodeFault(); !status.ok) {
            samples.clear();
            return status;
        }
    }
    return m_reader.read(frames, samples);
}

AudioStatus FfmpegAudioFile::writeChunk(const std::vector<float> &samples)
{
    if (m_options.encodeFault) {
        if (AudioStatus status = m_options.encodeFault(); !status.ok)
            return status;
    }
    return m_writer.write(samples);
}

void FfmpegAudioFile::closeReader()
{
    m_readAhead.reset();
    m_reader.close();
}

AudioStatus FfmpegAudioFile::closeWriter()
{
    const AudioStatus pending = m_writeBehind.finish();
    const AudioStatus closed = m_writer.close();
    return pending.ok ? closed : pending;
}

AudioStatus FfmpegAudioFile::Open(const QString &path, int, int)
{
    closeWriter();
    closeReader();
    AudioStatus status = m_reader.open(path);
    if (status.ok && m_reader.frameCount() > INT_MAX) {
        m_reader.close();
        status = AudioStatus::failure(QStringLiteral("Cannot open \"%1\": it is too long.").arg(path));
    }
    return status;
}

AudioStatus FfmpegAudioFile::Close()
{
    closeReader();
    return closeWriter();
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
    if (!m_options.workerThreads || !m_reader.isOpen())
        return readChunk(count, samples);
    if (!m_readAhead)
        m_readAhead = std::make_unique<ReadAhead>(
            [this](int frames, std::vector<float> &out) { return readChunk(frames, out); },
            m_reader.channels());
    return m_readAhead->read(count, samples);
}

AudioStatus FfmpegAudioFile::SetWmaProfile(int profileNumber)
{
    m_writeBehind.drain();
    return m_writer.setProfile(profileNumber);
}

AudioStatus FfmpegAudioFile::SetSourceFormat(int sampleRate, int channels)
{
    m_writeBehind.drain();
    AudioStatus status = m_writer.setSourceFormat(sampleRate, channels);
    if (status.ok)
        m_writerChannels = channels;
    return status;
}

AudioStatus FfmpegAudioFile::CreateOutput(const QString &path, int)
{
    closeReader();
    m_writeBehind.drain();
    return m_writer.create(path);
}

AudioStatus FfmpegAudioFile::WriteSamples(const std::vector<float> &samples)
{
    if (!m_options.workerThreads || !m_writer.isOpen())
        return writeChunk(samples);
    // The writer's own check, made here so that it fails this very call.
    if (m_writerChannels <= 0 || samples.size() % static_cast<size_t>(m_writerChannels) != 0)
        return AudioStatus::failure(
            QStringLiteral("The samples do not fill whole frames of %1 channel(s).").arg(m_writerChannels));
    return m_writeBehind.write(samples);
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
