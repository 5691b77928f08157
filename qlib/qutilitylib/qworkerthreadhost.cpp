#include "qlib/qutilitylib/qworkerthreadhost.h"

#include <cerrno>
#include <system_error>

#include "qlib/qsys/currentthread.h"
#include "qlib/qsys/deadline.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qlockholder.h"
#include "qlib/qutilitylib/qlogging.h"

namespace {

// The longest thread name a debugger is given; the system keeps less (see SetCurrentThreadName).
constexpr size_t k_maxThreadName = 31;

// The host whose worker procedure runs on the calling thread, if any.
thread_local const CQWorkerThreadHost* t_runningHost = nullptr;

}  // namespace

CQWorkerThreadHost::CQWorkerThreadHost(std::wstring name) : m_name(std::move(name)) {}

CQWorkerThreadHost::~CQWorkerThreadHost() {
    CQCatch::LogAndSwallow([this] { StopWorkerThread(k_infiniteTimeout); });
    if (m_thread.joinable()) {
        // Only when the worker destroys its own host: it cannot be joined from itself.
        m_thread.detach();
    }
}

void CQWorkerThreadHost::StartWorkerThread() {
    CQCatch::Internal([this] {
        StopWorkerThread(k_infiniteTimeout);
        Clear();
        m_stopEvent =
            std::make_unique<qsys::Event>(qsys::EventReset::Auto, qsys::EventState::NonSignaled);
        m_finishedEvent =
            std::make_unique<qsys::Event>(qsys::EventReset::Auto, qsys::EventState::NonSignaled);
        m_running = true;
        try {
            m_thread = std::thread(&CQWorkerThreadHost::WorkerThreadRunner, this);
        } catch (const std::system_error& error) {
            m_running = false;
            CQException::RaiseSystemError(error);
        }
    });
}

void CQWorkerThreadHost::StopWorkerThread(uint32_t timeout) {
    CQCatch::Internal([&] {
        // Checked first: the worker must not even look at the thread object, which its owner
        // may still be assigning.
        if (t_runningHost == this) {
            CQException::RaiseSystemError(EDEADLK);
        }
        if (!m_thread.joinable()) {
            return;
        }
        m_stopRequested = true;
        m_stopEvent->Set();
        if (m_finishedEvent->Wait(qsys::TimeoutFromMilliseconds(timeout)) ==
            qsys::WaitStatus::TimedOut) {
            m_stopRequested = false;
            return;
        }
        m_thread.join();
        m_stopEvent.reset();
        m_finishedEvent.reset();
        m_stopRequested = false;
    });
}

void CQWorkerThreadHost::Clear() {
    CQCatch::Internal([this] {
        SetWorkerError(CQException());
        m_running = false;
    });
}

void CQWorkerThreadHost::SetWorkerError(const CQException& error) {
    CQCatch::Internal([&] {
        const CQLockHolder holder(m_hostLock);
        m_workerError = error;
    });
}

CQException CQWorkerThreadHost::GetWorkerError() const {
    return CQCatch::Internal([this] {
        const CQLockHolder holder(m_hostLock);
        return m_workerError;
    });
}

void CQWorkerThreadHost::WorkerThreadRunner() noexcept {
    t_runningHost = this;
    CQCatch::LogAndSwallow([this] {
        CQLogging::Log(EQLogLevel_Debug, false,
                       L"0x%04x\t\tCQWorkerThreadHost::WorkerThreadRunner() Entered\n",
                       qsys::GetCurrentThreadId());
        qsys::SetCurrentThreadName(m_name.substr(0, k_maxThreadName));
        CQCatch::Boundary([this] { WorkerProc(nullptr); },
                          [this](const CQException& error) {
                              CQLogging::Log(EQLogLevel_Warning, false, L"%s\n",
                                             error.GetDescription());
                              SetWorkerError(error);
                          });
    });
    m_running = false;
    m_finishedEvent->Set();
}
