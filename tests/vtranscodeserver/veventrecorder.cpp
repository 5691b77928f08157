#include "tests/vtranscodeserver/veventrecorder.h"

#include <stdexcept>

#include "qlib/qcom/comcall.h"
#include "qlib/qcom/connectionpoint.h"
#include "vtranscoder/vitemsinterfaces.h"
#include "vtranscodeserver/vtranscodeserviceevent.h"

LONG SEvent::Type() const {
    return values.at(CVTranscodeServiceEvent::k_type).Get<int32_t>();
}

std::optional<LONG> SEvent::ItemId() const {
    const auto found = values.find(CVTranscodeServiceEvent::k_itemId);
    return found == values.end() ? std::nullopt : std::optional<LONG>(found->second.Get<int32_t>());
}

CComPtr<CEventRecorder> CEventRecorder::AdviseOn(IUnknown* source) {
    CComPtr<IConnectionPointContainer> container;
    CComPtr<IConnectionPoint> point;
    CComPtr<CEventRecorder> recorder;
    DWORD cookie = 0;
    if (FAILED(CComPtr<IUnknown>(source).QueryInterface(&container)) ||
        FAILED(container->FindConnectionPoint(DIID_IVEventListener, &point)) ||
        FAILED(CreateComObject(&recorder)) ||
        FAILED(point->Advise(static_cast<IDispatch*>(recorder.Get()), &cookie))) {
        throw std::runtime_error("cannot listen to the service");
    }
    return recorder;
}

std::vector<SEvent> CEventRecorder::Events() {
    const std::lock_guard lock(m_lock);
    return m_events;
}

std::vector<CEventRecorder::Step> CEventRecorder::Steps() {
    std::vector<Step> steps;
    for (const SEvent& event : Events()) {
        steps.emplace_back(event.Type(), event.ItemId().value_or(0));
    }
    return steps;
}

bool CEventRecorder::WaitForCount(size_t count) {
    std::unique_lock lock(m_lock);
    return m_arrived.wait_for(lock, k_patience, [&] { return m_events.size() >= count; });
}

bool CEventRecorder::WaitFor(LONG type, LONG jobId) {
    std::unique_lock lock(m_lock);
    return m_arrived.wait_for(lock, k_patience, [&] {
        for (const SEvent& event : m_events) {
            if (event.Type() == type && (jobId == 0 || event.ItemId() == jobId)) {
                return true;
            }
        }
        return false;
    });
}

HRESULT CEventRecorder::HandleEvent(IUnknown* received) {
    SEvent event;
    CComPtr<IVItem> item;
    received->QueryInterface(IVItem::k_iid, item.Put());
    CComPtr<IVProperties> properties = ComCall(item.Get(), &IVItem::GetProperties);
    CComPtr<IVPropertyEnumerator> enumerator =
        ComCall(properties.Get(), &IVProperties::GetEnumerator);
    CComPtr<IVProperty> property;
    while (enumerator->Next(&property) == S_OK) {
        const std::wstring name = ComCall(property.Get(), &IVProperty::GetName);
        event.names.push_back(name);
        event.values[name] = ComCall(property.Get(), &IVProperty::GetValue);
    }
    const std::lock_guard lock(m_lock);
    m_events.push_back(std::move(event));
    m_arrived.notify_all();
    return S_OK;
}
