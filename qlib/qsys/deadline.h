#pragma once
// Time limits of the waits in this layer. A timeout is a count of milliseconds, k_infinite
// waits without limit (INFINITE of the wait functions this layer stands in for). Deadline
// turns a timeout into a point on the monotonic clock once, so that retried waits (after
// EINTR or a spurious wake-up) do not extend it. WaitStatus is the result of every wait.
//
// Deadline is a value type; safe to copy between threads.

#include <time.h>

#include <chrono>
#include <cstdint>

namespace qsys {

constexpr std::chrono::milliseconds k_infinite = std::chrono::milliseconds::max();

enum class WaitStatus {
    Signaled,   // the object was acquired (WAIT_OBJECT_0)
    Abandoned,  // a mutex whose owner ended without releasing it was acquired (WAIT_ABANDONED)
    TimedOut,   // the time limit passed first (WAIT_TIMEOUT)
};

// 0xFFFFFFFF (INFINITE) -> k_infinite; any other count of milliseconds as it is.
std::chrono::milliseconds TimeoutFromMilliseconds(uint32_t milliseconds);

class Deadline {
public:
    using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC on Linux

    static Deadline After(std::chrono::milliseconds timeout);

    bool IsInfinite() const { return m_infinite; }
    bool HasPassed() const { return !m_infinite && Clock::now() >= m_when; }
    // Only meaningful when not infinite.
    Clock::time_point When() const { return m_when; }
    // The deadline as an absolute CLOCK_MONOTONIC time, for clock_nanosleep / sem_clockwait.
    timespec AsMonotonicTimespec() const;
    // The earlier of this deadline and `now + limit`.
    Clock::time_point NoLaterThan(std::chrono::milliseconds limit) const;

private:
    Deadline(bool infinite, Clock::time_point when) : m_infinite(infinite), m_when(when) {}

    bool m_infinite;
    Clock::time_point m_when;
};

}  // namespace qsys
