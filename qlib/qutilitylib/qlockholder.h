#pragma once
// CQLockHolder: holds a CQLock for the life of a scope and releases only what it obtained.
// The constructor calls Lock and remembers whether it succeeded; the destructor calls Unlock
// only then, so a lock that timed out or failed is never released by someone who does not hold
// it.
//
//     CQLockHolder holder(m_lock);
//     if (!holder.IsHeld()) { ... carry on without the lock, or give up ... }
//
// The holder does not own the lock, which must outlive it. Used on one thread: the thread that
// constructs it destroys it.

#include "qlib/qutilitylib/qlock.h"

class CQLockHolder {
public:
    explicit CQLockHolder(CQLock& lock);
    CQLockHolder(const CQLockHolder&) = delete;
    CQLockHolder& operator=(const CQLockHolder&) = delete;
    virtual ~CQLockHolder();

    bool IsHeld() const { return m_held; }

private:
    bool m_held;
    CQLock& m_lock;
};
