// CQProcess: every process of /proc is listed, this one and a child by their executables' names;
// a child is ended; a process that does not exist cannot be attached.

#include "qlib/qutilitylib/qprocess.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>

extern char** environ;

namespace {

std::set<uint32_t> ProcessIdsInProc() {
    std::set<uint32_t> ids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            ids.insert(static_cast<uint32_t>(std::stoul(name)));
        }
    }
    return ids;
}

const CQProcessInfo* Find(const std::vector<CQProcessInfo>& processes, uint32_t id) {
    const auto found = std::find_if(processes.begin(), processes.end(), [&](const auto& process) {
        return process.GetProcessID() == id;
    });
    return found != processes.end() ? &*found : nullptr;
}

// A child that sleeps until it is ended; reaped by the destructor if the test did not.
class SleepingChild {
public:
    SleepingChild() {
        char program[] = "/bin/sleep";
        char seconds[] = "600";
        char* arguments[] = {program, seconds, nullptr};
        m_error = posix_spawn(&m_id, program, nullptr, nullptr, arguments, environ);
    }
    ~SleepingChild() {
        if (m_error == 0 && !m_reaped) {
            ::kill(m_id, SIGKILL);
            Wait();
        }
    }
    SleepingChild(const SleepingChild&) = delete;
    SleepingChild& operator=(const SleepingChild&) = delete;

    bool Started() const { return m_error == 0; }
    uint32_t Id() const { return static_cast<uint32_t>(m_id); }
    int Wait() {
        int status = 0;
        while (::waitpid(m_id, &status, 0) < 0 && errno == EINTR) {
        }
        m_reaped = true;
        return status;
    }

private:
    pid_t m_id = -1;
    int m_error = 0;
    bool m_reaped = false;
};

}  // namespace

TEST(CQProcess, ListsThisProcessByTheFullNameOfItsExecutable) {
    const std::vector<CQProcessInfo> processes = CQProcess::GetAllProcesses();
    const CQProcessInfo* self = Find(processes, static_cast<uint32_t>(::getpid()));
    ASSERT_NE(self, nullptr);
    // Longer than the 15 characters the kernel keeps as a process's own name.
    EXPECT_EQ(self->GetProcessName(), L"qutilitylib_tests");
    EXPECT_TRUE(self->GetExecutablePath().ends_with(L"/qutilitylib_tests"));
    EXPECT_EQ(self->GetUserId(), ::getuid());
}

TEST(CQProcess, ListsEveryProcessOnceInAscendingOrder) {
    const std::set<uint32_t> before = ProcessIdsInProc();
    const std::vector<CQProcessInfo> processes = CQProcess::GetAllProcesses();
    const std::set<uint32_t> after = ProcessIdsInProc();

    EXPECT_TRUE(std::is_sorted(
        processes.begin(), processes.end(),
        [](const auto& a, const auto& b) { return a.GetProcessID() <= b.GetProcessID(); }))
        << "ids ascend and none appears twice";
    for (const uint32_t id : before) {
        if (after.contains(id)) {
            EXPECT_NE(Find(processes, id), nullptr) << "process " << id << " is missing";
        }
    }
}

TEST(CQProcess, TerminatesAChildListedByItsName) {
    SleepingChild child;
    ASSERT_TRUE(child.Started());
    const std::vector<CQProcessInfo> processes = CQProcess::GetAllProcesses();
    const CQProcessInfo* listed = Find(processes, child.Id());
    ASSERT_NE(listed, nullptr);
    EXPECT_EQ(listed->GetProcessName(), L"sleep");

    CQProcess process;
    EXPECT_TRUE(process.Terminate(child.Id()));
    EXPECT_TRUE(process.IsAttached());
    const int status = child.Wait();
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);

    EXPECT_FALSE(process.Terminate(child.Id())) << "the child is gone";
    EXPECT_FALSE(process.IsAttached());
}

TEST(CQProcess, AttachFailsForAProcessThatDoesNotExist) {
    // Process ids stay below pid_max, so that number never names a process.
    uint32_t pidMax = 0;
    std::ifstream("/proc/sys/kernel/pid_max") >> pidMax;
    ASSERT_GT(pidMax, 0u);

    CQProcess process;
    ASSERT_TRUE(process.Attach(static_cast<uint32_t>(::getpid())));
    EXPECT_FALSE(process.Attach(pidMax));
    EXPECT_FALSE(process.IsAttached()) << "the previous handle was let go";
}
