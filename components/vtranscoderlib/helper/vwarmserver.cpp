#include "components/vtranscoderlib/helper/vwarmserver.h"

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "components/vtranscoderlib/helper/vavlog.h"
#include "components/vtranscoderlib/helper/vhelperjob.h"
#include "components/vtranscoderlib/vchildsetup.h"
#include "components/vtranscoderlib/vhelpermessage.h"
#include "components/vtranscoderlib/vsocketpacket.h"

namespace {

// Runs in the forked child: becomes the job's helper and never returns.
[[noreturn]] void RunChild(const SVServedJob& job, std::vector<SVHandedDescriptor>& place,
                           pid_t parent) {
    if (!CVChildSetup::FollowParent(parent)) {
        _exit(127);
    }
    CVChildSetup::ResetSignals();
    if (job.niceness > 0) {
        setpriority(PRIO_PROCESS, 0, job.niceness);
    }
    if (!CVChildSetup::PlaceDescriptors(place.data(), place.size())) {
        _exit(127);
    }
    _exit(CVHelperJob::Run(job.request, CVHelperMessage::k_reportDescriptor));
}

void KillAndReap(pid_t pid) {
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

int CVWarmServer::Run() {
    // The report pipe a helper of its own would write to is not used: each job has its own.
    close(CVHelperMessage::k_reportDescriptor);
    CVAVLog::Install();
    if (!CVSocketPacket::Send(
            m_control,
            CVHelperMessage(CVHelperMessage::k_ready).Set("pid", int64_t{getpid()}).Format())) {
        return 1;
    }
    std::vector<pollfd> entries;
    for (;;) {
        entries.assign(1, pollfd{m_control, POLLIN, 0});
        for (const SVRunningJob& job : m_jobs) {
            entries.push_back(pollfd{job.pidfd.Get(), POLLIN, 0});
        }
        if (poll(entries.data(), entries.size(), -1) < 0 && errno != EINTR) {
            return 1;
        }
        if (entries.front().revents != 0 && !Accept()) {
            return 0;
        }
        ReapExited();
    }
}

bool CVWarmServer::Accept() {
    auto packet =
        CVSocketPacket::Receive(m_control, CVServePacket::k_maxBytes, std::chrono::milliseconds(0));
    if (!packet) {
        return false;
    }
    if (packet->truncated) {
        Refuse("the job packet is too long or carries too many descriptors");
        return true;
    }
    auto parsed = CVServePacket::Parse(packet->bytes);
    if (auto* problem = std::get_if<std::string>(&parsed)) {
        Refuse(*problem);
        return true;
    }
    const SVServedJob& job = std::get<SVServedJob>(parsed);
    if (packet->descriptors.size() != job.DescriptorCount()) {
        Refuse("the job packet carries " + std::to_string(packet->descriptors.size()) +
               " descriptors instead of " + std::to_string(job.DescriptorCount()));
    } else if (m_jobs.size() >= k_maxJobs) {
        Refuse("too many jobs run at once");
    } else {
        Start(job, packet->descriptors);
    }
    return true;
}

void CVWarmServer::Start(const SVServedJob& job, std::vector<qsys::UniqueFd>& descriptors) {
    std::vector<int> targets = job.Targets();
    std::vector<SVHandedDescriptor> place;
    for (size_t i = 0; i < targets.size(); ++i) {
        place.push_back({descriptors[i].Get(), targets[i]});
    }
    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        Refuse(std::string("no child process: ") + strerror(errno));
        return;
    }
    if (pid == 0) {
        RunChild(job, place, parent);
    }
    qsys::UniqueFd pidfd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    if (!pidfd.IsValid()) {
        KillAndReap(pid);
        Refuse(std::string("no pidfd for the child: ") + strerror(errno));
        return;
    }
    CVHelperMessage started(CVHelperMessage::k_started);
    started.Set("pid", int64_t{pid});
    if (!CVSocketPacket::Send(m_control, started.Format(), {pidfd.Get()})) {
        KillAndReap(pid);
        return;
    }
    // The source and the output are the child's now; the report stays for the exit status.
    m_jobs.push_back({pid, std::move(pidfd), std::move(descriptors.front())});
}

void CVWarmServer::Refuse(const std::string& reason) {
    CVSocketPacket::Send(m_control,
                         CVHelperMessage(CVHelperMessage::k_refused).Set("msg", reason).Format());
}

void CVWarmServer::ReapExited() {
    for (auto job = m_jobs.begin(); job != m_jobs.end();) {
        int status = 0;
        if (waitpid(job->pid, &status, WNOHANG) != job->pid) {
            ++job;
            continue;
        }
        // The server reads the report without pause; a report it stopped reading loses only
        // the status, which then counts as a crash.
        std::string line =
            CVHelperMessage(CVHelperMessage::k_exit).Set("status", int64_t{status}).Format();
        ssize_t ignored =
            send(job->report.Get(), line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        (void)ignored;
        job = m_jobs.erase(job);
    }
}
