#include "audiowriter.h"

#include "asfindex.h"
#include "wmaprofiles.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <QFile>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>

namespace {
constexpr int kIoBufferSize = 64 * 1024;
// Frames per encode() call for an encoder that takes any length.
constexpr int kDefaultFrameSize = 4096;
// The seek index, in the container's 100 ns units: an entry a second, or
// fewer at low rates, where its 6 bytes an entry would otherwise cost more
// than a quarter percent of the file.
constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kIndexBitsPerEntry = 48;
constexpr int64_t kIndexShareInverse = 400;
// Packet times are whole milliseconds and a decoder adds its own rounding:
// an entry leaves that much room before the time it stands for.
constexpr int64_t kIndexMargin = 20'000;

// The callbacks work on the descriptor itself, so that a failed write
// reports the system's own reason (a full disk, a size limit) rather than a
// generic I/O error; QFile only owns the descriptor.
int writeToFile(void *opaque, uint8_t *data, int size)
{
    const int fd = static_cast<QFile *>(opaque)->handle();
    int done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, static_cast<size_t>(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return AVERROR(errno);
        if (n == 0)
            return AVERROR(EIO);
        done += static_cast<int>(n);
    }
    return size;
}

int64_t seekInFile(void *opaque, int64_t offset, int whence)
{
    const int fd = static_cast<QFile *>(opaque)->handle();
    if ((whence & ~AVSEEK_FORCE) == AVSEEK_SIZE) {
        struct stat info {};
        return ::fstat(fd, &info) == 0 ? static_cast<int64_t>(info.st_size) : AVERROR(errno);
    }
    const off_t to = ::lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return to < 0 ? AVERROR(errno) : static_cast<int64_t>(to);
}
} // namespace

AudioWriter::AudioWriter() = default;

AudioWriter::~AudioWriter()
{
    close();
}

AudioStatus AudioWriter::fail(const QString &what, int error) const
{
    return AudioStatus::failure(
        QStringLiteral("Cannot write \"%1\": %2 (%3)").arg(m_path, what, ffmpegErrorText(error)));
}

AudioStatus AudioWriter::setProfile(int profileNumber)
{
    if (isOpen())
        return AudioStatus::failure(
            QStringLiteral("The WMA profile cannot change while a file is being written."));
    const WmaProfile *profile = wmaProfileByNumber(profileNumber);
    if (!profile)
        return AudioStatus::failure(
            QStringLiteral("There is no WMA profile number %1; profiles are numbered 1 to %2.")
                .arg(profileNumber)
                .arg(kWmaProfileCount));
    m_profile = profile;
    return {};
}

AudioStatus AudioWriter::setSourceFormat(int sampleRate, int channels)
{
    if (sampleRate <= 0 || channels <= 0)
        return AudioStatus::failure(
            QStringLiteral("Invalid source format: %1 Hz, %2 channel(s).").arg(sampleRate).arg(channels));
    if (sampleRate == m_sourceRate && channels == m_sourceChannels)
        return {};
    if (isOpen() && m_framesIn > 0)
        return AudioStatus::failure(
            QStringLiteral("The source format cannot change while samples are being written."));
    m_sourceRate = sampleRate;
    m_sourceChannels = channels;
    return isOpen() ? openConverter() : AudioStatus{};
}

AudioStatus AudioWriter::openConverter()
{
    AVChannelLayout in{};
    av_channel_layout_default(&in, m_sourceChannels);
    int error = 0;
    m_swr = makeFloatConverter(in, AV_SAMPLE_FMT_FLT, m_sourceRate, m_profile->channels,
                               m_profile->sampleRate, &error);
    av_channel_layout_uninit(&in);
    return m_swr ? AudioStatus{} : fail(QStringLiteral("cannot convert the sample format"), error);
}

AudioStatus AudioWriter::openMuxer()
{
    AVFormatContext *raw = nullptr;
    int ret = avformat_alloc_output_context2(&raw, nullptr, "asf", nullptr);
    if (ret < 0)
        return fail(QStringLiteral("no ASF muxer"), ret);
    m_format.reset(raw);

    auto *buffer = static_cast<unsigned char *>(av_malloc(kIoBufferSize));
    if (!buffer)
        return fail(QStringLiteral("out of memory"), AVERROR(ENOMEM));
    m_io.reset(avio_alloc_context(buffer, kIoBufferSize, 1, m_file.get(), nullptr, writeToFile, seekInFile));
    if (!m_io) {
        av_free(buffer);
        return fail(QStringLiteral("out of memory"), AVERROR(ENOMEM));
    }
    m_format->pb = m_io.get();
    m_format->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_BITEXACT;

    AVStream *stream = avformat_new_stream(m_format.get(), nullptr);
    if (!stream)
        return fail(QStringLiteral("out of memory"), AVERROR(ENOMEM));
    AVCodecParameters *par = stream->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = m_setup.codecId;
    par->sample_rate = m_profile->sampleRate;
    av_channel_layout_default(&par->ch_layout, m_profile->channels);
    par->bit_rate = m_setup.bitRate;
    par->block_align = m_setup.blockAlign;
    // No frame size: the muxer would take it for the length of a packet that
    // gives no samples (the first lossless block), past the end of a short file.
    par->bits_per_coded_sample = m_setup.bitsPerCodedSample;
    if (!m_setup.extradata.empty()) {
        const size_t size = m_setup.extradata.size();
        par->extradata = static_cast<uint8_t *>(av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!par->extradata)
            return fail(QStringLiteral("out of memory"), AVERROR(ENOMEM));
        std::memcpy(par->extradata, m_setup.extradata.data(), size);
        par->extradata_size = static_cast<int>(size);
    }

    // The stamps are set in writeObject: the muxer must not shift them.
    m_format->avoid_negative_ts = AVFMT_AVOID_NEG_TS_DISABLED;
    AVDictionary *options = nullptr;
    if (m_layout.packetSize > 0)
        av_dict_set_int(&options, "packet_size", m_layout.packetSize, 0);
    ret = avformat_write_header(m_format.get(), &options);
    av_dict_free(&options);
    if (ret < 0)
        return fail(QStringLiteral("cannot write the header"), ret);
    return {};
}

AudioStatus AudioWriter::create(const QString &path)
{
    if (isOpen())
        return AudioStatus::failure(QStringLiteral("An output file is already open."));
    if (!m_profile)
        return AudioStatus::failure(QStringLiteral("No WMA profile has been chosen."));
    if (m_sourceRate <= 0 || m_sourceChannels <= 0)
        return AudioStatus::failure(QStringLiteral("The source format has not been set."));
    m_path = path;

    m_encoder = createOutputEncoder(*m_profile);
    m_setup = EncoderSetup{};
    const EncoderParams params{m_profile->sampleRate, m_profile->channels, m_profile->bitRateKbps * 1000,
                               m_profile->quality};
    if (AudioStatus status = m_encoder->open(params, m_setup); !status.ok) {
        m_encoder.reset();
        return status;
    }

    m_file = std::make_unique<QFile>(path);
    // Read as well as written: the seek index is made from the finished file.
    if (!m_file->open(QIODevice::ReadWrite | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        const QString reason =
            m_file->exists() ? QStringLiteral("a file of that name already exists") : m_file->errorString();
        m_file.reset();
        m_encoder.reset();
        return AudioStatus::failure(QStringLiteral("Cannot create \"%1\": %2.").arg(path, reason));
    }
    m_packet.reset(av_packet_alloc());
    AudioStatus status = m_packet ? openConverter() : fail(QStringLiteral("out of memory"), AVERROR(ENOMEM));
    if (status.ok && m_setup.lookAheadFrames <= 0)
        status = startStream(false);
    else if (status.ok)
        reserveLookAhead();
    if (!status.ok) {
        // Nobody has seen this file yet: it was created here, so it goes.
        release();
        QFile::remove(path);
    }
    return status;
}

// The look-ahead fills tens of megabytes once: one allocation, not a copy
// at each doubling, in huge pages where the system gives them, not a page
// fault every 4 KB.
void AudioWriter::reserveLookAhead()
{
    const size_t floats =
        (static_cast<size_t>(m_setup.lookAheadFrames) + kDefaultFrameSize) * m_profile->channels;
    m_buffer.reserve(floats);
    constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
    const auto start = reinterpret_cast<uintptr_t>(m_buffer.data());
    const uintptr_t from = (start + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t to = (start + floats * sizeof(float)) & ~(kHugePage - 1);
    if (to > from)
        ::madvise(reinterpret_cast<void *>(from), to - from, MADV_HUGEPAGE); // only advice
}

// Fixes the stream's layout (after the encoder's look-ahead, where it has
// one) and writes the container's header.
AudioStatus AudioWriter::startStream(bool final)
{
    if (m_setup.lookAheadFrames > 0) {
        const auto frames = static_cast<int64_t>(m_buffer.size() / static_cast<size_t>(m_profile->channels));
        const int64_t seen = std::min<int64_t>(frames, m_setup.lookAheadFrames);
        if (AudioStatus status =
                m_encoder->lookAhead(m_buffer.data(), seen, final && frames == seen, m_setup);
            !status.ok)
            return status;
    }
    m_layout = asfPayloadLayout(m_setup.blockAlign);
    m_pairBlocks = m_setup.codecId == AV_CODEC_ID_WMALOSSLESS && m_setup.blockAlign > 0;
    // GStreamer takes a first packet at zero followed by one over a second
    // later for a broken stamp and times the file from that one; two blocks
    // of quiet audio last that long: the stamps start a millisecond in.
    m_stampOffset = m_pairBlocks ? 1 : 0;
    m_pts = -m_setup.delay;
    AudioStatus status = openMuxer();
    m_headerWritten = status.ok;
    return status;
}

AudioStatus AudioWriter::convert(const float *samples, int frames)
{
    const int outChannels = m_profile->channels;
    const int room = swr_get_out_samples(m_swr.get(), frames);
    if (room < 0)
        return fail(QStringLiteral("cannot convert the samples"), room);
    const size_t used = m_buffer.size();
    m_buffer.resize(used + static_cast<size_t>(room) * static_cast<size_t>(outChannels));
    auto *out = reinterpret_cast<uint8_t *>(m_buffer.data() + used);
    const auto *in = reinterpret_cast<const uint8_t *>(samples);
    const int got = swr_convert(m_swr.get(), &out, room, samples ? &in : nullptr, frames);
    if (got < 0) {
        m_buffer.resize(used);
        return fail(QStringLiteral("cannot convert the samples"), got);
    }
    m_buffer.resize(used + static_cast<size_t>(got) * static_cast<size_t>(outChannels));
    // A damaged float source may hold NaN or infinity, which made the encoder
    // refuse the whole file (and a 16-bit cast undefined): silence stands in.
    for (auto it = m_buffer.begin() + static_cast<std::ptrdiff_t>(used); it != m_buffer.end(); ++it)
        if (!std::isfinite(*it))
            *it = 0.0f;
    m_converted += got;
    return {};
}

AudioStatus AudioWriter::write(const std::vector<float> &samples)
{
    if (!isOpen())
        return AudioStatus::failure(QStringLiteral("No output file is open."));
    if (samples.size() % static_cast<size_t>(m_sourceChannels) != 0)
        return AudioStatus::failure(
            QStringLiteral("The samples do not fill whole frames of %1 channel(s).").arg(m_sourceChannels));
    const auto frames = static_cast<int>(samples.size() / static_cast<size_t>(m_sourceChannels));
    if (frames == 0)
        return {};
    m_framesIn += frames;
    if (AudioStatus status = convert(samples.data(), frames); !status.ok)
        return status;
    return encodeBuffered(false);
}

AudioStatus AudioWriter::encodeBuffered(bool final)
{
    const int channels = m_profile->channels;
    if (!m_headerWritten) {
        // The encoder first sees its look-ahead, or the whole source where that is no longer.
        if (!final &&
            m_buffer.size() / static_cast<size_t>(channels) <= static_cast<size_t>(m_setup.lookAheadFrames))
            return {};
        if (AudioStatus status = startStream(final); !status.ok)
            return status;
    }
    const int frameSize = m_setup.frameSize > 0 ? m_setup.frameSize : kDefaultFrameSize;
    const size_t step = static_cast<size_t>(frameSize) * static_cast<size_t>(channels);
    size_t pos = 0;
    AudioStatus status;
    while (status.ok && m_buffer.size() - pos >= step) {
        status = m_encoder->encode(m_buffer.data() + pos, frameSize, m_packets);
        pos += step;
        if (status.ok)
            status = mux();
    }
    if (status.ok && final && m_buffer.size() > pos) {
        const auto rest = static_cast<int>((m_buffer.size() - pos) / static_cast<size_t>(channels));
        status = m_encoder->encode(m_buffer.data() + pos, rest, m_packets);
        pos = m_buffer.size();
        if (status.ok)
            status = mux();
    }
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(pos));
    if (m_buffer.capacity() > 4 * step && m_buffer.size() < step)
        m_buffer.shrink_to_fit(); // the look-ahead's room, once it is coded
    return status;
}

AudioStatus AudioWriter::mux(bool final)
{
    AudioStatus status;
    for (size_t i = 0; status.ok && i < m_packets.size(); ++i) {
        EncodedPacket &packet = m_packets[i];
        // A first block short of a whole one cannot have the next with it:
        // such a file keeps a block in each object, as GStreamer then times
        // all of it alike.
        if (m_pairBlocks && m_resumeTimes.empty() && m_pending.data.empty() &&
            packet.data.size() != static_cast<size_t>(m_setup.blockAlign))
            m_pairBlocks = false;
        if (!m_pairBlocks) {
            status = writeObject(packet.data.data(), packet.data.size(), packet.duration, packet.resumeAfter);
            continue;
        }
        // The last block stands for what the decoder gives when drained: it
        // goes alone, so that GStreamer has an object to give that to.
        const bool last = final && i + 1 == m_packets.size();
        if (!m_pending.data.empty() && !last) {
            status = writePair(packet);
            continue;
        }
        if (!m_pending.data.empty())
            status = writeSingle(std::exchange(m_pending, {}));
        // A decoder takes a block of blockAlign bytes from the front of an
        // object: only a whole block can have another after it.
        if (status.ok && !last && packet.data.size() == static_cast<size_t>(m_setup.blockAlign))
            m_pending = std::move(packet);
        else if (status.ok)
            status = writeSingle(packet);
    }
    m_packets.clear();
    if (status.ok && final && !m_pending.data.empty())
        status = writeSingle(std::exchange(m_pending, {}));
    return status;
}

// Lossless blocks: the decoder gives the frames that start in a block once
// the next block comes, and GStreamer times what an object gives by the
// oldest object it was given that has not given anything yet. Were every
// block an object, the first one (which gives nothing) would leave all later
// output timed by the object before. Two blocks in an object give output at
// once. A decoder started at such an object gives its first block's frames
// timed from the object's start: its output is right from the next object on.
AudioStatus AudioWriter::writePair(const EncodedPacket &second)
{
    EncodedPacket pair = std::exchange(m_pending, {});
    pair.data.insert(pair.data.end(), second.data.begin(), second.data.end());
    pair.duration += second.duration;
    if (pair.resumeAfter >= 0 && !m_resumeTimes.empty())
        pair.resumeAfter = pair.duration;
    return writeObject(pair.data.data(), pair.data.size(), pair.duration, pair.resumeAfter);
}

// A reader started at a lone block other than the first gets nothing from
// it, and GStreamer would then time all later output by the object before.
AudioStatus AudioWriter::writeSingle(const EncodedPacket &block)
{
    const int64_t resumeAfter = m_resumeTimes.empty() ? block.resumeAfter : -1;
    return writeObject(block.data.data(), block.data.size(), block.duration, resumeAfter);
}

int64_t AudioWriter::offsetTicks() const
{
    return av_rescale_q(m_stampOffset, m_format->streams[0]->time_base, AVRational{1, kTicksPerSecond});
}

int64_t AudioWriter::ticks(int64_t frames) const
{
    return av_rescale_rnd(frames, kTicksPerSecond, m_profile->sampleRate, AV_ROUND_UP);
}

AudioStatus AudioWriter::writeObject(const uint8_t *data, size_t size, int64_t duration, int64_t resumeAfter)
{
    if (size == 0)
        return {};
    // Stamps start at zero with the lead-in the decoder gives first: a reader
    // that takes a time before zero for zero and plays the lead-in (GStreamer)
    // would otherwise play the next packets over the first ones. FFmpeg drops
    // the lead-in and times the first sample at the lead-in's length.
    const int64_t at = m_pts + m_setup.delay;
    m_resumeTimes.push_back(resumeAfter < 0 ? -1
                                            : std::max<int64_t>(0, ticks(at + resumeAfter)) + offsetTicks());
    int ret = av_new_packet(m_packet.get(), static_cast<int>(size));
    if (ret < 0)
        return fail(QStringLiteral("out of memory"), ret);
    std::memcpy(m_packet->data, data, size);
    // The container's length is the audio's: the padding of the last block
    // is not counted, so players show the source's duration.
    duration = std::min(duration, std::max<int64_t>(0, m_converted - m_pts));
    const AVRational rate{1, m_profile->sampleRate};
    const AVRational timeBase = m_format->streams[0]->time_base;
    // The file's stated length is where the packet holding the last sample
    // ends. A reader that cuts there places that packet by its time: that
    // time rounds down and its end up, so that the last sample stays.
    const bool reachesEnd = m_pts + duration >= m_converted;
    const AVRounding rounding = reachesEnd ? AV_ROUND_DOWN : AV_ROUND_NEAR_INF;
    // Stamps must rise; a packet past the end (no time left to give) still needs its own.
    const int64_t stamp =
        std::max(av_rescale_q_rnd(at, rate, timeBase, rounding) + m_stampOffset, m_lastStamp + 1);
    m_packet->pts = m_packet->dts = stamp;
    const int64_t end =
        av_rescale_q_rnd(at + duration, rate, timeBase, reachesEnd ? AV_ROUND_UP : AV_ROUND_NEAR_INF) +
        m_stampOffset;
    m_packet->duration = std::max<int64_t>(0, end - stamp);
    m_lastStamp = stamp;
    m_packet->stream_index = 0;
    m_packet->flags |= AV_PKT_FLAG_KEY;
    m_pts += duration;
    ret = av_write_frame(m_format.get(), m_packet.get());
    av_packet_unref(m_packet.get());
    return ret < 0 ? fail(QStringLiteral("cannot write audio data"), ret) : AudioStatus{};
}

AudioStatus AudioWriter::close()
{
    if (!isOpen())
        return {};
    AudioStatus status = convert(nullptr, 0); // what the resampler still holds
    // The decoder holds its last frame back until it is drained, which
    // GStreamer never does for this codec: a frame of silence after the
    // audio, beyond the length the file states, brings the last samples out.
    if (status.ok && m_setup.delay > 0 && m_converted > 0)
        m_buffer.resize(m_buffer.size() + static_cast<size_t>(m_setup.frameSize) * m_profile->channels, 0.0f);
    if (status.ok)
        status = encodeBuffered(true);
    if (status.ok)
        status = m_encoder->flush(m_packets);
    if (status.ok)
        status = mux(true);
    if (status.ok && m_encoder->finalBitRate() > 0) {
        // The trailer rewrites the header: it then states the rate the file came to.
        m_format->streams[0]->codecpar->bit_rate = m_encoder->finalBitRate();
    }
    if (status.ok) {
        const int ret = av_write_trailer(m_format.get());
        if (ret < 0)
            status = fail(QStringLiteral("cannot finish the file"), ret);
    }
    if (status.ok) {
        avio_flush(m_io.get());
        if (m_io->error < 0)
            status = fail(QStringLiteral("cannot finish the file"), m_io->error);
    }
    if (status.ok)
        addSeekIndex();
    release();
    return status;
}

void AudioWriter::addSeekIndex()
{
    const int64_t bitRate = std::max<int64_t>(1, m_format->streams[0]->codecpar->bit_rate);
    const int64_t interval =
        std::max(kTicksPerSecond, kIndexBitsPerEntry * kIndexShareInverse * kTicksPerSecond / bitRate);
    // The file is whole without it: one that cannot be indexed stays as it is.
    appendAsfSimpleIndex(m_file->handle(), m_resumeTimes, ticks(m_pts + m_setup.delay) + offsetTicks(),
                         interval, kIndexMargin);
}

void AudioWriter::release()
{
    m_format.reset();
    m_io.reset();
    if (m_file)
        m_file->close();
    m_file.reset();
    m_encoder.reset();
    m_swr.reset();
    m_packet.reset();
    std::vector<float>().swap(m_buffer);
    m_packets.clear();
    m_pending = {};
    m_stampOffset = 0;
    m_resumeTimes.clear();
    m_pts = 0;
    m_lastStamp = INT64_MIN;
    m_framesIn = 0;
    m_converted = 0;
    m_headerWritten = false;
}
