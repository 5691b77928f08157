#include "bench/vbusbenchsession.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <thread>

#include <sdbus-c++/sdbus-c++.h>

#include "qlib/qcom/comerror.h"
#include "qlib/qcom/guid.h"
#include "qlib/qutilitylib/qexception.h"
#include "vtranscodeserver/vbusnames.h"
#include "vtranscodeserver/vtranscodeserverlib.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

constexpr auto k_serverEndWait = 15s;
constexpr int k_passedFd = 3;

// Starts argv[0] (found on PATH) with this process's environment; `passed`, when it is not -1,
// becomes the child's descriptor k_passedFd.
pid_t Spawn(const std::vector<std::string>& arguments, int passed = -1) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (passed != -1) {
        posix_spawn_file_actions_adddup2(&actions, passed, k_passedFd);
    }
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        throw std::runtime_error("cannot start " + arguments[0]);
    }
    return pid;
}

void WriteFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path) << text;
}

}  // namespace

int CVBusBenchSession::ReportFailures(const char* program, const std::function<void()>& body) {
    try {
        body();
        return 0;
    } catch (const _com_error& error) {
        std::fprintf(stderr, "%s: 0x%08X %ls\n", program, static_cast<unsigned>(error.Error()),
                     error.Description().c_str());
    } catch (const CQException& error) {
        std::fprintf(stderr, "%s: %ls\n", program, error.GetDescription().c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", program, error.what());
    }
    return 1;
}

void CVBusBenchSession::RunToSuccess(const std::vector<std::string>& arguments) {
    int status = 0;
    if (::waitpid(Spawn(arguments), &status, 0) < 0 || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        throw std::runtime_error(arguments[0] + " " + arguments.at(1) + " failed");
    }
}

CVBusBenchSession::CVBusBenchSession() {
    const char* chosen = ::getenv("VBUS_BENCH_SERVER");
    const std::string serverPath = chosen != nullptr ? chosen : V_BENCH_SERVER_PATH;
    char pattern[] = "/tmp/vbusbench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    m_folder = pattern;
    const std::filesystem::path home = m_folder / "home";
    const std::filesystem::path run = m_folder / "run";
    std::filesystem::create_directories(home / ".local/share/dbus-1/services");
    std::filesystem::create_directories(home / ".config");
    std::filesystem::create_directories(m_folder / "registry");
    std::filesystem::create_directory(run);
    std::filesystem::permissions(run, std::filesystem::perms::owner_all);
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
    ::setenv("ZELTO_REGISTRY_DIR", (m_folder / "registry").c_str(), 1);
    StartBus();
    RunToSuccess({serverPath, "-RegServerPerUser"});
    m_client = CVTranscodeClient::Connect();
    m_service = std::make_unique<CVRemoteObject>(
        *m_client, m_client->CreateInstance(GuidToString(CLSID_VTranscodeService)));
}

CVBusBenchSession::~CVBusBenchSession() {
    try {
        EndServer();
    } catch (const std::exception&) {
        // The bus goes below; the server ends with it.
    }
    m_client.reset();
    if (m_busPid > 0) {
        ::kill(m_busPid, SIGTERM);
        ::waitpid(m_busPid, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

void CVBusBenchSession::StartBus() {
    const std::filesystem::path config = m_folder / "bus.conf";
    WriteFile(config,
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig><type>session</type><listen>unix:dir=" +
                  std::string(::getenv("XDG_RUNTIME_DIR")) + "</listen>\n<servicedir>" +
                  std::string(::getenv("XDG_DATA_HOME")) +
                  "/dbus-1/services</servicedir>\n"
                  "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                  "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    m_busPid = Spawn({"dbus-daemon", "--config-file=" + config.string(), "--nofork",
                      "--print-address=" + std::to_string(k_passedFd)},
                     pipe[1]);
    ::close(pipe[1]);
    std::string address;
    char next = 0;
    while (::read(pipe[0], &next, 1) == 1 && next != '\n') {
        address += next;
    }
    ::close(pipe[0]);
    if (address.empty()) {
        throw std::runtime_error("dbus-daemon gave no address");
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
}

pid_t CVBusBenchSession::ServerPid() {
    auto bus =
        sdbus::createProxy(m_client->Connection(), "org.freedesktop.DBus", "/org/freedesktop/DBus");
    uint32_t pid = 0;
    bus->callMethod("GetConnectionUnixProcessID")
        .onInterface("org.freedesktop.DBus")
        .withArguments(std::string(k_vBusName))
        .storeResultsTo(pid);
    return static_cast<pid_t>(pid);
}

void CVBusBenchSession::EndServer() {
    const pid_t server = ServerPid();
    m_service.reset();
    ::kill(server, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + k_serverEndWait;
    while (::kill(server, 0) == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
}
