#include "qlib/qcom/comobjectbase.h"

namespace {
// The count an object is given while it is being destroyed, so that references FinalRelease
// adds and drops again cannot bring it to zero a second time.
constexpr ULONG k_destroyingCount = 1u << 30;
}  // namespace

CComObjectBaseImpl::~CComObjectBaseImpl() = default;

ULONG CComObjectBaseImpl::InternalAddRef() {
    return m_references.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG CComObjectBaseImpl::InternalRelease() {
    const ULONG count = m_references.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count == 0) {
        m_references.store(k_destroyingCount, std::memory_order_relaxed);
        FinalRelease();
        delete this;
    }
    return count;
}

HRESULT CComObjectBaseImpl::InternalQueryInterface(REFIID iid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (m_outer != nullptr && iid == IID_IUnknown) {
        *object = static_cast<void*>(static_cast<IUnknown*>(&m_inner));
        InternalAddRef();
        return S_OK;
    }
    void* found = FindInterface(iid);
    if (found == nullptr) {
        return E_NOINTERFACE;
    }
    // The reference belongs to the interface handed out, whose AddRef goes to the outer object
    // when there is one.
    ExternalAddRef();
    *object = found;
    return S_OK;
}

ULONG CComObjectBaseImpl::ExternalAddRef() {
    return m_outer != nullptr ? m_outer->AddRef() : InternalAddRef();
}

ULONG CComObjectBaseImpl::ExternalRelease() {
    return m_outer != nullptr ? m_outer->Release() : InternalRelease();
}

HRESULT CComObjectBaseImpl::ExternalQueryInterface(REFIID iid, void** object) {
    return m_outer != nullptr ? m_outer->QueryInterface(iid, object)
                              : InternalQueryInterface(iid, object);
}

HRESULT CComObjectBaseImpl::Construct() {
    InternalAddRef();
    HRESULT hr = S_OK;
    try {
        hr = FinalConstruct();
    } catch (...) {
        hr = HResultFromCurrentException();
    }
    if (FAILED(hr)) {
        InternalRelease();
    }
    return hr;
}

HRESULT CComObjectBaseImpl::ConstructAndQuery(IUnknown* outer, REFIID iid, void** result) {
    m_outer = outer;
    HRESULT hr = Construct();
    if (FAILED(hr)) {
        return hr;
    }
    hr = InternalQueryInterface(iid, result);
    InternalRelease();
    return hr;
}

HRESULT CComObjectBaseImpl::InnerUnknown::QueryInterface(REFIID iid, void** object) {
    return m_owner.InternalQueryInterface(iid, object);
}

ULONG CComObjectBaseImpl::InnerUnknown::AddRef() {
    return m_owner.InternalAddRef();
}

ULONG CComObjectBaseImpl::InnerUnknown::Release() {
    return m_owner.InternalRelease();
}
