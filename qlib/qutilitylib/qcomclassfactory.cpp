#include "qlib/qutilitylib/qcomclassfactory.h"

#include <utility>

#include "qlib/qcom/comclasstable.h"
#include "qlib/qcom/errorinfo.h"
#include "qlib/qutilitylib/qcatch.h"

CQCOMClassFactory::CQCOMClassFactory(const CLSID& clsid, std::wstring displayName)
    : m_clsid(clsid), m_displayName(std::move(displayName)) {}

CComPtr<IUnknown> CQCOMClassFactory::CreateObject() {
    return CQCatch::Internal([&] {
        const CComPtr<IClassFactory> factory = GetFactory();
        CComPtr<IUnknown> created;
        // Whatever error information the thread holds now is older than this call.
        ClearErrorInfo();
        if (const HRESULT hr = factory->CreateInstance(nullptr, IID_IUnknown, created.Put());
            FAILED(hr)) {
            CQCOMUtils::RaiseCreateFailure(hr, m_clsid, m_displayName);
        }
        return created;
    });
}

void CQCOMClassFactory::Clear() {
    std::map<CLSID, CComPtr<IClassFactory>> released;
    {
        std::lock_guard lock(m_lock);
        released.swap(m_factories);
    }
    // The class objects are released here, outside the lock.
}

CComPtr<IClassFactory> CQCOMClassFactory::GetFactory() {
    {
        std::lock_guard lock(m_lock);
        if (const auto kept = m_factories.find(m_clsid); kept != m_factories.end()) {
            return kept->second;
        }
    }
    CComPtr<IClassFactory> factory;
    ClearErrorInfo();
    if (const HRESULT hr =
            CoGetClassObject(m_clsid, CLSCTX_SERVER, IID_IClassFactory, factory.Put());
        FAILED(hr)) {
        CQCOMUtils::RaiseCreateFailure(hr, m_clsid, m_displayName);
    }
    std::lock_guard lock(m_lock);
    // Another thread may have kept one meanwhile: the first kept stays, so that all callers
    // share one class object.
    return m_factories.try_emplace(m_clsid, std::move(factory)).first->second;
}
