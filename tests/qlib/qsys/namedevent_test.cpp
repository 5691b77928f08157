#include "qlib/qsys/namedevent.h"

#include <fcntl.h>
#include <semaphore.h>
#include <unistd.h>

#include <sys/wait.h>

#include <filesystem>
#include <system_error>
#include <thread>

#include <gtest/gtest.h>

#include "qlib/qsys/event.h"
#include "qlib/qsys/kernelobjectname.h"
#include "tests/qlib/qsys/testsupport.h"

namespace qsys {
namespace {

using namespace std::chrono_literals;

// Bound for waits that must succeed, so that a broken build fails instead of hanging.
constexpr auto k_patience = 10s;

class NamedEventTest : public ::testing::Test {
protected:
    ~NamedEventTest() override {
        try {
            for (const std::wstring& name : {m_name, m_reply, Global()}) {
                NamedEvent::Remove(name);
            }
        } catch (const std::exception& error) {
            ADD_FAILURE() << "clean-up: " << error.what();
        }
    }

    std::wstring Global() const { return L"Global\\" + m_name; }

    test::TemporaryFolder m_runtime;
    test::ScopedEnvironment m_runtimeVariable{"XDG_RUNTIME_DIR", m_runtime.Path()};
    const std::wstring m_name = L"qsys test event " + std::to_wstring(::getpid());
    const std::wstring m_reply = m_name + L" reply";
};

TEST_F(NamedEventTest, ASignalIsKeptOnceUntilAWaiterTakesIt) {
    NamedEvent event(m_name);
    event.Set();
    event.Set();
    NamedEvent other(m_name);
    EXPECT_EQ(other.Wait(0ms), WaitStatus::Signaled);
    EXPECT_EQ(event.Wait(0ms), WaitStatus::TimedOut) << "two Sets leave one signal";
    EXPECT_EQ(event.Wait(10ms), WaitStatus::TimedOut);
}

TEST_F(NamedEventTest, TheInitialStateAppliesOnlyToTheCreatorAndResetDropsAStaleSignal) {
    NamedEvent creator(m_name, EventState::Signaled);
    NamedEvent opener(m_name, EventState::NonSignaled);
    EXPECT_EQ(opener.Wait(0ms), WaitStatus::Signaled);
    creator.Set();
    opener.Reset();
    EXPECT_EQ(creator.Wait(0ms), WaitStatus::TimedOut);
}

TEST_F(NamedEventTest, ProcessesSignalEachOther) {
    const pid_t child = test::StartChild([&] {
        NamedEvent request(m_name);
        NamedEvent reply(m_reply);
        if (request.Wait(k_patience) != WaitStatus::Signaled) {
            return 1;
        }
        reply.Set();
        return 0;
    });
    NamedEvent request(m_name);
    NamedEvent reply(m_reply);
    request.Set();
    EXPECT_EQ(reply.Wait(k_patience), WaitStatus::Signaled);
    EXPECT_EQ(test::WaitChild(child), 0);
}

TEST_F(NamedEventTest, EachSetReleasesOneWaitingProcess) {
    const auto waiter = [&] {
        return NamedEvent(m_name).Wait(k_patience) == WaitStatus::Signaled ? 0 : 1;
    };
    const pid_t first = test::StartChild(waiter);
    const pid_t second = test::StartChild(waiter);
    NamedEvent event(m_name);
    event.Set();
    int status = 0;
    const pid_t released = ::waitpid(-1, &status, 0);
    ASSERT_TRUE(released == first || released == second);
    EXPECT_EQ(event.Wait(0ms), WaitStatus::TimedOut) << "the released waiter took the signal";
    event.Set();
    EXPECT_EQ(test::WaitChild(released == first ? second : first), 0);
}

TEST_F(NamedEventTest, WaitForAnyServesAStopEventAndANamedEventTogether) {
    Event stop(EventReset::Auto, EventState::NonSignaled);
    NamedEvent close(m_name);
    const pid_t child = test::StartChild([&] {
        NamedEvent(m_name).Set();
        return 0;
    });
    const WaitAnyResult fromOtherProcess = WaitForAny({&stop, &close}, k_patience);
    EXPECT_EQ(fromOtherProcess.status, WaitStatus::Signaled);
    EXPECT_EQ(fromOtherProcess.index, 1u);
    EXPECT_EQ(test::WaitChild(child), 0);

    std::thread stopper([&] { stop.Set(); });
    const WaitAnyResult fromThisProcess = WaitForAny({&stop, &close}, k_patience);
    stopper.join();
    EXPECT_EQ(fromThisProcess.status, WaitStatus::Signaled);
    EXPECT_EQ(fromThisProcess.index, 0u);

    // The helper that waited on the semaphore may still run; a signal it takes now is handed on.
    EXPECT_EQ(test::RunInChild([&] {
                  NamedEvent(m_name).Set();
                  return 0;
              }),
              0);
    EXPECT_EQ(test::RunInChild([&] {
                  return NamedEvent(m_name).Wait(k_patience) == WaitStatus::Signaled ? 0 : 1;
              }),
              0);
    EXPECT_EQ(WaitForAny({&stop, &close}, 20ms).status, WaitStatus::TimedOut);
}

TEST_F(NamedEventTest, NamesMayHoldAnyCharacterAndGlobalNamesAreSeparate) {
    const std::wstring odd = m_name + L"/..\\:*?\u00e9";
    NamedEvent oddEvent(odd);
    NamedEvent global(Global());
    oddEvent.Set();
    EXPECT_EQ(NamedEvent(m_name).Wait(0ms), WaitStatus::TimedOut);
    EXPECT_EQ(global.Wait(0ms), WaitStatus::TimedOut);
    EXPECT_EQ(NamedEvent(odd).Wait(0ms), WaitStatus::Signaled);
    global.Set();
    test::TemporaryFolder otherRuntime;
    EXPECT_EQ(test::RunInChild([&] {
                  ::setenv("XDG_RUNTIME_DIR", otherRuntime.Path().c_str(), 1);
                  return NamedEvent(Global()).Wait(0ms) == WaitStatus::Signaled ? 0 : 1;
              }),
              0);
    NamedEvent::Remove(odd);
}

TEST_F(NamedEventTest, AnotherUsersSemaphoreOfTheSameNameIsRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as two users";
    }
    constexpr uid_t k_nobody = 65534;
    ASSERT_EQ(::chown(m_runtime.Path().c_str(), k_nobody, k_nobody), 0);
    // A semaphore under the other user's name, open to everybody, made by someone else.
    const std::string planted =
        "/zelto-" + std::to_string(k_nobody) + "-" + KernelObjectName::Encode(m_name, 200);
    sem_t* semaphore = ::sem_open(planted.c_str(), O_CREAT | O_EXCL, 0666, 0);
    ASSERT_NE(semaphore, SEM_FAILED);
    ::chmod(("/dev/shm/sem." + planted.substr(1)).c_str(), 0666);
    const int result = test::RunInChild([&] {
        if (::setgid(k_nobody) != 0 || ::setuid(k_nobody) != 0) {
            return 10;
        }
        try {
            NamedEvent event(m_name);
        } catch (const std::system_error& error) {
            return error.code().value() == EACCES ? 0 : 11;
        }
        return 12;
    });
    EXPECT_EQ(result, 0);
    ::sem_close(semaphore);
    ::sem_unlink(planted.c_str());
    std::filesystem::remove_all(m_runtime.Path() + "/zelto");  // the other user's folder
    // Ours again, so that the clean-up may trust it.
    ASSERT_EQ(::chown(m_runtime.Path().c_str(), ::geteuid(), ::getegid()), 0);
}

}  // namespace
}  // namespace qsys
