#include "components/veventlib/veventbacklog.h"

#include <utility>

void CVEventBacklog::Push(const VARIANT& event, bool isProgress) {
    if (isProgress && m_events.size() >= k_progressPressure) {
        if (m_events.back().isProgress) {
            m_events.back().event = event;
        }
        return;
    }
    m_events.push_back({event, isProgress});
}

CVEventBacklog::SEvent CVEventBacklog::Pop() {
    SEvent oldest = std::move(m_events.front());
    m_events.pop_front();
    return oldest;
}

std::deque<CVEventBacklog::SEvent> CVEventBacklog::TakeAll() {
    return std::exchange(m_events, {});
}
