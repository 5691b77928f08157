#pragma once
// CVProgressReporter: writes the helper's report (CVHelperMessage lines) to its pipe. Progress
// is sent only when the position or the frame count advanced, and at most four times a second,
// so that the parent's watchdog sees real progress and the pipe never fills; file information
// and the result go out at once. When the parent is gone the write fails with SIGPIPE, which
// ends the helper, as it should.
//
// Used by the helper's main thread only.

#include <chrono>
#include <cstdint>

#include "components/vtranscoderlib/vhelpermessage.h"

class CVProgressReporter {
public:
    static constexpr std::chrono::milliseconds k_interval{250};

    explicit CVProgressReporter(int fd) : m_fd(fd) {}

    // Writes the message now.
    void Send(const CVHelperMessage& message);
    // Positions in microseconds; source frames processed so far.
    void Progress(int64_t position, int64_t duration, int64_t frames);
    // The helper is busy finishing the file; bytes written so far.
    void Alive(int64_t bytes);

private:
    bool IntervalPassed();

    int m_fd;
    std::chrono::steady_clock::time_point m_lastSent{};
    int64_t m_lastPosition = -1;
    int64_t m_lastFrames = -1;
};
