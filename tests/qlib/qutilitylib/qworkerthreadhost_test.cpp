// CQWorkerThreadHost: the lifecycle of its thread, the stop request, restarting, a failing
// worker, and the time-out rules of StopWorkerThread. Run under the thread sanitizer too.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "qlib/qcom/hresult.h"
#include "qlib/qsys/currentthread.h"
#include "qlib/qsys/event.h"
#include "qlib/qutilitylib/qworkerthreadhost.h"
#include "tests/qlib/qutilitylib/logtestsupport.h"

using qutilitylib::test::EventLogCapture;

namespace {

// A worker whose procedure the test gives; it stops its thread in its own destructor, as
// derived classes must.
class CQTestWorker : public CQWorkerThreadHost {
public:
    explicit CQTestWorker(std::function<void(CQTestWorker&)> procedure,
                          std::wstring name = L"CQTestWorker")
        : CQWorkerThreadHost(std::move(name)), m_procedure(std::move(procedure)) {}
    ~CQTestWorker() override { StopWorkerThread(k_infiniteTimeout); }

    // What the runs recorded, in order.
    std::vector<std::wstring> Journal() {
        const std::lock_guard lock(m_guard);
        return m_journal;
    }
    void Record(const std::wstring& entry) {
        const std::lock_guard lock(m_guard);
        m_journal.push_back(entry);
    }

protected:
    void WorkerProc(void* argument) override {
        EXPECT_EQ(argument, nullptr);
        m_procedure(*this);
    }

private:
    std::function<void(CQTestWorker&)> m_procedure;
    std::mutex m_guard;
    std::vector<std::wstring> m_journal;  // guarded by m_guard
};

// Runs until asked to stop.
void WaitForStop(CQTestWorker& worker) {
    EXPECT_EQ(worker.GetStopEvent()->Wait(), qsys::WaitStatus::Signaled);
    EXPECT_TRUE(worker.IsStopRequested());
}

// A worker that destroys its own host, then fails: the runner must store the failure without
// touching the freed host (the address sanitizer run of this test catches a write to it).
class CQSelfDestroyingWorker : public CQWorkerThreadHost {
public:
    explicit CQSelfDestroyingWorker(qsys::Event& destroyed)
        : CQWorkerThreadHost(L"CQSelfDestroy"), m_destroyed(destroyed) {}
    ~CQSelfDestroyingWorker() override {
        if (!IsWorkerThread()) {
            StopWorkerThread(k_infiniteTimeout);
        }
        m_destroyed.Set();
    }

protected:
    void WorkerProc(void*) override {
        delete this;
        throw CQException(L"failed after the host was gone", QERR_UNDEFINED);
    }

private:
    qsys::Event& m_destroyed;
};

// Whether a thread of this process carries the name (the system's 15-byte form).
bool ThreadNamed(const std::string& name) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string text;
        std::getline(comm, text);
        if (text == name) {
            return true;
        }
    }
    return false;
}

}  // namespace

TEST(CQWorkerThreadHost, AWorkerMayDestroyItsOwnHost) {
    const EventLogCapture capture;
    qsys::Event destroyed(qsys::EventReset::Manual, qsys::EventState::NonSignaled);
    auto* worker = new CQSelfDestroyingWorker(destroyed);
    worker->StartWorkerThread();
    ASSERT_EQ(destroyed.Wait(qsys::TimeoutFromMilliseconds(10000)), qsys::WaitStatus::Signaled);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ThreadNamed("CQSelfDestroy") && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_FALSE(ThreadNamed("CQSelfDestroy")) << "the detached thread ended";
    EXPECT_TRUE(capture.Contains(L"failed after the host was gone\n"));
    EXPECT_FALSE(capture.Contains(L"Resource deadlock avoided"))
        << "destroying itself is no failure";
}

TEST(CQWorkerThreadHost, StopOnAHostThatNeverStartedDoesNothing) {
    CQTestWorker worker([](CQTestWorker&) {});
    worker.StopWorkerThread(k_infiniteTimeout);
    worker.StopWorkerThread(0);
    EXPECT_FALSE(worker.IsStopRequested());
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(worker.GetStopEvent(), nullptr);
}

TEST(CQWorkerThreadHost, RunsUntilAskedToStop) {
    CQTestWorker worker(WaitForStop);
    worker.StartWorkerThread();
    EXPECT_TRUE(worker.IsRunning());
    worker.StopWorkerThread(k_infiniteTimeout);
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_FALSE(worker.IsStopRequested());
    EXPECT_EQ(worker.GetStopEvent(), nullptr);
}

TEST(CQWorkerThreadHost, StartWhileRunningStopsTheOldThreadFirst) {
    qsys::Event started(qsys::EventReset::Auto, qsys::EventState::NonSignaled);
    int run = 0;
    CQTestWorker worker([&](CQTestWorker& self) {
        const std::wstring number = std::to_wstring(++run);
        self.Record(L"start " + number);
        started.Set();
        WaitForStop(self);
        self.Record(L"end " + number);
    });
    worker.StartWorkerThread();
    ASSERT_EQ(started.Wait(), qsys::WaitStatus::Signaled);
    worker.StartWorkerThread();
    ASSERT_EQ(started.Wait(), qsys::WaitStatus::Signaled);
    EXPECT_THAT(worker.Journal(), testing::ElementsAre(L"start 1", L"end 1", L"start 2"));
    worker.StopWorkerThread(k_infiniteTimeout);
    EXPECT_THAT(worker.Journal(), testing::ElementsAre(L"start 1", L"end 1", L"start 2", L"end 2"));
}

TEST(CQWorkerThreadHost, AThrowingWorkerLeavesItsErrorStoredAndLogged) {
    const EventLogCapture capture;
    int runs = 0;
    CQTestWorker worker([&](CQTestWorker&) {
        if (++runs == 1) {
            throw CQException(L"worker broke", QERR_INVALID_PARAMETER);
        }
    });
    worker.StartWorkerThread();
    worker.StopWorkerThread(k_infiniteTimeout);
    EXPECT_FALSE(worker.IsRunning());
    const CQException error = worker.GetWorkerError();
    EXPECT_TRUE(error.HasErrorCode(QERR_INVALID_PARAMETER));
    EXPECT_TRUE(error.HasErrorCode(QERR_STACKTRACE)) << "the runner's boundary";
    EXPECT_TRUE(capture.Contains(L"worker broke\n"));
    bool warned = false;
    for (const auto& report : capture.Reports()) {
        warned = warned || (report.type == EQEventType_Warning &&
                            report.text.find(L"worker broke") != std::wstring::npos);
    }
    EXPECT_TRUE(warned);

    // The next start clears the stored error.
    worker.StartWorkerThread();
    worker.StopWorkerThread(k_infiniteTimeout);
    EXPECT_EQ(worker.GetWorkerError().GetElement().GetChildren().size(), 0u);
}

TEST(CQWorkerThreadHost, AStopThatTimesOutKeepsTheRequestUntilTheWorkerEnds) {
    qsys::Event release(qsys::EventReset::Manual, qsys::EventState::NonSignaled);
    CQTestWorker worker([&](CQTestWorker& self) {
        (void)release.Wait();
        self.Record(self.IsStopRequested() ? L"asked to stop" : L"not asked");
    });
    worker.StartWorkerThread();
    worker.StopWorkerThread(0);
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_TRUE(worker.IsStopRequested());
    EXPECT_NE(worker.GetStopEvent(), nullptr);
    release.Set();
    worker.StopWorkerThread(k_infiniteTimeout);
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_FALSE(worker.IsStopRequested());
    EXPECT_THAT(worker.Journal(), testing::ElementsAre(L"asked to stop"));
}

TEST(CQWorkerThreadHost, AWorkerCannotWaitForItself) {
    CQTestWorker worker([](CQTestWorker& self) { self.StopWorkerThread(k_infiniteTimeout); });
    worker.StartWorkerThread();
    worker.StopWorkerThread(k_infiniteTimeout);
    EXPECT_TRUE(worker.GetWorkerError().HasErrorCode(HResultFromErrno(EDEADLK)));
}

TEST(CQWorkerThreadHost, TheThreadCarriesTheHostsName) {
    std::wstring name;
    CQTestWorker worker([&](CQTestWorker&) { name = qsys::GetCurrentThreadName(); },
                        L"CVTranscodeService::CVTranscodeService");
    worker.StartWorkerThread();
    worker.StopWorkerThread(k_infiniteTimeout);
    EXPECT_EQ(name, L"CVTranscodeServ") << "the first 15 characters the system keeps";
}
