#include "qlib/qutilitylib/qlogging.h"

#include "qlib/qsys/debugoutput.h"
#include "qlib/qutilitylib/qlockholder.h"
#include "qlib/qutilitylib/qlogguard.h"

namespace {

// How deep the calling thread is inside the logging code.
thread_local int t_depth = 0;

class ReentryScope {
public:
    ReentryScope() { ++t_depth; }
    ~ReentryScope() { --t_depth; }
    ReentryScope(const ReentryScope&) = delete;
    ReentryScope& operator=(const ReentryScope&) = delete;

    static bool IsInside() { return t_depth > 0; }
};

}  // namespace

CQLogging& CQLogging::Instance() {
    static CQLogging* s_instance = new CQLogging;
    return *s_instance;
}

bool CQLogging::IsDebuggingLevel() noexcept {
    return IsDebuggingLevelInternal();
}

void CQLogging::Init() noexcept {
    CQLogGuard::Run(L"CQLogging::Init", [] {
        CQLogging& logging = Instance();
        if (logging.m_initialised.load(std::memory_order_acquire) || ReentryScope::IsInside()) {
            return;
        }
        const ReentryScope scope;
        // Without the lock initialisation goes on: logging must not stop for it.
        const CQLockHolder holder(logging.m_lock);
        logging.InitOnce();
    });
}

void CQLogging::InitOnce() {
    if (m_initialised.load(std::memory_order_acquire) || !m_config.ReadConfig()) {
        return;
    }
    m_eventLog.SetConfig(m_config);
    m_fileLog.SetConfig(m_config);
    m_eventLog.Init();
    m_fileLog.Init();
    m_initialised.store(true, std::memory_order_release);
}

bool CQLogging::IsReady() {
    Init();
    return m_initialised.load(std::memory_order_acquire);
}

void CQLogging::LogInternal(int level, const std::wstring& message, bool force) noexcept {
    CQLogGuard::Run(L"CQLogging::LogInternal", [&] {
        if (ReentryScope::IsInside()) {
            qsys::WriteDebugOutput(message);
            return;
        }
        CQLogging& logging = Instance();
        if (!logging.IsReady()) {
            // The configuration could not be read: no sink is open, nothing is written.
            return;
        }
        const ReentryScope scope;
        if (logging.m_config.GetEventLogLevel() >= level || force) {
            logging.m_eventLog.Log(level, message, force);
        }
        if (logging.m_config.GetFileLogLevel() >= level && !logging.m_config.GetFile().empty()) {
            logging.m_fileLog.Log(level, message, false);
        }
    });
}

bool CQLogging::IsDebuggingLevelInternal() noexcept {
    return CQLogGuard::Run(L"CQLogging::IsDebuggingLevelInternal", false, [] {
        CQLogging& logging = Instance();
        return logging.IsReady() &&
               (logging.m_eventLog.IsDebuggingLevel() || logging.m_fileLog.IsDebuggingLevel());
    });
}

void CQLogging::ReportFormatFailure() noexcept {
    qsys::WriteDebugOutput(L"Access violation in logging function CQLogging::Log");
}
