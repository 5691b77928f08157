#pragma once
// CVEventBacklog: events waiting in order, with the rule that keeps progress reports from
// piling up. A progress event pushed while k_progressPressure or more events wait replaces the
// newest waiting event when that is a progress event too (the latest progress wins) and is
// dropped otherwise; every other event is always queued. The caller decides what a long
// backlog of other events means (Size).
//
// A value type; its owner's lock guards it.

#include <cstddef>
#include <deque>

#include "qlib/qcom/variant.h"

class CVEventBacklog {
public:
    static constexpr std::size_t k_progressPressure = 32;

    struct SEvent {
        VARIANT event;  // holds the event object
        bool isProgress = false;
    };

    void Push(const VARIANT& event, bool isProgress);
    bool Empty() const { return m_events.empty(); }
    std::size_t Size() const { return m_events.size(); }
    // The oldest event, taken out; the backlog must not be empty.
    SEvent Pop();
    // Every waiting event, oldest first; the backlog is empty afterwards.
    std::deque<SEvent> TakeAll();

private:
    std::deque<SEvent> m_events;
};
