#include "tests/components/veventlib/veventtestsupport.h"

#include <algorithm>

#include "components/vitemslib/vitemslib.h"
#include "qlib/qutilitylib/qcomutilities.h"

namespace {

// The integer property of an event item; -1 when it has none.
LONG PropertyOf(IUnknown* event, const wchar_t* name, const wchar_t* uri) {
    CComPtr<IVItem> item;
    CComPtr<IVProperties> properties;
    VARIANT value;
    if (FAILED(CComPtr<IUnknown>(event).QueryInterface(&item)) ||
        FAILED(item->GetProperties(&properties)) ||
        FAILED(properties->GetValue(name, uri, &value)) || value.Vt() != VT_I4) {
        return -1;
    }
    return value.Get<LONG>();
}

}  // namespace

void CGate::Open() {
    {
        std::lock_guard lock(m_lock);
        m_open = true;
    }
    m_opened.notify_all();
}

bool CGate::Wait() {
    std::unique_lock lock(m_lock);
    return m_opened.wait_for(lock, k_patience, [&] { return m_open; });
}

bool CGate::IsOpen() {
    std::lock_guard lock(m_lock);
    return m_open;
}

// Lives as long as the event item that holds it.
class CTestEvent::CLiveToken final : public CComObjectBase<IUnknown> {
public:
    CLiveToken() {
        const int alive = ++s_alive;
        int peak = s_peak;
        while (alive > peak && !s_peak.compare_exchange_weak(peak, alive)) {
        }
    }
    ~CLiveToken() override { --s_alive; }
};

CComPtr<IUnknown> CTestEvent::Make(LONG type, LONG sequence) {
    CVItemsLib::RegisterClasses();
    const CComPtr<IVItem> item = CQCOMUtils::CreateObject<IVItem>(CLSID_VItem, k_itemDisplayName);
    CComPtr<IVProperties> properties;
    ThrowIfFailed(item->GetProperties(&properties));
    CComPtr<CLiveToken> token;
    ThrowIfFailed(CreateComObject(&token));
    ThrowIfFailed(properties->SetValueByName(L"Type", VARIANT(type), EVPropertyKind_Transcode));
    ThrowIfFailed(properties->SetValueByName(L"Sequence", VARIANT(sequence), EVPropertyKind_None));
    ThrowIfFailed(properties->SetValue(L"Token", L"", VARIANT(token->GetUnknown())));
    return CComPtr<IUnknown>(item);
}

LONG CTestEvent::SequenceOf(IUnknown* event) {
    return PropertyOf(event, L"Sequence", L"");
}

LONG CTestEvent::TypeOf(IUnknown* event) {
    return PropertyOf(event, L"Type", k_transcodeNamespace);
}

CComPtr<CRecordingSink> CRecordingSink::Make(Behaviour behaviour) {
    CComPtr<CRecordingSink> sink;
    ThrowIfFailed(CreateComObject(&sink));
    sink->m_behaviour = std::move(behaviour);
    return sink;
}

HRESULT CRecordingSink::HandleEvent(IUnknown* event) {
    const SReceived received{CTestEvent::TypeOf(event), CTestEvent::SequenceOf(event)};
    const HRESULT hr = m_behaviour ? m_behaviour(received) : S_OK;
    {
        std::lock_guard lock(m_lock);
        m_received.push_back(received);
    }
    m_arrived.notify_all();
    return hr;
}

std::vector<CRecordingSink::SReceived> CRecordingSink::Received() {
    std::lock_guard lock(m_lock);
    return m_received;
}

bool CRecordingSink::WaitForCount(std::size_t count) {
    return WaitUntil([&] { return m_received.size() >= count; });
}

bool CRecordingSink::WaitForSequence(LONG sequence) {
    return WaitUntil([&] {
        return std::any_of(m_received.begin(), m_received.end(),
                           [&](const SReceived& event) { return event.sequence == sequence; });
    });
}

bool CRecordingSink::WaitUntil(const std::function<bool()>& done) {
    std::unique_lock lock(m_lock);
    return m_arrived.wait_for(lock, k_patience, done);
}

CComPtr<CTestSource> CTestSource::Make() {
    CComPtr<CTestSource> source;
    ThrowIfFailed(CreateComObject(&source));
    return source;
}
