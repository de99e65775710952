#pragma once

// The C interface of the WMA attribute library, shared by libwmaudsdk.so and
// the WMA tag module that loads it at run time. The object's slot order is
// part of the interface: callers index the table, so never reorder it.

#include <cstdint>

// Statuses: 0 is success; failures carry the high bit.
constexpr std::int32_t WMA_S_OK = 0;
constexpr std::int32_t WMA_E_FAIL = static_cast<std::int32_t>(0x80004005u);
constexpr std::int32_t WMA_E_NOINTERFACE = static_cast<std::int32_t>(0x80004002u);
constexpr std::int32_t WMA_E_INVALIDARG = static_cast<std::int32_t>(0x80070057u);
constexpr std::int32_t WMA_E_NOTFOUND = static_cast<std::int32_t>(0x80070490u);
constexpr std::int32_t WMA_E_BUFFERTOOSMALL = static_cast<std::int32_t>(0x8007007Au);
constexpr std::int32_t WMA_E_NOTASF = static_cast<std::int32_t>(0xC00D0BB8u);
constexpr std::int32_t WMA_E_WRITEFAILED = static_cast<std::int32_t>(0x8007001Du);
// The file's header disagrees with its objects; such a file is not rewritten.
constexpr std::int32_t WMA_E_BADHEADER = static_cast<std::int32_t>(0xC00D0BB9u);

// A failure of the operating system, carrying its errno so that callers can
// name the reason ("No space left on device").
constexpr std::int32_t wmaErrnoStatus(int error)
{
    return static_cast<std::int32_t>(0xA0010000u | (static_cast<std::uint32_t>(error) & 0xFFFFu));
}
constexpr int wmaStatusErrno(std::int32_t status)
{
    return (static_cast<std::uint32_t>(status) & 0xFFFF0000u) == 0xA0010000u
               ? static_cast<int>(static_cast<std::uint32_t>(status) & 0xFFFFu)
               : 0;
}

// Attribute value types as they cross the interface.
enum WmaAttributeType : std::uint32_t {
    WMA_TYPE_DWORD = 0,  // unsigned 32-bit, 4 bytes little-endian
    WMA_TYPE_STRING = 1, // zero-terminated UTF-16, length in bytes with the terminator
    WMA_TYPE_BINARY = 2,
    WMA_TYPE_BOOL = 3, // 4 bytes
    WMA_TYPE_QWORD = 4,
    WMA_TYPE_WORD = 5,
    WMA_TYPE_GUID = 6,
};

// {4D5C1A7E-2B37-4F61-9A0B-3E7C52D0A9F1}: IWMAudioInfo.
constexpr std::uint8_t WMA_IID_AUDIOINFO[16] = {0x7E, 0x1A, 0x5C, 0x4D, 0x37, 0x2B, 0x61, 0x4F,
                                                0x9A, 0x0B, 0x3E, 0x7C, 0x52, 0xD0, 0xA9, 0xF1};

// {4D5C1A7F-2B37-4F61-9A0B-3E7C52D0A9F1}: IWMAudioInfo2.
constexpr std::uint8_t WMA_IID_AUDIOINFO2[16] = {0x7F, 0x1A, 0x5C, 0x4D, 0x37, 0x2B, 0x61, 0x4F,
                                                 0x9A, 0x0B, 0x3E, 0x7C, 0x52, 0xD0, 0xA9, 0xF1};

class IWMAudioInfo {
public:
    virtual std::int32_t QueryInterface(const std::uint8_t *iid, void **object) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;
    virtual std::int32_t Unused3() = 0;
    virtual std::int32_t Unused4() = 0;
    // In: *length is the buffer size in bytes. Out: the bytes stored (texts
    // are cut to fit, terminator kept). A null value asks for the full size.
    virtual std::int32_t ReadAttribute(const char16_t *name, std::uint32_t *type, std::uint8_t *value,
                                       std::uint16_t *length) = 0;
    // Kept in memory; stored in the file by Finish.
    virtual std::int32_t WriteAttribute(const char16_t *name, std::uint32_t type, const std::uint8_t *value,
                                        std::uint16_t length) = 0;
    // Stores the written attributes, if any. The file is replaced only once a
    // complete rewritten copy exists, so a failure leaves it as it was.
    virtual std::int32_t Finish() = 0;

protected:
    ~IWMAudioInfo() = default; // released through Release, never deleted by callers
};

// The same object, asked for by WMA_IID_AUDIOINFO2: values beyond 64 KiB,
// such as a cover picture ("WM/Picture"), need a 32-bit length.
class IWMAudioInfo2 : public IWMAudioInfo {
public:
    virtual std::int32_t WriteLongAttribute(const char16_t *name, std::uint32_t type,
                                            const std::uint8_t *value, std::uint32_t length) = 0;
    // The index-th value stored under the name (0 the first), whole: *length
    // is the buffer size in bytes, and a null value asks for the size.
    // WMA_E_NOTFOUND past the last value.
    virtual std::int32_t ReadLongAttribute(const char16_t *name, std::uint32_t index, std::uint32_t *type,
                                           std::uint8_t *value, std::uint32_t *length) = 0;

protected:
    ~IWMAudioInfo2() = default;
};

extern "C" {
// fileName: zero-terminated UTF-16. Fails for a file that cannot be opened or is not ASF.
std::int32_t WMAudioCreateInfo(const char16_t *fileName, IWMAudioInfo **info);
}

using WMAudioCreateInfoFunction = std::int32_t (*)(const char16_t *, IWMAudioInfo **);
