#include "components/vtranscoderlib/vwarmhelper.h"

#include <sys/socket.h>
#include <unistd.h>

#include <system_error>

#include "components/vtranscoderlib/vservepacket.h"
#include "components/vtranscoderlib/vsocketpacket.h"

namespace {

// The warm helper's answers are single short messages.
constexpr size_t k_maxAnswerBytes = 4096;

// The answer's message, without its line break; nullopt when it is not one.
std::optional<CVHelperMessage> ParseAnswer(const SVSocketPacket& packet) {
    std::string_view line = packet.bytes;
    if (line.empty() || line.back() != '\n') {
        return std::nullopt;
    }
    return CVHelperMessage::Parse(line.substr(0, line.size() - 1));
}

// The handed descriptor that the child expects at `target`, or -1.
int HandedAt(const std::vector<SVHandedDescriptor>& handed, int target) {
    for (const SVHandedDescriptor& entry : handed) {
        if (entry.target == target) {
            return entry.fd;
        }
    }
    return -1;
}

}  // namespace

std::unique_ptr<CVHelperProcess> CVWarmHelper::StartJob(
    const std::string& configuredExecutable, const SVHelperRequest& request, int niceness,
    const std::vector<SVHandedDescriptor>& handed) {
    std::string executable =
        configuredExecutable.empty() ? CVHelperProcess::DefaultExecutable() : configuredExecutable;
    if (configuredExecutable.empty()) {
        if (auto job = Shared().Serve(executable, request, niceness, handed)) {
            return job;
        }
    }
    return std::make_unique<CVHelperProcess>(executable, request.ToArguments(), niceness, handed);
}

CVWarmHelper& CVWarmHelper::Shared() {
    static CVWarmHelper helper;
    return helper;
}

CVWarmHelper::~CVWarmHelper() {
    Stop();
}

std::unique_ptr<CVHelperProcess> CVWarmHelper::Serve(
    const std::string& executable, const SVHelperRequest& request, int niceness,
    const std::vector<SVHandedDescriptor>& handed) {
    std::vector<int> descriptors{-1, HandedAt(handed, SVHelperRequest::k_sourceDescriptor)};
    if (request.task == EVHelperTask_Convert) {
        descriptors.push_back(HandedAt(handed, SVHelperRequest::k_outputDescriptor));
    }
    if (request.sourceDescriptor != SVHelperRequest::k_sourceDescriptor || descriptors.back() < 0 ||
        descriptors[1] < 0 || niceness < 0 || niceness > CVServePacket::k_maxNiceness) {
        return nullptr;  // not a job the warm helper takes
    }
    const std::string packet = CVServePacket::Format(request, niceness);
    std::lock_guard lock(m_mutex);
    ForgetInherited();
    // A warm helper that has died since the last job is found gone and started again, once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!EnsureRunning(executable)) {
            return nullptr;
        }
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
            return nullptr;
        }
        qsys::UniqueFd report(pair[0]);
        qsys::UniqueFd childEnd(pair[1]);
        descriptors.front() = childEnd.Get();
        std::unique_ptr<CVHelperProcess> job;
        switch (Exchange(packet, descriptors, job, report)) {
            case EVAnswer::Started:
                return job;
            case EVAnswer::Refused:
                return nullptr;
            case EVAnswer::Gone:
                StopLocked();
                break;
        }
    }
    return nullptr;
}

CVWarmHelper::EVAnswer CVWarmHelper::Exchange(const std::string& packet,
                                              const std::vector<int>& descriptors,
                                              std::unique_ptr<CVHelperProcess>& job,
                                              qsys::UniqueFd& report) {
    if (!CVSocketPacket::Send(m_control.Get(), packet, descriptors)) {
        return EVAnswer::Gone;
    }
    auto answer = CVSocketPacket::Receive(m_control.Get(), k_maxAnswerBytes,
                                          std::chrono::milliseconds(k_answerTimeout));
    std::optional<CVHelperMessage> message;
    if (answer && !answer->truncated) {
        message = ParseAnswer(*answer);
    }
    if (!message) {
        return EVAnswer::Gone;
    }
    if (message->Type() == CVHelperMessage::k_refused && answer->descriptors.empty()) {
        return EVAnswer::Refused;
    }
    int64_t pid = message->Integer("pid");
    if (message->Type() != CVHelperMessage::k_started || answer->descriptors.size() != 1 ||
        pid <= 0 || pid != static_cast<pid_t>(pid)) {
        return EVAnswer::Gone;
    }
    job = std::make_unique<CVHelperProcess>(
        static_cast<pid_t>(pid), std::move(answer->descriptors.front()), std::move(report));
    return EVAnswer::Started;
}

bool CVWarmHelper::EnsureRunning(const std::string& executable) {
    if (m_process && m_executable == executable) {
        return true;
    }
    StopLocked();
    if (std::chrono::steady_clock::now() < m_retryAfter) {
        return false;
    }
    if (Start(executable)) {
        return true;
    }
    StopLocked();
    m_retryAfter = std::chrono::steady_clock::now() + k_retryDelay;
    return false;
}

bool CVWarmHelper::Start(const std::string& executable) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        return false;
    }
    m_control.Reset(pair[0]);
    qsys::UniqueFd helperEnd(pair[1]);
    try {
        // It follows the server by its control socket, not by the thread that starts it.
        m_process = std::make_unique<CVHelperProcess>(
            executable, std::vector<std::string>{"serve"}, 0,
            std::vector<SVHandedDescriptor>{{helperEnd.Get(), k_controlDescriptor}}, false);
    } catch (const std::system_error&) {
        return false;
    }
    m_owner = getpid();
    m_executable = executable;
    helperEnd.Reset();
    auto ready = CVSocketPacket::Receive(m_control.Get(), k_maxAnswerBytes,
                                         std::chrono::milliseconds(k_startTimeout));
    if (!ready || ready->truncated || !ready->descriptors.empty()) {
        return false;
    }
    auto message = ParseAnswer(*ready);
    return message && message->Type() == CVHelperMessage::k_ready;
}

void CVWarmHelper::Stop() {
    std::lock_guard lock(m_mutex);
    ForgetInherited();
    StopLocked();
}

void CVWarmHelper::StopLocked() {
    m_control.Reset();
    m_process.reset();  // kills and reaps it; its children die with it
    m_executable.clear();
}

void CVWarmHelper::ForgetInherited() {
    if (m_owner == 0 || m_owner == getpid()) {
        return;
    }
    // The parent's warm helper is the parent's to end: neither signalled nor reaped here. The
    // object is left behind on purpose (its destructor would kill the parent's helper).
    (void)m_process.release();
    m_control.Reset();
    m_executable.clear();
    m_owner = 0;
}

pid_t CVWarmHelper::ProcessId() const {
    std::lock_guard lock(m_mutex);
    return m_process && m_owner == getpid() ? m_process->Id() : 0;
}
