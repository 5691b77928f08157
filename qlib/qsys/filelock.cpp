#include "qlib/qsys/filelock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>

#include "qlib/qsys/systemerror.h"

namespace qsys {

UniqueFd OpenLockFile(const std::string& path, mode_t mode) {
    const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW;
    UniqueFd fd(::open(path.c_str(), flags | O_CREAT | O_EXCL, mode));
    if (fd.IsValid()) {
        // The umask may have taken bits away; the caller's mode is what other users rely on.
        if (::fchmod(fd.Get(), mode) != 0) {
            ThrowLastError("chmod " + path);
        }
        return fd;
    }
    if (errno != EEXIST) {
        ThrowLastError("create " + path);
    }
    fd.Reset(::open(path.c_str(), flags));
    if (!fd.IsValid()) {
        ThrowLastError("open " + path);
    }
    return fd;
}

FileLock FileLock::Acquire(const std::string& path, mode_t mode) {
    UniqueFd fd = OpenLockFile(path, mode);
    while (::flock(fd.Get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            ThrowLastError("lock " + path);
        }
    }
    return FileLock(std::move(fd));
}

}  // namespace qsys
