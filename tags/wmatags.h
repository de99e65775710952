#pragma once

#include "coverpicture.h"

#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstring>
#include <optional>

class IWMAudioInfo;

struct WMATagInfo {      // texts: UTF-8, zero-terminated, cut at a character boundary
    qint32 Found;        // -1 when a tag was read, 0 otherwise
    char Year[128];      // "WM/Year"
    quint16 TrackNumber; // "WM/TrackNumber", or "WM/Track" + 1 when that gives 0
    char Artist[128];    // "Author"
    char Title[128];
    char Album[128];   // "WM/AlbumTitle"
    char Comment[255]; // "Description"
    char Extra[128];   // only the fallback reader fills it; nothing reads it
    char Genre[32];    // "WM/Genre"
};

// Reads the attributes through the attribute library, or, when the library is
// missing or cannot open the file, with the module's own header reader. When
// a tag is read the whole record is replaced; otherwise it is left as it was.
// Never throws and never changes the file or its permissions.
void ReadWMATag(const QString &fileName, WMATagInfo &tag);
// -1 when the attributes were handed to the library, 0 when the library is
// missing or cannot open the file (the file is then left as it was). A file
// whose owner write bit is clear gets it for the write and its mode back after.
int WriteWMATag(const QString &fileName, WMATagInfo tag);

// What the WMA output gets beyond the fields of WMATagInfo.
struct WmaTagExtras {
    quint16 DiscNumber = 0; // "WM/PartOfSet", written as text when not 0
    CoverPicture Picture;   // "WM/Picture", written when not empty
};

// The outcome of a tag write, for callers that tell the user: `reason` says
// why the tags are not in the file ("No space left on device").
struct TagWriteResult {
    bool written = false;
    QString reason;
};

// Writes the record's fields as WriteWMATag does, then the extras, and stores
// them in the file; the file is left as it was when that fails.
TagWriteResult WriteWMATagChecked(const QString &fileName, const WMATagInfo &tag,
                                  const WmaTagExtras &extras = {});

// The WM/Picture value: picture type, data length, MIME type and an empty
// description (both zero-terminated UTF-16LE), then the data.
QByteArray wmaPictureValue(const CoverPicture &picture);
// A library status as a reason that a user can read.
QString wmaStatusText(qint32 status);

bool WMASdkAvailable();
// Loads libwmaudsdk.so from libraryFolder(); the first read or write does it
// when nobody did. Shutdown unloads it, so a later Init may look elsewhere.
void InitWMAModule();
void ShutdownWMAModule();

// The attribute library's calls, as the read and the write use them.
QString GetTextAttribute(IWMAudioInfo *info, const char16_t *name);   // empty unless a text
quint32 GetNumberAttribute(IWMAudioInfo *info, const char16_t *name); // 0 unless a 32-bit number
// A track attribute in any of the forms taggers write: a number of any width
// or a text that starts with one ("05", "6/15"); none when it is neither.
std::optional<quint32> GetTrackAttribute(IWMAudioInfo *info, const char16_t *name);
// The number a track text starts with ("05", "6/15"); none when it starts
// with no digit.
std::optional<quint32> wmaTrackText(const QString &text);
// The track number from WM/TrackNumber, else from the older WM/Track, which
// counts from 0; the low 16 bits are kept.
quint16 wmaTrackNumber(std::optional<quint32> trackNumber, std::optional<quint32> track);
qint32 SetTextAttribute(IWMAudioInfo *info, const char16_t *name, const QString &text);
qint32 SetNumberAttribute(IWMAudioInfo *info, const char16_t *name, quint32 number);

QString wmaTagText(const char *field);
// Length in bytes of the longest prefix of `utf8` that fits `limit` bytes and
// ends at a character boundary.
qsizetype wmaUtf8FitLength(const QByteArray &utf8, qsizetype limit);
// UTF-16 units up to the first zero unit (at most `count`); unpaired
// surrogates become U+FFFD.
QString wmaTextFromUtf16(const char16_t *units, qsizetype count);

template <size_t N> void setWmaTagText(char (&field)[N], const QString &text)
{
    static_assert(N > 0);
    const QByteArray utf8 = text.toUtf8();
    const qsizetype length = wmaUtf8FitLength(utf8, qsizetype(N) - 1);
    std::memset(field, 0, N);
    std::memcpy(field, utf8.constData(), size_t(length));
}

// Like wmaTagText, but never reads past the field when its terminator is missing.
template <size_t N> QString wmaFieldText(const char (&field)[N])
{
    return QString::fromUtf8(field, qsizetype(strnlen(field, N)));
}
