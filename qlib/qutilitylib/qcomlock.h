#pragma once
// CQCOMLock: the in-process lock of objects whose methods may be called by several threads (the
// critical section of the service, the handler and the worker host). Re-entrant: the thread
// that holds it may take it again and must release it as often as it took it.
//
// Lock always succeeds (it waits without limit) and returns true. Unlock by a thread that does
// not hold the lock is a programming error; CQLockHolder never does it.
//
// The system part cannot fail to be created: the C library initialises it statically, so the
// constructor never raises.
//
// Not copyable: a lock is identified by its address. Any thread may call Lock and Unlock.

#include <mutex>

#include "qlib/qutilitylib/qlock.h"

class CQCOMLock : public CQLock {
public:
    CQCOMLock() = default;
    CQCOMLock(const CQCOMLock&) = delete;
    CQCOMLock& operator=(const CQCOMLock&) = delete;
    ~CQCOMLock() = default;

    bool Lock() override;
    void Unlock() override;

private:
    std::recursive_mutex m_mutex;
};
