#pragma once
// WaitableObject is the base of the objects a thread can wait on, alone (Wait) or together
// with others (WaitForAny): the events (EventObject: the in-process Event and the NamedEvent
// shared between processes).
// WaitForAny is the wait on several objects at once that a worker needs to wait for its stop
// request and a request from another process together.
//
// All members may be called from any thread.

#include <chrono>
#include <cstddef>
#include <initializer_list>
#include <span>

#include "qlib/qsys/deadline.h"
#include "qlib/qsys/waitwatcher.h"

namespace qsys {

struct WaitAnyResult {
    WaitStatus status;  // Signaled or TimedOut
    size_t index;       // of the object that fired (the first in the list when several had)
};

class WaitableObject {
public:
    virtual ~WaitableObject() = default;

    // Signaled when the object was signalled within the time limit (an auto-reset object is
    // reset by the wait), TimedOut otherwise.
    [[nodiscard]] virtual WaitStatus Wait(std::chrono::milliseconds timeout = k_infinite);

protected:
    friend WaitAnyResult WaitForAny(std::span<WaitableObject* const> objects,
                                    std::chrono::milliseconds timeout);

    // Takes the signal when the object is signalled; never blocks.
    virtual bool TryAcquire() = 0;
    // The object notifies the watcher whenever it may have become signalled, from AddWatcher
    // until RemoveWatcher returns.
    virtual void AddWatcher(WaitWatcher& watcher) = 0;
    virtual void RemoveWatcher(WaitWatcher& watcher) = 0;
};

// Waits until one of the objects is signalled (and takes that one signal only) or the time
// limit passes. EINVAL for an empty list.
[[nodiscard]] WaitAnyResult WaitForAny(std::span<WaitableObject* const> objects,
                                       std::chrono::milliseconds timeout = k_infinite);
[[nodiscard]] inline WaitAnyResult WaitForAny(std::initializer_list<WaitableObject*> objects,
                                              std::chrono::milliseconds timeout = k_infinite) {
    return WaitForAny(std::span<WaitableObject* const>(objects.begin(), objects.size()), timeout);
}

}  // namespace qsys
