#include "components/vitemslib/vproperty.h"

#include "qlib/qutilitylib/qcatch.h"

HRESULT CVProperty::GetName(BSTR* name) {
    if (name == nullptr) {
        return E_POINTER;
    }
    return CQCatch::Interface(IVProperty::k_iid, CLSID_VItem, [&] { *name = m_property.name; });
}

HRESULT CVProperty::GetNamespace(BSTR* uri) {
    if (uri == nullptr) {
        return E_POINTER;
    }
    return CQCatch::Interface(IVProperty::k_iid, CLSID_VItem, [&] { *uri = m_property.uri; });
}

HRESULT CVProperty::GetKind(LONG* kind) {
    if (kind == nullptr) {
        return E_POINTER;
    }
    *kind = m_property.kind;
    return S_OK;
}

HRESULT CVProperty::GetValue(VARIANT* value) {
    if (value == nullptr) {
        return E_POINTER;
    }
    return CQCatch::Interface(IVProperty::k_iid, CLSID_VItem, [&] { *value = m_property.value; });
}
