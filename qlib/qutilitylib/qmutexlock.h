#pragma once
// CQMutexLock: a lock on a kernel mutex. Unnamed, it serves the threads of this process; named
// (Init with a name), it is shared by every process that uses the same name, which is how
// several processes take turns at one log file. Re-entrant for the owning thread; a mutex
// whose owner ended without releasing it is taken over (reported to Lock as success).
//
// Lock waits up to the time-out (SetTimeout; infinite at first) and returns false on a
// time-out or a failure, so that a CQLockHolder then releases nothing. A lock that was never
// initialised creates an unnamed mutex on its first Lock.
//
// Decisions, so that the lock stays a lock when several threads use it:
// - The mutex is created at most once per Init: a guard serialises the creation on first Lock,
//   so two threads never create two mutexes in parallel.
// - Ownership is per thread (the mutex knows its owner): Unlock by a thread that does not hold
//   the lock fails (logged at WARNING) instead of releasing another thread's hold.
// - Clear releases one hold of the calling thread, if it has one. It forgets a named mutex
//   (the next Lock creates an unnamed one) but keeps an unnamed one: a "new" unnamed mutex is
//   indistinguishable to callers, and replacing it while another thread holds or waits on the
//   old one would let two threads into the section it guards.
// - The mutex object lives as long as anybody uses it: a thread waiting in Lock keeps it alive
//   across a concurrent Clear or Init.
//
// Any thread may call any method. m_guard guards m_mutex and m_timeout.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "qlib/qsys/kernelmutex.h"
#include "qlib/qutilitylib/qlock.h"

// Who shares a named kernel object: every user of the machine, or the calling user only.
enum EQKernelObjectScope {
    EQKernelObjectScope_Global,
    EQKernelObjectScope_User,
};

class CQMutexLock : public CQLock {
public:
    CQMutexLock() = default;
    CQMutexLock(const CQMutexLock&) = delete;
    CQMutexLock& operator=(const CQMutexLock&) = delete;
    ~CQMutexLock();

    // Replaces the mutex: the named one of that name (made a kernel object name first; shared
    // by all users unless scope says otherwise), or an unnamed one for an empty name. Raises
    // the system error with "MutexName" when the mutex cannot be created or opened.
    void Init(const std::wstring& name, EQKernelObjectScope scope = EQKernelObjectScope_Global);
    bool Lock() override;
    // Releases one hold of the calling thread; a failure is logged at WARNING, never raised.
    void Unlock() override;
    void Clear();

    // Milliseconds that Lock waits; k_infiniteTimeout waits without limit.
    void SetTimeout(uint32_t milliseconds);
    // Whether the calling thread holds the lock.
    bool IsHeld() const;

private:
    std::shared_ptr<qsys::KernelMutex> CurrentMutex(bool create);

    mutable std::mutex m_guard;
    uint32_t m_timeout = k_infiniteTimeout;      // guarded by m_guard
    std::shared_ptr<qsys::KernelMutex> m_mutex;  // guarded by m_guard
    bool m_named = false;                        // guarded by m_guard
};
