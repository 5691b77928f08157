#include "vtranscodeserver/vtranscodeservermodule.h"

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "qlib/qsys/currentthread.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qsys/threadmessagequeue.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qlogconfig.h"
#include "qlib/qutilitylib/qlock.h"
#include "qlib/qutilitylib/qlogging.h"
#include "qlib/qutilitylib/qprocess.h"

namespace {

constexpr std::chrono::milliseconds k_signalPoll{200};
constexpr std::chrono::milliseconds k_closePoll{50};

sigset_t TerminationSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    return signals;
}

// The executable's path as the kernel reports it, without the mark of a replaced file.
std::wstring NormalizedExecutablePath(std::wstring path) {
    constexpr std::wstring_view k_deleted = L" (deleted)";
    if (path.ends_with(k_deleted)) {
        path.resize(path.size() - k_deleted.size());
    }
    return path;
}

std::wstring OwnExecutablePath() {
    std::error_code error;
    const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::wstring() : NormalizedExecutablePath(qsys::FromUtf8(path.native()));
}

// Other processes of this executable that run as this user. A process is recognised by its
// executable's full path, never by its name alone (the kernel keeps only 15 bytes of it, and
// anybody can name a program alike).
std::vector<uint32_t> OtherInstances() {
    const std::wstring ownPath = OwnExecutablePath();
    const auto self = static_cast<uint32_t>(getpid());
    std::vector<uint32_t> instances;
    if (ownPath.empty()) {
        return instances;
    }
    for (const CQProcessInfo& process : CQProcess::GetAllProcesses()) {
        if (process.GetProcessID() != self && process.GetUserId() == getuid() &&
            NormalizedExecutablePath(process.GetExecutablePath()) == ownPath) {
            instances.push_back(process.GetProcessID());
        }
    }
    return instances;
}

void PostToThread(uint32_t threadId, uint32_t message, uint64_t wParam) {
    if (qsys::ThreadMessageQueue::Post(threadId, {message, wParam, 0}) !=
        qsys::PostResult::Posted) {
        CQLogging::Log(EQLogLevel_Error, false, L"The message %d could not reach the main thread\n",
                       static_cast<int>(message));
    }
}

}  // namespace

CVTranscodeServerModule::CVTranscodeServerModule(CVClassObjectHost& classObjects,
                                                 ShutdownWork shutdownWork, Timing timing)
    : CQWorkerThreadHost(L"VTSModule"),
      m_classObjects(classObjects),
      m_shutdownWork(std::move(shutdownWork)),
      m_timing(timing) {}

CVTranscodeServerModule::~CVTranscodeServerModule() {
    StopThreads();
    CQCatch::LogAndSwallow([&] { StopWorkerThread(k_infiniteTimeout); });
}

CQEvent& CVTranscodeServerModule::CloseEvent() {
    static CQEvent* s_event = [] {
        auto* event = new CQEvent();  // lives until the process ends: threads wait on it
        event->Init(false, false, k_closeEventName);
        return event;
    }();
    return *s_event;
}

HRESULT CVTranscodeServerModule::Run() {
    HRESULT result = S_OK;
    CQCatch::Boundary(
        [&] {
            const sigset_t signals = TerminationSignals();
            pthread_sigmask(SIG_BLOCK, &signals, nullptr);
            CloseEvent();
            m_mainThreadId = qsys::GetCurrentThreadId();
            qsys::ThreadMessageQueue::Current();
            result = m_classObjects.RegisterClassObjects();
            if (FAILED(result)) {
                return;
            }
            m_idleSince = std::chrono::steady_clock::now();
            m_monitor = std::thread([this] { MonitorShutdown(); });
            m_signalWatcher = std::thread([this] { WatchSignals(); });
            RunMessageLoop();
            StopThreads();
            m_shutdownWork();
        },
        [&](CQException& error) {
            CQLogging::Log(EQLogLevel_Error, false, L"%s\n", error.GetDescription());
            result = E_FAIL;
        });
    StopThreads();
    m_classObjects.RevokeClassObjects();
    std::this_thread::sleep_for(m_timing.pause);
    return result;
}

void CVTranscodeServerModule::RunMessageLoop() {
    StartWorkerThread();
    qsys::ThreadMessage message;
    while (qsys::ThreadMessageQueue::Current().Get(message)) {
        if (message.message == qsys::WM_ENDSESSION) {
            break;
        }
    }
    StopWorkerThread(k_infiniteTimeout);
}

void CVTranscodeServerModule::WorkerProc(void* /*argument*/) {
    std::shared_ptr<qsys::EventObject> close = CloseEvent().GetHandle();
    const qsys::WaitAnyResult fired = qsys::WaitForAny({GetStopEvent(), close.get()});
    if (fired.index == 1) {
        close->Set();  // hand the request on to the next waiting instance
        PostToThread(m_mainThreadId, qsys::WM_ENDSESSION, 1);
    }
}

void CVTranscodeServerModule::Lock() {
    std::lock_guard guard(m_monitorGuard);
    ++m_lockCount;
    m_monitorWake.notify_all();
}

void CVTranscodeServerModule::Unlock() {
    std::lock_guard guard(m_monitorGuard);
    if (m_lockCount > 0 && --m_lockCount == 0) {
        m_idleSince = std::chrono::steady_clock::now();
    }
    m_monitorWake.notify_all();
}

void CVTranscodeServerModule::MonitorShutdown() {
    std::unique_lock guard(m_monitorGuard);
    while (!m_monitorStop) {
        if (m_lockCount > 0) {
            m_monitorWake.wait(guard);
            continue;
        }
        const auto deadline = m_idleSince + m_timing.shutdownTimeout;
        if (std::chrono::steady_clock::now() >= deadline) {
            PostToThread(m_mainThreadId, qsys::WM_QUIT, 0);
            return;
        }
        m_monitorWake.wait_until(guard, deadline);
    }
}

void CVTranscodeServerModule::WatchSignals() {
    const sigset_t signals = TerminationSignals();
    const timespec poll{0, std::chrono::nanoseconds(k_signalPoll).count()};
    while (true) {
        {
            std::lock_guard guard(m_monitorGuard);
            if (m_monitorStop) {
                return;
            }
        }
        if (sigtimedwait(&signals, nullptr, &poll) > 0) {
            PostToThread(m_mainThreadId, qsys::WM_ENDSESSION, 1);
            return;
        }
    }
}

void CVTranscodeServerModule::StopThreads() {
    {
        std::lock_guard guard(m_monitorGuard);
        m_monitorStop = true;
        m_monitorWake.notify_all();
    }
    for (std::thread* thread : {&m_monitor, &m_signalWatcher}) {
        if (thread->joinable()) {
            thread->join();
        }
    }
}

int CVTranscodeServerModule::CloseInstances() {
    CloseEvent().SetEvent();
    const auto deadline = std::chrono::steady_clock::now() + k_closeWait;
    while (!OtherInstances().empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(k_closePoll);
    }
    const int ended = KillRemainingVTranscodeServers();
    // A signal that no instance took would close the next one at its start.
    (void)CloseEvent().GetHandle()->Wait(std::chrono::milliseconds(0));
    return ended;
}

int CVTranscodeServerModule::KillRemainingVTranscodeServers() {
    int ended = 0;
    for (uint32_t processId : OtherInstances()) {
        CQLogging::Log(EQLogLevel_Warning, false,
                       L"%s was not closed within given time, forcing shutdown\n",
                       std::wstring(k_executableName));
        CQProcess process;
        ended += process.Terminate(processId) ? 1 : 0;
    }
    return ended;
}
