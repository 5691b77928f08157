#pragma once
// CQWorkerThreadHost: the base of every object that owns one background thread (the service's
// worker, the handler's worker, the server module's close watcher). A derived class implements
// WorkerProc; the host starts it on a thread of its own, asks it to stop and waits for it.
//
// Lifecycle: idle -> StartWorkerThread -> running (IsRunning) -> WorkerProc returns, by itself
// or because it saw the stop event (GetStopEvent, for waits together with other objects) or
// IsStopRequested -> finished (running false, finished event signalled) -> StopWorkerThread
// joins the thread and drops the events -> idle. StartWorkerThread on a running host stops the
// old thread first (waiting for it). A WorkerProc that throws leaves its failure logged at
// WARNING and stored (GetWorkerError); the thread then ends normally.
//
// Decisions:
// - The destructor always waits until the thread has ended: a thread left running would go on
//   using the object being destroyed. A derived class must stop the thread in its own
//   destructor (its members are gone by the time this destructor runs while WorkerProc may
//   still use them); the base's stop is the last resort.
// - A worker may destroy its own host (the last reference to a reference-counted object
//   released on the worker thread). The base's destructor then lets the thread end by itself:
//   after WorkerProc returns, the runner touches only the run state (flags, events, worker
//   error), which the thread owns together with the host (shared ownership), never the host.
//   WorkerProc itself must not use the host after destroying it, and a derived destructor that
//   stops the thread must not do so on the worker thread (IsWorkerThread tells).
// - StopWorkerThread called by the worker thread itself cannot wait for itself: it raises
//   EDEADLK ("Resource deadlock avoided") instead of hanging.
// - A stop that times out keeps the stop request (and the signalled stop event) in place, so
//   that a worker that looks later still sees it; the request ends when the thread has ended.
// - The thread runs at the normal priority (nothing in the program asks for another), and is
//   named after the host (the system keeps the first 15 bytes of the name).
//
// Threads: StartWorkerThread, StopWorkerThread and Clear are called by the owner, which
// serialises them; the worker thread writes the running flag and the worker error; IsRunning
// and IsStopRequested may be read by anyone. The run state is created with the host and lives
// until both the host and its last thread are gone; its lock guards the worker error. The
// events in it are replaced by the owner only while no thread runs.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "qlib/qsys/event.h"
#include "qlib/qutilitylib/qcomlock.h"
#include "qlib/qutilitylib/qexception.h"

class CQWorkerThreadHost {
public:
    explicit CQWorkerThreadHost(std::wstring name);
    CQWorkerThreadHost(const CQWorkerThreadHost&) = delete;
    CQWorkerThreadHost& operator=(const CQWorkerThreadHost&) = delete;
    virtual ~CQWorkerThreadHost();

    // Stops a previous thread (without time limit), clears the worker error and starts
    // WorkerProc on a new thread. Raises the system error when no thread can be created.
    void StartWorkerThread();
    // Sets the stop request and the stop event, then waits up to timeout milliseconds
    // (k_infiniteTimeout: no limit) for the thread to finish. When it finished, the thread is
    // joined and its events dropped; when the wait timed out, everything stays as it is (the
    // thread goes on). Does nothing on a host without a thread.
    void StopWorkerThread(uint32_t timeout);
    // Empties the worker error and clears the running flag.
    void Clear();
    void SetWorkerError(const CQException& error);
    // A copy of the last failure of WorkerProc (no entries when there was none).
    CQException GetWorkerError() const;

    bool IsRunning() const { return m_state->running.load(); }
    bool IsStopRequested() const { return m_state->stopRequested.load(); }
    // The auto-reset event StopWorkerThread signals; nullptr while no thread was started.
    // Valid until the next StopWorkerThread that ends the thread.
    qsys::Event* GetStopEvent() const { return m_state->stopEvent.get(); }
    // Whether the caller is this host's worker thread, inside WorkerProc.
    bool IsWorkerThread() const;

protected:
    // The thread's work; argument is always null.
    virtual void WorkerProc(void* argument) = 0;

private:
    // What the worker thread shares with its host; see the threads note above.
    struct RunState {
        mutable CQCOMLock lock;
        std::atomic<bool> stopRequested = false;
        std::atomic<bool> running = false;
        std::unique_ptr<qsys::Event> stopEvent;      // written by the owner while no thread runs
        std::unique_ptr<qsys::Event> finishedEvent;  // written by the owner while no thread runs
        CQException workerError;                     // guarded by lock
        // Held by the owner while it creates the thread and stores it in m_thread; the runner
        // passes it before the worker starts, so a worker that destroys its host finds the
        // thread object assigned.
        std::mutex startGate;
    };

    static void WorkerThreadRunner(CQWorkerThreadHost* host,
                                   std::shared_ptr<RunState> state) noexcept;
    static void StoreWorkerError(RunState& state, const CQException& error);

    const std::wstring m_name;
    const std::shared_ptr<RunState> m_state;
    std::thread m_thread;
};
