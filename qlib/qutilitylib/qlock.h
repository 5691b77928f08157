#pragma once
// CQLock: the interface every lock of the program offers, so that a scoped CQLockHolder (and
// code that only needs "some lock") works with any of them: CQCOMLock (in-process, re-entrant),
// CQMutexLock (kernel mutex, optionally named and shared between processes) and classes that
// guard themselves, such as byte buffers.
//
// Lock returns true when the calling thread now holds the lock; false when it could not be
// taken (a time-out or an unusable kernel object), in which case the caller must not Unlock.
// Unlock releases one hold of the calling thread.
//
// Locks are never owned or deleted through this interface: the destructor is protected and
// not virtual, so an owner always destroys the concrete lock it created.

#include <cstdint>

// A time-out in milliseconds that never ends (the waits of the locks, events and worker threads).
constexpr uint32_t k_infiniteTimeout = 0xFFFFFFFF;

class CQLock {
public:
    virtual bool Lock() = 0;
    virtual void Unlock() = 0;

protected:
    CQLock() = default;
    CQLock(const CQLock&) = default;
    CQLock& operator=(const CQLock&) = default;
    ~CQLock() = default;
};
