// The locks: CQLockHolder releases only what it took, CQCOMLock and CQMutexLock exclude other
// threads and are re-entrant, CQMutexLock keeps ownership per thread, survives Clear and times
// out, and a named CQMutexLock excludes other processes.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "qlib/qutilitylib/qcomlock.h"
#include "qlib/qutilitylib/qlockholder.h"
#include "qlib/qutilitylib/qmutexlock.h"
#include "tests/qlib/qutilitylib/filetestsupport.h"
#include "tests/qlib/qutilitylib/logtestsupport.h"

using qutilitylib::test::EventLogCapture;
using qutilitylib::test::FileTestFolder;
using qutilitylib::test::Raised;
using qutilitylib::test::RealEntries;
using qutilitylib::test::ScopedEnvironment;
using qutilitylib::test::TestProgram;

namespace {

// Counts the calls; Lock answers as told.
class CQScriptedLock : public CQLock {
public:
    explicit CQScriptedLock(bool grant) : m_grant(grant) {}
    bool Lock() override {
        ++m_locks;
        return m_grant;
    }
    void Unlock() override { ++m_unlocks; }

    bool m_grant;
    int m_locks = 0;
    int m_unlocks = 0;
};

// Many threads add to a plain counter under the lock; any overlap loses additions (and the
// thread sanitizer reports the race).
int CountUnder(CQLock& lock, int threads, int rounds) {
    int counter = 0;
    std::vector<std::thread> workers;
    for (int thread = 0; thread < threads; ++thread) {
        workers.emplace_back([&] {
            for (int round = 0; round < rounds; ++round) {
                const CQLockHolder outer(lock);
                const CQLockHolder inner(lock);  // re-entrant for the holder
                const int seen = counter;
                std::this_thread::yield();
                counter = seen + 1;
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    return counter;
}

// Whether another thread could take the lock at once.
bool OtherThreadCanTake(CQMutexLock& lock) {
    bool taken = false;
    std::thread([&] {
        taken = lock.Lock();
        if (taken) {
            lock.Unlock();
        }
    }).join();
    return taken;
}

}  // namespace

TEST(CQLockHolder, ReleasesOnlyWhatItTook) {
    CQScriptedLock granted(true);
    { const CQLockHolder holder(granted); }
    EXPECT_EQ(granted.m_locks, 1);
    EXPECT_EQ(granted.m_unlocks, 1);

    CQScriptedLock refused(false);
    {
        const CQLockHolder holder(refused);
        EXPECT_FALSE(holder.IsHeld());
    }
    EXPECT_EQ(refused.m_locks, 1);
    EXPECT_EQ(refused.m_unlocks, 0);
}

TEST(CQCOMLock, ExcludesOtherThreadsAndIsReentrant) {
    CQCOMLock lock;
    EXPECT_EQ(CountUnder(lock, 4, 500), 2000);
}

TEST(CQMutexLock, NeverInitialisedLockCreatesOneMutexForAllThreads) {
    // The first Locks race to create the mutex: only one may be created.
    CQMutexLock lock;
    EXPECT_EQ(CountUnder(lock, 4, 300), 1200);
}

TEST(CQMutexLock, TimesOutWhileAnotherThreadHoldsIt) {
    CQMutexLock lock;
    lock.SetTimeout(0);
    ASSERT_TRUE(lock.Lock());
    EXPECT_TRUE(lock.Lock()) << "re-entrant for the owner";
    EXPECT_FALSE(OtherThreadCanTake(lock));
    lock.Unlock();
    EXPECT_FALSE(OtherThreadCanTake(lock)) << "still held once";
    lock.Unlock();
    EXPECT_TRUE(OtherThreadCanTake(lock));
}

TEST(CQMutexLock, UnlockByAThreadThatDoesNotHoldItIsLoggedAndReleasesNothing) {
    CQMutexLock lock;
    lock.SetTimeout(0);
    ASSERT_TRUE(lock.Lock());
    const EventLogCapture capture;
    std::thread([&] { lock.Unlock(); }).join();
    EXPECT_TRUE(lock.IsHeld());
    EXPECT_FALSE(OtherThreadCanTake(lock));
    ASSERT_EQ(capture.Reports().size(), 1u);
    EXPECT_EQ(capture.Reports()[0].type, EQEventType_Warning);
    EXPECT_TRUE(capture.Contains(L"\tThreadID:\t"));
    lock.Unlock();
}

TEST(CQMutexLock, ClearReleasesTheCallersHoldAndTheLockStaysUsable) {
    CQMutexLock lock;
    lock.SetTimeout(0);
    ASSERT_TRUE(lock.Lock());
    lock.Clear();
    EXPECT_FALSE(lock.IsHeld());
    EXPECT_TRUE(OtherThreadCanTake(lock));
    EXPECT_TRUE(lock.Lock());
    lock.Unlock();
}

TEST(CQMutexLock, ClearDoesNotLetASecondThreadIntoTheSection) {
    // A thread holds the lock while another clears it: a new mutex would let a third in.
    CQMutexLock lock;
    lock.SetTimeout(0);
    std::atomic<bool> held = false;
    std::atomic<bool> release = false;
    std::thread holder([&] {
        lock.Lock();
        held = true;
        while (!release) {
            std::this_thread::yield();
        }
        lock.Unlock();
    });
    while (!held) {
        std::this_thread::yield();
    }
    lock.Clear();
    EXPECT_FALSE(OtherThreadCanTake(lock));
    release = true;
    holder.join();
}

TEST(CQMutexLock, NamedLocksOfOneNameExcludeEachOther) {
    // Named objects of the user live in the test's private folder (see logtestsupport.h).
    CQMutexLock first;
    CQMutexLock second;
    first.Init(L"qlock test", EQKernelObjectScope_User);
    second.Init(L"qlock test", EQKernelObjectScope_User);
    second.SetTimeout(0);
    ASSERT_TRUE(first.Lock());
    EXPECT_FALSE(OtherThreadCanTake(second));
    first.Unlock();
    EXPECT_TRUE(OtherThreadCanTake(second));

    // After Clear the lock has forgotten its name.
    second.Clear();
    ASSERT_TRUE(first.Lock());
    EXPECT_TRUE(OtherThreadCanTake(second));
    first.Unlock();
}

TEST(CQMutexLock, AMutexThatCannotBeCreatedRaisesWithItsName) {
    FileTestFolder folder;
    qutilitylib::test::WriteBytes(folder.Native(L"file"), "x");
    // The per-user folder of kernel objects would have to live inside a plain file.
    const ScopedEnvironment runtime("XDG_RUNTIME_DIR", folder.Native(L"file"));
    CQMutexLock lock;
    const auto raised = Raised([&] { lock.Init(L"a name", EQKernelObjectScope_User); });
    ASSERT_TRUE(raised.has_value());
    const auto entries = RealEntries(*raised);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_LT(entries[0].code, 0) << "an HRESULT";
    EXPECT_EQ(entries[0].values.at(L"MutexName"), L"a name");
}

TEST(CQMutexLock, NamedMutexExcludesOtherProcesses) {
    FileTestFolder folder;
    const std::string counter = folder.Native(L"counter");
    std::ofstream(counter) << 0;
    const std::string name = "qlock cross-process";
    constexpr int k_rounds = 300;
    TestProgram first({"mutex", name, std::to_string(k_rounds), counter}, {});
    TestProgram second({"mutex", name, std::to_string(k_rounds), counter}, {});
    EXPECT_EQ(first.Wait().exitCode, 0);
    EXPECT_EQ(second.Wait().exitCode, 0);
    long value = 0;
    std::ifstream(counter) >> value;
    EXPECT_EQ(value, 2 * k_rounds);
}
