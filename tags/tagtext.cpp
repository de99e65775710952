#include "tagtext.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

QString TrimControl(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 32)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

bool openRegularFile(const QString &fileName, QFile &file)
{
    if (!QFileInfo(fileName).isFile())
        return false;
    file.setFileName(fileName);
    return file.open(QIODevice::ReadOnly);
}

QString yearFromDate(const QString &date)
{
    const bool datePrefix =
        date.size() >= 4 && std::all_of(date.begin(), date.begin() + 4, [](QChar c) { return c.isDigit(); });
    return datePrefix ? date.left(4) : date;
}

quint16 leadingNumber(const QString &text)
{
    const QString trimmed = text.trimmed();
    qsizetype digits = 0;
    while (digits < trimmed.size() && digits < 6 && trimmed.at(digits).isDigit())
        ++digits;
    bool ok = false;
    const uint value = trimmed.left(digits).toUInt(&ok);
    return ok && value <= 0xFFFF ? quint16(value) : 0;
}
