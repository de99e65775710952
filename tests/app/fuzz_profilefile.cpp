// Reads every entry of an arbitrary settings file and writes each value back:
// the file must come out byte for byte as it went in, whatever else it holds.
#include "profilefile.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The sections and keys as a reader would find them: a first UTF-8
// byte-order mark is not part of the text.
QList<std::pair<QString, QString>> entries(QByteArray bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QList<std::pair<QString, QString>> found;
    QString section;
    for (const QByteArray &raw : bytes.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed();
        } else if (!line.startsWith(QLatin1Char(';')) && line.indexOf(QLatin1Char('=')) > 0) {
            const QString key = line.left(line.indexOf(QLatin1Char('='))).trimmed();
            if (!key.isEmpty())
                found.append({section, key});
        }
    }
    return found;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QTemporaryDir dir;
    if (!dir.isValid())
        return 0;
    const QString path = dir.filePath(QStringLiteral("sonbrel.ini"));
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(input) != input.size())
            return 0;
    }
    ProfileFile ini(path);
    for (const auto &[section, key] : entries(input)) {
        const QString value = ini.ReadString(section, key, QStringLiteral("\x01missing"));
        if (value == QStringLiteral("\x01missing"))
            continue; // a line before any section, or one the reader sees otherwise
        ini.WriteString(section, key, value);
        if (value.size() < 2047 && fileBytes(path) != input)
            __builtin_trap();
        // A value the reader cut is written back cut; from then on it stays.
        if (ini.ReadString(section, key, QString()) != value)
            __builtin_trap();
        if (value.size() >= 2047)
            return 0;
    }
    return 0;
}
