#pragma once
// CVPausableClock: a stopwatch on the monotonic clock that can be held. A conversion measures
// its active time with it: the estimate of the time left and the no-progress watchdog both
// read it, so neither counts the time a job spends paused.
//
// Thread-safe: Pause and Resume come from control threads while the supervising thread reads
// Elapsed. m_mutex guards every member.

#include <chrono>
#include <mutex>

class CVPausableClock {
public:
    using Clock = std::chrono::steady_clock;

    // Starts running.
    CVPausableClock();

    // Holds the clock; false when it was already held.
    bool Pause();
    // Lets the clock run again; false when it was running.
    bool Resume();
    bool IsPaused() const;

    // The time the clock has been running since construction.
    Clock::duration Elapsed() const;

private:
    mutable std::mutex m_mutex;
    Clock::time_point m_runningSince;  // guarded by m_mutex; valid while running
    Clock::duration m_accumulated{};   // guarded by m_mutex; time run before m_runningSince
    bool m_paused = false;             // guarded by m_mutex
};
