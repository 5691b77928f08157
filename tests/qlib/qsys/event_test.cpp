#include "qlib/qsys/event.h"

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace qsys {
namespace {

using namespace std::chrono_literals;

TEST(Event, AutoResetReleasesOneWaitAndKeepsOneSignal) {
    Event event(EventReset::Auto, EventState::NonSignaled);
    EXPECT_EQ(event.Wait(0ms), WaitStatus::TimedOut);
    event.Set();
    event.Set();
    EXPECT_EQ(event.Wait(0ms), WaitStatus::Signaled);
    EXPECT_EQ(event.Wait(0ms), WaitStatus::TimedOut) << "a second Set does not count up";
    Event initiallySet(EventReset::Auto, EventState::Signaled);
    EXPECT_EQ(initiallySet.Wait(0ms), WaitStatus::Signaled);
}

TEST(Event, ManualResetStaysSignalledUntilReset) {
    Event event(EventReset::Manual, EventState::Signaled);
    EXPECT_EQ(event.Wait(0ms), WaitStatus::Signaled);
    EXPECT_EQ(event.Wait(0ms), WaitStatus::Signaled);
    event.Reset();
    EXPECT_EQ(event.Wait(10ms), WaitStatus::TimedOut);
}

TEST(Event, WaitForAnyNamesTheFirstSignalledObjectAndTakesOnlyItsSignal) {
    Event stop(EventReset::Auto, EventState::NonSignaled);
    Event work(EventReset::Auto, EventState::NonSignaled);
    EXPECT_EQ(WaitForAny({&stop, &work}, 10ms).status, WaitStatus::TimedOut);
    work.Set();
    const WaitAnyResult one = WaitForAny({&stop, &work});
    EXPECT_EQ(one.status, WaitStatus::Signaled);
    EXPECT_EQ(one.index, 1u);
    stop.Set();
    work.Set();
    EXPECT_EQ(WaitForAny({&stop, &work}).index, 0u);
    EXPECT_EQ(work.Wait(0ms), WaitStatus::Signaled) << "the other object keeps its signal";
    EXPECT_THROW((void)WaitForAny(std::span<WaitableObject* const>()), std::system_error);
}

TEST(Event, ASetFromAnotherThreadWakesEveryKindOfWaiter) {
    Event stop(EventReset::Manual, EventState::NonSignaled);
    Event work(EventReset::Auto, EventState::NonSignaled);
    std::atomic<int> workDone = 0;
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i) {
        workers.emplace_back([&] {
            while (WaitForAny({&stop, &work}).index == 1) {
                ++workDone;
            }
        });
    }
    for (int i = 0; i < 100; ++i) {
        work.Set();
        std::this_thread::yield();
    }
    stop.Set();
    for (std::thread& worker : workers) {
        worker.join();
    }
    // No signal is lost: a worker took the work, or it is still waiting to be taken.
    const int leftOver = work.Wait(0ms) == WaitStatus::Signaled ? 1 : 0;
    EXPECT_GE(workDone.load() + leftOver, 1);
    EXPECT_LE(workDone.load() + leftOver, 100);
    EXPECT_EQ(stop.Wait(0ms), WaitStatus::Signaled) << "a manual-reset event stays signalled";
}

}  // namespace
}  // namespace qsys
