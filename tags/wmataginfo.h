#pragma once

#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstring>
#include <optional>

// The WMA tag record and the text rules every reader and writer of it keeps.
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

// The number a track text starts with ("05", "6/15"); none when it starts
// with no digit.
std::optional<quint32> wmaTrackText(const QString &text);
// The track number from WM/TrackNumber, else from the older WM/Track, which
// counts from 0; the low 16 bits are kept.
quint16 wmaTrackNumber(std::optional<quint32> trackNumber, std::optional<quint32> track);

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
