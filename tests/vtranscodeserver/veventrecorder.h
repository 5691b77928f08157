#pragma once
// CEventRecorder: a client's event sink for the service's tests. It records every event it
// receives (the properties of the event item, in order) and lets the test wait for events,
// which arrive on the event library's delivery threads. k_patience bounds every wait; it is
// never reached when all is well.
//
// Any thread may deliver; m_lock guards m_events.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "components/veventlib/veventsinkdispatch.h"
#include "qlib/qcom/comobjectbase.h"

inline constexpr auto k_patience = std::chrono::seconds(120);

// One event as a client received it: its properties in order.
struct SEvent {
    std::vector<std::wstring> names;
    std::map<std::wstring, VARIANT> values;

    LONG Type() const;
    // "ItemID", when present.
    std::optional<LONG> ItemId() const;
    bool Has(const wchar_t* name) const { return values.contains(name); }
};

class CEventRecorder final : public CComObjectBase<CVEventSinkDispatch> {
public:
    // (type, job id or 0 for none), the way expectations are written.
    using Step = std::pair<LONG, LONG>;

    // A recorder advised on the connection point of `source`.
    static CComPtr<CEventRecorder> AdviseOn(IUnknown* source);

    std::vector<SEvent> Events();
    std::vector<Step> Steps();
    // Waits until `count` events arrived.
    bool WaitForCount(size_t count);
    // Waits until an event of that type (and job id, when not 0) arrived.
    bool WaitFor(LONG type, LONG jobId = 0);

protected:
    void* QueryAdditionalInterface(REFIID iid) override { return SinkFor(iid); }
    HRESULT HandleEvent(IUnknown* received) override;

private:
    std::mutex m_lock;
    std::condition_variable m_arrived;
    std::vector<SEvent> m_events;  // guarded by m_lock
};
