#include "wmatags.h"

#include "asfformat.h"
#include "libraryfolder.h"
#include "taglibtags.h"
#include "tagtext.h"
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

// The second interface of an opened file, for values beyond 64 KiB; null
// when the library is too old to have it.
struct LongAttributes {
    IWMAudioInfo2 *info = nullptr;
    InfoPointer owner;
    explicit LongAttributes(IWMAudioInfo *opened)
    {
        void *object = nullptr;
        if (opened->QueryInterface(WMA_IID_AUDIOINFO2, &object) == WMA_S_OK && object) {
            info = static_cast<IWMAudioInfo2 *>(object);
            owner.reset(info);
        }
    }
};

qint32 writeDiscAndCover(IWMAudioInfo *info, quint16 disc, const CoverPicture &cover)
{
    FirstFailure failure;
    if (disc != 0)
        failure << SetTextAttribute(info, PartOfSetName, QString::number(disc));
    if (!cover.isEmpty()) {
        const LongAttributes attributes(info);
        if (!attributes.info)
            return WMA_E_NOINTERFACE;
        const QByteArray value = wmaPictureValue(cover);
        failure << attributes.info->WriteLongAttribute(
            PictureName, WMA_TYPE_BINARY, reinterpret_cast<const std::uint8_t *>(value.constData()),
            std::uint32_t(value.size()));
    }
    return failure.status;
}

// WM/Picture values: the front cover, else the first picture.
CoverPicture readCover(IWMAudioInfo *info)
{
    const LongAttributes attributes(info);
    if (!attributes.info)
        return {};
    std::optional<CoverPicture> chosen;
    for (std::uint32_t index = 0;; ++index) {
        std::uint32_t type = 0;
        std::uint32_t length = 0;
        if (attributes.info->ReadLongAttribute(PictureName, index, &type, nullptr, &length) != WMA_S_OK)
            break;
        if (type != WMA_TYPE_BINARY)
            continue;
        QByteArray value(qsizetype(length), Qt::Uninitialized);
        if (attributes.info->ReadLongAttribute(PictureName, index, &type,
                                               reinterpret_cast<std::uint8_t *>(value.data()),
                                               &length) != WMA_S_OK)
            break;
        const std::optional<CoverPicture> candidate = wmaPictureFromValue(value);
        if (candidate && (!chosen || (candidate->type == 3 && chosen->type != 3)))
            chosen = candidate;
    }
    if (!chosen)
        return {};
    if (chosen->data.size() > MaxCoverBytes)
        return oversizedCover(chosen->data.size());
    return carriedPicture(chosen->data, chosen->mimeType, chosen->type);
}

WMATagInfo readInfoTag(IWMAudioInfo *info)
{
    WMATagInfo work{};
    work.Found = -1;
    setWmaTagText(work.Title, GetTextAttribute(info, TitleName));
    setWmaTagText(work.Artist, GetTextAttribute(info, AuthorName));
    setWmaTagText(work.Album, GetTextAttribute(info, AlbumTitleName));
    setWmaTagText(work.Year, GetTextAttribute(info, YearName));
    work.TrackNumber =
        wmaTrackNumber(GetTrackAttribute(info, TrackNumberName), GetTrackAttribute(info, TrackName));
    setWmaTagText(work.Comment, GetTextAttribute(info, DescriptionName));
    setWmaTagText(work.Genre, GetTextAttribute(info, GenreName));
    return work;
}

void takeTagInfo(const WMATagInfo &tag, AudioFileinfo &tags)
{
    tags.title = wmaFieldText(tag.Title);
    tags.artist = wmaFieldText(tag.Artist);
    tags.album = wmaFieldText(tag.Album);
    tags.comment = wmaFieldText(tag.Comment);
    tags.genre = wmaFieldText(tag.Genre);
    tags.year = wmaFieldText(tag.Year);
    tags.track = tag.TrackNumber;
    tags.disc = 0;
    tags.cover = {};
}

// `opened` says whether the library took the file: all that WriteWMATag returns.
Result<> writeTag(const QString &fileName, const WMATagInfo &tag, quint16 disc, const CoverPicture &cover,
                  bool &opened)
{
    opened = false;
    if (!WMASdkAvailable())
        return Failure{QStringLiteral("the WMA tag library (libwmaudsdk.so) could not be loaded")};
    if (!isRegularFile(fileName))
        return Failure{QStringLiteral("it is not a regular file")};
    const WmaWritableFile writable(fileName);
    qint32 status = WMA_S_OK;
    const InfoPointer info = openInfo(fileName, &status);
    if (!info)
        return Failure{wmaStatusText(status)};
    opened = true;
    FirstFailure failure;
    failure << SetTextAttribute(info.get(), AuthorName, wmaFieldText(tag.Artist));
    failure << SetTextAttribute(info.get(), TitleName, wmaFieldText(tag.Title));
    failure << SetTextAttribute(info.get(), AlbumTitleName, wmaFieldText(tag.Album));
    failure << SetTextAttribute(info.get(), YearName, wmaFieldText(tag.Year));
    failure << SetTextAttribute(info.get(), DescriptionName, wmaFieldText(tag.Comment));
    failure << SetTextAttribute(info.get(), GenreName, wmaFieldText(tag.Genre));
    failure << SetNumberAttribute(info.get(), TrackNumberName, tag.TrackNumber);
    failure << writeDiscAndCover(info.get(), disc, cover);
    // Whatever was accepted is stored even after a refused value.
    failure << info->Finish();
    if (failure.status != WMA_S_OK)
        return Failure{wmaStatusText(failure.status)};
    return {};
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
            const WMATagInfo work = readInfoTag(info.get());
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
        // Its contract says only whether the library took the file, not why a write failed.
        (void)writeTag(fileName, tag, 0, {}, opened);
        return opened ? -1 : 0;
    } catch (...) {
        return 0;
    }
}

bool readWmaSource(const QString &fileName, AudioFileinfo &tags)
{
    try {
        if (!isRegularFile(fileName))
            return false;
        if (const InfoPointer info = openInfo(fileName)) {
            AudioFileinfo work;
            takeTagInfo(readInfoTag(info.get()), work);
            work.disc = leadingNumber(GetTextAttribute(info.get(), PartOfSetName));
            work.cover = sharedCover(readCover(info.get()));
            info->Finish();
            work.duration = tags.duration;
            tags = work;
            return true;
        }
        WMATagInfo tag{};
        if (!ReadWmaHeaderFile(fileName, tag))
            return false;
        takeTagInfo(tag, tags);
        takeDiscAndCover(fileName, tags);
        return true;
    } catch (...) {
        // A tag that cannot be read leaves the record as it was.
        return false;
    }
}

Result<> WriteWMATagChecked(const QString &fileName, const AudioFileinfo &tags)
{
    try {
        WMATagInfo tag{};
        setWmaTagText(tag.Title, tags.title);
        setWmaTagText(tag.Artist, tags.artist);
        setWmaTagText(tag.Album, tags.album);
        setWmaTagText(tag.Year, tags.year);
        setWmaTagText(tag.Comment, tags.comment);
        setWmaTagText(tag.Genre, tags.genre);
        tag.TrackNumber = tags.track;
        bool opened = false;
        return writeTag(fileName, tag, tags.disc, tags.cover, opened);
    } catch (const std::bad_alloc &) {
        return Failure{QStringLiteral("not enough memory")};
    } catch (...) {
        return Failure{QStringLiteral("an unexpected error")};
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

std::optional<CoverPicture> wmaPictureFromValue(const QByteArray &value)
{
    if (value.size() < 9)
        return std::nullopt;
    const auto byte = [&value](qsizetype at) { return quint32(quint8(value[at])); };
    const quint32 dataLength = byte(1) | (byte(2) << 8) | (byte(3) << 16) | (byte(4) << 24);
    qsizetype at = 5;
    // A zero-terminated UTF-16LE text at `at`, read in whole units.
    const auto text = [&value, &at, &byte]() -> std::optional<QString> {
        for (qsizetype end = at; end + 1 < value.size(); end += 2) {
            if (byte(end) == 0 && byte(end + 1) == 0) {
                QString read;
                for (qsizetype i = at; i < end; i += 2)
                    read.append(QChar(char16_t(byte(i) | (byte(i + 1) << 8))));
                at = end + 2;
                return read;
            }
        }
        return std::nullopt;
    };
    const std::optional<QString> mimeType = text();
    if (!mimeType || !text() || qint64(dataLength) + at > value.size())
        return std::nullopt;
    CoverPicture picture;
    picture.type = quint8(byte(0));
    picture.mimeType = *mimeType;
    picture.data = value.mid(at, qsizetype(dataLength));
    return picture;
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
