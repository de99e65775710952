#include "id3v2.h"

#include "genrenames.h"
#include "id3text.h"

#include <QBuffer>
#include <QFile>
#include "tagtext.h"

#include <algorithm>
#include <array>

#include <zlib.h>

ID3StructV2 ID3Tag;
const char *const ID3FrameIDs[7] = {"TIT2", "TPE1", "TALB", "TRCK", "TYER", "TCON", "COMM"};

namespace {

constexpr int kCommIndex = 6;

// No frame we read (a cover included) inflates to more than this.
constexpr qint64 MaxFrameBytes = MaxCoverBytes;

// Where each frame of ID3FrameIDs lands in the record.
constexpr std::array<QString ID3StructV2::*, 7> kFields = {
    &ID3StructV2::Title, &ID3StructV2::Artist, &ID3StructV2::Album,   &ID3StructV2::Track,
    &ID3StructV2::Year,  &ID3StructV2::Genre,  &ID3StructV2::Comment,
};

// Version-2.2 names of the same frames, in the same order.
const char *const kV22FrameIDs[7] = {"TT2", "TP1", "TAL", "TRK", "TYE", "TCO", "COM"};

// Header flags.
constexpr quint8 kUnsynchronised = 0x80;
constexpr quint8 kExtendedHeader = 0x40;
constexpr quint8 kV22Compressed = 0x40;

// Second frame flag byte, version 3.
constexpr quint8 kV3Compressed = 0x80;
constexpr quint8 kV3Encrypted = 0x40;
constexpr quint8 kV3Grouped = 0x20;
// Second frame flag byte, version 4.
constexpr quint8 kV4Grouped = 0x40;
constexpr quint8 kV4Compressed = 0x08;
constexpr quint8 kV4Encrypted = 0x04;
constexpr quint8 kV4Unsynchronised = 0x02;
constexpr quint8 kV4DataLength = 0x01;

// The reader's working record.
struct TagInfo {
    quint8 Version = 0;
    quint8 Flags = 0;
    std::array<QString, 7> Frames;
    bool commFound = false;
    bool commDescribed = false;
    QString recordingTime; // TDRC, the version-4 successor of TYER
    QString disc;
    CoverPicture cover;
};

// What a frame is read for.
enum class FrameUse { None, Field, RecordingTime, Disc, Picture };

FrameUse frameUse(const QByteArray &id, int fieldIndex, quint8 version)
{
    const bool v22 = version == 2;
    if (fieldIndex >= 0)
        return FrameUse::Field;
    if (!v22 && id == "TDRC") // some version-3 writers use it too
        return FrameUse::RecordingTime;
    if (id == (v22 ? "TPA" : "TPOS"))
        return FrameUse::Disc;
    if (id == (v22 ? "PIC" : "APIC"))
        return FrameUse::Picture;
    return FrameUse::None;
}

bool isFrameIdChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool isFrameId(const QByteArray &bytes)
{
    return bytes.size() == 4 && std::all_of(bytes.begin(), bytes.end(), isFrameIdChar);
}

int frameIndex(const QByteArray &id, bool v22)
{
    for (int i = 0; i < 7; ++i) {
        if (id == (v22 ? kV22FrameIDs[i] : ID3FrameIDs[i]))
            return i;
    }
    return -1;
}

// Reads exactly `length` bytes at `pos`, or returns an empty array.
QByteArray readAt(QIODevice &device, qint64 pos, qint64 length)
{
    if (length <= 0 || pos < 0 || pos + length > device.size() || !device.seek(pos))
        return {};
    QByteArray bytes = device.read(length);
    return bytes.size() == length ? bytes : QByteArray();
}

// True if a frame header, padding or the tag's end can begin at `pos`.
bool plausibleFrameStart(QIODevice &device, qint64 pos, qint64 end)
{
    if (pos == end)
        return true;
    if (pos > end)
        return false;
    const QByteArray head = readAt(device, pos, qMin<qint64>(4, end - pos));
    return !head.isEmpty() && (head[0] == '\0' || isFrameId(head));
}

// Version-4 sizes are synchsafe, but some writers put plain numbers there.
// A plain reading is taken when the synchsafe one cannot be right and the
// plain one leads to a frame.
qint64 v4FrameSize(QIODevice &device, const QByteArray &header, qint64 contentStart, qint64 end)
{
    const qint64 synchsafe = synchsafeValue(header, 4);
    const qint64 plain = bigEndianValue(header, 4, 4);
    if (std::any_of(header.begin() + 4, header.begin() + 8, [](char c) { return quint8(c) & 0x80; }))
        return plain;
    if (synchsafe != plain && !plausibleFrameStart(device, contentStart + synchsafe, end) &&
        plausibleFrameStart(device, contentStart + plain, end))
        return plain;
    return synchsafe;
}

// A compressed frame inflates to exactly the size it declares, and never
// beyond what a frame may hold: anything else is a damaged frame.
QByteArray inflateFrame(const QByteArray &compressed, qint64 declared)
{
    // Deflate shrinks by at most 1032 to 1: a larger claim is not worth an allocation.
    constexpr qint64 MaxRatio = 1032;
    if (declared <= 0 || declared > MaxFrameBytes || compressed.isEmpty() ||
        declared > compressed.size() * MaxRatio + 64)
        return {};
    QByteArray out(qsizetype(declared), Qt::Uninitialized);
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return {};
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(compressed.constData()));
    stream.avail_in = uInt(compressed.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = inflate(&stream, Z_FINISH);
    const bool whole = result == Z_STREAM_END && stream.total_out == uLong(declared);
    inflateEnd(&stream);
    return whole ? out : QByteArray();
}

// Strips the per-frame additions that precede the content proper and
// inflates compressed contents. Returns false for contents that cannot be
// read (encrypted, or compressed and damaged).
bool unwrapContent(const TagInfo &tag, quint8 formatFlags, QByteArray &content)
{
    if (tag.Version == 3) {
        if (formatFlags & kV3Encrypted)
            return false;
        qint64 inflated = 0;
        if (formatFlags & kV3Compressed) { // the inflated size comes first
            if (content.size() < 4)
                return false;
            inflated = bigEndianValue(content, 0, 4);
            content.remove(0, 4);
        }
        if (formatFlags & kV3Grouped)
            content.remove(0, 1);
        if (formatFlags & kV3Compressed)
            content = inflateFrame(content, inflated);
        return !content.isEmpty() || !(formatFlags & kV3Compressed);
    }
    if (tag.Version != 4)
        return true;
    if (formatFlags & kV4Encrypted)
        return false;
    if (formatFlags & kV4Grouped)
        content.remove(0, 1);
    qint64 dataLength = -1;
    if (formatFlags & kV4DataLength) {
        if (content.size() < 4)
            return false;
        dataLength = synchsafeValue(content, 0);
        content.remove(0, 4);
    }
    if ((formatFlags & kV4Unsynchronised) || (tag.Flags & kUnsynchronised))
        content = removeUnsynchronisation(content);
    if (formatFlags & kV4Compressed) {
        // Compression needs the data length: without it the inflated size is unknown.
        content = inflateFrame(content, dataLength);
        return !content.isEmpty();
    }
    return true;
}

void storeFrame(TagInfo &tag, int index, const QByteArray &content)
{
    if (index != kCommIndex) {
        tag.Frames[index] = id3FrameText(content);
        return;
    }
    // A comment without a description is the plain comment; described ones
    // (player data, for the most part) only stand in for it.
    const ID3Comment comment = id3CommentText(content);
    const bool described = !comment.description.isEmpty();
    if (!tag.commFound || !described || tag.commDescribed) {
        tag.Frames[index] = comment.text;
        tag.commFound = true;
        tag.commDescribed = described;
    }
}

// The front cover wins over other pictures; otherwise the first one stays.
void storePicture(TagInfo &tag, const CoverPicture &picture)
{
    constexpr quint8 FrontCover = 3;
    if (!picture.isEmpty() &&
        (tag.cover.isEmpty() || (picture.type == FrontCover && tag.cover.type != FrontCover)))
        tag.cover = picture;
    else if (tag.cover.isEmpty() && !picture.note.isEmpty())
        tag.cover = picture; // nothing to carry, but the user hears of it
}

// The first non-zero byte at or after `pos`, or `end` when there is none.
qint64 nextNonZero(QIODevice &device, qint64 pos, qint64 end)
{
    while (pos < end) {
        const QByteArray chunk = readAt(device, pos, qMin<qint64>(4096, end - pos));
        if (chunk.isEmpty())
            return end;
        const auto found = std::find_if(chunk.begin(), chunk.end(), [](char c) { return c != '\0'; });
        if (found != chunk.end())
            return pos + (found - chunk.begin());
        pos += chunk.size();
    }
    return end;
}

// Walks the frames between `pos` and `end` of the device. Every step moves
// forward by at least one header, so the walk always ends.
void walkFrames(QIODevice &device, qint64 pos, qint64 end, TagInfo &tag)
{
    const bool v22 = tag.Version == 2;
    const qint64 headerSize = v22 ? 6 : 10;
    while (pos + headerSize <= end) {
        const QByteArray header = readAt(device, pos, headerSize);
        if (header.isEmpty()) // cut file
            return;
        if (header[0] == '\0') { // padding: some writers put frames after it
            pos = nextNonZero(device, pos, end);
            continue;
        }
        const QByteArray id = header.left(v22 ? 3 : 4);
        const qint64 contentStart = pos + headerSize;
        qint64 size = 0;
        if (v22)
            size = bigEndianValue(header, 3, 3);
        else if (tag.Version == 4)
            size = v4FrameSize(device, header, contentStart, end);
        else
            size = bigEndianValue(header, 4, 4);
        if (size > end - contentStart) // runs past the tag
            return;

        const int index = frameIndex(id, v22);
        const FrameUse use = frameUse(id, index, tag.Version);
        // A picture too large to carry is not even read.
        const bool oversized = use == FrameUse::Picture && size > MaxCoverBytes;
        if (oversized)
            storePicture(tag, oversizedCover(size));
        const bool wanted = use != FrameUse::None && !oversized;
        if (wanted && size > 0) {
            QByteArray content = readAt(device, contentStart, size);
            if (content.isEmpty())
                return;
            if (unwrapContent(tag, v22 ? 0 : quint8(header[9]), content)) {
                if (use == FrameUse::RecordingTime)
                    tag.recordingTime = id3FrameText(content);
                else if (use == FrameUse::Disc)
                    tag.disc = id3FrameText(content);
                else if (use == FrameUse::Picture)
                    storePicture(tag, id3PictureContent(content, v22));
                else
                    storeFrame(tag, index, content);
            }
        } else if (index >= 0) {
            storeFrame(tag, index, {});
        }
        pos = contentStart + size;
    }
}

// Offset of the first frame: past the extended header if there is one.
qint64 firstFrameOffset(QIODevice &device, qint64 pos, qint64 end, const TagInfo &tag)
{
    if ((tag.Version != 3 && tag.Version != 4) || !(tag.Flags & kExtendedHeader))
        return pos;
    const QByteArray sizeBytes = readAt(device, pos, qMin<qint64>(4, end - pos));
    // Some writers set the flag without writing the header: a frame follows.
    if (sizeBytes.size() < 4 || isFrameId(sizeBytes))
        return pos;
    if (tag.Version == 4)
        return pos + qMax<qint64>(synchsafeValue(sizeBytes, 0), 4);
    return pos + 4 + bigEndianValue(sizeBytes, 0, 4);
}

QString yearOf(const TagInfo &tag)
{
    const QString &year = tag.Frames[4];
    if (!year.isEmpty() || tag.recordingTime.isEmpty())
        return year;
    // "2005-09-05T12:00" names its year in the first four digits.
    const QString &time = tag.recordingTime;
    const bool datePrefix =
        time.size() >= 4 && std::all_of(time.begin(), time.begin() + 4, [](QChar c) { return c.isDigit(); });
    return datePrefix ? time.left(4) : time;
}

} // namespace

namespace {

// The end of the tag that starts the device, or 0 when there is none (or it
// claims more bytes than the device has).
qint64 id3v2TagEnd(QIODevice &device, QByteArray &header)
{
    if (!device.isOpen() || device.isSequential())
        return 0;
    header = readAt(device, 0, 10);
    if (header.size() < 10 || !header.startsWith("ID3"))
        return 0;
    // The size bytes are taken whole, as they always were; in a valid tag
    // their high bits are clear anyway.
    const qint64 tagEnd = qint64(quint8(header[6])) * 2097152 + qint64(quint8(header[7])) * 16384 +
                          qint64(quint8(header[8])) * 128 + qint64(quint8(header[9])) + 10;
    return tagEnd > device.size() ? 0 : tagEnd;
}

} // namespace

bool hasID3v2Tag(QIODevice &device)
{
    QByteArray header;
    return id3v2TagEnd(device, header) > 0;
}

ID3StructV2 parseID3v2(QIODevice &device)
{
    ID3StructV2 result;
    QByteArray header;
    const qint64 tagEnd = id3v2TagEnd(device, header);
    if (tagEnd == 0)
        return result;

    TagInfo tag;
    tag.Version = quint8(header[3]);
    tag.Flags = quint8(header[5]);
    if (tag.Version == 2 && (tag.Flags & kV22Compressed))
        return result; // no compression scheme was ever defined for it

    if (tag.Version != 4 && (tag.Flags & kUnsynchronised)) {
        // Before version 4 the whole tag body is unsynchronised at once, and
        // frame sizes count the restored bytes.
        QBuffer body;
        body.setData(removeUnsynchronisation(readAt(device, 10, tagEnd - 10)));
        body.open(QIODevice::ReadOnly);
        walkFrames(body, firstFrameOffset(body, 0, body.size(), tag), body.size(), tag);
    } else {
        walkFrames(device, firstFrameOffset(device, 10, tagEnd, tag), tagEnd, tag);
    }

    for (int i = 0; i < 7; ++i)
        result.*kFields[i] = tag.Frames[i];
    result.Year = yearOf(tag);
    result.Genre = genreFromId3(result.Genre);
    result.Disc = tag.disc;
    result.Cover = tag.cover;
    return result;
}

ID3StructV2 parseID3v2(const QByteArray &fileBytes)
{
    QBuffer buffer;
    buffer.setData(fileBytes);
    buffer.open(QIODevice::ReadOnly);
    return parseID3v2(buffer);
}

void ReadID3v2(const QString &fileName)
{
    ID3Tag = {};
    try {
        QFile file;
        if (!openRegularFile(fileName, file))
            return;
        ID3Tag = parseID3v2(file);
    } catch (...) {
        ID3Tag = {};
    }
}
