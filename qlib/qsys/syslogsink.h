#pragma once
// SyslogSink sends messages to the system log (the journal) under one identity, the stand-in
// for the event log. The C library keeps one connection per process with a pointer to the
// identity text, so identities are kept alive for the life of the process, and the identity
// of the sink created last applies to all sinks; the connection is closed when the last sink
// goes. Messages go with the user facility and the process id.
//
// Write may be called from any thread at once (the C library serialises the sends);
// construction and destruction from any thread.

#include <string_view>

namespace qsys {

// The system log's priorities (the levels of syslog(3)).
enum class SyslogPriority : int { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

class SyslogSink {
public:
    explicit SyslogSink(std::wstring_view identity);
    ~SyslogSink();
    SyslogSink(const SyslogSink&) = delete;
    SyslogSink& operator=(const SyslogSink&) = delete;

    // Never throws; a message the system log cannot take is lost.
    void Write(SyslogPriority priority, std::wstring_view message) const noexcept;
};

}  // namespace qsys
