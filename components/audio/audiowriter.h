#pragma once

#include "asfpacketsize.h"
#include "ffmpeghandles.h"
#include "iaudiofile2.h"
#include "outputencoder.h"

#include <QString>

#include <cstdint>

#include <memory>
#include <vector>

class QFile;
struct WmaProfile;

// Writes one WMA (ASF) file: resamples what it is given to the profile's
// rate and channels, encodes it and muxes it. Tags are written elsewhere.
class AudioWriter {
public:
    AudioWriter();
    ~AudioWriter();
    AudioWriter(const AudioWriter &) = delete;
    AudioWriter &operator=(const AudioWriter &) = delete;

    AudioStatus setProfile(int profileNumber);
    AudioStatus setSourceFormat(int sampleRate, int channels);
    // Creates the file exclusively: an existing file is never replaced.
    AudioStatus create(const QString &path);
    AudioStatus write(const std::vector<float> &samples);
    // Finishes the file; the handles are released whatever happens.
    AudioStatus close();
    bool isOpen() const { return m_file != nullptr; }

private:
    struct OutputFormatDeleter {
        void operator()(AVFormatContext *ctx) const { avformat_free_context(ctx); }
    };

    AudioStatus openMuxer();
    AudioStatus startStream(bool final);
    void reserveLookAhead();
    AudioStatus openConverter();
    AudioStatus convert(const float *samples, int frames);
    AudioStatus encodeBuffered(bool final);
    AudioStatus mux(bool final = false);
    AudioStatus writePair(const EncodedPacket &second);
    AudioStatus writeSingle(const EncodedPacket &block);
    AudioStatus writeObject(const uint8_t *data, size_t size, int64_t duration, int64_t resumeAfter);
    void addSeekIndex();
    int64_t ticks(int64_t frames) const; // container time (100 ns) of an output frame position
    int64_t offsetTicks() const;         // m_stampOffset in 100 ns
    AudioStatus fail(const QString &what, int error) const;
    void release();

    const WmaProfile *m_profile = nullptr;
    int m_sourceRate = 0;
    int m_sourceChannels = 0;
    QString m_path;
    std::unique_ptr<QFile> m_file;
    AvioPtr m_io;
    std::unique_ptr<AVFormatContext, OutputFormatDeleter> m_format;
    std::unique_ptr<OutputEncoder> m_encoder;
    EncoderSetup m_setup;
    AsfPacketLayout m_layout;
    SwrPtr m_swr;
    PacketPtr m_packet;
    std::vector<float> m_buffer; // converted frames waiting for a whole encoder frame
    std::vector<EncodedPacket> m_packets;
    bool m_headerWritten = false;       // the encoder's setup is final and the muxer open
    bool m_pairBlocks = false;          // lossless: a whole block and the next share a media object
    EncodedPacket m_pending;            // a whole block waiting for the next
    std::vector<int64_t> m_resumeTimes; // per object written: where a reader may start (see EncodedPacket)
    int64_t m_pts = 0;                  // output frame at which the next packet's samples start
    int64_t m_lastStamp = INT64_MIN;    // container time of the last packet
    int64_t m_stampOffset = 0;          // container time added to every stamp
    int64_t m_framesIn = 0;             // source frames taken so far
    int64_t m_converted = 0;            // frames at the profile's rate handed to the encoder
};
