#pragma once
// CQEvent: an event that threads (and, named, processes of the same user) signal to each
// other. Manual reset: stays signalled until ResetEvent and releases every waiter. Auto reset:
// releases one waiter and is reset by that wait.
//
// An event that was never initialised is created on the first WaitForEvent unnamed, auto-reset
// and signalled, so that first wait returns at once (the behaviour the callers rely on).
// SetEvent and ResetEvent on an event that was never initialised raise "Object not
// initialized.".
//
// Named events are the calling user's own (the name is made a kernel object name without the
// global prefix), so that another user cannot signal them. Decision: a named event is always
// auto-reset; asking for a named manual-reset event raises "Invalid function parameter."
// (the system layer offers none, and nothing in the program needs one).
//
// Any thread may call any method. m_guard guards m_event; the event object lives as long as
// anybody uses it, so a thread waiting in WaitForEvent is not cut off by Close or Init.

#include <memory>
#include <mutex>
#include <string>

#include "qlib/qsys/eventobject.h"

class CQEvent {
public:
    CQEvent() = default;
    CQEvent(const CQEvent&) = delete;
    CQEvent& operator=(const CQEvent&) = delete;
    virtual ~CQEvent() = default;

    // Replaces the event. Raises the system error with "EventName" when it cannot be created.
    void Init(bool manualReset, bool initiallySignalled, const std::wstring& name);
    // Waits without limit; true when the event was signalled, false when the wait failed.
    bool WaitForEvent();
    void SetEvent();
    void ResetEvent();
    void Close();

    // The event for a wait together with other objects (qsys::WaitForAny); nullptr before
    // Init. Shared ownership keeps it alive for the wait.
    std::shared_ptr<qsys::EventObject> GetHandle() const;

private:
    // The event, created unnamed and signalled when there is none.
    std::shared_ptr<qsys::EventObject> CurrentOrSignalled();
    // The event; raises "Object not initialized." when there is none.
    std::shared_ptr<qsys::EventObject> RequireHandle() const;

    mutable std::mutex m_guard;
    std::shared_ptr<qsys::EventObject> m_event;  // guarded by m_guard
};
