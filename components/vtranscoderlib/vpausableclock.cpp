#include "components/vtranscoderlib/vpausableclock.h"

CVPausableClock::CVPausableClock() : m_runningSince(Clock::now()) {}

bool CVPausableClock::Pause() {
    std::lock_guard lock(m_mutex);
    if (m_paused) {
        return false;
    }
    m_accumulated += Clock::now() - m_runningSince;
    m_paused = true;
    return true;
}

bool CVPausableClock::Resume() {
    std::lock_guard lock(m_mutex);
    if (!m_paused) {
        return false;
    }
    m_runningSince = Clock::now();
    m_paused = false;
    return true;
}

bool CVPausableClock::IsPaused() const {
    std::lock_guard lock(m_mutex);
    return m_paused;
}

CVPausableClock::Clock::duration CVPausableClock::Elapsed() const {
    std::lock_guard lock(m_mutex);
    return m_paused ? m_accumulated : m_accumulated + (Clock::now() - m_runningSince);
}
