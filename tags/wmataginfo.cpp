#include "wmataginfo.h"

#include <algorithm>

std::optional<quint32> wmaTrackText(const QString &text)
{
    const QString trimmed = text.trimmed();
    qsizetype digits = 0;
    while (digits < trimmed.size() && digits < 9 && trimmed.at(digits).isDigit())
        ++digits;
    if (digits == 0)
        return std::nullopt;
    return trimmed.left(digits).toUInt();
}

quint16 wmaTrackNumber(std::optional<quint32> trackNumber, std::optional<quint32> track)
{
    const quint16 kept = quint16(trackNumber.value_or(0));
    if (kept != 0 || !track)
        return kept;
    return quint16(*track + 1); // WM/Track counts from 0
}

QString wmaTagText(const char *field)
{
    return field ? QString::fromUtf8(field) : QString();
}

qsizetype wmaUtf8FitLength(const QByteArray &utf8, qsizetype limit)
{
    if (utf8.size() <= limit)
        return utf8.size();
    qsizetype length = std::max<qsizetype>(limit, 0);
    // Step back over continuation bytes to the start of the character that does not fit.
    while (length > 0 && (quint8(utf8[length]) & 0xC0) == 0x80)
        --length;
    return length;
}

QString wmaTextFromUtf16(const char16_t *units, qsizetype count)
{
    QString text;
    text.reserve(count);
    for (qsizetype i = 0; i < count && units[i] != 0; ++i) {
        const char16_t unit = units[i];
        if (QChar::isHighSurrogate(unit) && i + 1 < count && QChar::isLowSurrogate(units[i + 1])) {
            text.append(QChar(unit));
            text.append(QChar(units[++i]));
        } else if (QChar::isSurrogate(unit)) {
            text.append(QChar::ReplacementCharacter);
        } else {
            text.append(QChar(unit));
        }
    }
    return text;
}
