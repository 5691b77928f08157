#pragma once
// CQEventLog: the logging sink that reports to the system log (the journal), with the product
// name as identity. Init registers the product as an event source the way the program always
// has: under HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\EventLog\Application\<product>
// "EventMessageFile" names the message file (QEventMessages.dll in the user's temporary
// folder) and "TypesSupported" is 7. The values describe the source to whoever reads the
// registry; no message file is written, because nothing on this system reads one (the journal
// keeps each entry's own text). A user who may not write the key gets one line on the debug
// output, and the sink works all the same.
//
// Log reports a message of level 1 as an error, 2 as a warning and any other as information,
// with the text "<product> <version> (QLib <version>)\n\n<message>". A message above the
// sink's threshold is dropped unless forced.
//
// Test seam: SetReporter replaces the system log for the whole process (tests observe what
// would be reported); the sink still needs Init before it reports anything.
//
// Threads: Init (and SetConfig) before any Log, by one thread; then Log from any thread.
// m_sink is written only by Init and the destructor.

#include <atomic>
#include <memory>
#include <string>

#include "qlib/qsys/syslogsink.h"
#include "qlib/qutilitylib/qlogbase.h"

// The event types of a report.
enum EQEventType : int {
    EQEventType_Error = 1,
    EQEventType_Warning = 2,
    EQEventType_Information = 4,
};

class CQEventLog : public CQLogBase {
public:
    using Reporter = void (*)(EQEventType type, const std::wstring& text);

    static constexpr std::wstring_view k_sourcesKey =
        L"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\EventLog\\Application";
    static constexpr std::wstring_view k_messageFileName = L"QEventMessages.dll";
    static constexpr uint32_t k_typesSupported = 7;

    CQEventLog() = default;
    ~CQEventLog() = default;

    void Init() noexcept override;
    void Log(int level, const std::wstring& message, bool force) noexcept override;
    bool IsDebuggingLevel() const noexcept override;

    // Writes the event-source registration; failures go to the debug output only.
    void InitEventResources() noexcept;

    // Replaces the system log; nullptr restores it. Returns the reporter it replaces.
    static Reporter SetReporter(Reporter reporter);

private:
    std::unique_ptr<qsys::SyslogSink> m_sink;
    static std::atomic<Reporter> s_reporter;
};
