#include "tagtext.h"

#include <QFile>
#include <QFileInfo>

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
