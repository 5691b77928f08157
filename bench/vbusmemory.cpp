// vbus_memory: the transcode server's resident memory (VmRSS of /proc/<pid>/status), on a
// private dbus-daemon it starts itself with the server activated by the bus:
//   - idle after start-up: the service created, nothing queued. Target: under 20 MB;
//   - after JOBS real but cheap jobs (a 0.2 s sine made with the ffmpeg tool, converted to
//     format 11, AAC in MP4), queued through the bus with AddFile in batches of BATCH and waited
//     for by their events; the growth over the idle figure. Target: at most 2 MB.
// Every step prints the resident memory with its anonymous and file-backed parts and the
// server's thread count.
//
//     vbus_memory [JOBS [BATCH]]        # 1000 jobs in batches of 20 by default

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "bench/vbusbenchsession.h"
#include "client/vvaluetext.h"
#include "components/vitemslib/vitemslib.h"
#include "qlib/qsys/textcodec.h"
#include "vtranscodeserver/vtranscodeserverlib.h"
#include "vtranscodeserver/vtranscodeserviceevent.h"

namespace {

using namespace std::chrono_literals;

constexpr double k_idleTargetMB = 20;
constexpr double k_growthTargetMB = 2;
constexpr ULONG k_audioFormat = 11;
constexpr auto k_settle = 2s;
constexpr auto k_batchTimeout = 300s;

// The figures of /proc/<pid>/status that tell where resident memory goes.
struct SResident {
    double totalMB = 0;
    double anonymousMB = 0;
    double fileMB = 0;
    int threads = 0;

    static SResident Of(pid_t pid) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        if (!status) {
            throw std::runtime_error("the server is gone");
        }
        SResident figures;
        std::string key;
        while (status >> key) {
            double value = 0;
            if (key == "VmRSS:" && status >> value) {
                figures.totalMB = value / 1024;
            } else if (key == "RssAnon:" && status >> value) {
                figures.anonymousMB = value / 1024;
            } else if (key == "RssFile:" && status >> value) {
                figures.fileMB = value / 1024;
            } else if (key == "Threads:") {
                status >> figures.threads;
            }
            status.ignore(1 << 16, '\n');
        }
        return figures;
    }

    void Print(const std::string& when) const {
        std::printf("%-28s %7.2f MB  (anonymous %.2f, files %.2f; %d threads)\n", when.c_str(),
                    totalMB, anonymousMB, fileMB, threads);
        std::fflush(stdout);
    }
};

// Counts the jobs that ended, by their last event (Completed, Error or Aborted).
class CJobEnds {
public:
    void OnEvent(const CComPtr<IVItem>& event) {
        VARIANT type = CVValueText::Property(event.Get(), CVTranscodeServiceEvent::k_type,
                                             k_transcodeNamespace);
        if (FAILED(type.ChangeType(VT_I4))) {
            return;
        }
        const LONG code = type.Get<LONG>();
        if (code != EVTranscodeServiceEvent_Completed && code != EVTranscodeServiceEvent_Error &&
            code != EVTranscodeServiceEvent_Aborted) {
            return;
        }
        const VARIANT text = CVValueText::Property(
            event.Get(), CVTranscodeServiceEvent::k_errorDescription, k_transcodeNamespace);
        {
            std::lock_guard guard(m_lock);
            ++m_ended[code];
            if (code != EVTranscodeServiceEvent_Completed && m_firstFailure.empty()) {
                m_firstFailure = qsys::ToUtf8(CVValueText::ToText(text));
            }
        }
        m_changed.notify_all();
    }

    void WaitFor(int jobs) {
        std::unique_lock guard(m_lock);
        if (!m_changed.wait_for(guard, k_batchTimeout, [&] { return Total() >= jobs; })) {
            throw std::runtime_error("jobs did not end in time");
        }
    }

    int Completed() {
        std::lock_guard guard(m_lock);
        return m_ended[EVTranscodeServiceEvent_Completed];
    }

    // "N completed" and the failures, with the first failure's text.
    std::string Summary() {
        std::lock_guard guard(m_lock);
        std::string summary = std::to_string(m_ended[EVTranscodeServiceEvent_Completed]) +
                              " completed, " +
                              std::to_string(m_ended[EVTranscodeServiceEvent_Error]) + " failed, " +
                              std::to_string(m_ended[EVTranscodeServiceEvent_Aborted]) + " aborted";
        return m_firstFailure.empty() ? summary
                                      : summary + " (first failure: " + m_firstFailure + ")";
    }

private:
    int Total() const {
        int total = 0;
        for (const auto& [code, count] : m_ended) {
            total += count;
        }
        return total;
    }

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::map<LONG, int> m_ended;  // guarded by m_lock
    std::string m_firstFailure;   // guarded by m_lock
};

void Verdict(const char* what, double value, const char* bound, double target, bool met) {
    std::printf("%-28s %7.2f MB  target: %s %.0f MB  %s\n", what, value, bound, target,
                met ? "met" : "MISSED");
}

void Measure(int jobs, int batch) {
    CVItemsLib::RegisterClasses();
    CVBusBenchSession session;
    const pid_t server = session.ServerPid();
    std::this_thread::sleep_for(k_settle);
    const SResident idle = SResident::Of(server);
    idle.Print("idle after start-up");

    const std::filesystem::path clip = session.Folder() / "clip.wav";
    CVBusBenchSession::RunToSuccess({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                                     "sine=frequency=440:duration=0.2", clip.string()});
    std::filesystem::create_directory(session.Folder() / "out");
    CJobEnds ends;
    session.Service().Advise([&](const CComPtr<IVItem>& event) { ends.OnEvent(event); });
    const auto start = std::chrono::steady_clock::now();
    for (int queued = 0; queued < jobs;) {
        for (int next = 0; next < batch && queued < jobs; ++next, ++queued) {
            const std::filesystem::path output =
                session.Folder() / "out" / (std::to_string(queued) + ".m4a");
            const LONG id = session.Service()
                                .Call(IVTranscodeService::TypeInfo(), L"AddFile",
                                      {VARIANT(qsys::FromUtf8(clip.string())),
                                       VARIANT(qsys::FromUtf8(output.string())), VARIANT(LONG{2}),
                                       VARIANT(k_audioFormat), VARIANT::Missing()})
                                .at(0)
                                .Get<LONG>();
            if (id < 1) {
                throw std::runtime_error("the service refused a job");
            }
        }
        ends.WaitFor(queued);
        if (queued % 100 == 0 || queued == jobs) {
            SResident::Of(server).Print("after " + std::to_string(queued) + " jobs");
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("jobs: %s in %.1f s\n", ends.Summary().c_str(), seconds);
    if (ends.Completed() != jobs) {
        throw std::runtime_error("not every job completed; the figures would not be of real jobs");
    }
    session.Service().Unadvise();
    std::this_thread::sleep_for(k_settle);
    const SResident after = SResident::Of(server);
    after.Print("idle after the jobs");
    const double growth = after.totalMB - idle.totalMB;
    Verdict("idle after start-up", idle.totalMB, "under", k_idleTargetMB,
            idle.totalMB < k_idleTargetMB);
    Verdict("growth over the jobs", growth, "at most", k_growthTargetMB,
            growth <= k_growthTargetMB);
}

}  // namespace

int main(int argc, char** argv) {
    const int jobs = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int batch = argc > 2 ? std::atoi(argv[2]) : 20;
    if (jobs < 1 || batch < 1) {
        std::fprintf(stderr, "usage: %s [JOBS [BATCH]]\n", argv[0]);
        return 2;
    }
    return CVBusBenchSession::ReportFailures("vbus_memory", [&] { Measure(jobs, batch); });
}
