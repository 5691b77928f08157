#pragma once
// KernelMutex is a mutex with the semantics of the system's kernel mutex: owned by a thread,
// re-entrant for that thread (each Lock needs its Unlock), waited on with a time limit, and
// reported "abandoned" to the next owner when its owner ended without releasing it.
//
// Unnamed, it serves the threads of this process. Named (see KernelObjectName for names and
// namespaces), it is shared by every process that opens the same name: the process that owns
// it holds an exclusive flock on the lock file "<name>.mutex". The kernel drops that lock when
// the process dies; the first byte of the file says whether the last owner released the mutex
// ("0") or still held it ("1"), which is how the next owner learns that it was abandoned.
//
// Every handle of one name in a process shares one state, so ownership belongs to the thread
// whatever handle it uses. A thread that ends while owning a mutex releases it as abandoned;
// closing a handle does not release it (as with the system's mutexes, the owning thread
// still holds it until it unlocks or ends).
//
// A moved-from handle may only be destroyed or assigned to.
//
// Lock and Unlock may be called from any thread; Unlock only by the owning thread. Handles are
// not to be used in a child process after fork(): open the name again there.
//
// Waiting with a limit on another process polls the lock file (1 ms, backing off to 10 ms);
// an unlimited wait blocks in flock().

#include <chrono>
#include <memory>
#include <string_view>

#include "qlib/qsys/deadline.h"

namespace qsys {

struct KernelMutexState;

class KernelMutex {
public:
    // A mutex of this process only.
    KernelMutex();
    // The mutex of that name, opened or created; an empty name gives a mutex of this process
    // only. Throws std::system_error when the name's folder or lock file cannot be used.
    explicit KernelMutex(std::wstring_view name);
    ~KernelMutex();
    KernelMutex(KernelMutex&&) noexcept;
    KernelMutex& operator=(KernelMutex&&) noexcept;
    KernelMutex(const KernelMutex&) = delete;
    KernelMutex& operator=(const KernelMutex&) = delete;

    // Signaled or Abandoned when the calling thread now owns the mutex, TimedOut otherwise.
    // Throws std::system_error when the lock file fails.
    [[nodiscard]] WaitStatus Lock(std::chrono::milliseconds timeout = k_infinite);
    // Releases one hold of the calling thread. Throws std::system_error(EPERM) when the
    // calling thread does not own the mutex.
    void Unlock();
    bool IsOwnedByCurrentThread() const;

private:
    std::shared_ptr<KernelMutexState> m_state;
};

}  // namespace qsys
