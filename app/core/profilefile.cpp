#include "profilefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>

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

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

std::optional<QString> lookup(const QString &path, const QString &section, const QString &key)
{
    bool inSection = false;
    for (const QString &line : readLines(path)) {
        if (isSectionLine(line)) {
            inSection = sectionName(line).compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        if (inSection && keyOf(line).compare(key, Qt::CaseInsensitive) == 0 && !keyOf(line).isEmpty())
            return valueOf(line);
    }
    return std::nullopt;
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

bool parseProfileInteger(const QString &text, int *value)
{
    const QString t = text.trimmed();
    bool ok = false;
    if (t.size() > 2 && (t.startsWith(QLatin1String("0x")) || t.startsWith(QLatin1String("0X")))) {
        const QString digits = t.mid(2);
        if (digits.startsWith(QLatin1Char('+')) || digits.startsWith(QLatin1Char('-')))
            return false;
        const uint parsed = digits.toUInt(&ok, 16);
        if (ok)
            *value = static_cast<int>(parsed); // 0xFFFFFFFF reads as -1: 32-bit wrap
        return ok;
    }
    const int parsed = t.toInt(&ok, 10);
    if (ok)
        *value = parsed;
    return ok;
}

int ProfileFile::ReadInteger(const QString &section, const QString &key, int defaultValue) const
{
    const auto text = lookup(m_path, section, key);
    int value = defaultValue;
    if (text && parseProfileInteger(*text, &value))
        return value;
    return defaultValue;
}

bool ProfileFile::ReadBool(const QString &section, const QString &key, bool defaultValue) const
{
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void ProfileFile::WriteString(const QString &section, const QString &key, const QString &value)
{
    QStringList lines = readLines(m_path);
    // Blanks at either end, or enclosing quotes, would be lost on reading:
    // such a value is written inside one more pair of quotes.
    QString stored = value;
    if (!value.isEmpty() && (value.front().isSpace() || value.back().isSpace() ||
                             (value.size() >= 2 && value.front() == value.back() &&
                              (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\'')))))
        stored = QLatin1Char('"') + value + QLatin1Char('"');
    const QString entry = key + QLatin1Char('=') + stored;

    qsizetype sectionStart = -1; // line index of the section header
    qsizetype insertAt = -1;     // after the section's last non-blank line
    bool written = false;
    for (qsizetype i = 0; i < lines.size() && !written; ++i) {
        if (isSectionLine(lines[i])) {
            if (sectionStart >= 0)
                break; // left our section without finding the key
            if (sectionName(lines[i]).compare(section, Qt::CaseInsensitive) == 0) {
                sectionStart = i;
                insertAt = i + 1;
            }
            continue;
        }
        if (sectionStart < 0)
            continue;
        const QString lineKey = keyOf(lines[i]);
        if (!lineKey.isEmpty() && lineKey.compare(key, Qt::CaseInsensitive) == 0) {
            lines[i] = lineKey + QLatin1Char('=') + stored;
            written = true;
        } else if (!lines[i].trimmed().isEmpty()) {
            insertAt = i + 1;
        }
    }
    if (!written) {
        if (sectionStart >= 0) {
            lines.insert(insertAt, entry);
        } else {
            lines << QLatin1Char('[') + section + QLatin1Char(']') << entry;
        }
    }

    const QString error = QStringLiteral("Unable to write to %1").arg(m_path);
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    // A temporary file in the same folder, then a rename: a crash never
    // leaves the settings half written.
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        throw SettingsWriteError(error);
    const QByteArray data = (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
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
