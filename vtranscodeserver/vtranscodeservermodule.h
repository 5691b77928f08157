#pragma once
// CVTranscodeServerModule: the life of the server process. Run registers the class objects,
// serves thread messages on the calling (main) thread until the last client reference has been
// gone for the shutdown time-out (WM_QUIT), the per-user close event fires or SIGTERM/SIGINT
// arrives (WM_ENDSESSION), then runs the shutdown work (the service saves its queue), revokes
// the class objects and pauses.
//
// Lock/Unlock count the references clients hold (the bus bridge calls them); the count
// starts at zero, so a server nobody uses ends after one time-out too.
//
// Close requests: CloseInstances (the close switch) signals the per-user close event, waits
// until no other instance of this executable of this user runs (at most k_closeWait), ends any
// left with a warning, and consumes a signal nobody took, so that the next instance does not
// start closed. A serving instance that received the signal passes it on to the next waiting
// instance; an instance that ends for another reason leaves the event alone.
//
// Threads: Run on the main thread; its worker (CQWorkerThreadHost) waits for the stop and close
// events; a monitor thread watches the reference count; a signal thread waits for SIGTERM and
// SIGINT (blocked in every thread by Run). m_monitorGuard guards m_lockCount, m_idleSince and
// m_monitorStop.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "qlib/qutilitylib/qevent.h"
#include "qlib/qutilitylib/qworkerthreadhost.h"
#include "vtranscodeserver/vclassobjecthost.h"

class CVTranscodeServerModule final : public CQWorkerThreadHost {
public:
    static constexpr const wchar_t* k_closeEventName = L"VTranscodeServerClose";
    static constexpr const wchar_t* k_executableName = L"ZeltoVTranscodeServer";
    static constexpr std::chrono::milliseconds k_closeWait{2000};

    struct Timing {
        std::chrono::milliseconds shutdownTimeout{5000};
        std::chrono::milliseconds pause{1000};
    };
    // Saves the queue of a service that exists; raises on failure.
    using ShutdownWork = std::function<void()>;

    CVTranscodeServerModule(CVClassObjectHost& classObjects, ShutdownWork shutdownWork,
                            Timing timing);
    ~CVTranscodeServerModule() override;

    // The per-user close event, initialised once per process.
    static CQEvent& CloseEvent();

    // Serves until told to end; the process's exit code (S_OK, the registration failure, or
    // E_FAIL when the shutdown work failed).
    HRESULT Run();

    void Lock();
    void Unlock();

    // The close switch: see above. Returns the number of instances that had to be ended.
    static int CloseInstances();
    // Ends every other process of this executable and user; the count ended.
    static int KillRemainingVTranscodeServers();

protected:
    void WorkerProc(void* argument) override;

private:
    void RunMessageLoop();
    void MonitorShutdown();
    void WatchSignals();
    void StopThreads();

    CVClassObjectHost& m_classObjects;
    const ShutdownWork m_shutdownWork;
    const Timing m_timing;
    uint32_t m_mainThreadId = 0;  // written before the threads start

    std::mutex m_monitorGuard;
    std::condition_variable m_monitorWake;
    int m_lockCount = 0;                                 // guarded by m_monitorGuard
    std::chrono::steady_clock::time_point m_idleSince;  // guarded by m_monitorGuard
    bool m_monitorStop = false;                          // guarded by m_monitorGuard
    std::thread m_monitor;
    std::thread m_signalWatcher;
};
