#include "asfindex.h"

#include "asfformat.h"
#include "ffmpeghandles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {
using asf::isGuid;
using asf::kDataObject;
using asf::kFileProperties;
using asf::kHeaderObject;
using asf::kSimpleIndex;
using asf::readLe;

constexpr size_t kObjectHead = asf::kObjectHeadSize;
constexpr size_t kHeaderObjectHead = asf::kHeaderObjectHeadSize;
constexpr size_t kDataObjectHead = 50; // and the file id, packet count, two reserved bytes
constexpr size_t kFilePropertiesSize = 104;
constexpr size_t kIndexHead = 56;
constexpr size_t kIndexEntry = 6;
constexpr int64_t kTicksPerMs = 10'000; // the file properties state the preroll in ms
// A header that needs more than this is none of ours (no tags are in it yet).
constexpr int64_t kMaxHeaderSize = 1 << 20;

void appendLe(std::vector<uint8_t> &out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// The whole span through pread or pwrite, across interruptions and short transfers.
template <typename Byte, typename Transfer>
bool wholeSpan(Transfer transfer, int fd, int64_t offset, Byte *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = transfer(fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        offset += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool readAt(int fd, int64_t offset, uint8_t *data, size_t size)
{
    return wholeSpan(::pread, fd, offset, data, size);
}

bool writeAt(int fd, int64_t offset, const uint8_t *data, size_t size)
{
    return wholeSpan(::pwrite, fd, offset, data, size);
}

// The demuxer reads the file through its own position, so that the
// descriptor's offset is not disturbed.
struct ReadSource {
    int fd = -1;
    int64_t pos = 0;
};

int readSource(void *opaque, uint8_t *data, int size)
{
    auto *source = static_cast<ReadSource *>(opaque);
    ssize_t n;
    do
        n = ::pread(source->fd, data, static_cast<size_t>(size), static_cast<off_t>(source->pos));
    while (n < 0 && errno == EINTR);
    if (n < 0)
        return AVERROR(errno);
    if (n == 0)
        return AVERROR_EOF;
    source->pos += n;
    return static_cast<int>(n);
}

int64_t seekSource(void *opaque, int64_t offset, int whence)
{
    auto *source = static_cast<ReadSource *>(opaque);
    struct stat info {};
    if (::fstat(source->fd, &info) != 0)
        return AVERROR(errno);
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return info.st_size;
    case SEEK_SET:
        break;
    case SEEK_CUR:
        offset += source->pos;
        break;
    case SEEK_END:
        offset += info.st_size;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (offset < 0)
        return AVERROR(EINVAL);
    source->pos = offset;
    return offset;
}

// The file offset of the data packet in which each media object starts, as
// the demuxer that readers use finds them.
std::optional<std::vector<int64_t>> objectStarts(int fd)
{
    constexpr int kBufferSize = 64 * 1024;
    ReadSource source{fd, 0};
    auto *buffer = static_cast<unsigned char *>(av_malloc(kBufferSize));
    if (!buffer)
        return std::nullopt;
    AvioPtr io(avio_alloc_context(buffer, kBufferSize, 0, &source, readSource, nullptr, seekSource));
    if (!io) {
        av_free(buffer);
        return std::nullopt;
    }
    AVFormatContext *raw = avformat_alloc_context();
    if (!raw)
        return std::nullopt;
    raw->pb = io.get();
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    if (avformat_open_input(&raw, nullptr, av_find_input_format("asf"), nullptr) < 0)
        return std::nullopt; // the context is freed on failure
    InputFormatPtr format(raw);
    PacketPtr packet(av_packet_alloc());
    if (!packet)
        return std::nullopt;
    std::vector<int64_t> starts;
    int ret;
    while ((ret = av_read_frame(format.get(), packet.get())) >= 0) {
        starts.push_back(packet->pos);
        av_packet_unref(packet.get());
    }
    if (ret != AVERROR_EOF)
        return std::nullopt;
    return starts;
}

} // namespace

std::vector<uint32_t> asfIndexPackets(std::vector<AsfResumePoint> points, int64_t interval, int64_t preroll,
                                      int64_t margin, int64_t end)
{
    std::sort(points.begin(), points.end(),
              [](const AsfResumePoint &a, const AsfResumePoint &b) { return a.time < b.time; });
    const int64_t count = std::max<int64_t>(0, end + preroll) / interval + 1;
    std::vector<uint32_t> packets(static_cast<size_t>(count));
    uint32_t latest = 0;
    size_t next = 0;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t time = i * interval - preroll;
        for (; next < points.size() && points[next].time <= time - margin; ++next)
            latest = std::max(latest, points[next].packet);
        packets[static_cast<size_t>(i)] = latest;
    }
    return packets;
}

std::vector<uint8_t> asfSimpleIndexObject(const std::array<uint8_t, 16> &fileId, int64_t interval,
                                          const std::vector<uint32_t> &packets)
{
    std::vector<uint8_t> out(kSimpleIndex.begin(), kSimpleIndex.end());
    appendLe(out, kIndexHead + kIndexEntry * packets.size(), 8);
    out.insert(out.end(), fileId.begin(), fileId.end());
    appendLe(out, static_cast<uint64_t>(interval), 8);
    // Each entry names one packet to start at; readers go on from there.
    appendLe(out, 1, 4);
    appendLe(out, packets.size(), 4);
    for (const uint32_t packet : packets) {
        appendLe(out, packet, 4);
        appendLe(out, 1, 2);
    }
    return out;
}

std::optional<AsfFileLayout> asfFileLayout(const std::vector<uint8_t> &head)
{
    if (head.size() < kHeaderObjectHead + kDataObjectHead || !isGuid(head.data(), kHeaderObject))
        return std::nullopt;
    const uint64_t headerSize = readLe(head.data() + 16, 8);
    if (headerSize < kHeaderObjectHead || headerSize > head.size() - kDataObjectHead)
        return std::nullopt;
    AsfFileLayout layout;
    bool haveProperties = false;
    for (uint64_t at = kHeaderObjectHead; at + kObjectHead <= headerSize;) {
        const uint8_t *object = head.data() + at;
        const uint64_t size = readLe(object + 16, 8);
        if (size < kObjectHead || size > headerSize - at)
            return std::nullopt;
        if (isGuid(object, kFileProperties) && size >= kFilePropertiesSize) {
            std::copy_n(object + 24, layout.fileId.size(), layout.fileId.begin());
            layout.fileSizeField = static_cast<int64_t>(at) + 40;
            layout.preroll = static_cast<int64_t>(readLe(object + 80, 8)) * kTicksPerMs;
            const uint32_t flags = static_cast<uint32_t>(readLe(object + 88, 4));
            const uint32_t minPacket = static_cast<uint32_t>(readLe(object + 92, 4));
            layout.packetSize = static_cast<uint32_t>(readLe(object + 96, 4));
            const bool broadcast = flags & 1;
            if (broadcast || minPacket != layout.packetSize || layout.packetSize == 0)
                return std::nullopt;
            haveProperties = true;
        }
        at += size;
    }
    const uint8_t *data = head.data() + headerSize;
    const uint64_t dataSize = readLe(data + 16, 8);
    if (!haveProperties || !isGuid(data, kDataObject) || dataSize < kDataObjectHead)
        return std::nullopt;
    layout.firstPacket = static_cast<int64_t>(headerSize + kDataObjectHead);
    layout.dataEnd = static_cast<int64_t>(headerSize + dataSize);
    return layout;
}

bool appendAsfSimpleIndex(int fd, const std::vector<int64_t> &resumeTimes, int64_t end, int64_t interval,
                          int64_t margin)
{
    struct stat info {};
    uint8_t start[kHeaderObjectHead];
    if (interval <= 0 || ::fstat(fd, &info) != 0 || !readAt(fd, 0, start, sizeof start))
        return false;
    const int64_t fileSize = info.st_size;
    const auto headerSize = static_cast<int64_t>(readLe(start + 16, 8));
    if (headerSize > kMaxHeaderSize || headerSize + int64_t(kDataObjectHead) > fileSize)
        return false;
    std::vector<uint8_t> head(static_cast<size_t>(headerSize) + kDataObjectHead);
    if (!readAt(fd, 0, head.data(), head.size()))
        return false;
    const std::optional<AsfFileLayout> layout = asfFileLayout(head);
    if (!layout || layout->dataEnd != fileSize)
        return false;

    const std::optional<std::vector<int64_t>> starts = objectStarts(fd);
    if (!starts || starts->size() != resumeTimes.size())
        return false;
    // A reader started at a packet gets the first media object that starts
    // in it: only that object's resume time counts for the packet.
    std::vector<AsfResumePoint> points;
    int64_t previous = -1;
    for (size_t k = 0; k < starts->size(); ++k) {
        const int64_t offset = (*starts)[k] - layout->firstPacket;
        if (offset < 0 || offset % layout->packetSize != 0 || (*starts)[k] >= fileSize)
            return false;
        const int64_t packet = offset / layout->packetSize;
        if (packet < previous || packet > UINT32_MAX)
            return false;
        if (packet != previous && resumeTimes[k] >= 0)
            points.push_back({static_cast<uint32_t>(packet), resumeTimes[k]});
        previous = packet;
    }
    // Where only the first packet serves, an index would send every seek back to the start.
    if (points.size() < 2)
        return false;
    const std::vector<uint8_t> index = asfSimpleIndexObject(
        layout->fileId, interval, asfIndexPackets(points, interval, layout->preroll, margin, end));

    std::vector<uint8_t> newSize;
    appendLe(newSize, static_cast<uint64_t>(fileSize) + index.size(), 8);
    if (writeAt(fd, fileSize, index.data(), index.size()) &&
        writeAt(fd, layout->fileSizeField, newSize.data(), newSize.size()))
        return true;
    // Back to the file as the muxer left it.
    const uint8_t *oldSize = head.data() + layout->fileSizeField;
    writeAt(fd, layout->fileSizeField, oldSize, newSize.size());
    // Best effort: bytes left past the stated file size are skipped by readers.
    [[maybe_unused]] const int truncated = ::ftruncate(fd, static_cast<off_t>(fileSize));
    return false;
}
