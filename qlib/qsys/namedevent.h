#pragma once
// NamedEvent is an auto-reset event shared between processes by name (see KernelObjectName
// for names and namespaces), carried by a POSIX named semaphore whose count is the event's
// state: Set releases one waiter, or leaves the event signalled when nobody waits; the count
// never goes above 1, because setters take turns under a flock on "<name>.event" and post
// only when the count is 0. The event lives until Remove (or reboot), so a signal given while
// no process has it open is kept.
//
// A semaphore cannot be waited on together with anything else, so when a NamedEvent is part
// of a WaitForAny, a helper thread waits on the semaphore and hands a signal it takes to the
// waiters of this process; when they have stopped waiting (another object fired) before it
// could hand it over, it sets the event again, so no signal is lost. The helper checks every
// 100 ms whether anybody still waits and ends when nobody does.
//
// Manual-reset named events are not provided: nothing here needs them.
//
// All members may be called from any thread.

#include <chrono>
#include <memory>
#include <string_view>

#include "qlib/qsys/eventobject.h"

namespace qsys {

struct NamedEventState;

class NamedEvent : public EventObject {
public:
    // Opens the event of that name, creating it with `initial` when it does not exist yet (the
    // state of an existing event is kept). Throws std::system_error: EINVAL for an empty name,
    // EACCES when the name's semaphore belongs to another user, or whatever the system reports.
    explicit NamedEvent(std::wstring_view name, EventState initial = EventState::NonSignaled);
    ~NamedEvent() override;
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    void Set() override;
    // Takes away a pending signal (a stale request left from an earlier run, for example).
    void Reset() override;
    [[nodiscard]] WaitStatus Wait(std::chrono::milliseconds timeout = k_infinite) override;

    // Removes the name's semaphore and lock file; handles already open keep working, and the
    // next open of the name creates a new event. Nothing happens for a name that does not exist.
    static void Remove(std::wstring_view name);

protected:
    bool TryAcquire() override;
    void AddWatcher(WaitWatcher& watcher) override;
    void RemoveWatcher(WaitWatcher& watcher) override;

private:
    std::shared_ptr<NamedEventState> m_state;
};

}  // namespace qsys
