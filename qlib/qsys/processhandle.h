#pragma once
// ProcessHandle: a handle to one running process (a pidfd), so that a signal reaches the
// process that was opened even if its id is reused after it ends. Opening checks that we may
// signal the process (same user, or privileged), as opening a process with the right to end it
// does on the system this layer stands in for.
//
// Move-only; the descriptor is closed with the handle. One thread at a time.

#include <cstdint>
#include <utility>

#include "qlib/qsys/uniquefd.h"

namespace qsys {

class ProcessHandle {
public:
    ProcessHandle() = default;

    // The process `id`. Throws std::system_error: ESRCH when there is no such process, EPERM
    // when we may not signal it.
    static ProcessHandle Open(uint32_t id);

    bool IsValid() const { return m_fd.IsValid(); }
    // Ends the process at once (SIGKILL): it cannot catch or delay this. Throws
    // std::system_error (ESRCH when the process has ended meanwhile).
    void Kill() const;

private:
    explicit ProcessHandle(UniqueFd fd) : m_fd(std::move(fd)) {}

    void Signal(int signal) const;

    UniqueFd m_fd;
};

}  // namespace qsys
