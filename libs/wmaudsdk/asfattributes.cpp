#include "asfattributes.h"

#include <taglib/asfattribute.h>
#include <taglib/asftag.h>

#include "wmaudsdk.h"

namespace {

TagLib::String toTagString(const std::u16string &text)
{
    TagLib::ByteVector bytes;
    for (const char16_t unit : text) {
        bytes.append(static_cast<char>(unit & 0xFF));
        bytes.append(static_cast<char>(unit >> 8));
    }
    return TagLib::String(bytes, TagLib::String::UTF16LE);
}

std::vector<std::uint8_t> textBytes(const TagLib::String &text)
{
    const TagLib::ByteVector data = text.data(TagLib::String::UTF16LE);
    std::vector<std::uint8_t> bytes(data.begin(), data.end());
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

// Units up to the first zero unit or the end of the bytes.
std::u16string bytesToText(const std::vector<std::uint8_t> &bytes)
{
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (unit == 0)
            break;
        text.push_back(unit);
    }
    return text;
}

std::uint64_t littleEndian(const std::vector<std::uint8_t> &bytes, std::size_t count)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
        value |= std::uint64_t(bytes[i]) << (8 * i);
    return value;
}

std::vector<std::uint8_t> toLittleEndian(std::uint64_t value, std::size_t count)
{
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return bytes;
}

enum class DescriptionField { None, Title, Author, Copyright, Description, Rating };

DescriptionField descriptionField(const std::u16string &name)
{
    if (name == u"Title")
        return DescriptionField::Title;
    if (name == u"Author")
        return DescriptionField::Author;
    if (name == u"Copyright")
        return DescriptionField::Copyright;
    if (name == u"Description")
        return DescriptionField::Description;
    if (name == u"Rating")
        return DescriptionField::Rating;
    return DescriptionField::None;
}

TagLib::String descriptionText(const TagLib::ASF::Tag &tag, DescriptionField field)
{
    switch (field) {
    case DescriptionField::Title:
        return tag.title();
    case DescriptionField::Author:
        return tag.artist();
    case DescriptionField::Copyright:
        return tag.copyright();
    case DescriptionField::Description:
        return tag.comment();
    case DescriptionField::Rating:
        return tag.rating();
    case DescriptionField::None:
        break;
    }
    return {};
}

// Extended attributes that repeat a content description text in any letter
// case would shadow a newly written value for some readers (ffmpeg's own
// files carry a "title" there).
void removeExtendedCopies(TagLib::ASF::Tag &tag, const TagLib::String &name)
{
    const TagLib::String upper = name.upper();
    std::vector<TagLib::String> copies;
    for (const auto &entry : tag.attributeListMap())
        if (entry.first.upper() == upper)
            copies.push_back(entry.first);
    for (const TagLib::String &copy : copies)
        tag.removeItem(copy);
}

bool getExtendedAttribute(const TagLib::ASF::Tag &tag, const TagLib::String &key, AsfValue &value,
                          std::size_t index = 0)
{
    using TagLib::ASF::Attribute;
    if (!tag.contains(key))
        return false;
    const TagLib::ASF::AttributeList list = tag.attribute(key);
    if (index >= list.size())
        return false;
    const Attribute &attribute = list[static_cast<unsigned>(index)];
    switch (attribute.type()) {
    case Attribute::UnicodeType:
        value = {WMA_TYPE_STRING, textBytes(attribute.toString())};
        return true;
    case Attribute::DWordType:
        value = {WMA_TYPE_DWORD, toLittleEndian(attribute.toUInt(), 4)};
        return true;
    case Attribute::QWordType:
        value = {WMA_TYPE_QWORD, toLittleEndian(attribute.toULongLong(), 8)};
        return true;
    case Attribute::WordType:
        value = {WMA_TYPE_WORD, toLittleEndian(attribute.toUShort(), 2)};
        return true;
    case Attribute::BoolType:
        value = {WMA_TYPE_BOOL, toLittleEndian(attribute.toBool() ? 1 : 0, 4)};
        return true;
    case Attribute::BytesType:
    case Attribute::GuidType: {
        const TagLib::ByteVector data = attribute.toByteVector();
        value = {attribute.type() == Attribute::BytesType ? WMA_TYPE_BINARY : WMA_TYPE_GUID,
                 std::vector<std::uint8_t>(data.begin(), data.end())};
        return true;
    }
    }
    return false;
}

} // namespace

std::string utf16ToUtf8(const std::u16string &text)
{
    return toTagString(text).to8Bit(true);
}

bool getAsfAttribute(const TagLib::ASF::Tag &tag, const std::u16string &name, AsfValue &value)
{
    const TagLib::String key = toTagString(name);
    const DescriptionField field = descriptionField(name);
    if (field != DescriptionField::None) {
        // The content description object always has its five texts, empty or
        // not; some writers put them among the extended attributes instead.
        const TagLib::String text = descriptionText(tag, field);
        if (text.isEmpty() && tag.contains(key))
            return getExtendedAttribute(tag, key, value);
        value = {WMA_TYPE_STRING, textBytes(text)};
        return true;
    }
    return getExtendedAttribute(tag, key, value);
}

bool getAsfAttributeAt(const TagLib::ASF::Tag &tag, const std::u16string &name, std::size_t index,
                       AsfValue &value)
{
    if (descriptionField(name) != DescriptionField::None)
        return index == 0 && getAsfAttribute(tag, name, value);
    return getExtendedAttribute(tag, toTagString(name), value, index);
}

bool setAsfAttribute(TagLib::ASF::Tag &tag, const std::u16string &name, std::uint32_t type,
                     const std::vector<std::uint8_t> &bytes)
{
    using TagLib::ASF::Attribute;
    const DescriptionField field = descriptionField(name);
    if (field != DescriptionField::None) {
        if (type != WMA_TYPE_STRING)
            return false;
        const TagLib::String text = toTagString(bytesToText(bytes));
        removeExtendedCopies(tag, toTagString(name));
        switch (field) {
        case DescriptionField::Title:
            tag.setTitle(text);
            break;
        case DescriptionField::Author:
            tag.setArtist(text);
            break;
        case DescriptionField::Copyright:
            tag.setCopyright(text);
            break;
        case DescriptionField::Description:
            tag.setComment(text);
            break;
        case DescriptionField::Rating:
            tag.setRating(text);
            break;
        case DescriptionField::None:
            break;
        }
        return true;
    }
    const TagLib::String key = toTagString(name);
    switch (type) {
    case WMA_TYPE_DWORD:
        if (bytes.size() != 4)
            return false;
        tag.setAttribute(key, Attribute(static_cast<unsigned int>(littleEndian(bytes, 4))));
        return true;
    case WMA_TYPE_STRING:
        if (bytes.size() % 2 != 0)
            return false;
        tag.setAttribute(key, Attribute(toTagString(bytesToText(bytes))));
        return true;
    case WMA_TYPE_BINARY:
        tag.setAttribute(key, Attribute(TagLib::ByteVector(reinterpret_cast<const char *>(bytes.data()),
                                                           static_cast<unsigned int>(bytes.size()))));
        return true;
    case WMA_TYPE_BOOL:
        if (bytes.size() != 4)
            return false;
        tag.setAttribute(key, Attribute(littleEndian(bytes, 4) != 0));
        return true;
    case WMA_TYPE_QWORD:
        if (bytes.size() != 8)
            return false;
        tag.setAttribute(key, Attribute(static_cast<unsigned long long>(littleEndian(bytes, 8))));
        return true;
    case WMA_TYPE_WORD:
        if (bytes.size() != 2)
            return false;
        tag.setAttribute(key, Attribute(static_cast<unsigned short>(littleEndian(bytes, 2))));
        return true;
    default:
        return false;
    }
}
