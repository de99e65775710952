#include "coverpicture.h"

#include <QList>

#include <algorithm>

QString pictureMimeType(const QByteArray &data)
{
    if (data.startsWith("\xFF\xD8\xFF"))
        return QStringLiteral("image/jpeg");
    if (data.startsWith("\x89PNG\r\n\x1A\n"))
        return QStringLiteral("image/png");
    if (data.startsWith("GIF87a") || data.startsWith("GIF89a"))
        return QStringLiteral("image/gif");
    if (data.startsWith("BM"))
        return QStringLiteral("image/bmp");
    if (data.startsWith("RIFF") && data.mid(8, 4) == "WEBP")
        return QStringLiteral("image/webp");
    return {};
}

CoverPicture oversizedCover(qint64 bytes)
{
    CoverPicture cover;
    cover.note =
        QStringLiteral("its cover picture (%1 MB) is over the %2 MB that is carried and was left out")
            .arg(double(bytes) / (1024 * 1024), 0, 'f', 1)
            .arg(MaxCoverBytes / (1024 * 1024));
    return cover;
}

CoverPicture carriedPicture(const QByteArray &data, const QString &storedMimeType, int type)
{
    if (data.size() > MaxCoverBytes)
        return oversizedCover(data.size());
    if (data.isEmpty())
        return {};
    CoverPicture cover;
    cover.data = data;
    cover.mimeType = storedMimeType.trimmed().toLower();
    const qsizetype slash = cover.mimeType.indexOf(QLatin1Char('/'));
    if (slash < 0 || slash == cover.mimeType.size() - 1)
        cover.mimeType = pictureMimeType(data);
    cover.type = quint8(std::clamp(type, 0, 255));
    return cover;
}

CoverPicture sharedCover(const CoverPicture &cover)
{
    static QList<QByteArray> recent;
    constexpr qsizetype Kept = 8;
    if (cover.isEmpty())
        return cover;
    CoverPicture shared = cover;
    const auto found = std::find(recent.cbegin(), recent.cend(), cover.data);
    if (found != recent.cend()) {
        shared.data = *found;
        return shared;
    }
    recent.prepend(cover.data);
    if (recent.size() > Kept)
        recent.removeLast();
    return shared;
}
