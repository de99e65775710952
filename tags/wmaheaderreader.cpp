#include "wmaheaderreader.h"

#include "asfformat.h"
#include "wmataginfo.h"

#include <QFile>
#include <QSet>
#include <QVarLengthArray>

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

using asf::LeReader;
using asf::TagField;
using asf::ValueType;

constexpr qsizetype ObjectHeaderSize = asf::kObjectHeadSize;
constexpr qsizetype HeaderObjectSize = asf::kHeaderObjectHeadSize;
constexpr quint32 EarlyTextLimit = 511;   // longer early-layout texts keep their first 511 units
constexpr quint32 LibraryTextLimit = 127; // what the library hands over through its 256-byte buffer
// The part of a file the reader looks at; headers with pictures stay far below.
constexpr qint64 MaxHeaderBytes = 16 * 1024 * 1024;

// `count` UTF-16 units, keeping at most `limit` of them and skipping the rest.
QString readHeaderText(LeReader &cursor, quint64 count, quint32 limit)
{
    const quint64 kept = std::min<quint64>(count, limit);
    const std::uint8_t *bytes = cursor.take(qsizetype(kept * 2));
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
QString ReadHeaderText(LeReader &cursor, quint16 length)
{
    return readHeaderText(cursor, length, EarlyTextLimit);
}

// The library never splits a surrogate pair when it cuts a text to its
// buffer; the current-layout reader cuts the same way so both agree.
QString readLibraryText(LeReader &cursor, quint64 byteLength)
{
    const qsizetype start = cursor.position();
    quint64 units = byteLength / 2;
    const std::uint8_t *bytes = cursor.take(qsizetype(std::min<quint64>(units, LibraryTextLimit) * 2));
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

// The early description's entry types: four fixed texts, then named entries.
enum EarlyEntry : quint8 {
    EarlyAuthor = 1,
    EarlyTitle = 2,
    EarlyExtra = 3,
    EarlyDescription = 4,
    EarlyNamed = 100
};

void readEarlyDescription(LeReader &cursor, WMATagInfo &work)
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
        case EarlyAuthor:
            setWmaTagText(work.Artist, value);
            break;
        case EarlyTitle:
            setWmaTagText(work.Title, value);
            break;
        case EarlyExtra:
            setWmaTagText(work.Extra, value);
            break;
        case EarlyDescription:
            setWmaTagText(work.Comment, value);
            break;
        default:
            if (type < EarlyNamed)
                break;
            switch (asf::attributeField(name, Qt::CaseInsensitive)) {
            case TagField::Track:
                work.TrackNumber = wmaTrackNumber({}, wmaTrackText(value));
                break;
            case TagField::Year:
                setWmaTagText(work.Year, value);
                break;
            case TagField::Album:
                setWmaTagText(work.Album, value);
                break;
            default:
                break;
            }
        }
    }
}

void walkEarlyHeader(LeReader &cursor, quint64 headerSize, WMATagInfo &work)
{
    // The walk's budget is the whole declared size: a child as large as the
    // header itself (as some writers declare it) is still read.
    quint64 remaining = headerSize;
    while (remaining > 0 && !cursor.ended()) {
        const qsizetype start = cursor.position();
        const bool description = cursor.matches(asf::kEarlyDescription);
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

void readContentDescription(LeReader cursor, WMATagInfo &work)
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
void applyAttribute(const QString &name, quint16 type, LeReader &cursor, quint64 valueLength,
                    WMATagInfo &work, CurrentLayoutValues &values)
{
    if (values.names.contains(name))
        return;
    values.names.insert(name);
    const TagField field = asf::attributeField(name);
    const ValueType valueType = ValueType(type);
    if (valueType == ValueType::Unicode) {
        const QString text = readLibraryText(cursor, valueLength);
        switch (field) {
        case TagField::Album:
            setWmaTagText(work.Album, text);
            break;
        case TagField::Year:
            setWmaTagText(work.Year, text);
            break;
        case TagField::Genre:
            setWmaTagText(work.Genre, text);
            break;
        case TagField::Title:
            values.title = text;
            break;
        case TagField::Artist:
            values.author = text;
            break;
        case TagField::Comment:
            values.description = text;
            break;
        case TagField::TrackNumber:
            values.trackNumber = wmaTrackText(text);
            break;
        case TagField::Track:
            values.track = wmaTrackText(text);
            break;
        default:
            break;
        }
        return;
    }
    // DWORD, QWORD and WORD numbers, as taggers store track numbers.
    std::optional<quint32> number;
    if (valueType == ValueType::DWord && valueLength == 4)
        number = quint32(cursor.number(4));
    else if (valueType == ValueType::Word && valueLength == 2)
        number = quint32(cursor.number(2));
    else if (valueType == ValueType::QWord && valueLength == 8) {
        const quint64 wide = cursor.number(8);
        if (wide <= 0xFFFFFFFFu)
            number = quint32(wide);
    }
    if (field == TagField::TrackNumber)
        values.trackNumber = number;
    else if (field == TagField::Track)
        values.track = number;
}

void readExtendedDescription(LeReader cursor, WMATagInfo &work, CurrentLayoutValues &values)
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
void readMetadataRecords(LeReader cursor, WMATagInfo &work, CurrentLayoutValues &values)
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
void readHeaderExtension(LeReader cursor, WMATagInfo &work, CurrentLayoutValues &values)
{
    cursor.take(18);
    const quint64 dataSize = cursor.number(4);
    const qsizetype end = qsizetype(std::min<quint64>(dataSize, quint64(cursor.left()))) + cursor.position();
    while (cursor.position() + ObjectHeaderSize <= end && !cursor.ended()) {
        const qsizetype start = cursor.position();
        const std::uint8_t *guid = cursor.take(16);
        const quint64 size = cursor.number(8);
        if (cursor.ended() || size < quint64(ObjectHeaderSize) || size > quint64(end - start))
            return;
        const LeReader body(QByteArrayView(guid + ObjectHeaderSize, qsizetype(size) - ObjectHeaderSize));
        if (asf::isGuid(guid, asf::kMetadata) || asf::isGuid(guid, asf::kMetadataLibrary))
            readMetadataRecords(body, work, values);
        cursor.seek(quint64(start) + size);
    }
}

void walkCurrentHeader(LeReader &cursor, quint64 headerSize, WMATagInfo &work)
{
    cursor.take(HeaderObjectSize - ObjectHeaderSize);
    quint64 remaining = headerSize > quint64(HeaderObjectSize) ? headerSize - HeaderObjectSize : 0;
    CurrentLayoutValues seen;
    bool contentDescription = false;
    while (remaining > 0 && !cursor.ended()) {
        const qsizetype start = cursor.position();
        const std::uint8_t *guidBytes = cursor.take(16);
        const quint64 size = cursor.number(8);
        if (cursor.ended() || size < quint64(ObjectHeaderSize) || size > remaining)
            break;
        remaining -= size;
        // The object's body, cut where the bytes end for a truncated file.
        const qsizetype bodyLength =
            qsizetype(std::min<quint64>(size - ObjectHeaderSize, quint64(cursor.left())));
        const LeReader body(QByteArrayView(guidBytes + ObjectHeaderSize, bodyLength));
        if (asf::isGuid(guidBytes, asf::kContentDescription) && !contentDescription) {
            readContentDescription(body, work);
            contentDescription = true;
        } else if (asf::isGuid(guidBytes, asf::kExtendedContentDescription)) {
            readExtendedDescription(body, work, seen);
        } else if (asf::isGuid(guidBytes, asf::kHeaderExtension)) {
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
    LeReader cursor(bytes);
    const bool early = cursor.matches(asf::kEarlyHeader);
    if (!early)
        cursor.seek(0);
    const bool current = !early && cursor.matches(asf::kHeaderObject);
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
        const quint64 headerSize =
            asf::readLe(reinterpret_cast<const std::uint8_t *>(bytes.constData()) + 16, 8);
        const qint64 wanted =
            qint64(std::min<quint64>(headerSize, quint64(MaxHeaderBytes))) - ObjectHeaderSize;
        if (wanted > 0)
            bytes += file.read(wanted);
    }
    return ReadWmaHeader(bytes, tag);
}
