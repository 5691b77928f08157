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

CQWorkerThreadHost::CQWorkerThreadHost(std::wstring name)
    : m_name(std::move(name)), m_state(std::make_shared<RunState>()) {}

CQWorkerThreadHost::~CQWorkerThreadHost() {
    if (IsWorkerThread()) {
        // The worker destroys its own host: it cannot be joined from itself, and it ends by
        // itself, touching only the run state it shares.
        m_thread.detach();
        return;
    }
    CQCatch::LogAndSwallow([this] { StopWorkerThread(k_infiniteTimeout); });
}

bool CQWorkerThreadHost::IsWorkerThread() const {
    return t_runningHost == this;
}

void CQWorkerThreadHost::StartWorkerThread() {
    CQCatch::Internal([this] {
        StopWorkerThread(k_infiniteTimeout);
        Clear();
        RunState& state = *m_state;
        state.stopRequested = false;
        state.stopEvent =
            std::make_unique<qsys::Event>(qsys::EventReset::Auto, qsys::EventState::NonSignaled);
        state.finishedEvent =
            std::make_unique<qsys::Event>(qsys::EventReset::Auto, qsys::EventState::NonSignaled);
        state.running = true;
        const std::lock_guard gate(state.startGate);
        try {
            m_thread = std::thread(&CQWorkerThreadHost::WorkerThreadRunner, this, m_state);
        } catch (const std::system_error& error) {
            state.running = false;
            CQException::RaiseSystemError(error);
        }
    });
}

void CQWorkerThreadHost::StopWorkerThread(uint32_t timeout) {
    CQCatch::Internal([&] {
        // Checked first: the worker must not even look at the thread object, which its owner
        // may still be assigning.
        if (IsWorkerThread()) {
            CQException::RaiseSystemError(EDEADLK);
        }
        if (!m_thread.joinable()) {
            return;
        }
        RunState& state = *m_state;
        state.stopRequested = true;
        state.stopEvent->Set();
        if (state.finishedEvent->Wait(qsys::TimeoutFromMilliseconds(timeout)) ==
            qsys::WaitStatus::TimedOut) {
            // The request stays: the worker may look for it later.
            return;
        }
        m_thread.join();
        state.stopEvent.reset();
        state.finishedEvent.reset();
        state.stopRequested = false;
    });
}

void CQWorkerThreadHost::Clear() {
    CQCatch::Internal([this] {
        SetWorkerError(CQException());
        m_state->running = false;
    });
}

void CQWorkerThreadHost::SetWorkerError(const CQException& error) {
    CQCatch::Internal([&] { StoreWorkerError(*m_state, error); });
}

void CQWorkerThreadHost::StoreWorkerError(RunState& state, const CQException& error) {
    const CQLockHolder holder(state.lock);
    state.workerError = error;
}

CQException CQWorkerThreadHost::GetWorkerError() const {
    return CQCatch::Internal([this] {
        const CQLockHolder holder(m_state->lock);
        return m_state->workerError;
    });
}

void CQWorkerThreadHost::WorkerThreadRunner(CQWorkerThreadHost* host,
                                            std::shared_ptr<RunState> state) noexcept {
    { const std::lock_guard gate(state->startGate); }  // the owner has stored the thread
    t_runningHost = host;
    CQCatch::LogAndSwallow([&] {
        CQLogging::Log(EQLogLevel_Debug, false,
                       L"0x%04x\t\tCQWorkerThreadHost::WorkerThreadRunner() Entered\n",
                       qsys::GetCurrentThreadId());
        qsys::SetCurrentThreadName(host->m_name.substr(0, k_maxThreadName));
        // From here on the host may be gone (see the header): only the state is used.
        CQCatch::Boundary([&] { host->WorkerProc(nullptr); },
                          [&](const CQException& error) {
                              CQLogging::Log(EQLogLevel_Warning, false, L"%s\n",
                                             error.GetDescription());
                              StoreWorkerError(*state, error);
                          });
    });
    t_runningHost = nullptr;
    state->running = false;
    state->finishedEvent->Set();
}
