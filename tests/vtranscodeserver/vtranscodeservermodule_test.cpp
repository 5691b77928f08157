#include "vtranscodeserver/vtranscodeservermodule.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "vtranscodeserver/vtranscodeservercmdline.h"

namespace {

using namespace std::chrono_literals;

// The close event is per user and process-wide: give this test process a runtime folder of its
// own before anything creates it, so that a server of the same user is not disturbed.
const bool s_privateRuntimeFolder = [] {
    char folder[] = "/tmp/vtsmodule-XXXXXX";
    return mkdtemp(folder) != nullptr && setenv("XDG_RUNTIME_DIR", folder, 1) == 0;
}();

class FakeClassObjects final : public CVClassObjectHost {
public:
    HRESULT registerResult = S_OK;
    std::atomic<int> registered = 0;
    std::atomic<int> revoked = 0;

    HRESULT RegisterClassObjects() override {
        ++registered;
        return registerResult;
    }
    void RevokeClassObjects() noexcept override { ++revoked; }
};

constexpr CVTranscodeServerModule::Timing k_fast{200ms, 0ms};

struct RunOutcome {
    HRESULT result;
    std::chrono::milliseconds elapsed;
};

RunOutcome RunModule(CVTranscodeServerModule& module) {
    const auto start = std::chrono::steady_clock::now();
    const HRESULT result = module.Run();
    return {result, std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)};
}

TEST(CVTranscodeServerCmdLine, AnySwitchNamingCloseAsksToClose) {
    for (const wchar_t* line : {L"/close", L"-CLOSE", L"-Embedding /closeall"}) {
        CVTranscodeServerCmdLine cmdLine;
        cmdLine.Parse(line);
        EXPECT_TRUE(cmdLine.IsCloseRequested()) << line;
    }
    CVTranscodeServerCmdLine plain;
    plain.Parse(L"close -Embedding /cleards \"/tmp/close\"");
    EXPECT_FALSE(plain.IsCloseRequested());
    EXPECT_TRUE(plain.IsStartedByClient());
}

TEST(CVTranscodeServerModule, EndsOneTimeoutAfterTheLastReferenceAndRunsTheShutdownWork) {
    ASSERT_TRUE(s_privateRuntimeFolder);
    FakeClassObjects classObjects;
    std::atomic<int> saved = 0;
    CVTranscodeServerModule module(classObjects, [&] { ++saved; }, k_fast);
    module.Lock();
    std::thread client([&] {
        std::this_thread::sleep_for(300ms);
        module.Lock();
        module.Unlock();
        module.Unlock();
    });
    const RunOutcome outcome = RunModule(module);
    client.join();
    EXPECT_EQ(outcome.result, S_OK);
    EXPECT_GE(outcome.elapsed, 500ms);  // 300 ms held, then the 200 ms time-out
    EXPECT_EQ(saved, 1);
    EXPECT_EQ(classObjects.registered, 1);
    EXPECT_EQ(classObjects.revoked, 1);
}

TEST(CVTranscodeServerModule, AFailedRegistrationSkipsServingAndSaving) {
    FakeClassObjects classObjects;
    classObjects.registerResult = E_ACCESSDENIED;
    std::atomic<int> saved = 0;
    CVTranscodeServerModule module(classObjects, [&] { ++saved; }, k_fast);
    EXPECT_EQ(module.Run(), E_ACCESSDENIED);
    EXPECT_EQ(saved, 0);
}

TEST(CVTranscodeServerModule, AFailingShutdownWorkMakesTheRunFail) {
    FakeClassObjects classObjects;
    CVTranscodeServerModule module(
        classObjects, [] { throw std::runtime_error("no service"); }, k_fast);
    EXPECT_EQ(module.Run(), E_FAIL);
    EXPECT_EQ(classObjects.revoked, 1);
}

TEST(CVTranscodeServerModule, TheCloseEventEndsAServingInstanceAndIsPassedOn) {
    ASSERT_TRUE(s_privateRuntimeFolder);
    FakeClassObjects classObjects;
    std::atomic<int> saved = 0;
    CVTranscodeServerModule module(classObjects, [&] { ++saved; }, {60s, 0ms});
    module.Lock();
    auto run = std::async(std::launch::async, [&] { return RunModule(module); });
    std::this_thread::sleep_for(100ms);
    CVTranscodeServerModule::CloseEvent().SetEvent();
    ASSERT_EQ(run.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(run.get().result, S_OK);
    EXPECT_EQ(saved, 1);
    // The instance handed the request on; the next one to wait takes it.
    EXPECT_EQ(CVTranscodeServerModule::CloseEvent().GetHandle()->Wait(0ms),
              qsys::WaitStatus::Signaled);
}

TEST(CVTranscodeServerModule, TerminationSignalsEndItAsAnEndOfSessionDoes) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before any thread exists
    FakeClassObjects classObjects;
    std::atomic<int> saved = 0;
    CVTranscodeServerModule module(classObjects, [&] { ++saved; }, {60s, 0ms});
    module.Lock();
    std::thread sender([] {
        std::this_thread::sleep_for(200ms);
        kill(getpid(), SIGTERM);
    });
    const RunOutcome outcome = RunModule(module);
    sender.join();
    EXPECT_EQ(outcome.result, S_OK);
    EXPECT_LT(outcome.elapsed, 5s);
    EXPECT_EQ(saved, 1);
}

TEST(CVTranscodeServerModule, CloseWithNoInstanceRunningEndsQuicklyAndKillsNothing) {
    ASSERT_TRUE(s_privateRuntimeFolder);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CVTranscodeServerModule::CloseInstances(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    // The signal nobody took is gone: a new instance does not start closed.
    EXPECT_EQ(CVTranscodeServerModule::CloseEvent().GetHandle()->Wait(0ms),
              qsys::WaitStatus::TimedOut);
}

}  // namespace
