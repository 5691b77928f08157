#include "qlib/qsys/deadline.h"

#include <algorithm>

namespace qsys {

std::chrono::milliseconds TimeoutFromMilliseconds(uint32_t milliseconds) {
    return milliseconds == 0xFFFFFFFFu ? k_infinite : std::chrono::milliseconds(milliseconds);
}

Deadline Deadline::After(std::chrono::milliseconds timeout) {
    if (timeout == k_infinite) {
        return Deadline(true, Clock::time_point::max());
    }
    return Deadline(false, Clock::now() + std::max(timeout, std::chrono::milliseconds(0)));
}

timespec Deadline::AsMonotonicTimespec() const {
    const auto since =
        std::chrono::duration_cast<std::chrono::nanoseconds>(m_when.time_since_epoch());
    timespec result{};
    result.tv_sec = static_cast<time_t>(since.count() / 1'000'000'000);
    result.tv_nsec = static_cast<long>(since.count() % 1'000'000'000);
    return result;
}

Deadline::Clock::time_point Deadline::NoLaterThan(std::chrono::milliseconds limit) const {
    const Clock::time_point capped = Clock::now() + limit;
    return m_infinite ? capped : std::min(m_when, capped);
}

}  // namespace qsys
