#include "profilefile.h"

#include <QByteArrayView>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>
#include <QStandardPaths>

#include <optional>

namespace {

constexpr int kMaxTextLength = 2047;

QString sectionName(const QString &line)
{
    const QString trimmed = line.trimmed();
    if (trimmed.startsWith(QLatin1Char('[')) && trimmed.endsWith(QLatin1Char(']')))
        return trimmed.mid(1, trimmed.size() - 2).trimmed();
    return {};
}

bool isSectionLine(const QString &line)
{
    const QString trimmed = line.trimmed();
    return trimmed.startsWith(QLatin1Char('[')) && trimmed.endsWith(QLatin1Char(']'));
}

// The key of a "key=value" line, or an empty text for any other line.
QString keyOf(const QString &line)
{
    const QString trimmed = line.trimmed();
    if (trimmed.startsWith(QLatin1Char(';')))
        return {};
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return {};
    return line.left(eq).trimmed();
}

QString valueOf(const QString &line)
{
    QString value = line.mid(line.indexOf(QLatin1Char('=')) + 1).trimmed();
    // One pair of enclosing quotes is dropped, so a value may keep its blanks.
    if (value.size() >= 2 && (value.front() == value.back()) &&
        (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\'')))
        value = value.mid(1, value.size() - 2);
    return value;
}

// One line of the file: its bytes as they stand (without the "\n" that ends
// it, so a CR before it stays part of the line) and the text it is read as.
// Lines are written back byte for byte unless they are the entry written.
struct Line {
    QByteArray bytes;
    QString text;
};

QString decodeLine(QByteArrayView bytes, bool first)
{
    // One byte-order mark opens a UTF-8 file; a second one is text.
    if (first && bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    return QString::fromUtf8(bytes);
}

struct Lines {
    QList<Line> lines;
    bool lastEnded = true; // whether the file ends in "\n"
};

Lines readLines(const QString &path)
{
    Lines result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const QByteArray data = file.readAll();
    qsizetype from = 0;
    while (from < data.size()) {
        qsizetype end = data.indexOf('\n', from);
        result.lastEnded = end >= 0;
        if (end < 0)
            end = data.size();
        const QByteArray bytes = data.mid(from, end - from);
        result.lines.append({bytes, decodeLine(bytes, from == 0)});
        from = end + 1;
    }
    return result;
}

// Where `key` of `section` stands: the first such entry in any part of the
// file headed by that section (as reading finds it), and where a new entry
// goes: after the last non-blank line of the section's first part.
struct Place {
    qsizetype entry = -1;
    qsizetype sectionEnd = -1; // -1: no such section
};

Place find(const QList<Line> &lines, const QString &section, const QString &key)
{
    Place place;
    bool inSection = false;
    bool firstPart = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &line = lines[i].text;
        if (isSectionLine(line)) {
            inSection = sectionName(line).compare(section, Qt::CaseInsensitive) == 0;
            firstPart = inSection && place.sectionEnd < 0;
            if (firstPart)
                place.sectionEnd = i + 1;
            continue;
        }
        if (!inSection)
            continue;
        const QString lineKey = keyOf(line);
        if (!lineKey.isEmpty() && lineKey.compare(key, Qt::CaseInsensitive) == 0) {
            place.entry = i;
            return place;
        }
        if (firstPart && !line.trimmed().isEmpty())
            place.sectionEnd = i + 1;
    }
    return place;
}

std::optional<QString> lookup(const QString &path, const QString &section, const QString &key)
{
    const QList<Line> lines = readLines(path).lines;
    const Place place = find(lines, section, key);
    if (place.entry < 0)
        return std::nullopt;
    return valueOf(lines[place.entry].text);
}

// An integer entry's text: decimal, or hexadecimal after "0x" (read as
// 32 bits, so 0xFFFFFFFF is -1).
std::optional<int> parseInteger(const QString &text)
{
    const QString t = text.trimmed();
    bool ok = false;
    if (t.size() > 2 && (t.startsWith(QLatin1String("0x")) || t.startsWith(QLatin1String("0X")))) {
        const QString digits = t.mid(2);
        if (digits.startsWith(QLatin1Char('+')) || digits.startsWith(QLatin1Char('-')))
            return std::nullopt;
        const uint parsed = digits.toUInt(&ok, 16);
        return ok ? std::optional<int>(static_cast<int>(parsed)) : std::nullopt;
    }
    const int parsed = t.toInt(&ok, 10);
    return ok ? std::optional<int>(parsed) : std::nullopt;
}

} // namespace

ProfileFile::ProfileFile(QString path) : m_path(std::move(path)) {}

QString ProfileFile::defaultPath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("sonbrel.ini"));
}

QString ProfileFile::ReadString(const QString &section, const QString &key, const QString &defaultValue) const
{
    const auto value = lookup(m_path, section, key);
    return (value ? *value : defaultValue).left(kMaxTextLength);
}

int ProfileFile::ReadInteger(const QString &section, const QString &key, int defaultValue) const
{
    const auto text = lookup(m_path, section, key);
    return text ? parseInteger(*text).value_or(defaultValue) : defaultValue;
}

bool ProfileFile::ReadBool(const QString &section, const QString &key, bool defaultValue) const
{
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void ProfileFile::WriteString(const QString &section, const QString &key, const QString &value)
{
    Lines content = readLines(m_path);
    QList<Line> &lines = content.lines;
    // Blanks at either end, or enclosing quotes, would be lost on reading:
    // such a value is written inside one more pair of quotes.
    QString stored = value;
    if (!value.isEmpty() && (value.front().isSpace() || value.back().isSpace() ||
                             (value.size() >= 2 && value.front() == value.back() &&
                              (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\'')))))
        stored = QLatin1Char('"') + value + QLatin1Char('"');

    const Place place = find(lines, section, key);
    // An entry that already reads as `value` keeps its spelling.
    if (place.entry >= 0 && valueOf(lines[place.entry].text) == value)
        return;
    // A line of ours takes the CR-LF ending of the line it replaces or follows.
    const auto ours = [&](const QString &text, qsizetype like) {
        QByteArray bytes = text.toUtf8();
        if (like >= 0 && lines[like].bytes.endsWith('\r'))
            bytes += '\r';
        return Line{bytes, text};
    };
    if (place.entry >= 0) {
        lines[place.entry] = ours(keyOf(lines[place.entry].text) + QLatin1Char('=') + stored, place.entry);
    } else if (place.sectionEnd >= 0) {
        lines.insert(place.sectionEnd, ours(key + QLatin1Char('=') + stored, place.sectionEnd - 1));
        if (place.sectionEnd == lines.size() - 1)
            content.lastEnded = true;
    } else {
        const qsizetype last = lines.size() - 1;
        lines.append(ours(QLatin1Char('[') + section + QLatin1Char(']'), last));
        lines.append(ours(key + QLatin1Char('=') + stored, last));
        content.lastEnded = true;
    }

    QByteArray data;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        data += lines[i].bytes;
        if (i + 1 < lines.size() || content.lastEnded)
            data += '\n';
    }

    const QString error = QStringLiteral("Unable to write to %1").arg(m_path);
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    // A temporary file in the same folder, then a rename: a crash never
    // leaves the settings half written.
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        throw SettingsWriteError(error);
    if (file.write(data) != data.size() || !file.commit())
        throw SettingsWriteError(error);
}

void ProfileFile::WriteInteger(const QString &section, const QString &key, int value)
{
    WriteString(section, key, QString::number(value));
}

void ProfileFile::WriteBool(const QString &section, const QString &key, bool value)
{
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}
