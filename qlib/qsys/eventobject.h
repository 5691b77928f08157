#pragma once
// EventObject is what the two kinds of event have in common: the in-process Event and the
// NamedEvent shared between processes. An owner that decides at run time which one it needs
// (named or not) holds it through this interface.
//
// All members may be called from any thread.

#include "qlib/qsys/waitableobject.h"

namespace qsys {

enum class EventReset { Auto, Manual };
enum class EventState { NonSignaled, Signaled };

class EventObject : public WaitableObject {
public:
    // Signals the event: releases one waiter of an auto-reset event (or leaves it signalled,
    // once, until one comes), every waiter of a manual-reset event.
    virtual void Set() = 0;
    virtual void Reset() = 0;
};

}  // namespace qsys
