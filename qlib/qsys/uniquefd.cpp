#include "qlib/qsys/uniquefd.h"

#include <unistd.h>

#include <utility>

namespace qsys {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        Reset(other.Release());
    }
    return *this;
}

int UniqueFd::Release() noexcept {
    return std::exchange(m_fd, -1);
}

void UniqueFd::Reset(int fd) noexcept {
    // close() is not retried on EINTR: on Linux the descriptor is gone either way.
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    m_fd = fd;
}

}  // namespace qsys
