#pragma once
// Event is an event object of this process, with the system's semantics: a manual-reset
// event stays signalled until Reset and releases every waiter; an auto-reset event releases
// one waiter and is reset by that wait (or stays signalled, once, until a waiter comes).
// It can be waited on together with other objects (WaitForAny).
//
// All members may be called from any thread.

#include <mutex>
#include <vector>

#include "qlib/qsys/eventobject.h"

namespace qsys {

class Event : public EventObject {
public:
    Event(EventReset reset, EventState initial);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set() override;
    void Reset() override;

protected:
    bool TryAcquire() override;
    void AddWatcher(WaitWatcher& watcher) override;
    void RemoveWatcher(WaitWatcher& watcher) override;

private:
    const EventReset m_reset;
    std::mutex m_guard;
    bool m_signaled;                       // guarded by m_guard
    std::vector<WaitWatcher*> m_watchers;  // guarded by m_guard
};

}  // namespace qsys
