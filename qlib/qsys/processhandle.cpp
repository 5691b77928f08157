#include "qlib/qsys/processhandle.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <utility>

#include "qlib/qsys/systemerror.h"

namespace qsys {

ProcessHandle ProcessHandle::Open(uint32_t id) {
    // glibc 2.36 has no wrapper for pidfd_open on every architecture; the system call is stable.
    UniqueFd fd(static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(id), 0u)));
    if (!fd.IsValid()) {
        ThrowLastError("pidfd_open " + std::to_string(id));
    }
    ProcessHandle process(std::move(fd));
    // Signal 0 delivers nothing: it only asks whether we may signal the process.
    process.Signal(0);
    return process;
}

void ProcessHandle::Kill() const {
    Signal(SIGKILL);
}

void ProcessHandle::Signal(int signal) const {
    if (::syscall(SYS_pidfd_send_signal, m_fd.Get(), signal, nullptr, 0u) != 0) {
        ThrowLastError("pidfd_send_signal " + std::to_string(signal));
    }
}

}  // namespace qsys
