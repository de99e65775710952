#include "wmawritablefile.h"

#include <QFile>

#include <sys/stat.h>

WmaWritableFile::WmaWritableFile(const QString &fileName) : m_path(QFile::encodeName(fileName))
{
    struct stat status {};
    if (::stat(m_path.constData(), &status) != 0 || !S_ISREG(status.st_mode) || (status.st_mode & S_IWUSR))
        return;
    m_originalMode = status.st_mode & 07777;
    m_changed = ::chmod(m_path.constData(), m_originalMode | S_IWUSR) == 0;
}

WmaWritableFile::~WmaWritableFile()
{
    // The writer may have replaced the file by a new one at the same path;
    // the mode belongs to whatever is there now.
    if (m_changed)
        ::chmod(m_path.constData(), m_originalMode);
}
