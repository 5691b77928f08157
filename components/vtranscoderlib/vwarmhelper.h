#pragma once
// CVWarmHelper: the helper executable kept running in its "serve" mode, with FFmpeg loaded and
// initialised once, forking a fresh child for each job. The child is as isolated as a helper
// of its own: the same limits, its own report, the job's files handed over as descriptors
// (over a Unix socket with SCM_RIGHTS, never reopened by name), and it dies with the warm
// helper, which in turn ends when the server's end of its control socket closes, that is when
// the server ends, however it ends.
//
// The warm helper is started when the first job needs it, serves later jobs, and is started
// again when it has died. When it cannot be started or does not answer, the job runs in a
// helper of its own, as it would without it.
//
//     std::unique_ptr<CVHelperProcess> helper =
//         CVWarmHelper::StartJob(options.helperExecutable, request, niceness, handed);
//
// One warm helper serves the whole process (Shared). A process forked from it without exec
// gets a warm helper of its own when it converts.
//
// Threads: any thread may start jobs; m_mutex guards every member and is held for the whole
// exchange with the warm helper, so that jobs are handed over one at a time. A child of the
// process must not be forked while another thread starts a job.

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "components/vtranscoderlib/vhelperprocess.h"
#include "components/vtranscoderlib/vhelperrequest.h"
#include "qlib/qsys/uniquefd.h"

class CVWarmHelper {
public:
    // Where the warm helper finds its end of the control socket.
    static constexpr int k_controlDescriptor = 4;
    // How long a start may take before the warm helper is given up.
    static constexpr std::chrono::seconds k_startTimeout{15};
    // How long the warm helper may take to answer for a job.
    static constexpr std::chrono::seconds k_answerTimeout{5};
    // After a failed start, jobs run in helpers of their own for this long.
    static constexpr std::chrono::seconds k_retryDelay{30};

    // Runs the job: in a child of the shared warm helper when no helper executable is
    // configured (the default one is used), else, or when the warm helper cannot serve, in a
    // helper of its own (CVHelperProcess). `handed` holds the source (and the output) at the
    // request's descriptors. Raises std::system_error when no helper can be started at all.
    static std::unique_ptr<CVHelperProcess> StartJob(const std::string& configuredExecutable,
                                                     const SVHelperRequest& request, int niceness,
                                                     const std::vector<SVHandedDescriptor>& handed);

    static CVWarmHelper& Shared();

    CVWarmHelper() = default;
    // Ends the warm helper. Never throws.
    ~CVWarmHelper();

    CVWarmHelper(const CVWarmHelper&) = delete;
    CVWarmHelper& operator=(const CVWarmHelper&) = delete;

    // The job's child of the warm helper of `executable`, or null when none can serve it now.
    std::unique_ptr<CVHelperProcess> Serve(const std::string& executable,
                                           const SVHelperRequest& request, int niceness,
                                           const std::vector<SVHandedDescriptor>& handed);

    // Ends the warm helper and reaps it; the jobs its children run end with it. The next job
    // starts it again.
    void Stop();

    // The warm helper's process id; 0 while none runs.
    pid_t ProcessId() const;

private:
    enum class EVAnswer { Started, Refused, Gone };

    // Starts the warm helper of the executable unless it runs; false when it cannot.
    bool EnsureRunning(const std::string& executable);
    bool Start(const std::string& executable);
    // Hands the job over and reads the answer.
    EVAnswer Exchange(const std::string& packet, const std::vector<int>& descriptors,
                      std::unique_ptr<CVHelperProcess>& job, qsys::UniqueFd& report);
    // Forgets a warm helper inherited through fork: it belongs to the parent.
    void ForgetInherited();
    void StopLocked();

    mutable std::mutex m_mutex;
    pid_t m_owner = 0;  // the process that started the warm helper
    std::string m_executable;
    std::unique_ptr<CVHelperProcess> m_process;
    qsys::UniqueFd m_control;
    std::chrono::steady_clock::time_point m_retryAfter{};
};
