#include "qlib/qutilitylib/qmutexlock.h"

#include <cerrno>
#include <system_error>

#include "qlib/qsys/currentthread.h"
#include "qlib/qsys/deadline.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qlogging.h"
#include "qlib/qutilitylib/qsystem.h"

namespace {

// Logs a failure that the caller is not told about, with its context, at WARNING.
void LogSystemError(const std::system_error& error, const SQExceptionValue& context) {
    try {
        CQException::RaiseSystemError(error, {context});
    } catch (const CQException& exception) {
        CQLogging::Log(EQLogLevel_Warning, false, L"%s\n", exception.GetDescription());
    }
}

}  // namespace

CQMutexLock::~CQMutexLock() {
    CQCatch::LogAndSwallow([this] { Clear(); });
}

void CQMutexLock::Init(const std::wstring& name, EQKernelObjectScope scope) {
    CQCatch::Internal([&] {
        Clear();
        std::wstring kernelName = name;
        if (!kernelName.empty()) {
            CQSystem::MakeKernelObjectName(kernelName, scope == EQKernelObjectScope_Global);
        }
        std::shared_ptr<qsys::KernelMutex> mutex;
        try {
            mutex = std::make_shared<qsys::KernelMutex>(kernelName);
        } catch (const std::system_error& error) {
            CQException::RaiseSystemError(error, {{L"MutexName", name}});
        }
        const std::lock_guard guard(m_guard);
        m_mutex = std::move(mutex);
        m_named = !kernelName.empty();
    });
}

std::shared_ptr<qsys::KernelMutex> CQMutexLock::CurrentMutex(bool create) {
    const std::lock_guard guard(m_guard);
    if (m_mutex == nullptr && create) {
        m_mutex = std::make_shared<qsys::KernelMutex>();
        m_named = false;
    }
    return m_mutex;
}

bool CQMutexLock::Lock() {
    return CQCatch::Internal([this] {
        const std::shared_ptr<qsys::KernelMutex> mutex = CurrentMutex(true);
        uint32_t timeout = k_infiniteTimeout;
        {
            const std::lock_guard guard(m_guard);
            timeout = m_timeout;
        }
        try {
            return mutex->Lock(qsys::TimeoutFromMilliseconds(timeout)) !=
                   qsys::WaitStatus::TimedOut;
        } catch (const std::system_error& error) {
            LogSystemError(error, {L"ThreadID", std::to_wstring(qsys::GetCurrentThreadId())});
            return false;
        }
    });
}

void CQMutexLock::Unlock() {
    CQCatch::Internal([this] {
        const std::shared_ptr<qsys::KernelMutex> mutex = CurrentMutex(false);
        if (mutex == nullptr) {
            return;
        }
        try {
            mutex->Unlock();
        } catch (const std::system_error& error) {
            LogSystemError(error, {L"ThreadID", std::to_wstring(qsys::GetCurrentThreadId())});
        }
    });
}

void CQMutexLock::Clear() {
    CQCatch::Internal([this] {
        if (IsHeld()) {
            Unlock();
        }
        const std::lock_guard guard(m_guard);
        if (m_named) {
            m_mutex.reset();
            m_named = false;
        }
    });
}

void CQMutexLock::SetTimeout(uint32_t milliseconds) {
    const std::lock_guard guard(m_guard);
    m_timeout = milliseconds;
}

bool CQMutexLock::IsHeld() const {
    std::shared_ptr<qsys::KernelMutex> mutex;
    {
        const std::lock_guard guard(m_guard);
        mutex = m_mutex;
    }
    return mutex != nullptr && mutex->IsOwnedByCurrentThread();
}
