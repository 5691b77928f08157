#include "qlib/qcom/comclasstable.h"

#include <algorithm>
#include <utility>

CComClassTable& CComClassTable::Instance() {
    static CComClassTable s_table;
    return s_table;
}

HRESULT CComClassTable::Register(REFCLSID clsid, std::wstring displayName, IClassFactory* factory,
                                 DWORD context, DWORD* cookie) {
    if (factory == nullptr || cookie == nullptr) {
        return E_POINTER;
    }
    *cookie = 0;
    if ((context & CLSCTX_ALL) == 0) {
        return E_INVALIDARG;
    }
    std::lock_guard lock(m_lock);
    const DWORD assigned = m_nextCookie++;
    if (m_nextCookie == 0) {
        m_nextCookie = 1;
    }
    m_entries.push_back({assigned, clsid, std::move(displayName), context, factory});
    *cookie = assigned;
    return S_OK;
}

HRESULT CComClassTable::Revoke(DWORD cookie) {
    CComPtr<IClassFactory> released;
    {
        std::lock_guard lock(m_lock);
        const auto entry = std::find_if(m_entries.begin(), m_entries.end(),
                                        [&](const Entry& e) { return e.cookie == cookie; });
        if (entry == m_entries.end()) {
            return CO_E_OBJNOTREG;
        }
        released = std::move(entry->factory);
        m_entries.erase(entry);
    }
    return S_OK;
}

const CComClassTable::Entry* CComClassTable::FindNewest(REFCLSID clsid, DWORD context) const {
    const auto entry = std::find_if(m_entries.rbegin(), m_entries.rend(), [&](const Entry& e) {
        return e.clsid == clsid && (e.context & context) != 0;
    });
    return entry != m_entries.rend() ? &*entry : nullptr;
}

HRESULT CComClassTable::GetClassObject(REFCLSID clsid, DWORD context, REFIID iid,
                                       void** object) const {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    CComPtr<IClassFactory> factory;
    {
        std::lock_guard lock(m_lock);
        const Entry* entry = FindNewest(clsid, context);
        if (entry == nullptr) {
            return REGDB_E_CLASSNOTREG;
        }
        factory = entry->factory;
    }
    return factory->QueryInterface(iid, object);
}

HRESULT CComClassTable::GetDisplayName(REFCLSID clsid, std::wstring* name) const {
    if (name == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(m_lock);
    const Entry* entry = FindNewest(clsid, CLSCTX_ALL);
    if (entry == nullptr) {
        return REGDB_E_CLASSNOTREG;
    }
    *name = entry->displayName;
    return S_OK;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, REFIID iid, void** object) {
    return CComClassTable::Instance().GetClassObject(clsid, context, iid, object);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                         void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    CComPtr<IClassFactory> factory;
    const HRESULT hr = CoGetClassObject(clsid, context, IID_IClassFactory, factory.Put());
    if (FAILED(hr)) {
        return hr;
    }
    return factory->CreateInstance(outer, iid, object);
}
