#include "qlib/qsys/event.h"

#include <algorithm>

namespace qsys {

Event::Event(EventReset reset, EventState initial)
    : m_reset(reset), m_signaled(initial == EventState::Signaled) {}

void Event::Set() {
    const std::lock_guard lock(m_guard);
    m_signaled = true;
    for (WaitWatcher* watcher : m_watchers) {
        watcher->Notify();
    }
}

void Event::Reset() {
    const std::lock_guard lock(m_guard);
    m_signaled = false;
}

bool Event::TryAcquire() {
    const std::lock_guard lock(m_guard);
    const bool signaled = m_signaled;
    if (m_reset == EventReset::Auto) {
        m_signaled = false;
    }
    return signaled;
}

void Event::AddWatcher(WaitWatcher& watcher) {
    const std::lock_guard lock(m_guard);
    m_watchers.push_back(&watcher);
}

void Event::RemoveWatcher(WaitWatcher& watcher) {
    const std::lock_guard lock(m_guard);
    std::erase(m_watchers, &watcher);
}

}  // namespace qsys
