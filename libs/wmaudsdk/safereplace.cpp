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

bool copyContents(int from, int to)
{
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(to, buffer + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return false;
            done += put;
        }
    }
}

} // namespace

bool replaceThroughCopy(const std::string &path, const std::function<bool(const std::string &copy)> &edit)
{
    // A caller without write permission must not get around it by rename.
    if (::access(path.c_str(), W_OK) != 0)
        return false;
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved)
        return false;
    const std::string target = resolved.get();

    FdCloser original{::open(target.c_str(), O_RDONLY | O_CLOEXEC)};
    struct stat status {};
    if (original.fd < 0 || ::fstat(original.fd, &status) != 0 || !S_ISREG(status.st_mode))
        return false;

    const std::size_t slash = target.rfind('/');
    std::string temporary = target.substr(0, slash + 1) + "." + target.substr(slash + 1) + ".XXXXXX";
    FdCloser copy{::mkostemp(temporary.data(), O_CLOEXEC)};
    if (copy.fd < 0)
        return false;
    bool ok = copyContents(original.fd, copy.fd) && ::fsync(copy.fd) == 0 && edit(temporary);
    if (ok) {
        // Not every user may give a file away; failing that is no reason to stop.
        [[maybe_unused]] const int owned = ::fchown(copy.fd, status.st_uid, status.st_gid);
        ok = ::fchmod(copy.fd, status.st_mode & 07777) == 0 && ::fsync(copy.fd) == 0 &&
             ::rename(temporary.c_str(), target.c_str()) == 0;
    }
    if (!ok)
        ::unlink(temporary.c_str());
    return ok;
}
