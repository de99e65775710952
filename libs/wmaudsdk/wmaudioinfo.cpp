#include "wmaudioinfo.h"

#include "asfattributes.h"
#include "safereplace.h"

#include <taglib/asffile.h>
#include <taglib/asftag.h>
#include <taglib/tbytevectorstream.h>

#include <cstring>
#include <fstream>

namespace {

std::u16string nameFrom(const char16_t *name)
{
    std::u16string text;
    // Attribute names are short; the cap only guards against a missing terminator.
    for (std::size_t i = 0; name[i] != 0 && i < 32768; ++i)
        text.push_back(name[i]);
    return text;
}

std::unique_ptr<TagLib::ASF::File> openAsf(const std::string &path)
{
    auto file = std::make_unique<TagLib::ASF::File>(path.c_str(), false);
    if (!file->isValid() || !file->tag())
        return nullptr;
    return file;
}

// Cuts a UTF-16 text (terminator included) to `capacity` bytes, never between
// the two halves of a surrogate pair, and ends it with a terminator again.
std::size_t fitText(std::vector<std::uint8_t> &bytes, std::size_t capacity)
{
    if (bytes.size() <= capacity)
        return bytes.size();
    std::size_t units = capacity / 2 - 1;
    if (units > 0) {
        const unsigned last = bytes[2 * units - 2] | (bytes[2 * units - 1] << 8);
        if (last >= 0xD800 && last <= 0xDBFF)
            --units;
    }
    bytes.resize(2 * units);
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes.size();
}

std::uint64_t littleEndian(const unsigned char *bytes, int count)
{
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i)
        value |= std::uint64_t(bytes[i]) << (8 * i);
    return value;
}

// TagLib's save puts the new header in place of as many bytes as the header
// object declares. A size that disagrees with the objects really there would
// cut away or repeat part of the file (or, near 2^64, write without end), so
// such a file is not rewritten. The header's size, or 0 for such a file.
std::uint64_t consistentHeaderSize(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    unsigned char head[30];
    if (!in.read(reinterpret_cast<char *>(head), sizeof head))
        return 0;
    const std::uint64_t headerSize = littleEndian(head + 16, 8);
    const std::uint64_t count = littleEndian(head + 24, 4);
    in.seekg(0, std::ios::end);
    const std::streamoff fileSize = in.tellg();
    if (fileSize < 0 || headerSize < sizeof head || headerSize > std::uint64_t(fileSize))
        return 0;
    // Every object takes at least 24 bytes, so the walk ends within the header.
    std::uint64_t position = sizeof head;
    for (std::uint64_t i = 0; i < count; ++i) {
        unsigned char sizeBytes[8];
        if (headerSize - position < 24 || !in.seekg(std::streamoff(position + 16)) ||
            !in.read(reinterpret_cast<char *>(sizeBytes), sizeof sizeBytes))
            return 0;
        const std::uint64_t size = littleEndian(sizeBytes, 8);
        if (size < 24 || size > headerSize - position)
            return 0;
        position += size;
    }
    return position == headerSize ? headerSize : 0;
}

// The File Properties Object states the whole file's size; a header that
// grew or shrank changes it by as much. The head has already been checked
// to be a consistent run of objects.
void restateFileSize(std::string &head, std::int64_t change)
{
    static const unsigned char fileProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                     0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    constexpr std::size_t sizeField = 40; // after the GUID, the object size and the file ID
    auto *bytes = reinterpret_cast<unsigned char *>(head.data());
    for (std::size_t pos = 30; pos + 24 <= head.size();) {
        const std::uint64_t size = littleEndian(bytes + pos + 16, 8);
        if (size < 24 || size > head.size() - pos)
            return;
        if (std::memcmp(bytes + pos, fileProperties, 16) == 0 && size >= sizeField + 8) {
            const std::uint64_t stated = littleEndian(bytes + pos + sizeField, 8) + std::uint64_t(change);
            for (int i = 0; i < 8; ++i)
                bytes[pos + sizeField + std::size_t(i)] = static_cast<unsigned char>(stated >> (8 * i));
            return;
        }
        pos += size;
    }
}

// Applies the writes to a header held in memory: TagLib rewrites only the
// header object, so the rest of the file never passes through it and every
// byte that reaches the disk is written (and its errors seen) by replaceHead.
bool rewriteHeader(std::string &head, const std::vector<WMAudioInfo::PendingWrite> &writes)
{
    TagLib::ByteVector bytes(head.data(), static_cast<unsigned int>(head.size()));
    TagLib::ByteVectorStream stream(bytes);
    {
        TagLib::ASF::File header(&stream, false);
        if (!header.isValid() || !header.tag())
            return false;
        for (const WMAudioInfo::PendingWrite &write : writes)
            setAsfAttribute(*header.tag(), write.name, write.type, write.value);
        if (!header.save())
            return false;
    }
    // Only a header that still parses may go into the file.
    TagLib::ByteVectorStream check(*stream.data());
    if (!TagLib::ASF::File(&check, false).isValid())
        return false;
    const auto change = std::int64_t(stream.data()->size()) - std::int64_t(head.size());
    head.assign(stream.data()->data(), stream.data()->size());
    restateFileSize(head, change);
    return true;
}

} // namespace

WMAudioInfo *WMAudioInfo::open(const std::string &path)
{
    std::unique_ptr<TagLib::ASF::File> file = openAsf(path);
    if (!file)
        return nullptr;
    return new WMAudioInfo(path, std::move(file));
}

WMAudioInfo::WMAudioInfo(std::string path, std::unique_ptr<TagLib::ASF::File> file)
    : m_path(std::move(path)), m_file(std::move(file))
{
}

WMAudioInfo::~WMAudioInfo() = default;

std::int32_t WMAudioInfo::QueryInterface(const std::uint8_t *iid, void **object)
{
    if (!object)
        return WMA_E_INVALIDARG;
    if (iid && std::memcmp(iid, WMA_IID_AUDIOINFO, sizeof WMA_IID_AUDIOINFO) == 0) {
        AddRef();
        *object = static_cast<IWMAudioInfo *>(this);
        return WMA_S_OK;
    }
    if (iid && std::memcmp(iid, WMA_IID_AUDIOINFO2, sizeof WMA_IID_AUDIOINFO2) == 0) {
        AddRef();
        *object = static_cast<IWMAudioInfo2 *>(this);
        return WMA_S_OK;
    }
    *object = nullptr;
    return WMA_E_NOINTERFACE;
}

std::uint32_t WMAudioInfo::AddRef()
{
    return ++m_references;
}

std::uint32_t WMAudioInfo::Release()
{
    const std::uint32_t left = --m_references;
    if (left == 0)
        delete this;
    return left;
}

std::int32_t WMAudioInfo::Unused3()
{
    return WMA_E_FAIL;
}

std::int32_t WMAudioInfo::Unused4()
{
    return WMA_E_FAIL;
}

std::int32_t WMAudioInfo::ReadAttribute(const char16_t *name, std::uint32_t *type, std::uint8_t *value,
                                        std::uint16_t *length)
{
    if (!name || !type || !length)
        return WMA_E_INVALIDARG;
    try {
        AsfValue found;
        if (!getAsfAttribute(*m_file->tag(), nameFrom(name), found))
            return WMA_E_NOTFOUND;
        if (found.bytes.size() > 0xFFFF && found.type == WMA_TYPE_STRING)
            fitText(found.bytes, 0xFFFF);
        if (found.bytes.size() > 0xFFFF)
            return WMA_E_BUFFERTOOSMALL;
        *type = found.type;
        if (!value) {
            *length = static_cast<std::uint16_t>(found.bytes.size());
            return WMA_S_OK;
        }
        if (found.type == WMA_TYPE_STRING && *length >= 2)
            fitText(found.bytes, *length);
        if (found.bytes.size() > *length)
            return WMA_E_BUFFERTOOSMALL;
        std::memcpy(value, found.bytes.data(), found.bytes.size());
        *length = static_cast<std::uint16_t>(found.bytes.size());
        return WMA_S_OK;
    } catch (...) {
        return WMA_E_FAIL;
    }
}

std::int32_t WMAudioInfo::WriteAttribute(const char16_t *name, std::uint32_t type, const std::uint8_t *value,
                                         std::uint16_t length)
{
    return WriteLongAttribute(name, type, value, length);
}

std::int32_t WMAudioInfo::WriteLongAttribute(const char16_t *name, std::uint32_t type,
                                             const std::uint8_t *value, std::uint32_t length)
{
    if (!name || (!value && length > 0))
        return WMA_E_INVALIDARG;
    try {
        PendingWrite write{nameFrom(name), type, std::vector<std::uint8_t>(value, value + length)};
        if (write.name.empty() || !setAsfAttribute(*m_file->tag(), write.name, write.type, write.value))
            return WMA_E_INVALIDARG;
        m_pending.push_back(std::move(write));
        return WMA_S_OK;
    } catch (...) {
        return WMA_E_FAIL;
    }
}

std::int32_t WMAudioInfo::ReadLongAttribute(const char16_t *name, std::uint32_t index, std::uint32_t *type,
                                            std::uint8_t *value, std::uint32_t *length)
{
    if (!name || !type || !length)
        return WMA_E_INVALIDARG;
    try {
        AsfValue found;
        if (!getAsfAttributeAt(*m_file->tag(), nameFrom(name), index, found))
            return WMA_E_NOTFOUND;
        if (found.bytes.size() > UINT32_MAX)
            return WMA_E_BUFFERTOOSMALL;
        *type = found.type;
        if (value && found.bytes.size() > *length)
            return WMA_E_BUFFERTOOSMALL;
        if (value && !found.bytes.empty())
            std::memcpy(value, found.bytes.data(), found.bytes.size());
        *length = static_cast<std::uint32_t>(found.bytes.size());
        return WMA_S_OK;
    } catch (...) {
        return WMA_E_FAIL;
    }
}

std::int32_t WMAudioInfo::Finish()
{
    if (m_pending.empty())
        return WMA_S_OK;
    try {
        const std::uint64_t headerSize = consistentHeaderSize(m_path);
        if (headerSize == 0 || headerSize > std::uint64_t(INT32_MAX)) {
            m_pending.clear();
            return WMA_E_BADHEADER;
        }
        const int result = replaceHead(m_path, std::size_t(headerSize),
                                       [this](std::string &head) { return rewriteHeader(head, m_pending); });
        m_pending.clear();
        if (result == HeadRefused)
            return WMA_E_WRITEFAILED;
        return result == 0 ? WMA_S_OK : wmaErrnoStatus(result);
    } catch (...) {
        m_pending.clear();
        return WMA_E_FAIL;
    }
}
