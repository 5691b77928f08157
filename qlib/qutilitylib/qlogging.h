#pragma once
// CQLogging: the process-wide logging front end. Every message goes to two sinks, the system
// log (CQEventLog) and the log file (CQFileLog), each filtering by its own threshold. The
// configuration is read from the registry (CQLogConfig) the first time anything is logged and
// kept for the life of the process.
//
//     CQLogging::Log(EQLogLevel_Debug, false, L"%s: %d items\n", name, count);
//
// Nothing here ever throws: a failure inside logging is written to the debug output (standard
// error) and the message is lost. A debugging-level message (level 4 or 5) costs a threshold
// check only when no sink takes such levels; its format is then never evaluated.
//
// Decisions:
// - The front end is created on first use and never destroyed, so threads that log while the
//   process exits (after main returned) still find it; the system closes its files.
// - A message logged from inside the logging code on the same thread (a failing unlock of the
//   file mutex reports itself through here, for example) goes to the debug output instead of
//   the sinks: it could otherwise wait for a lock its own thread is in the middle of using, or
//   recurse without end.
// - The product name and version are constants of the configuration: nothing is copied into
//   the instance on every call.
//
// Threads: any thread may log. m_lock (the front-end lock, unnamed) serialises initialisation;
// the configuration and the sinks are written only during it, before m_initialised is set, and
// only read afterwards.

#include <atomic>
#include <string>
#include <string_view>

#include "qlib/qutilitylib/qeventlog.h"
#include "qlib/qutilitylib/qfilelog.h"
#include "qlib/qutilitylib/qlogconfig.h"
#include "qlib/qutilitylib/qmutexlock.h"
#include "qlib/qutilitylib/qstring.h"

class CQLogging {
public:
    // Formats the message (printf-style, see CQStringHelper::Format) and logs it.
    template <typename... Args>
    static void Log(int level, bool force, std::wstring_view format, const Args&... args) noexcept {
        if (level >= EQLogLevel_Debug && !IsDebuggingLevelInternal()) {
            return;
        }
        std::wstring message;
        try {
            message = CQStringHelper::Format(format, args...);
        } catch (...) {
            ReportFormatFailure();
            return;
        }
        LogInternal(level, message, force);
    }

    // Whether either sink takes debugging levels.
    static bool IsDebuggingLevel() noexcept;
    // Reads the configuration and opens the sinks, once.
    static void Init() noexcept;
    // Logs a message that is already formatted (taken literally).
    static void LogInternal(int level, const std::wstring& message, bool force) noexcept;
    static bool IsDebuggingLevelInternal() noexcept;

private:
    CQLogging() = default;
    static CQLogging& Instance();
    static void ReportFormatFailure() noexcept;

    void InitOnce();
    // Init, then whether the sinks are configured and open.
    bool IsReady();

    CQLogConfig m_config;
    CQEventLog m_eventLog;
    CQFileLog m_fileLog;
    std::atomic<bool> m_initialised = false;
    CQMutexLock m_lock;
};
