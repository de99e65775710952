#include "wmatags.h"

#include "asfformat.h"
#include "libraryfolder.h"
#include "wmaheaderreader.h"
#include "wmaudsdk.h"
#include "wmawritablefile.h"

#include <QFileInfo>
#include <QLibrary>

#include <algorithm>
#include <new>
#include <iterator>
#include <memory>

namespace {

using asf::TagField;
constexpr const char16_t *TitleName = asf::attributeName(TagField::Title);
constexpr const char16_t *AuthorName = asf::attributeName(TagField::Artist);
constexpr const char16_t *DescriptionName = asf::attributeName(TagField::Comment);
constexpr const char16_t *AlbumTitleName = asf::attributeName(TagField::Album);
constexpr const char16_t *TrackName = asf::attributeName(TagField::Track);
constexpr const char16_t *GenreName = asf::attributeName(TagField::Genre);
constexpr const char16_t *YearName = asf::attributeName(TagField::Year);
constexpr const char16_t *TrackNumberName = asf::attributeName(TagField::TrackNumber);
constexpr const char16_t *PartOfSetName = asf::attributeName(TagField::DiscNumber);
constexpr const char16_t *PictureName = asf::attributeName(TagField::Picture);

constexpr std::uint16_t AttributeBufferSize = 256;

struct Module {
    std::unique_ptr<QLibrary> library;
    WMAudioCreateInfoFunction createInfo = nullptr;
    bool initialized = false;
};

Module &module()
{
    static Module instance;
    return instance;
}

struct InfoRelease {
    void operator()(IWMAudioInfo *info) const { info->Release(); }
};
using InfoPointer = std::unique_ptr<IWMAudioInfo, InfoRelease>;

// Opening a pipe or a device would block or read without end.
bool isRegularFile(const QString &fileName)
{
    return QFileInfo(fileName).isFile();
}

InfoPointer openInfo(const QString &fileName, qint32 *status = nullptr)
{
    InitWMAModule();
    WMAudioCreateInfoFunction createInfo = module().createInfo;
    IWMAudioInfo *info = nullptr;
    const qint32 result =
        createInfo ? createInfo(reinterpret_cast<const char16_t *>(fileName.utf16()), &info) : WMA_E_FAIL;
    if (status)
        *status = result;
    if (result != WMA_S_OK || !info)
        return nullptr;
    return InfoPointer(info);
}

// Keeps the first failure of several library calls.
struct FirstFailure {
    qint32 status = WMA_S_OK;
    void operator<<(qint32 next)
    {
        if (status == WMA_S_OK)
            status = next;
    }
};

qint32 writeExtras(IWMAudioInfo *info, const WmaTagExtras &extras)
{
    FirstFailure failure;
    if (extras.DiscNumber != 0)
        failure << SetTextAttribute(info, PartOfSetName, QString::number(extras.DiscNumber));
    if (!extras.Picture.isEmpty()) {
        void *object = nullptr;
        if (info->QueryInterface(WMA_IID_AUDIOINFO2, &object) != WMA_S_OK || !object)
            return WMA_E_NOINTERFACE;
        const InfoPointer owner(static_cast<IWMAudioInfo2 *>(object));
        const QByteArray value = wmaPictureValue(extras.Picture);
        failure << static_cast<IWMAudioInfo2 *>(object)->WriteLongAttribute(
            PictureName, WMA_TYPE_BINARY, reinterpret_cast<const std::uint8_t *>(value.constData()),
            std::uint32_t(value.size()));
    }
    return failure.status;
}

// `opened` says whether the library took the file: all that WriteWMATag returns.
TagWriteResult writeTag(const QString &fileName, const WMATagInfo &tag, const WmaTagExtras &extras,
                        bool &opened)
{
    opened = false;
    if (!WMASdkAvailable())
        return {false, QStringLiteral("the WMA tag library (libwmaudsdk.so) could not be loaded")};
    if (!isRegularFile(fileName))
        return {false, QStringLiteral("it is not a regular file")};
    const WmaWritableFile writable(fileName);
    qint32 status = WMA_S_OK;
    const InfoPointer info = openInfo(fileName, &status);
    if (!info)
        return {false, wmaStatusText(status)};
    opened = true;
    FirstFailure failure;
    failure << SetTextAttribute(info.get(), AuthorName, wmaFieldText(tag.Artist));
    failure << SetTextAttribute(info.get(), TitleName, wmaFieldText(tag.Title));
    failure << SetTextAttribute(info.get(), AlbumTitleName, wmaFieldText(tag.Album));
    failure << SetTextAttribute(info.get(), YearName, wmaFieldText(tag.Year));
    failure << SetTextAttribute(info.get(), DescriptionName, wmaFieldText(tag.Comment));
    failure << SetTextAttribute(info.get(), GenreName, wmaFieldText(tag.Genre));
    failure << SetNumberAttribute(info.get(), TrackNumberName, tag.TrackNumber);
    failure << writeExtras(info.get(), extras);
    // Whatever was accepted is stored even after a refused value.
    failure << info->Finish();
    if (failure.status != WMA_S_OK)
        return {false, wmaStatusText(failure.status)};
    return {true, {}};
}

// Reads into a 256-byte buffer: a longer text comes back cut short, any
// other longer value is refused. Texts end at their terminator, so the
// length is not read back.
bool readAttribute(IWMAudioInfo *info, const char16_t *name, std::uint32_t &type, char16_t (&buffer)[128])
{
    std::uint16_t length = AttributeBufferSize;
    type = ~0u;
    std::fill(std::begin(buffer), std::end(buffer), 0);
    return info->ReadAttribute(name, &type, reinterpret_cast<std::uint8_t *>(buffer), &length) == WMA_S_OK;
}

} // namespace

std::optional<quint32> GetTrackAttribute(IWMAudioInfo *info, const char16_t *name)
{
    std::uint32_t type = 0;
    char16_t buffer[AttributeBufferSize / 2];
    if (!readAttribute(info, name, type, buffer))
        return std::nullopt;
    const quint32 low = quint32(buffer[0]) | (quint32(buffer[1]) << 16);
    switch (type) {
    case WMA_TYPE_DWORD:
        return low;
    case WMA_TYPE_WORD:
        return quint32(buffer[0]);
    case WMA_TYPE_QWORD:
        return buffer[2] == 0 && buffer[3] == 0 ? std::optional<quint32>(low) : std::nullopt;
    case WMA_TYPE_STRING:
        return wmaTrackText(wmaTextFromUtf16(buffer, std::size(buffer)));
    default:
        return std::nullopt;
    }
}

QString GetTextAttribute(IWMAudioInfo *info, const char16_t *name)
{
    std::uint32_t type = 0;
    char16_t buffer[AttributeBufferSize / 2];
    if (!readAttribute(info, name, type, buffer) || type != WMA_TYPE_STRING)
        return {};
    return wmaTextFromUtf16(buffer, std::size(buffer));
}

quint32 GetNumberAttribute(IWMAudioInfo *info, const char16_t *name)
{
    std::uint32_t type = 0;
    char16_t buffer[AttributeBufferSize / 2];
    if (!readAttribute(info, name, type, buffer) || type != WMA_TYPE_DWORD)
        return 0;
    return quint32(buffer[0]) | (quint32(buffer[1]) << 16);
}

qint32 SetTextAttribute(IWMAudioInfo *info, const char16_t *name, const QString &text)
{
    const qsizetype bytes = (text.size() + 1) * 2;
    if (bytes > 0xFFFF)
        return WMA_E_FAIL;
    return info->WriteAttribute(name, WMA_TYPE_STRING, reinterpret_cast<const std::uint8_t *>(text.utf16()),
                                std::uint16_t(bytes));
}

qint32 SetNumberAttribute(IWMAudioInfo *info, const char16_t *name, quint32 number)
{
    const std::uint8_t bytes[4] = {std::uint8_t(number), std::uint8_t(number >> 8),
                                   std::uint8_t(number >> 16), std::uint8_t(number >> 24)};
    return info->WriteAttribute(name, WMA_TYPE_DWORD, bytes, sizeof bytes);
}

bool WMASdkAvailable()
{
    InitWMAModule();
    return module().createInfo != nullptr;
}

void InitWMAModule()
{
    Module &state = module();
    if (state.initialized)
        return;
    state.initialized = true;
    auto library = std::make_unique<QLibrary>(libraryPath(QStringLiteral("libwmaudsdk.so")));
    if (!library->load())
        return;
    state.createInfo = reinterpret_cast<WMAudioCreateInfoFunction>(library->resolve("WMAudioCreateInfo"));
    if (!state.createInfo) {
        library->unload();
        return;
    }
    state.library = std::move(library);
}

void ShutdownWMAModule()
{
    Module &state = module();
    state.createInfo = nullptr;
    if (state.library)
        state.library->unload();
    state.library.reset();
    state.initialized = false;
}

void ReadWMATag(const QString &fileName, WMATagInfo &tag)
{
    try {
        if (!isRegularFile(fileName))
            return;
        if (const InfoPointer info = openInfo(fileName)) {
            WMATagInfo work{};
            work.Found = -1;
            setWmaTagText(work.Title, GetTextAttribute(info.get(), TitleName));
            setWmaTagText(work.Artist, GetTextAttribute(info.get(), AuthorName));
            setWmaTagText(work.Album, GetTextAttribute(info.get(), AlbumTitleName));
            setWmaTagText(work.Year, GetTextAttribute(info.get(), YearName));
            work.TrackNumber = wmaTrackNumber(GetTrackAttribute(info.get(), TrackNumberName),
                                              GetTrackAttribute(info.get(), TrackName));
            setWmaTagText(work.Comment, GetTextAttribute(info.get(), DescriptionName));
            setWmaTagText(work.Genre, GetTextAttribute(info.get(), GenreName));
            info->Finish();
            tag = work;
            return;
        }
        ReadWmaHeaderFile(fileName, tag);
    } catch (...) {
        // A tag that cannot be read leaves the record as it was.
    }
}

int WriteWMATag(const QString &fileName, WMATagInfo tag)
{
    try {
        bool opened = false;
        writeTag(fileName, tag, {}, opened);
        return opened ? -1 : 0;
    } catch (...) {
        return 0;
    }
}

TagWriteResult WriteWMATagChecked(const QString &fileName, const WMATagInfo &tag, const WmaTagExtras &extras)
{
    try {
        bool opened = false;
        return writeTag(fileName, tag, extras, opened);
    } catch (const std::bad_alloc &) {
        return {false, QStringLiteral("not enough memory")};
    } catch (...) {
        return {false, QStringLiteral("an unexpected error")};
    }
}

QByteArray wmaPictureValue(const CoverPicture &picture)
{
    QByteArray value;
    const auto appendLe = [&value](quint32 number, int size) {
        for (int i = 0; i < size; ++i)
            value.append(char(number >> (8 * i)));
    };
    appendLe(picture.type, 1);
    appendLe(quint32(picture.data.size()), 4);
    for (const QChar c : picture.mimeType)
        appendLe(c.unicode(), 2);
    appendLe(0, 2); // end of the MIME type
    appendLe(0, 2); // the empty description
    return value + picture.data;
}

QString wmaStatusText(qint32 status)
{
    if (const int error = wmaStatusErrno(status))
        return qt_error_string(error);
    switch (status) {
    case WMA_E_NOTASF:
        return QStringLiteral("it is not a WMA file that the tag library can read");
    case WMA_E_BADHEADER:
        return QStringLiteral("its header does not match its contents");
    case WMA_E_WRITEFAILED:
        return QStringLiteral("its header could not be rewritten");
    case WMA_E_NOINTERFACE:
        return QStringLiteral("the WMA tag library is too old to store pictures");
    default:
        return QStringLiteral("the WMA tag library failed (status 0x%1)")
            .arg(quint32(status), 8, 16, QLatin1Char('0'));
    }
}
