#include "id3text.h"

#include <QStringDecoder>

namespace {

bool isKnownEncoding(quint8 encoding)
{
    return encoding <= 3;
}

bool isUtf16(quint8 encoding)
{
    return encoding == 1 || encoding == 2;
}

QString decodeUtf16(QByteArray bytes, QStringConverter::Encoding order)
{
    // An odd trailing byte cannot form a code unit; it is dropped.
    bytes.truncate(bytes.size() & ~qsizetype(1));
    QStringDecoder decoder(order, QStringConverter::Flag::Stateless);
    return decoder.decode(bytes);
}

// Offset of the terminator that ends a text starting at `from`: one zero
// byte, or for UTF-16 a zero code unit on a code-unit boundary. -1 if none.
qsizetype terminatorAt(const QByteArray &bytes, qsizetype from, quint8 encoding)
{
    if (!isUtf16(encoding))
        return bytes.indexOf('\0', from);
    for (qsizetype i = from; i + 1 < bytes.size(); i += 2) {
        if (bytes[i] == '\0' && bytes[i + 1] == '\0')
            return i;
    }
    return -1;
}

QString firstValue(const QString &decoded)
{
    // Version-4 frames may hold several values separated by a zero; the
    // first one is the frame's text. Old writers also leave junk after it.
    QString text = TrimControl(decoded);
    const qsizetype zero = text.indexOf(QChar(u'\0'));
    if (zero >= 0)
        text = TrimControl(text.left(zero));
    return text;
}

} // namespace

QString decodeID3Text(quint8 encoding, const QByteArray &bytes)
{
    QString text;
    switch (encoding) {
    case 0:
        text = QString::fromLatin1(bytes);
        break;
    case 1: {
        // A missing byte-order mark is read as little-endian, the order of
        // the writers that forget it.
        const bool bigEndian = bytes.startsWith("\xFE\xFF");
        const bool marked = bigEndian || bytes.startsWith("\xFF\xFE");
        text = decodeUtf16(marked ? bytes.mid(2) : bytes,
                           bigEndian ? QStringConverter::Utf16BE : QStringConverter::Utf16LE);
        break;
    }
    case 2:
        text = decodeUtf16(bytes, QStringConverter::Utf16BE);
        break;
    case 3:
        text = QString::fromUtf8(bytes);
        break;
    default:
        text = QString::fromLatin1(bytes);
        break;
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

QString id3FrameText(const QByteArray &content)
{
    if (content.isEmpty())
        return {};
    const quint8 encoding = quint8(content[0]);
    // Without a known encoding byte the content is taken whole, as text.
    if (!isKnownEncoding(encoding))
        return firstValue(QString::fromLatin1(content));
    return firstValue(decodeID3Text(encoding, content.mid(1)));
}

ID3Comment id3CommentText(const QByteArray &content)
{
    if (content.size() <= 4)
        return {};
    const quint8 encoding = quint8(content[0]);
    const qsizetype end = terminatorAt(content, 4, encoding);
    // A writer that leaves out the description's terminator is taken to
    // have left out the description.
    if (end < 0)
        return {QString(), firstValue(decodeID3Text(encoding, content.mid(4)))};
    const qsizetype textStart = end + (isUtf16(encoding) ? 2 : 1);
    return {decodeID3Text(encoding, content.mid(4, end - 4)),
            firstValue(decodeID3Text(encoding, content.mid(textStart)))};
}

CoverPicture id3PictureContent(const QByteArray &content, bool v22)
{
    const qsizetype mimeEnd = v22 ? 4 : content.indexOf('\0', 1);
    const qsizetype typeAt = v22 ? 4 : mimeEnd + 1;
    if (mimeEnd < 0 || typeAt >= content.size())
        return {};
    const quint8 encoding = quint8(content[0]);
    const QString mimeType = QString::fromLatin1(content.mid(1, mimeEnd - 1));
    const qsizetype descriptionEnd = terminatorAt(content, typeAt + 1, encoding);
    if (descriptionEnd < 0 || mimeType == QLatin1StringView("-->"))
        return {};
    return carriedPicture(content.mid(descriptionEnd + (isUtf16(encoding) ? 2 : 1)), mimeType,
                          quint8(content[typeAt]));
}

QByteArray removeUnsynchronisation(const QByteArray &bytes)
{
    QByteArray out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        out.append(bytes[i]);
        if (quint8(bytes[i]) == 0xFF && i + 1 < bytes.size() && bytes[i + 1] == '\0')
            ++i;
    }
    return out;
}

quint32 synchsafeValue(const QByteArray &bytes, qsizetype offset)
{
    quint32 value = 0;
    for (qsizetype i = offset; i < offset + 4 && i < bytes.size(); ++i)
        value = (value << 7) | (quint8(bytes[i]) & 0x7F);
    return value;
}

quint32 bigEndianValue(const QByteArray &bytes, qsizetype offset, int length)
{
    quint32 value = 0;
    for (qsizetype i = offset; i < offset + length && i < bytes.size(); ++i)
        value = (value << 8) | quint8(bytes[i]);
    return value;
}
