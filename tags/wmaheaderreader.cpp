#include "wmaheaderreader.h"

#include "wmatags.h"

#include <QFile>
#include <QSet>
#include <QVarLengthArray>

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

using Guid = unsigned char[16];

// Early ASF layout: the header object and its description object.
constexpr Guid EarlyHeaderGuid = {0xD1, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11,
                                  0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE};
constexpr Guid EarlyDescriptionGuid = {0xD5, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11,
                                       0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE};
// Current ASF layout.
constexpr Guid HeaderGuid = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                             0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid ContentDescriptionGuid = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                         0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid ExtendedDescriptionGuid = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                          0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};

constexpr Guid HeaderExtensionGuid = {0xB5, 0x03, 0xBF, 0x5F, 0x2E, 0xA9, 0xCF, 0x11,
                                      0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid MetadataGuid = {0xEA, 0xCB, 0xF8, 0xC5, 0xAF, 0x5B, 0x77, 0x48,
                               0x84, 0x67, 0xAA, 0x8C, 0x44, 0xFA, 0x4C, 0xCA};
constexpr Guid MetadataLibraryGuid = {0x94, 0x1C, 0x23, 0x44, 0x98, 0x94, 0xD1, 0x49,
                                      0xA1, 0x41, 0x1D, 0x13, 0x4E, 0x45, 0x70, 0x54};

constexpr qsizetype ObjectHeaderSize = 24;
constexpr qsizetype HeaderObjectSize = 30; // current layout: + object count and two reserved bytes
constexpr quint32 EarlyTextLimit = 511;    // longer early-layout texts keep their first 511 units
constexpr quint32 LibraryTextLimit = 127;  // what the library hands over through its 256-byte buffer
// The part of a file the reader looks at; headers with pictures stay far below.
constexpr qint64 MaxHeaderBytes = 16 * 1024 * 1024;

// Reads little-endian values from a byte view. A read past the end yields
// nothing and marks the cursor as ended, so callers can stop the walk.
class Cursor {
public:
    explicit Cursor(QByteArrayView data) : m_data(data) {}

    bool ended() const { return m_ended; }
    qsizetype position() const { return m_position; }
    qsizetype left() const { return m_data.size() - m_position; }

    const unsigned char *take(qsizetype count)
    {
        if (m_ended || count < 0 || count > left()) {
            m_ended = true;
            return nullptr;
        }
        const auto *bytes = reinterpret_cast<const unsigned char *>(m_data.data()) + m_position;
        m_position += count;
        return bytes;
    }
    quint64 number(int size)
    {
        const unsigned char *bytes = take(size);
        quint64 value = 0;
        for (int i = 0; bytes && i < size; ++i)
            value |= quint64(bytes[i]) << (8 * i);
        return value;
    }
    bool matches(const Guid &guid)
    {
        const unsigned char *bytes = take(16);
        return bytes && std::memcmp(bytes, guid, 16) == 0;
    }
    // Moves to an absolute position; beyond the end counts as ended.
    void seek(quint64 position)
    {
        if (position > quint64(m_data.size()))
            m_ended = true;
        else
            m_position = qsizetype(position);
    }

private:
    QByteArrayView m_data;
    qsizetype m_position = 0;
    bool m_ended = false;
};

// `count` UTF-16 units, keeping at most `limit` of them and skipping the rest.
QString readHeaderText(Cursor &cursor, quint64 count, quint32 limit)
{
    const quint64 kept = std::min<quint64>(count, limit);
    const unsigned char *bytes = cursor.take(qsizetype(kept * 2));
    if (!bytes)
        return {};
    if (count > kept)
        cursor.seek(quint64(cursor.position()) + (count - kept) * 2);
    QVarLengthArray<char16_t, 512> units(qsizetype(kept), 0);
    for (qsizetype i = 0; i < units.size(); ++i)
        units[i] = char16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return wmaTextFromUtf16(units.constData(), units.size());
}

// The early layout's text reader: the text is the units up to the first zero.
QString ReadHeaderText(Cursor &cursor, quint16 length)
{
    return readHeaderText(cursor, length, EarlyTextLimit);
}

// The library never splits a surrogate pair when it cuts a text to its
// buffer; the current-layout reader cuts the same way so both agree.
QString readLibraryText(Cursor &cursor, quint64 byteLength)
{
    const qsizetype start = cursor.position();
    quint64 units = byteLength / 2;
    const unsigned char *bytes = cursor.take(qsizetype(std::min<quint64>(units, LibraryTextLimit) * 2));
    if (!bytes)
        return {};
    cursor.seek(quint64(start) + byteLength);
    QVarLengthArray<char16_t, LibraryTextLimit> text;
    for (quint64 i = 0; i < std::min<quint64>(units, LibraryTextLimit); ++i) {
        const char16_t unit = char16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        if (unit == 0)
            break;
        text.append(unit);
    }
    if (units > LibraryTextLimit && text.size() == qsizetype(LibraryTextLimit) &&
        QChar::isHighSurrogate(text.back()))
        text.removeLast();
    return wmaTextFromUtf16(text.constData(), text.size());
}

bool sameName(const QString &name, QLatin1StringView expected)
{
    return name.compare(expected, Qt::CaseInsensitive) == 0;
}

void readEarlyDescription(Cursor &cursor, WMATagInfo &work)
{
    const quint16 count = quint16(cursor.number(2));
    for (quint16 i = 0; i < count && !cursor.ended(); ++i) {
        const quint8 type = quint8(cursor.number(1));
        cursor.take(4);
        const quint16 nameLength = quint16(cursor.number(2));
        const quint16 valueLength = quint16(cursor.number(2));
        const QString name = ReadHeaderText(cursor, nameLength);
        const QString value = ReadHeaderText(cursor, valueLength);
        if (cursor.ended())
            return;
        switch (type) {
        case 1:
            setWmaTagText(work.Artist, value);
            break;
        case 2:
            setWmaTagText(work.Title, value);
            break;
        case 3:
            setWmaTagText(work.Extra, value);
            break;
        case 4:
            setWmaTagText(work.Comment, value);
            break;
        default:
            if (type < 100)
                break;
            if (sameName(name, QLatin1StringView("WM/Track")))
                work.TrackNumber = wmaTrackNumber({}, wmaTrackText(value));
            else if (sameName(name, QLatin1StringView("WM/Year")))
                setWmaTagText(work.Year, value);
            else if (sameName(name, QLatin1StringView("WM/AlbumTitle")))
                setWmaTagText(work.Album, value);
        }
    }
}

void walkEarlyHeader(Cursor &cursor, quint64 headerSize, WMATagInfo &work)
{
    // The walk's budget is the whole declared size: a child as large as the
    // header itself (as some writers declare it) is still read.
    quint64 remaining = headerSize;
    while (remaining > 0 && !cursor.ended()) {
        const qsizetype start = cursor.position();
        const bool description = cursor.matches(EarlyDescriptionGuid);
        const quint64 size = cursor.number(8);
        // A size below the object header itself could never move the walk on.
        if (cursor.ended() || size < quint64(ObjectHeaderSize) || size > remaining)
            return;
        remaining -= size;
        if (description)
            readEarlyDescription(cursor, work); // the walk goes on where the entries end
        else
            cursor.seek(quint64(start) + size);
    }
}

// The attribute values met so far. A name given more than once keeps the
// value met first in the header, wherever it is stored, as the library path
// reads it; names are matched exactly, as there.
struct CurrentLayoutValues {
    QSet<QString> names;
    std::optional<quint32> trackNumber;
    std::optional<quint32> track;
    // Content description texts that some writers keep among the extended
    // attributes; used where the content description leaves them empty.
    std::optional<QString> title, author, description;
};

void readContentDescription(Cursor cursor, WMATagInfo &work)
{
    quint16 lengths[5];
    for (quint16 &length : lengths)
        length = quint16(cursor.number(2));
    if (cursor.ended())
        return;
    char *fields[5] = {work.Title, work.Artist, nullptr, work.Comment, nullptr};
    const qsizetype sizes[5] = {sizeof work.Title, sizeof work.Artist, 0, sizeof work.Comment, 0};
    for (int i = 0; i < 5 && !cursor.ended(); ++i) {
        const QString text = readLibraryText(cursor, lengths[i]);
        if (cursor.ended() || !fields[i])
            continue;
        const QByteArray utf8 = text.toUtf8();
        const qsizetype length = wmaUtf8FitLength(utf8, sizes[i] - 1);
        std::memset(fields[i], 0, size_t(sizes[i]));
        std::memcpy(fields[i], utf8.constData(), size_t(length));
    }
}

// One attribute, its value at the cursor. Texts and 32-bit numbers only, as
// the library path takes them.
void applyAttribute(const QString &name, quint16 type, Cursor &cursor, quint64 valueLength, WMATagInfo &work,
                    CurrentLayoutValues &values)
{
    if (values.names.contains(name))
        return;
    values.names.insert(name);
    if (type == 0) {
        const QString text = readLibraryText(cursor, valueLength);
        if (name == QLatin1StringView("WM/AlbumTitle"))
            setWmaTagText(work.Album, text);
        else if (name == QLatin1StringView("WM/Year"))
            setWmaTagText(work.Year, text);
        else if (name == QLatin1StringView("WM/Genre"))
            setWmaTagText(work.Genre, text);
        else if (name == QLatin1StringView("Title"))
            values.title = text;
        else if (name == QLatin1StringView("Author"))
            values.author = text;
        else if (name == QLatin1StringView("Description"))
            values.description = text;
        else if (name == QLatin1StringView("WM/TrackNumber"))
            values.trackNumber = wmaTrackText(text);
        else if (name == QLatin1StringView("WM/Track"))
            values.track = wmaTrackText(text);
        return;
    }
    // DWORD, QWORD and WORD numbers, as taggers store track numbers.
    std::optional<quint32> number;
    if (type == 3 && valueLength == 4)
        number = quint32(cursor.number(4));
    else if (type == 5 && valueLength == 2)
        number = quint32(cursor.number(2));
    else if (type == 4 && valueLength == 8) {
        const quint64 wide = cursor.number(8);
        if (wide <= 0xFFFFFFFFu)
            number = quint32(wide);
    }
    if (name == QLatin1StringView("WM/TrackNumber"))
        values.trackNumber = number;
    else if (name == QLatin1StringView("WM/Track"))
        values.track = number;
}

void readExtendedDescription(Cursor cursor, WMATagInfo &work, CurrentLayoutValues &values)
{
    const quint16 count = quint16(cursor.number(2));
    for (quint16 i = 0; i < count && !cursor.ended(); ++i) {
        const quint16 nameLength = quint16(cursor.number(2));
        const QString name = readLibraryText(cursor, nameLength);
        const quint16 type = quint16(cursor.number(2));
        const quint16 valueLength = quint16(cursor.number(2));
        const qsizetype valueStart = cursor.position();
        if (cursor.ended())
            return;
        applyAttribute(name, type, cursor, valueLength, work, values);
        cursor.seek(quint64(valueStart) + valueLength);
    }
}

// The metadata and metadata library objects: records with a language and a
// stream, a name length in bytes and a 32-bit value length.
void readMetadataRecords(Cursor cursor, WMATagInfo &work, CurrentLayoutValues &values)
{
    const quint16 count = quint16(cursor.number(2));
    for (quint16 i = 0; i < count && !cursor.ended(); ++i) {
        cursor.take(4); // language and stream
        const quint16 nameLength = quint16(cursor.number(2));
        const quint16 type = quint16(cursor.number(2));
        const quint32 valueLength = quint32(cursor.number(4));
        const QString name = readLibraryText(cursor, nameLength);
        const qsizetype valueStart = cursor.position();
        if (cursor.ended())
            return;
        applyAttribute(name, type, cursor, valueLength, work, values);
        cursor.seek(quint64(valueStart) + valueLength);
    }
}

// The header extension object: 22 bytes of its own, then objects of the
// same form as the header's children.
void readHeaderExtension(Cursor cursor, WMATagInfo &work, CurrentLayoutValues &values)
{
    cursor.take(18);
    const quint64 dataSize = cursor.number(4);
    const qsizetype end = qsizetype(std::min<quint64>(dataSize, quint64(cursor.left()))) + cursor.position();
    while (cursor.position() + ObjectHeaderSize <= end && !cursor.ended()) {
        const qsizetype start = cursor.position();
        const unsigned char *guid = cursor.take(16);
        const quint64 size = cursor.number(8);
        if (cursor.ended() || size < quint64(ObjectHeaderSize) || size > quint64(end - start))
            return;
        const Cursor body(QByteArrayView(guid + ObjectHeaderSize, qsizetype(size) - ObjectHeaderSize));
        if (std::memcmp(guid, MetadataGuid, 16) == 0 || std::memcmp(guid, MetadataLibraryGuid, 16) == 0)
            readMetadataRecords(body, work, values);
        cursor.seek(quint64(start) + size);
    }
}

void walkCurrentHeader(Cursor &cursor, quint64 headerSize, WMATagInfo &work)
{
    cursor.take(HeaderObjectSize - ObjectHeaderSize);
    quint64 remaining = headerSize > quint64(HeaderObjectSize) ? headerSize - HeaderObjectSize : 0;
    CurrentLayoutValues seen;
    bool contentDescription = false;
    while (remaining > 0 && !cursor.ended()) {
        const qsizetype start = cursor.position();
        Guid guid;
        const unsigned char *guidBytes = cursor.take(16);
        const quint64 size = cursor.number(8);
        if (cursor.ended() || size < quint64(ObjectHeaderSize) || size > remaining)
            break;
        std::memcpy(guid, guidBytes, 16);
        remaining -= size;
        // The object's body, cut where the bytes end for a truncated file.
        const qsizetype bodyLength =
            qsizetype(std::min<quint64>(size - ObjectHeaderSize, quint64(cursor.left())));
        const Cursor body(QByteArrayView(guidBytes + ObjectHeaderSize, bodyLength));
        if (std::memcmp(guid, ContentDescriptionGuid, 16) == 0 && !contentDescription) {
            readContentDescription(body, work);
            contentDescription = true;
        } else if (std::memcmp(guid, ExtendedDescriptionGuid, 16) == 0) {
            readExtendedDescription(body, work, seen);
        } else if (std::memcmp(guid, HeaderExtensionGuid, 16) == 0) {
            readHeaderExtension(body, work, seen);
        }
        cursor.seek(quint64(start) + size);
    }
    if (seen.title && work.Title[0] == 0)
        setWmaTagText(work.Title, *seen.title);
    if (seen.author && work.Artist[0] == 0)
        setWmaTagText(work.Artist, *seen.author);
    if (seen.description && work.Comment[0] == 0)
        setWmaTagText(work.Comment, *seen.description);
    work.TrackNumber = wmaTrackNumber(seen.trackNumber, seen.track);
}

} // namespace

bool ReadWmaHeader(QByteArrayView bytes, WMATagInfo &tag)
{
    Cursor cursor(bytes);
    const bool early = cursor.matches(EarlyHeaderGuid);
    if (!early)
        cursor.seek(0);
    const bool current = !early && cursor.matches(HeaderGuid);
    if (!early && !current)
        return false;
    const quint64 headerSize = cursor.number(8);
    WMATagInfo work{};
    work.Found = -1;
    if (early)
        walkEarlyHeader(cursor, headerSize, work);
    else
        walkCurrentHeader(cursor, headerSize, work);
    tag = work;
    return true;
}

bool ReadWmaHeaderFile(const QString &fileName, WMATagInfo &tag)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = file.read(ObjectHeaderSize);
    if (bytes.size() == ObjectHeaderSize) {
        quint64 headerSize = 0;
        for (int i = 0; i < 8; ++i)
            headerSize |= quint64(quint8(bytes[16 + i])) << (8 * i);
        const qint64 wanted =
            qint64(std::min<quint64>(headerSize, quint64(MaxHeaderBytes))) - ObjectHeaderSize;
        if (wanted > 0)
            bytes += file.read(wanted);
    }
    return ReadWmaHeader(bytes, tag);
}
