#pragma once
// CVHelperProcess: one run of the conversion helper executable, started with fork and exec in
// a process group of its own, with its report pipe on descriptor 3. A decoder that crashes,
// loops or runs out of memory ends this process only; the caller sees a result.
//
// The helper dies with the thread that started it (PR_SET_PDEATHSIG), so a server that goes
// away leaves no conversions running: start it on the thread that supervises it.
//
// A job may also run in a child of the warm helper (CVWarmHelper). That child is not ours to
// reap: it is signalled through its pidfd, its report is a socket, and the warm helper ends
// the report with the child's exit status (an 'X' message) once it has reaped it.
//
// Threads: the owner constructs, calls Supervise and destroys; Signal may be called from any
// thread while Supervise runs. m_mutex guards m_reaped, so that no signal can reach a process
// id that has been reaped and perhaps reused.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "components/vtranscoderlib/vchildsetup.h"
#include "components/vtranscoderlib/vhelpermessage.h"
#include "components/vtranscoderlib/vpausableclock.h"
#include "components/vtranscoderlib/vreportlines.h"
#include "components/vtranscoderlib/vtranscoderesult.h"
#include "qlib/qsys/uniquefd.h"

// What a supervised run came to.
struct SVHelperRun {
    std::optional<CVHelperMessage> result;  // the helper's 'R' message, when it sent one
    int waitStatus = 0;                     // as waitpid gives it
    bool hung = false;                      // killed by the watchdog
    bool garbled = false;                   // its report could not be read; killed
    bool statusLost = false;                // a warm helper's child whose exit was not reported
    std::chrono::milliseconds watchdog{0};

    // The result the run stands for: the helper's own, or HelperCrashed / HelperHung. A hang's
    // message ends with `progressNote` (how far the job had come) when one is given.
    SVTranscodeOutcome ToOutcome(const std::wstring& progressNote = {}) const;
};

class CVHelperProcess {
public:
    // The helper to run: $VTRANSCODE_HELPER when set, else ZeltoVTranscodeHelper next to the
    // running executable when it is there, else the one this build made.
    static std::string DefaultExecutable();

    // Starts the helper with the arguments (after the program name), at the given nice value
    // (0 keeps the caller's), with the handed descriptors in place (targets above the report
    // descriptor; every other descriptor is closed). Raises std::system_error when no pipe or
    // process can be made; an executable that cannot be run reports HelperCrashed through
    // Supervise. With followThread false the helper does not die with the starting thread
    // (the warm helper, which follows the server by the end of its control socket instead).
    CVHelperProcess(const std::string& executable, const std::vector<std::string>& arguments,
                    int niceness, const std::vector<SVHandedDescriptor>& handed = {},
                    bool followThread = true);
    // Supervises a child of the warm helper: its process id and pidfd, and our end of the
    // socket it reports on.
    CVHelperProcess(pid_t pid, qsys::UniqueFd pidfd, qsys::UniqueFd report);
    // Kills a helper that still runs and reaps it. Never throws.
    ~CVHelperProcess();

    CVHelperProcess(const CVHelperProcess&) = delete;
    CVHelperProcess& operator=(const CVHelperProcess&) = delete;

    // Sends a signal to the helper's process group (a warm helper's child: to the child);
    // false once the helper has ended.
    bool Signal(int signal);

    pid_t Id() const { return m_pid; }

    // Reads the report until the helper has ended, and reaps it. Every message but the result
    // goes to onMessage, which answers true when the message shows progress. When the clock
    // has run for `watchdog` since the last progress, the helper is killed as hung.
    SVHelperRun Supervise(const CVPausableClock& clock, std::chrono::milliseconds watchdog,
                          const std::function<bool(const CVHelperMessage&)>& onMessage);

private:
    // Handles the complete lines of the report; false when one is not a message or too long.
    bool TakeLines(SVHelperRun& run, const std::function<bool(const CVHelperMessage&)>& onMessage,
                   bool& progressed);
    // Reads what the pipe holds; false at its end.
    bool ReadReport(SVHelperRun& run, const std::function<bool(const CVHelperMessage&)>& onMessage,
                    bool& progressed);
    // True when the helper has ended (it is not reaped yet).
    bool HasEnded();
    // True when the warm helper's child has exited.
    bool ChildExited() const;
    // Kills what is left of the group and reaps the helper into the run.
    void Reap(SVHelperRun& run);

    pid_t m_pid = -1;
    int m_reportFd = -1;
    int m_exitFd = -1;  // pidfd of the helper, or -1
    CVReportLines m_lines;
    // A warm helper's child: whether its report has ended, its exit status as the warm helper
    // reported it, and since when it is known to have exited without either.
    const bool m_served = false;
    bool m_reportEnded = false;
    std::optional<int> m_exitStatus;
    std::optional<std::chrono::steady_clock::time_point> m_exitedSince;
    std::mutex m_mutex;
    bool m_reaped = false;  // guarded by m_mutex
};
