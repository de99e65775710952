#include "rules.h"

#include <QFileInfo>

#include <cmath>
#include <cstdlib>
#include <limits>

int MulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    const qint64 product = static_cast<qint64>(a) * b;
    qint64 quotient = product / c;
    const qint64 remainder = product % c;
    // Halves round away from zero: compare twice the remainder with the divisor.
    if (2 * std::llabs(remainder) >= std::llabs(static_cast<qint64>(c)))
        quotient += ((product < 0) != (c < 0)) ? -1 : 1;
    if (quotient > std::numeric_limits<qint32>::max() || quotient < std::numeric_limits<qint32>::min())
        return -1;
    return static_cast<int>(quotient);
}

QString FormatDuration(qint32 ms)
{
    const qint32 s = ms / 1000;
    const qint32 hours = s / 3600;
    const qint32 minutes = (s - hours * 3600) / 60;
    const qint32 seconds = s % 60;
    const auto two = [](qint32 v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    return two(hours) + QLatin1Char(':') + two(minutes) + QLatin1Char(':') + two(seconds);
}

QString FormatSizeMB(qint64 bytes, const QLocale &locale)
{
    const double mb = static_cast<double>(bytes) / 1024.0 / 1024.0;
    // One rounding, at whichever limit cuts first: two decimals or five
    // significant digits.
    int integerDigits = 0;
    if (mb >= 1.0)
        integerDigits = static_cast<int>(std::floor(std::log10(mb))) + 1;
    const int decimals = std::min(2, 5 - integerDigits); // may go negative for huge sizes
    const double scale = std::pow(10.0, decimals);
    const double rounded = std::floor(mb * scale + 0.5) / scale;
    QString text = QString::number(rounded, 'f', 2);
    text.replace(QLatin1Char('.'), locale.decimalPoint());
    return text + QStringLiteral("MB");
}

QString CleanTitle(const QString &title)
{
    static const QString unsafe = QStringLiteral("*?|:\"/\\<>");
    QString result;
    result.reserve(title.size());
    for (const QChar ch : title) {
        if (!unsafe.contains(ch))
            result += ch;
    }
    return result;
}

QString replaceExtension(const QString &name, const QString &extension)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return (dot < 0 ? name : name.left(dot)) + extension;
}

namespace {

constexpr int kMaxNameBytes = 200; // well under the 255-byte limit of common file systems

QString safeName(const QString &caption)
{
    QString name;
    for (const QChar ch : CleanTitle(caption)) {
        if (ch.unicode() >= 32) // control characters have no place in a file name
            name += ch;
    }
    // A leading dot hides the file, and the numbered names would all be the same.
    qsizetype dots = 0;
    while (dots < name.size() && name[dots] == QLatin1Char('.'))
        ++dots;
    return name.mid(dots);
}

QString cutToBytes(const QString &text, int maxBytes)
{
    QString result = text;
    while (result.toUtf8().size() > maxBytes) {
        result.chop(1);
        if (!result.isEmpty() && result.back().isHighSurrogate())
            result.chop(1);
    }
    return result;
}

} // namespace

QString outputFileName(const QString &caption, const QString &sourcePath, int numbered)
{
    QString title = safeName(caption);
    if (title.isEmpty())
        title = safeName(QFileInfo(sourcePath).fileName());
    if (title.isEmpty())
        title = QStringLiteral("Untitled");
    QString name;
    if (numbered <= 0) {
        name = replaceExtension(title, QStringLiteral(".wma"));
    } else {
        const qsizetype dot = title.indexOf(QLatin1Char('.'));
        const QString stem = dot > 0 ? title.left(dot) : title;
        name = replaceExtension(stem + QLatin1Char('_') + QString::number(numbered), QStringLiteral(".wma"));
    }
    if (name.toUtf8().size() > kMaxNameBytes) {
        const QString ext = QStringLiteral(".wma");
        name = cutToBytes(name.left(name.size() - ext.size()), kMaxNameBytes - 4) + ext;
    }
    return name;
}

QString chooseOutputPath(const QString &folder, const QString &caption, const QString &sourcePath,
                         const std::function<bool(const QString &)> &exists)
{
    for (int n = 0; n <= kMaxNumberedNames; ++n) {
        const QString path = folder + outputFileName(caption, sourcePath, n);
        if (!exists(path))
            return path;
    }
    return {};
}

QString partialPath(const QString &finalPath)
{
    const qsizetype slash = finalPath.lastIndexOf(QLatin1Char('/'));
    return finalPath.left(slash + 1) + QLatin1Char('.') + finalPath.mid(slash + 1) + QStringLiteral(".part");
}
