#include "safereplace.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace {

struct FdCloser {
    int fd;
    ~FdCloser()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// 0, or the errno of the failure. A short write with no error reported is
// what a full disk looks like to a writer that does not ask again.
int writeAll(int fd, const char *data, std::size_t size)
{
    for (std::size_t done = 0; done < size;) {
        const ssize_t put = ::write(fd, data + done, size - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            return errno;
        if (put == 0)
            return ENOSPC;
        done += static_cast<std::size_t>(put);
    }
    return 0;
}

int readExactly(int fd, std::string &bytes, std::size_t size)
{
    bytes.resize(size);
    for (std::size_t done = 0; done < size;) {
        const ssize_t got = ::read(fd, bytes.data() + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            return EIO; // the file shrank under us
        done += static_cast<std::size_t>(got);
    }
    return 0;
}

int copyRest(int from, int to)
{
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            return 0;
        if (const int error = writeAll(to, buffer, static_cast<std::size_t>(got)))
            return error;
    }
}

} // namespace

int replaceHead(const std::string &path, std::size_t headSize,
                const std::function<bool(std::string &head)> &edit)
{
    // A caller without write permission must not get around it by rename.
    if (::access(path.c_str(), W_OK) != 0)
        return errno;
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved)
        return errno;
    const std::string target = resolved.get();

    FdCloser original{::open(target.c_str(), O_RDONLY | O_CLOEXEC)};
    if (original.fd < 0)
        return errno;
    struct stat status {};
    if (::fstat(original.fd, &status) != 0)
        return errno;
    if (!S_ISREG(status.st_mode))
        return EINVAL;
    std::string head;
    if (const int error = readExactly(original.fd, head, headSize))
        return error;
    if (!edit(head))
        return HeadRefused;

    const std::size_t slash = target.rfind('/');
    std::string temporary = target.substr(0, slash + 1) + "." + target.substr(slash + 1) + ".XXXXXX";
    FdCloser copy{::mkostemp(temporary.data(), O_CLOEXEC)};
    if (copy.fd < 0)
        return errno;
    int error = writeAll(copy.fd, head.data(), head.size());
    if (error == 0)
        error = copyRest(original.fd, copy.fd);
    if (error == 0) {
        // Not every user may give a file away; failing that is no reason to stop.
        [[maybe_unused]] const int owned = ::fchown(copy.fd, status.st_uid, status.st_gid);
        if (::fchmod(copy.fd, status.st_mode & 07777) != 0 || ::fsync(copy.fd) != 0 ||
            ::rename(temporary.c_str(), target.c_str()) != 0)
            error = errno;
    }
    if (error != 0)
        ::unlink(temporary.c_str());
    return error;
}
