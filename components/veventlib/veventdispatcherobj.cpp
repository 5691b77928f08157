#include "components/veventlib/veventdispatcherobj.h"

#include <utility>

#include "qlib/qutilitylib/qcatch.h"
#include "vtranscoder/vitemsinterfaces.h"

namespace {

constexpr LONG k_progressEventType = 4;

}  // namespace

HRESULT CVEventDispatcherObj::Advise(IUnknown* sink, ULONG cookie) {
    if (sink == nullptr) {
        return E_POINTER;
    }
    if (cookie == 0) {
        return E_INVALIDARG;
    }
    void* raw = nullptr;
    if (FAILED(sink->QueryInterface(DIID_IVEventListener, &raw)) || raw == nullptr) {
        return CONNECT_E_CANNOTCONNECT;
    }
    CComPtr<IDispatch> listener;
    listener.Attach(static_cast<IDispatch*>(raw));
    return CQCatch::Interface(IVEventDispatcher::k_iid, CLSID_VEventDispatcher, [&] {
        std::shared_ptr<CVEventSinkChannel> channel =
            CVEventSinkChannel::Start(cookie, std::move(listener));
        bool added = false;
        {
            std::lock_guard lock(m_lock);
            added = m_channels.try_emplace(cookie, channel).second;
        }
        if (!added) {
            channel->Close();
            return E_INVALIDARG;
        }
        return S_OK;
    });
}

HRESULT CVEventDispatcherObj::Unadvise(ULONG cookie) {
    std::shared_ptr<CVEventSinkChannel> channel;
    {
        std::lock_guard lock(m_lock);
        const auto found = m_channels.find(cookie);
        if (found == m_channels.end()) {
            return CONNECT_E_NOCONNECTION;
        }
        channel = std::move(found->second);
        m_channels.erase(found);
    }
    channel->Close();
    return S_OK;
}

HRESULT CVEventDispatcherObj::DispatchEvent(const VARIANT& event) {
    IUnknown* object = event.Unknown();
    if (object == nullptr) {
        return E_INVALIDARG;
    }
    return CQCatch::Interface(IVEventDispatcher::k_iid, CLSID_VEventDispatcher, [&] {
        const bool isProgress = IsProgressEvent(object);
        bool wake = false;
        {
            std::lock_guard lock(m_inboundLock);
            m_inbound.Push(event, isProgress);
            wake = m_fanOutWaiting;
        }
        if (wake) {
            m_accepted.notify_one();
        }
    });
}

HRESULT CVEventDispatcherObj::FinalConstruct() {
    m_fanOut = std::thread([this] { FanOut(); });  // a failure fails the creation
    return S_OK;
}

void CVEventDispatcherObj::FinalRelease() noexcept {
    {
        std::lock_guard lock(m_inboundLock);
        m_stopping = true;
    }
    m_accepted.notify_one();
    if (m_fanOut.joinable()) {  // not when FinalConstruct failed
        m_fanOut.join();
    }
    std::map<ULONG, std::shared_ptr<CVEventSinkChannel>> channels;
    {
        std::lock_guard lock(m_lock);
        channels.swap(m_channels);
    }
    for (const auto& [cookie, channel] : channels) {
        channel->Close();
    }
}

void CVEventDispatcherObj::FanOut() {
    for (std::deque<CVEventBacklog::SEvent> accepted = TakeAccepted(); !accepted.empty();
         accepted = TakeAccepted()) {
        std::lock_guard lock(m_lock);
        for (const CVEventBacklog::SEvent& event : accepted) {
            for (const auto& [cookie, channel] : m_channels) {
                channel->Post(event.event, event.isProgress);
            }
        }
    }
}

std::deque<CVEventBacklog::SEvent> CVEventDispatcherObj::TakeAccepted() {
    std::unique_lock lock(m_inboundLock);
    m_fanOutWaiting = true;
    m_accepted.wait(lock, [&] { return m_stopping || !m_inbound.Empty(); });
    m_fanOutWaiting = false;
    return m_stopping ? std::deque<CVEventBacklog::SEvent>{} : m_inbound.TakeAll();
}

bool CVEventDispatcherObj::IsProgressEvent(IUnknown* event) {
    CComPtr<IVItem> item;
    if (FAILED(CComPtr<IUnknown>(event).QueryInterface(&item))) {
        return false;
    }
    CComPtr<IVProperties> properties;
    if (FAILED(item->GetProperties(&properties)) || !properties) {
        return false;
    }
    VARIANT type;
    if (FAILED(properties->GetValue(L"Type", k_transcodeNamespace, &type)) ||
        FAILED(type.ChangeType(VT_I4))) {
        return false;
    }
    return type.Get<LONG>() == k_progressEventType;
}
