#include "components/vtranscoderlib/vhelperprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "qlib/qsys/textcodec.h"
#include "qlib/qsys/uniquefd.h"

namespace {

constexpr const char* k_executableName = "ZeltoVTranscodeHelper";
constexpr const char* k_executableVariable = "VTRANSCODE_HELPER";
// A report line longer than this is not a report; the helper is killed.
constexpr size_t k_maxLineLength = 1 << 20;
constexpr int k_pollMilliseconds = 50;

[[noreturn]] void RaiseErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// A warm helper's child that has exited but whose report has not ended (something it left
// holds the socket, or the warm helper is stuck) is taken as ended after this long.
constexpr std::chrono::seconds k_exitGrace{2};

// Runs in the child between fork and exec: only async-signal-safe calls. `handed` already
// holds the report and /dev/null entries.
[[noreturn]] void ExecHelper(const char* path, char* const* argv,
                             std::vector<SVHandedDescriptor>& handed, pid_t parent, int niceness,
                             bool followThread, const std::string& failure) {
    setpgid(0, 0);
    if (followThread && !CVChildSetup::FollowParent(parent)) {
        _exit(127);
    }
    CVChildSetup::ResetSignals();
    if (niceness > 0) {
        setpriority(PRIO_PROCESS, 0, niceness);
    }
    if (!CVChildSetup::PlaceDescriptors(handed.data(), handed.size())) {
        _exit(127);
    }
    execv(path, argv);
    ssize_t ignored = write(CVHelperMessage::k_reportDescriptor, failure.data(), failure.size());
    (void)ignored;
    _exit(127);
}

std::wstring SignalText(int signal) {
    const char* name = sigabbrev_np(signal);
    return L"signal " + std::to_wstring(signal) +
           (name ? L" (SIG" + qsys::FromUtf8(name) + L")" : std::wstring());
}

}  // namespace

SVTranscodeOutcome SVHelperRun::ToOutcome(const std::wstring& progressNote) const {
    if (hung) {
        std::wstring span = watchdog.count() % 1000 == 0
                                ? std::to_wstring(watchdog.count() / 1000) + L" seconds"
                                : std::to_wstring(watchdog.count()) + L" milliseconds";
        return {EVTranscodeResult_HelperHung,
                L"The conversion made no progress for " + span + L" and was stopped" +
                    (progressNote.empty() ? L"." : L"; " + progressNote + L".")};
    }
    if (garbled) {
        return {EVTranscodeResult_HelperCrashed,
                L"The conversion helper wrote a report that could not be read and was stopped."};
    }
    if (statusLost) {
        return {EVTranscodeResult_HelperCrashed,
                L"The conversion helper ended without its exit being reported; the warm helper "
                L"that ran it has gone."};
    }
    bool exitedCleanly = WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0;
    if (result) {
        int64_t code = result->Integer("code", -1);
        std::wstring message = qsys::FromUtf8(result->Text("msg"));
        if (!IsTranscodeResult(static_cast<int32_t>(code)) || code != static_cast<int32_t>(code)) {
            return {EVTranscodeResult_HelperCrashed,
                    L"The conversion helper reported the unknown result " + std::to_wstring(code) +
                        L"."};
        }
        if (code != EVTranscodeResult_Completed || exitedCleanly) {
            return {static_cast<EVTranscodeResult>(code), message};
        }
    }
    std::wstring how = WIFSIGNALED(waitStatus)
                           ? L"with " + SignalText(WTERMSIG(waitStatus))
                           : L"with exit code " + std::to_wstring(WEXITSTATUS(waitStatus));
    return {EVTranscodeResult_HelperCrashed,
            L"The conversion helper ended " + how +
                (result ? L" after it had finished." : L" before it had finished.")};
}

std::string CVHelperProcess::DefaultExecutable() {
    if (const char* configured = std::getenv(k_executableVariable); configured && *configured) {
        return configured;
    }
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        std::filesystem::path beside = self.parent_path() / k_executableName;
        if (access(beside.c_str(), X_OK) == 0) {
            return beside.string();
        }
    }
    return VTRANSCODE_BUILD_HELPER_PATH;
}

CVHelperProcess::CVHelperProcess(const std::string& executable,
                                 const std::vector<std::string>& arguments, int niceness,
                                 const std::vector<SVHandedDescriptor>& handed, bool followThread)
    : m_lines(k_maxLineLength) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        RaiseErrno("pipe2");
    }
    qsys::UniqueFd readEnd(pipeFds[0]);
    qsys::UniqueFd writeEnd(pipeFds[1]);
    qsys::UniqueFd nullFd(open("/dev/null", O_RDWR | O_CLOEXEC));
    if (nullFd.Get() < 0) {
        RaiseErrno("open /dev/null");
    }
    // Everything the child needs is made before fork: it may only make async-signal-safe calls.
    std::vector<std::string> argStrings{executable};
    argStrings.insert(argStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : argStrings) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    CVHelperMessage failure(CVHelperMessage::k_result);
    failure.Set("code", int64_t{EVTranscodeResult_HelperCrashed})
        .Set("msg", "The conversion helper " + executable + " could not be started.");
    const std::string failureLine = failure.Format();
    const pid_t parent = getpid();
    std::vector<SVHandedDescriptor> childHanded = handed;
    childHanded.insert(childHanded.end(), {{writeEnd.Get(), CVHelperMessage::k_reportDescriptor},
                                           {nullFd.Get(), STDIN_FILENO},
                                           {nullFd.Get(), STDOUT_FILENO}});

    pid_t pid = fork();
    if (pid < 0) {
        RaiseErrno("fork");
    }
    if (pid == 0) {
        ExecHelper(executable.c_str(), argv.data(), childHanded, parent, niceness, followThread,
                   failureLine);
    }
    // Also here, so that a signal sent right away reaches the group.
    setpgid(pid, pid);
    m_pid = pid;
    m_reportFd = readEnd.Release();
    fcntl(m_reportFd, F_SETFL, fcntl(m_reportFd, F_GETFL) | O_NONBLOCK);
    // Readable when the helper ends, so that its end is seen at once; -1 on kernels before
    // 5.3, where the supervision loop notices it on its next round instead.
    m_exitFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

CVHelperProcess::CVHelperProcess(pid_t pid, qsys::UniqueFd pidfd, qsys::UniqueFd report)
    : m_pid(pid),
      m_reportFd(report.Release()),
      m_exitFd(pidfd.Release()),
      m_lines(k_maxLineLength),
      m_served(true) {
    fcntl(m_reportFd, F_SETFL, fcntl(m_reportFd, F_GETFL) | O_NONBLOCK);
}

CVHelperProcess::~CVHelperProcess() {
    Signal(SIGKILL);
    {
        std::lock_guard lock(m_mutex);
        if (!m_reaped && m_served) {
            // The warm helper reaps it; it is gone before the caller removes its output.
            pollfd entry{m_exitFd, POLLIN, 0};
            poll(&entry, 1, static_cast<int>(k_exitGrace.count() * 1000));
        } else if (!m_reaped) {
            int status = 0;
            while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        m_reaped = true;
    }
    close(m_reportFd);
    if (m_exitFd >= 0) {
        close(m_exitFd);
    }
}

bool CVHelperProcess::Signal(int signal) {
    std::lock_guard lock(m_mutex);
    if (m_reaped) {
        return false;
    }
    if (m_served) {
        return syscall(SYS_pidfd_send_signal, m_exitFd, signal, nullptr, 0) == 0;
    }
    return kill(-m_pid, signal) == 0 || kill(m_pid, signal) == 0;
}

bool CVHelperProcess::ChildExited() const {
    pollfd entry{m_exitFd, POLLIN, 0};
    return poll(&entry, 1, 0) > 0;
}

bool CVHelperProcess::HasEnded() {
    if (!m_served) {
        siginfo_t info{};
        int rc = waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT);
        return rc == 0 && info.si_pid == m_pid;
    }
    if (m_reportEnded) {
        return true;
    }
    if (!ChildExited()) {
        return false;
    }
    auto now = std::chrono::steady_clock::now();
    if (!m_exitedSince) {
        m_exitedSince = now;
    }
    return m_exitStatus || now - *m_exitedSince >= k_exitGrace;
}

void CVHelperProcess::Reap(SVHelperRun& run) {
    // The group may hold children of the helper; the ended helper still holds the group id.
    Signal(SIGKILL);
    std::lock_guard lock(m_mutex);
    m_reaped = true;
    if (m_served) {
        run.waitStatus = m_exitStatus.value_or(0);
        run.statusLost = !m_exitStatus;
        return;
    }
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.waitStatus = status;
}

bool CVHelperProcess::TakeLines(SVHelperRun& run,
                                const std::function<bool(const CVHelperMessage&)>& onMessage,
                                bool& progressed) {
    while (auto line = m_lines.Next()) {
        auto message = CVHelperMessage::Parse(*line);
        if (!message) {
            return false;
        }
        if (message->Type() == CVHelperMessage::k_result) {
            run.result = std::move(message);
        } else if (message->Type() == CVHelperMessage::k_exit && m_served) {
            // The warm helper's word comes last, after the child's own lines.
            m_exitStatus = static_cast<int>(message->Integer("status"));
        } else if (onMessage(*message)) {
            progressed = true;
        }
    }
    return !m_lines.Overlong();
}

bool CVHelperProcess::ReadReport(SVHelperRun& run,
                                 const std::function<bool(const CVHelperMessage&)>& onMessage,
                                 bool& progressed) {
    char buffer[8192];
    for (;;) {
        ssize_t count = read(m_reportFd, buffer, sizeof buffer);
        if (count > 0) {
            // A garbled report is not read any further; the pipe is only drained.
            if (!run.garbled) {
                m_lines.Append(std::string_view(buffer, static_cast<size_t>(count)));
                if (!TakeLines(run, onMessage, progressed)) {
                    run.garbled = true;
                    Signal(SIGKILL);
                }
            }
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;
        }
        m_reportEnded = true;
        return false;
    }
}

SVHelperRun CVHelperProcess::Supervise(
    const CVPausableClock& clock, std::chrono::milliseconds watchdog,
    const std::function<bool(const CVHelperMessage&)>& onMessage) {
    SVHelperRun run;
    run.watchdog = watchdog;
    auto lastProgress = clock.Elapsed();
    bool reportOpen = true;
    for (;;) {
        // A warm helper's child that has exited stays readable: not waited on again.
        int exitFd = m_served && m_exitedSince ? -1 : m_exitFd;
        pollfd entries[2] = {{exitFd, POLLIN, 0}, {m_reportFd, POLLIN, 0}};
        poll(entries, reportOpen ? 2 : 1, k_pollMilliseconds);
        bool progressed = false;
        if (reportOpen) {
            reportOpen = ReadReport(run, onMessage, progressed);
        }
        if (HasEnded()) {
            ReadReport(run, onMessage, progressed);
            Reap(run);
            return run;
        }
        auto now = clock.Elapsed();
        if (progressed) {
            lastProgress = now;
        } else if (!run.hung && !clock.IsPaused() && now - lastProgress >= watchdog) {
            run.hung = true;
            Signal(SIGKILL);
        }
    }
}
