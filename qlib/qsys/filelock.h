#pragma once
// FileLock holds an exclusive flock(2) on a lock file for as long as it lives. Writers of a
// shared file take it around their read-modify-write so that processes (and threads, which
// each open their own descriptor) take turns. The lock goes with the descriptor, so a process
// that dies releases it.
//
// Move-only; one owner at a time.

#include <sys/types.h>

#include <string>

#include "qlib/qsys/uniquefd.h"

namespace qsys {

class FileLock {
public:
    // Opens the lock file (creating it with exactly `mode` when missing; a symbolic link is
    // refused) and waits without limit until the exclusive lock is held. Throws
    // std::system_error on failure (EACCES when the folder or file may not be written).
    [[nodiscard]] static FileLock Acquire(const std::string& path, mode_t mode);

    FileLock(FileLock&&) = default;
    FileLock& operator=(FileLock&&) = default;

private:
    explicit FileLock(UniqueFd fd) : m_fd(std::move(fd)) {}

    UniqueFd m_fd;
};

// Opens or creates a lock file for reading and writing: O_NOFOLLOW, O_CLOEXEC; a file this
// call creates gets exactly `mode`. Shared by FileLock and the named kernel objects.
UniqueFd OpenLockFile(const std::string& path, mode_t mode);

}  // namespace qsys
