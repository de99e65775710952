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

// The caption as a file title: without the characters a name can't hold,
// control characters and leading dots (a leading dot hides the file, and the
// numbered names would all be the same). One pass, whatever its length.
QString safeName(const QString &caption)
{
    QString name;
    const QString clean = CleanTitle(caption);
    name.reserve(clean.size());
    for (const QChar ch : clean) {
        if (ch.unicode() >= 32 && !(name.isEmpty() && ch == QLatin1Char('.')))
            name += ch;
    }
    return name;
}

QString fileTitle(const QString &caption, const QString &sourcePath)
{
    QString title = safeName(caption);
    if (title.isEmpty())
        title = safeName(QFileInfo(sourcePath).fileName());
    if (title.isEmpty())
        title = QStringLiteral("Untitled");
    return title;
}

// The longest start of `text` whose UTF-8 form fits in `maxBytes`, never
// splitting a surrogate pair; a lone surrogate counts as the three bytes of
// the replacement character it becomes.
QStringView cutToBytes(QStringView text, qsizetype maxBytes)
{
    qsizetype bytes = 0;
    qsizetype at = 0;
    while (at < text.size()) {
        const char16_t unit = text[at].unicode();
        const bool pair =
            QChar::isHighSurrogate(unit) && at + 1 < text.size() && text[at + 1].isLowSurrogate();
        const qsizetype size = pair ? 4 : unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
        if (bytes + size > maxBytes)
            break;
        bytes += size;
        at += pair ? 2 : 1;
    }
    return text.first(at);
}

// The name for a title made by fileTitle: its text before the extension (or,
// numbered, before its first dot), cut so the whole name fits kMaxNameBytes.
QString nameFromTitle(QStringView title, int numbered)
{
    const QString extension = QStringLiteral(".wma");
    QStringView stem = title;
    QString suffix;
    if (numbered <= 0) {
        const qsizetype dot = title.lastIndexOf(QLatin1Char('.'));
        if (dot >= 0)
            stem = title.first(dot);
    } else {
        const qsizetype dot = title.indexOf(QLatin1Char('.'));
        if (dot > 0)
            stem = title.first(dot);
        suffix = QLatin1Char('_') + QString::number(numbered);
    }
    // A character takes at least one byte, so the cut needs no more of a long
    // title than this; the numbers stay, so the numbered names differ.
    stem = stem.first(std::min<qsizetype>(stem.size(), kMaxNameBytes));
    return cutToBytes(stem, kMaxNameBytes - suffix.size() - extension.size()).toString() + suffix + extension;
}

} // namespace

QString outputFileName(const QString &caption, const QString &sourcePath, int numbered)
{
    return nameFromTitle(fileTitle(caption, sourcePath), numbered);
}

QString chooseOutputPath(const QString &folder, const QString &caption, const QString &sourcePath,
                         const std::function<bool(const QString &)> &exists)
{
    const QString title = fileTitle(caption, sourcePath);
    for (int n = 0; n <= kMaxNumberedNames; ++n) {
        const QString path = folder + nameFromTitle(title, n);
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
