#include "qlib/qcom/comconnectionpoint.h"

#include <utility>

CComConnectionPointImpl::~CComConnectionPointImpl() = default;

HRESULT CComConnectionPointImpl::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (iid != IID_IUnknown && iid != IID_IConnectionPoint) {
        return E_NOINTERFACE;
    }
    *object = static_cast<void*>(static_cast<IConnectionPoint*>(this));
    AddRef();
    return S_OK;
}

HRESULT CComConnectionPointImpl::GetConnectionInterface(IID* iid) {
    if (iid == nullptr) {
        return E_POINTER;
    }
    *iid = m_iid;
    return S_OK;
}

HRESULT CComConnectionPointImpl::GetConnectionPointContainer(
    IConnectionPointContainer** container) {
    if (container == nullptr) {
        return E_POINTER;
    }
    *container = &m_container;
    m_container.AddRef();
    return S_OK;
}

HRESULT CComConnectionPointImpl::AddSink(CComPtr<IUnknown> sink, DWORD* cookie) {
    std::lock_guard lock(m_lock);
    while (m_nextCookie == 0 || m_sinks.contains(m_nextCookie)) {
        ++m_nextCookie;
    }
    const DWORD assigned = m_nextCookie++;
    m_sinks.emplace(assigned, std::move(sink));
    *cookie = assigned;
    return S_OK;
}

HRESULT CComConnectionPointImpl::Unadvise(DWORD cookie) {
    CComPtr<IUnknown> released;  // declared first: the sink goes after the lock is let go
    std::lock_guard lock(m_lock);
    const auto connection = m_sinks.find(cookie);
    if (connection == m_sinks.end()) {
        return CONNECT_E_NOCONNECTION;
    }
    released = std::move(connection->second);
    m_sinks.erase(connection);
    return S_OK;
}

std::vector<CComPtr<IUnknown>> CComConnectionPointImpl::SinkSnapshot() const {
    std::lock_guard lock(m_lock);
    std::vector<CComPtr<IUnknown>> sinks;
    sinks.reserve(m_sinks.size());
    for (const auto& [cookie, sink] : m_sinks) {
        sinks.push_back(sink);
    }
    return sinks;
}

HRESULT CComConnectionPointImpl::EnumConnections(std::vector<CONNECTDATA>* connections) {
    if (connections == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(m_lock);
    connections->clear();
    for (const auto& [cookie, sink] : m_sinks) {
        connections->push_back({sink, cookie});
    }
    return S_OK;
}
