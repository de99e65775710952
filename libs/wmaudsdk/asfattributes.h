#pragma once

// Translation between the library's typed attribute values and TagLib's ASF
// tag. "Title", "Author", "Copyright", "Description" and "Rating" live in the
// content description object; every other name is an extended attribute.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace TagLib::ASF {
class Tag;
}

struct AsfValue {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes; // texts: UTF-16LE with the terminator
};

// False when the tag has no such attribute.
bool getAsfAttribute(const TagLib::ASF::Tag &tag, const std::u16string &name, AsfValue &value);
// The index-th value of a name stored several times (pictures are); false past the last.
bool getAsfAttributeAt(const TagLib::ASF::Tag &tag, const std::u16string &name, std::size_t index,
                       AsfValue &value);
// False when the type is unknown or the value does not fit it.
bool setAsfAttribute(TagLib::ASF::Tag &tag, const std::u16string &name, std::uint32_t type,
                     const std::vector<std::uint8_t> &bytes);

std::string utf16ToUtf8(const std::u16string &text);
