#include "components/vtranscoderlib/helper/vprogressreporter.h"

#include <unistd.h>

#include <cerrno>

void CVProgressReporter::Send(const CVHelperMessage& message) {
    std::string line = message.Format();
    size_t written = 0;
    while (written < line.size()) {
        ssize_t count = write(m_fd, line.data() + written, line.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return;  // no reader: the parent has gone and will not read a result either
        }
        written += static_cast<size_t>(count);
    }
}

bool CVProgressReporter::IntervalPassed() {
    auto now = std::chrono::steady_clock::now();
    if (now - m_lastSent < k_interval) {
        return false;
    }
    m_lastSent = now;
    return true;
}

void CVProgressReporter::Progress(int64_t position, int64_t duration, int64_t frames) {
    if ((position <= m_lastPosition && frames <= m_lastFrames) || !IntervalPassed()) {
        return;
    }
    m_lastPosition = position;
    m_lastFrames = frames;
    Send(CVHelperMessage(CVHelperMessage::k_progress)
             .Set("pos", position)
             .Set("dur", duration)
             .Set("frames", frames));
}

void CVProgressReporter::Alive(int64_t bytes) {
    if (IntervalPassed()) {
        Send(CVHelperMessage(CVHelperMessage::k_alive).Set("bytes", bytes));
    }
}
