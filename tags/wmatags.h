#pragma once

#include "audiofileinfo.h"
#include "coverpicture.h"
#include "result.h"
#include "wmataginfo.h"

#include <QString>
#include <QtGlobal>

#include <optional>

class IWMAudioInfo;

// Reads the attributes through the attribute library, or, when the library is
// missing or cannot open the file, with the module's own header reader. When
// a tag is read the whole record is replaced; otherwise it is left as it was.
// Never throws and never changes the file or its permissions.
void ReadWMATag(const QString &fileName, WMATagInfo &tag);
// -1 when the attributes were handed to the library, 0 when the library is
// missing or cannot open the file (the file is then left as it was). A file
// whose owner write bit is clear gets it for the write and its mode back after.
int WriteWMATag(const QString &fileName, WMATagInfo tag);

// Writes the tag fields of `tags` as WriteWMATag writes a WMATagInfo (texts
// cut to its field sizes; the year and track number included), then the
// disc number ("WM/PartOfSet", as text, when not 0) and the cover
// ("WM/Picture", when not empty), and stores them in the file; the file is
// left as it was when that fails, and the failure says why the tags are not
// in the file ("No space left on device").
Result<> WriteWMATagChecked(const QString &fileName, const AudioFileinfo &tags);

// Reads a WMA source's tag once, as ReadWMATag does, into every tag field of
// `tags`: the WMATagInfo fields, the disc number ("WM/PartOfSet") and the
// front cover, else the first picture ("WM/Picture"). The header reader, used
// when the library is missing or cannot open the file, takes no disc number
// or cover. False, with `tags` untouched, when no tag was read.
bool readWmaSource(const QString &fileName, AudioFileinfo &tags);

// The WM/Picture value: picture type, data length, MIME type and an empty
// description (both zero-terminated UTF-16LE), then the data.
QByteArray wmaPictureValue(const CoverPicture &picture);
// The picture a WM/Picture value holds (its data, MIME type as stored and
// type); none when the value is cut short or a text lacks its terminator.
std::optional<CoverPicture> wmaPictureFromValue(const QByteArray &value);
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
qint32 SetTextAttribute(IWMAudioInfo *info, const char16_t *name, const QString &text);
qint32 SetNumberAttribute(IWMAudioInfo *info, const char16_t *name, quint32 number);
