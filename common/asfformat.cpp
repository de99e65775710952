#include "asfformat.h"

#include <QString>

#include <cstring>

namespace asf {

bool isGuid(const std::uint8_t *at, const Guid &guid)
{
    return std::memcmp(at, guid.data(), guid.size()) == 0;
}

std::uint64_t readLe(const std::uint8_t *at, int bytes)
{
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | at[i];
    return value;
}

const std::uint8_t *LeReader::take(qsizetype count)
{
    if (m_ended || count < 0 || count > left()) {
        m_ended = true;
        return nullptr;
    }
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(m_data.data()) + m_position;
    m_position += count;
    return bytes;
}

std::uint64_t LeReader::number(int size)
{
    const std::uint8_t *bytes = take(size);
    return bytes ? readLe(bytes, size) : 0;
}

bool LeReader::matches(const Guid &guid)
{
    const std::uint8_t *bytes = take(16);
    return bytes && isGuid(bytes, guid);
}

void LeReader::seek(std::uint64_t position)
{
    if (position > std::uint64_t(m_data.size()))
        m_ended = true;
    else
        m_position = qsizetype(position);
}

TagField attributeField(QStringView name, Qt::CaseSensitivity sensitivity)
{
    for (const Attribute &attribute : kAttributes)
        if (name.compare(QStringView(attribute.name), sensitivity) == 0)
            return attribute.field;
    return TagField::None;
}

} // namespace asf
