#include "qlib/qsys/syslogsink.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace qsys {
namespace {

constexpr const char* k_logSocket = "/dev/log";

// Stands in for the system logger on a machine that has none, receiving what the sinks send.
class FakeSystemLog {
public:
    FakeSystemLog() {
        m_socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, k_logSocket);
        m_bound = m_socket >= 0 &&
                  ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        timeval limit{10, 0};
        ::setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    ~FakeSystemLog() {
        if (m_bound) {
            ::unlink(k_logSocket);
        }
        ::close(m_socket);
    }
    FakeSystemLog(const FakeSystemLog&) = delete;
    FakeSystemLog& operator=(const FakeSystemLog&) = delete;

    bool IsBound() const { return m_bound; }
    // The next message of this process (other processes may log while the test runs).
    std::string Receive() const {
        const std::string mine = "[" + std::to_string(::getpid()) + "]: ";
        char buffer[4096];
        for (;;) {
            const ssize_t size = ::recv(m_socket, buffer, sizeof buffer, 0);
            if (size <= 0) {
                return {};
            }
            std::string message(buffer, static_cast<size_t>(size));
            if (message.find(mine) != std::string::npos) {
                return message;
            }
        }
    }

private:
    int m_socket = -1;
    bool m_bound = false;
};

TEST(SyslogSink, MessagesCarryTheKeptIdentityAndThePriority) {
    struct stat existing {};
    if (::stat(k_logSocket, &existing) == 0 || ::geteuid() != 0) {
        GTEST_SKIP() << "a system logger runs here (or no right to stand in for one)";
    }
    FakeSystemLog log;
    ASSERT_TRUE(log.IsBound());
    {
        auto identity = std::make_unique<std::wstring>(L"Zelto V Platform");
        const SyslogSink sink(*identity);
        identity.reset();  // the sink must not depend on the caller's text
        sink.Write(SyslogPriority::Warning, L"first \u00e9");
        const std::string warning = log.Receive();
        EXPECT_TRUE(warning.starts_with("<12>")) << warning;  // user facility (8) + warning (4)
        EXPECT_NE(
            warning.find("Zelto V Platform[" + std::to_string(::getpid()) + "]: first \xC3\xA9"),
            std::string::npos)
            << warning;

        std::vector<std::thread> writers;
        for (int t = 0; t < 4; ++t) {
            writers.emplace_back([&] {
                for (int i = 0; i < 25; ++i) {
                    sink.Write(SyslogPriority::Error, L"from a thread");
                }
            });
        }
        // Read while they write: a datagram socket queues only a few messages.
        for (int i = 0; i < 100; ++i) {
            const std::string error = log.Receive();
            EXPECT_TRUE(error.starts_with("<11>") && error.ends_with("]: from a thread")) << error;
        }
        for (std::thread& writer : writers) {
            writer.join();
        }
    }
}

}  // namespace
}  // namespace qsys
