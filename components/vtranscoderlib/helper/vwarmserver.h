#pragma once
// CVWarmServer: the helper's "serve" mode, the warm helper's side of CVWarmHelper. Started once
// with FFmpeg loaded, it says it is ready on its control socket, then for each job packet
// (CVServePacket, with the job's report socket, source and output as descriptors) forks a
// child that runs the job exactly as a helper of its own would (CVHelperJob), and answers with
// the child's pidfd. When a child has exited it reaps it and ends that job's report with the
// exit status. It serves until the server closes the control socket; its children die with it.
//
// The packets are read with the bounds and checks of CVServePacket: a packet that is cut
// short, malformed or carries the wrong descriptors is refused, and its descriptors closed.
//
// Single-threaded, so that forking is safe; owns the children it has not reaped yet.

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

#include "components/vtranscoderlib/vservepacket.h"
#include "qlib/qsys/uniquefd.h"

class CVWarmServer {
public:
    // Children running at once, at most; more jobs are refused (the server then runs them in
    // helpers of their own).
    static constexpr size_t k_maxJobs = 16;

    explicit CVWarmServer(int controlFd) : m_control(controlFd) {}

    // Serves until the server has gone. Returns the process's exit code.
    int Run();

private:
    struct SVRunningJob {
        pid_t pid;
        qsys::UniqueFd pidfd;
        qsys::UniqueFd report;  // the warm helper's copy, for the exit status
    };

    // Takes one packet; false when the server has gone.
    bool Accept();
    void Start(const SVServedJob& job, std::vector<qsys::UniqueFd>& descriptors);
    void Refuse(const std::string& reason);
    // Reaps the children that have exited and ends their reports with their exit status.
    void ReapExited();

    int m_control;
    std::vector<SVRunningJob> m_jobs;
};
