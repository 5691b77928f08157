#include "tests/qlib/qbus/privatebus.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace qbus::test {

namespace {

bool Accepts(const std::string& socketPath) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

}  // namespace

PrivateBus::PrivateBus() {
    const std::string socket = m_folder.Path() + "/bus";
    const std::string config = m_folder.Path() + "/session.conf";
    ::mkdir(ServiceFolder().c_str(), 0700);
    qsys::test::WriteFile(
        config,
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig>\n"
        "  <type>session</type>\n"
        "  <listen>unix:path=" +
            socket +
            "</listen>\n"
            "  <servicedir>" +
            ServiceFolder() +
            "</servicedir>\n"
            "  <policy context=\"default\">\n"
            "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
            "    <allow eavesdrop=\"true\"/>\n"
            "    <allow own=\"*\"/>\n"
            "  </policy>\n"
            "</busconfig>\n");
    const std::string configArgument = "--config-file=" + config;
    char* argv[] = {const_cast<char*>("dbus-daemon"), const_cast<char*>("--nofork"),
                    const_cast<char*>("--nopidfile"), const_cast<char*>(configArgument.c_str()),
                    nullptr};
    // The daemon writes nothing to the test's output (a pipe that the test's reader waits on);
    // its own messages (such as its fd limit as root) go to a log in the folder.
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    const std::string log = m_folder.Path() + "/daemon.log";
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int spawned = ::posix_spawnp(&m_daemon, "dbus-daemon", &actions, nullptr, argv, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error("cannot start dbus-daemon");
    }
    // Ready when it accepts a connection (the socket file exists a moment before that).
    for (int attempt = 0; attempt < 500 && !Accepts(socket); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_address = "unix:path=" + socket;
}

PrivateBus::~PrivateBus() {
    Stop();
}

void PrivateBus::Stop() {
    if (m_daemon > 0) {
        ::kill(m_daemon, SIGTERM);
        int status = 0;
        ::waitpid(m_daemon, &status, 0);
        m_daemon = -1;
    }
}

}  // namespace qbus::test
