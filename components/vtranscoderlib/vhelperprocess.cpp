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
// Descriptors at or above this are free in the child while it arranges 0, 1 and 3.
constexpr int k_scratchDescriptor = 10;

[[noreturn]] void RaiseErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// Runs in the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void ExecHelper(const char* path, char* const* argv, int reportFd, int nullFd,
                             std::vector<SVHandedDescriptor>& handed, pid_t parent, int niceness,
                             const std::string& failure) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) {
        _exit(127);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) {
        sigaction(signal, &defaultAction, nullptr);
    }
    if (niceness > 0) {
        setpriority(PRIO_PROCESS, 0, niceness);
    }
    // First out of the way of the targets, then into place.
    int report = fcntl(reportFd, F_DUPFD, k_scratchDescriptor);
    int null = fcntl(nullFd, F_DUPFD, k_scratchDescriptor);
    int highest = CVHelperMessage::k_reportDescriptor;
    for (SVHandedDescriptor& entry : handed) {
        entry.fd = fcntl(entry.fd, F_DUPFD, k_scratchDescriptor);
        if (entry.fd < 0) {
            _exit(127);
        }
    }
    if (report < 0 || null < 0 || dup2(null, STDIN_FILENO) < 0 || dup2(null, STDOUT_FILENO) < 0 ||
        dup2(report, CVHelperMessage::k_reportDescriptor) < 0) {
        _exit(127);
    }
    for (const SVHandedDescriptor& entry : handed) {
        if (dup2(entry.fd, entry.target) < 0) {
            _exit(127);
        }
        highest = std::max(highest, entry.target);
    }
    close_range(static_cast<unsigned>(highest) + 1, ~0u, 0);
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
                                 const std::vector<SVHandedDescriptor>& handed)
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

    pid_t pid = fork();
    if (pid < 0) {
        RaiseErrno("fork");
    }
    if (pid == 0) {
        ExecHelper(executable.c_str(), argv.data(), writeEnd.Get(), nullFd.Get(), childHanded,
                   parent, niceness, failureLine);
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

CVHelperProcess::~CVHelperProcess() {
    Signal(SIGKILL);
    {
        std::lock_guard lock(m_mutex);
        if (!m_reaped) {
            int status = 0;
            while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
            }
            m_reaped = true;
        }
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
    return kill(-m_pid, signal) == 0 || kill(m_pid, signal) == 0;
}

bool CVHelperProcess::HasEnded() const {
    siginfo_t info{};
    int rc = waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT);
    return rc == 0 && info.si_pid == m_pid;
}

int CVHelperProcess::Reap() {
    // The group may hold children of the helper; the ended helper still holds the group id.
    Signal(SIGKILL);
    std::lock_guard lock(m_mutex);
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_reaped = true;
    return status;
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
        return count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
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
        pollfd entries[2] = {{m_exitFd, POLLIN, 0}, {m_reportFd, POLLIN, 0}};
        poll(entries, reportOpen ? 2 : 1, k_pollMilliseconds);
        bool progressed = false;
        if (reportOpen) {
            reportOpen = ReadReport(run, onMessage, progressed);
        }
        if (HasEnded()) {
            ReadReport(run, onMessage, progressed);
            run.waitStatus = Reap();
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
