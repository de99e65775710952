#include "partialfile.h"

#include <QFile>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool sameFile(int fd, const QByteArray &path)
{
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::lstat(path.constData(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// Every ASF file, so every output, starts with the header object's GUID.
bool startsLikeAsf(int fd)
{
    static constexpr std::array<unsigned char, 16> header = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                                             0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    std::array<unsigned char, 16> start{};
    const ssize_t got = ::pread(fd, start.data(), start.size(), 0);
    // A run killed right after creating its file left it empty.
    return got == 0 || (got == ssize_t(start.size()) && start == header);
}

} // namespace

PartialFileLock::~PartialFileLock()
{
    release();
}

bool PartialFileLock::acquire(const QString &path)
{
    release();
    const QByteArray name = QFile::encodeName(path);
    m_fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (m_fd < 0)
        return false;
    int result;
    do {
        result = ::flock(m_fd, LOCK_EX); // waits only while another run looks at it
    } while (result != 0 && errno == EINTR);
    // A file system without locks (some network shares) gets no protection,
    // but the conversion goes on.
    if ((result != 0 && errno != ENOLCK && errno != EOPNOTSUPP && errno != ENOSYS) || !sameFile(m_fd, name)) {
        release();
        return false;
    }
    return true;
}

void PartialFileLock::release()
{
    if (m_fd >= 0)
        ::close(m_fd); // drops the lock
    m_fd = -1;
}

namespace PartialFile {

bool removeIfStale(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    bool removed = false;
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        startsLikeAsf(fd) && sameFile(fd, name))
        removed = ::unlink(name.constData()) == 0;
    ::close(fd);
    return removed;
}

bool isPartialName(const QString &fileName)
{
    return fileName.size() > 10 && fileName.startsWith(QLatin1Char('.')) &&
           fileName.endsWith(QLatin1String(".wma.part"), Qt::CaseInsensitive);
}

} // namespace PartialFile
