#include "qlib/qsys/kernelmutex.h"

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

#include <gtest/gtest.h>

#include "qlib/qsys/kernelobjectname.h"
#include "tests/qlib/qsys/testsupport.h"

namespace qsys {
namespace {

using namespace std::chrono_literals;

class KernelMutexTest : public ::testing::Test {
protected:
    // Runs `action` on another thread and returns its result.
    template <typename Action>
    static auto OnOtherThread(Action action) {
        decltype(action()) result{};
        std::thread([&] { result = action(); }).join();
        return result;
    }

    test::TemporaryFolder m_runtime;
    test::ScopedEnvironment m_runtimeVariable{"XDG_RUNTIME_DIR", m_runtime.Path()};
};

TEST_F(KernelMutexTest, TheOwnerMayLockAgainAndOtherThreadsWaitForTheLastUnlock) {
    for (const wchar_t* name : {L"", L"reentrant"}) {
        KernelMutex mutex(name);
        ASSERT_EQ(mutex.Lock(), WaitStatus::Signaled);
        ASSERT_EQ(mutex.Lock(0ms), WaitStatus::Signaled);
        EXPECT_TRUE(mutex.IsOwnedByCurrentThread());
        EXPECT_EQ(OnOtherThread([&] { return mutex.Lock(20ms); }), WaitStatus::TimedOut);
        mutex.Unlock();
        EXPECT_EQ(OnOtherThread([&] { return mutex.Lock(0ms); }), WaitStatus::TimedOut);
        mutex.Unlock();
        EXPECT_FALSE(mutex.IsOwnedByCurrentThread());
        EXPECT_EQ(OnOtherThread([&] {
                      const WaitStatus status = mutex.Lock(0ms);
                      mutex.Unlock();
                      return status;
                  }),
                  WaitStatus::Signaled);
    }
}

TEST_F(KernelMutexTest, OnlyTheOwningThreadCanRelease) {
    KernelMutex mutex(L"owned");
    EXPECT_THROW(mutex.Unlock(), std::system_error) << "not held at all";
    ASSERT_EQ(mutex.Lock(), WaitStatus::Signaled);
    const int error = OnOtherThread([&] {
        try {
            mutex.Unlock();
        } catch (const std::system_error& failure) {
            return failure.code().value();
        }
        return 0;
    });
    EXPECT_EQ(error, EPERM);
    EXPECT_TRUE(mutex.IsOwnedByCurrentThread());
    mutex.Unlock();
}

TEST_F(KernelMutexTest, HandlesOfOneNameShareOneOwner) {
    KernelMutex first(L"Shared Name");
    KernelMutex second(L"Shared Name");
    ASSERT_EQ(first.Lock(), WaitStatus::Signaled);
    EXPECT_EQ(second.Lock(0ms), WaitStatus::Signaled)
        << "the owning thread holds it through every handle";
    EXPECT_EQ(OnOtherThread([] { return KernelMutex(L"Shared Name").Lock(0ms); }),
              WaitStatus::TimedOut);
    second.Unlock();
    first.Unlock();
}

TEST_F(KernelMutexTest, AThreadEndingWhileOwningLeavesItAbandoned) {
    for (const wchar_t* name : {L"", L"abandoned by a thread"}) {
        KernelMutex mutex(name);
        std::thread([&] { ASSERT_EQ(mutex.Lock(), WaitStatus::Signaled); }).join();
        EXPECT_EQ(mutex.Lock(), WaitStatus::Abandoned) << "name: " << name;
        mutex.Unlock();
        EXPECT_EQ(mutex.Lock(), WaitStatus::Signaled);
        mutex.Unlock();
    }
}

TEST_F(KernelMutexTest, TwoProcessesNeverHoldItAtOnce) {
    constexpr int k_rounds = 300;
    const std::string counterPath = m_runtime.Path() + "/counter";
    test::WriteFile(counterPath, "0");
    const auto worker = [&] {
        KernelMutex same(L"counter lock");
        for (int i = 0; i < k_rounds; ++i) {
            if (same.Lock() != WaitStatus::Signaled || same.Lock(0ms) != WaitStatus::Signaled) {
                return 1;
            }
            const int value = std::stoi(test::ReadFile(counterPath));
            std::this_thread::yield();
            test::WriteFile(counterPath, std::to_string(value + 1));
            same.Unlock();
            same.Unlock();
        }
        return 0;
    };
    const pid_t first = test::StartChild(worker);
    const pid_t second = test::StartChild(worker);
    EXPECT_EQ(test::WaitChild(first), 0);
    EXPECT_EQ(test::WaitChild(second), 0);
    EXPECT_EQ(test::ReadFile(counterPath), std::to_string(2 * k_rounds));
}

TEST_F(KernelMutexTest, AKilledOwnerFreesItAndTheNextOwnerSeesItAbandoned) {
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const pid_t holder = test::StartChild([&] {
        KernelMutex mutex(L"killed holder");
        if (mutex.Lock() != WaitStatus::Signaled) {
            return 1;
        }
        const char ready = 'r';
        [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &ready, 1);
        ::pause();
        return 0;
    });
    char ready = 0;
    ASSERT_EQ(::read(pipeEnds[0], &ready, 1), 1);
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);

    KernelMutex mutex(L"killed holder");
    EXPECT_EQ(mutex.Lock(30ms), WaitStatus::TimedOut) << "another process holds it";
    ASSERT_EQ(::kill(holder, SIGKILL), 0);
    EXPECT_EQ(test::WaitChild(holder), 128 + SIGKILL);
    EXPECT_EQ(mutex.Lock(), WaitStatus::Abandoned);
    mutex.Unlock();
    EXPECT_EQ(test::RunInChild([] {
                  return KernelMutex(L"killed holder").Lock(0ms) == WaitStatus::Signaled ? 0 : 1;
              }),
              0)
        << "a release clears the abandoned mark for other processes";
}

TEST_F(KernelMutexTest, GlobalNamesReachOtherUsersFoldersAndLocalNamesDoNot) {
    const std::wstring local = L"namespace test " + std::to_wstring(::getpid());
    const std::wstring global = L"Global\\" + local;
    KernelMutex localMutex(local);
    KernelMutex globalMutex(global);
    ASSERT_EQ(localMutex.Lock(), WaitStatus::Signaled);
    ASSERT_EQ(globalMutex.Lock(), WaitStatus::Signaled);

    test::TemporaryFolder otherRuntime;
    const int result = test::RunInChild([&] {
        ::setenv("XDG_RUNTIME_DIR", otherRuntime.Path().c_str(), 1);  // another session's folder
        if (KernelMutex(global).Lock(0ms) != WaitStatus::TimedOut) {
            return 1;
        }
        return KernelMutex(local).Lock(0ms) == WaitStatus::Signaled ? 0 : 2;
    });
    EXPECT_EQ(result, 0);
    globalMutex.Unlock();
    localMutex.Unlock();
    std::filesystem::remove(KernelObjectName::Parse(global).LockFilePath(".mutex"));
}

}  // namespace
}  // namespace qsys
