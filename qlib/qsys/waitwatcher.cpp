#include "qlib/qsys/waitwatcher.h"

#include <utility>

namespace qsys {

void WaitWatcher::Notify() {
    const std::lock_guard lock(m_guard);
    m_notified = true;
    m_wake.notify_one();
}

bool WaitWatcher::WaitUntil(const Deadline& deadline) {
    std::unique_lock lock(m_guard);
    const auto notified = [&] { return m_notified; };
    if (deadline.IsInfinite()) {
        m_wake.wait(lock, notified);
    } else if (!m_wake.wait_until(lock, deadline.When(), notified)) {
        return false;
    }
    m_notified = false;
    return true;
}

}  // namespace qsys
