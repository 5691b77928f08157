#include "qlib/qsys/syslogsink.h"

#include <syslog.h>

#include <mutex>
#include <set>
#include <string>

#include "qlib/qsys/textcodec.h"

namespace qsys {
namespace {

// The identities handed to openlog() and the number of open sinks. Never destroyed: the C
// library may read an identity until the process ends.
struct SyslogConnection {
    std::mutex guard;
    std::set<std::string> identities;  // guarded by `guard`
    int sinks = 0;                     // guarded by `guard`
};

SyslogConnection& Connection() {
    static SyslogConnection* s_connection = new SyslogConnection;
    return *s_connection;
}

}  // namespace

SyslogSink::SyslogSink(std::wstring_view identity) {
    SyslogConnection& connection = Connection();
    const std::lock_guard lock(connection.guard);
    const std::string& kept = *connection.identities.insert(ToUtf8(identity)).first;
    ::openlog(kept.c_str(), LOG_PID, LOG_USER);
    ++connection.sinks;
}

SyslogSink::~SyslogSink() {
    SyslogConnection& connection = Connection();
    const std::lock_guard lock(connection.guard);
    if (--connection.sinks == 0) {
        ::closelog();
    }
}

void SyslogSink::Write(SyslogPriority priority, std::wstring_view message) const noexcept {
    try {
        ::syslog(LOG_USER | static_cast<int>(priority), "%s", ToUtf8(message).c_str());
    } catch (...) {
        // Out of memory while converting: the message is lost.
    }
}

}  // namespace qsys
