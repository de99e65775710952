#pragma once

#include "ffmpeghandles.h"
#include "iaudiofile2.h"

#include <QDateTime>
#include <QString>

#include <memory>
#include <vector>

class QFile;

// Decodes one source file to interleaved float at the source's own rate and
// channel count, a chunk at a time, so memory stays flat for any length.
class AudioReader {
public:
    AudioReader();
    ~AudioReader();
    AudioReader(const AudioReader &) = delete;
    AudioReader &operator=(const AudioReader &) = delete;

    AudioStatus open(const QString &path);
    void close();
    bool isOpen() const { return m_open; }

    qint64 frameCount() const { return m_frameCount; }
    int sampleRate() const { return m_sampleRate; }
    int channels() const { return m_channels; }

    // The next `frames` frames, fewer at the end, none when all are read. A
    // file that changed since it was opened and ends before its count fails.
    AudioStatus read(int frames, std::vector<float> &samples);

    // Frames the decoder delivered beyond or short of frameCount(). Reading
    // trims, or pads for frames a damaged file lost, so that the count
    // holds; for sound files this stays 0.
    qint64 countMismatch() const { return m_mismatch; }

private:
    AudioStatus openDemuxer(InputFormatPtr &format, int &stream) const;
    AudioStatus openVox();
    AudioStatus countFrames();
    int nextPacket(AVPacket *packet);
    bool decodeMore();
    bool appendConverted(const AVFrame *frame);
    qint64 pendingFrames() const;
    bool changedSinceOpen() const;

    QString m_path;
    bool m_open = false;
    std::unique_ptr<QFile> m_vox;
    InputFormatPtr m_format;
    int m_stream = -1;
    CodecParametersPtr m_params;
    CodecContextPtr m_decoder;
    SwrPtr m_swr;
    AVSampleFormat m_swrFormat = AV_SAMPLE_FMT_NONE;
    int m_swrRate = 0;
    AVChannelLayout m_swrLayout{};
    FramePtr m_frame;
    PacketPtr m_packet;
    bool m_flushed = false;
    bool m_decoderDone = false;
    std::vector<float> m_pending; // samples [m_pendingPos, m_pendingEnd) are decoded, not yet read
    size_t m_pendingPos = 0;
    size_t m_pendingEnd = 0;
    qint64 m_frameCount = 0;
    qint64 m_delivered = 0;
    qint64 m_mismatch = 0;
    qint64 m_openedSize = 0;
    QDateTime m_openedModified;
    int m_sampleRate = 0;
    int m_channels = 0;
};
