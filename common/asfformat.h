#pragma once

#include <QByteArrayView>
#include <QStringView>

#include <array>
#include <cstdint>
#include <optional>

// What the WMA (ASF) container fixes and several readers and writers share:
// object identifiers, little-endian numbers, attribute value types and the
// attribute names tags travel under.
namespace asf {

// An object's identifier as it is stored: the first three fields little-endian.
using Guid = std::array<std::uint8_t, 16>;

inline constexpr Guid kHeaderObject = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                       0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
inline constexpr Guid kDataObject = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
inline constexpr Guid kFileProperties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                         0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
inline constexpr Guid kSimpleIndex = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,
                                      0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};
inline constexpr Guid kContentDescription = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                             0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
inline constexpr Guid kExtendedContentDescription = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                                     0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};
inline constexpr Guid kHeaderExtension = {0xB5, 0x03, 0xBF, 0x5F, 0x2E, 0xA9, 0xCF, 0x11,
                                          0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
inline constexpr Guid kMetadata = {0xEA, 0xCB, 0xF8, 0xC5, 0xAF, 0x5B, 0x77, 0x48,
                                   0x84, 0x67, 0xAA, 0x8C, 0x44, 0xFA, 0x4C, 0xCA};
inline constexpr Guid kMetadataLibrary = {0x94, 0x1C, 0x23, 0x44, 0x98, 0x94, 0xD1, 0x49,
                                          0xA1, 0x41, 0x1D, 0x13, 0x4E, 0x45, 0x70, 0x54};
// The header object of early ASF writers and its description object of
// typed, named entries.
inline constexpr Guid kEarlyHeader = {0xD1, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11,
                                      0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE};
inline constexpr Guid kEarlyDescription = {0xD5, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11,
                                           0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE};

inline constexpr int kObjectHeadSize = 24;       // identifier and size
inline constexpr int kHeaderObjectHeadSize = 30; // and the count of objects inside, two reserved bytes

// `at` holds at least 16 bytes.
bool isGuid(const std::uint8_t *at, const Guid &guid);
// `bytes` (at most 8) little-endian bytes from `at`.
std::uint64_t readLe(const std::uint8_t *at, int bytes);

// Reads little-endian values from a byte view. A read past the end yields
// nothing and marks the reader as ended, so callers can stop their walk.
class LeReader {
public:
    explicit LeReader(QByteArrayView data) : m_data(data) {}

    bool ended() const { return m_ended; }
    qsizetype position() const { return m_position; }
    qsizetype left() const { return m_data.size() - m_position; }

    // The next `count` bytes, or null past the end.
    const std::uint8_t *take(qsizetype count);
    // A number of `size` bytes (at most 8); 0 past the end.
    std::uint64_t number(int size);
    // Takes 16 bytes: whether they are `guid`.
    bool matches(const Guid &guid);
    // Moves to an absolute position; beyond the end counts as ended.
    void seek(std::uint64_t position);

private:
    QByteArrayView m_data;
    qsizetype m_position = 0;
    bool m_ended = false;
};

// An attribute value's type as the header stores it.
enum class ValueType : std::uint16_t {
    Unicode = 0,
    Bytes = 1,
    Bool = 2,
    DWord = 3,
    QWord = 4,
    Word = 5,
    GuidValue = 6
};

// The tag record fields attributes are read into and written from.
enum class TagField {
    None,
    Title,
    Artist,
    Comment,
    Album,
    Track,
    Genre,
    Year,
    TrackNumber,
    DiscNumber,
    Picture
};

struct Attribute {
    const char16_t *name;
    TagField field;
};

// The attribute names the tag module knows, in the attribute library's
// order, and the field each one carries (None: known, not used); then the
// disc number and cover that a converted file carries too.
inline constexpr Attribute kAttributes[] = {
    {u"Duration", TagField::None},
    {u"Bitrate", TagField::None},
    {u"Seekable", TagField::None},
    {u"Broadcast", TagField::None},
    {u"Is_Protected", TagField::None},
    {u"Is_Trusted", TagField::None},
    {u"Signature_Name", TagField::None},
    {u"Title", TagField::Title},
    {u"Author", TagField::Artist},
    {u"Description", TagField::Comment},
    {u"Rating", TagField::None},
    {u"Copyright", TagField::None},
    {u"Use_DRM", TagField::None},
    {u"DRM_Flags", TagField::None},
    {u"DRM_Level", TagField::None},
    {u"WM/AlbumTitle", TagField::Album},
    {u"WM/Track", TagField::Track}, // counts from 0
    {u"WM/PromotionURL", TagField::None},
    {u"WM/AlbumCoverURL", TagField::None},
    {u"WM/Genre", TagField::Genre},
    {u"WM/Year", TagField::Year},
    {u"WM/TrackNumber", TagField::TrackNumber},
    {u"WM/PartOfSet", TagField::DiscNumber},
    {u"WM/Picture", TagField::Picture},
};

// The name `field` is stored under (null for None).
constexpr const char16_t *attributeName(TagField field)
{
    if (field == TagField::None)
        return nullptr;
    for (const Attribute &attribute : kAttributes)
        if (attribute.field == field)
            return attribute.name;
    return nullptr;
}

// The field an attribute name carries; None for names that carry none.
TagField attributeField(QStringView name, Qt::CaseSensitivity sensitivity = Qt::CaseSensitive);

} // namespace asf
