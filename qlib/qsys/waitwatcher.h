#pragma once
// WaitWatcher is the wake-up call of one thread waiting on several objects at once
// (WaitForAny): the objects keep a list of the watchers of their waiters and notify each one
// when they become signalled; the waiter then tries the objects again. A notification that
// arrives before the waiter sleeps is kept, so none is lost.
//
// Notify may be called from any thread, WaitUntil by the owning waiter only.

#include <condition_variable>
#include <mutex>

#include "qlib/qsys/deadline.h"

namespace qsys {

class WaitWatcher {
public:
    void Notify();
    // True when notified (the notification is used up), false when the deadline passed first.
    bool WaitUntil(const Deadline& deadline);

private:
    std::mutex m_guard;
    std::condition_variable m_wake;
    bool m_notified = false;  // guarded by m_guard
};

}  // namespace qsys
