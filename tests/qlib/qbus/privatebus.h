#pragma once
// PrivateBus: a dbus-daemon of the test's own, with its own configuration and service folder
// in a temporary folder, listening on a socket there; stopped (SIGTERM, then waited for) when
// the object goes. Tests connect with Address() and never touch the user's session bus.

#include <sys/types.h>

#include <string>

#include "tests/qlib/qsys/testsupport.h"

namespace qbus::test {

class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& Address() const { return m_address; }
    std::string ServiceFolder() const { return m_folder.Path() + "/services"; }
    // Ends the daemon now (as a session that ends does).
    void Stop();

private:
    qsys::test::TemporaryFolder m_folder;
    std::string m_address;
    pid_t m_daemon = -1;
};

}  // namespace qbus::test
