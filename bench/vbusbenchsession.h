#pragma once
// CVBusBenchSession: the transcode server as a desktop client meets it, for the bus benchmarks:
// a private dbus-daemon with its own activation folder in a temporary home, the server
// registered there for activation, a client connection, and the service object, whose creation
// starts the server. From construction on, this process's environment (HOME, XDG_*,
// ZELTO_REGISTRY_DIR, DBUS_SESSION_BUS_ADDRESS) points at the temporary home, so the server and
// its helpers see it too.
//
// The destructor releases the service, ends the server with SIGTERM (as the end of a session
// does; the per-user close switch would reach every instance of this user on the machine),
// ends the bus and removes the home.
//
// The server is the one this build made, or $VBUS_BENCH_SERVER (to compare two builds).
//
// One per process; construct and destroy it on one thread. Service() follows CVRemoteObject's
// rule (one thread at a time).

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/vremoteobject.h"
#include "client/vtranscodeclient.h"

class CVBusBenchSession {
public:
    CVBusBenchSession();
    CVBusBenchSession(const CVBusBenchSession&) = delete;
    CVBusBenchSession& operator=(const CVBusBenchSession&) = delete;
    ~CVBusBenchSession();

    // Runs body; a failure is printed to stderr after the program's name and answers 1.
    static int ReportFailures(const char* program, const std::function<void()>& body);
    // Runs a program found on PATH to its end; raises unless it exits with 0.
    static void RunToSuccess(const std::vector<std::string>& arguments);

    CVTranscodeClient& Client() { return *m_client; }
    CVRemoteObject& Service() { return *m_service; }
    const std::filesystem::path& Folder() const { return m_folder; }
    // The process that owns the server's well-known name, as the bus reports it.
    pid_t ServerPid();

private:
    void StartBus();
    void EndServer();

    std::filesystem::path m_folder;
    pid_t m_busPid = -1;
    std::unique_ptr<CVTranscodeClient> m_client;
    std::unique_ptr<CVRemoteObject> m_service;
};
