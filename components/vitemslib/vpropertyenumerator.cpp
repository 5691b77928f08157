#include "components/vitemslib/vpropertyenumerator.h"

#include "components/vitemslib/vproperty.h"
#include "qlib/qutilitylib/qcatch.h"

HRESULT CVPropertyEnumerator::Next(IVProperty** property) {
    if (property == nullptr) {
        return E_POINTER;
    }
    *property = nullptr;
    size_t index = 0;
    {
        const std::lock_guard lock(m_lock);
        if (m_next == m_properties.size()) {
            return S_FALSE;
        }
        index = m_next++;
    }
    return CQCatch::Interface(IVPropertyEnumerator::k_iid, CLSID_VItem, [&] {
        CComPtr<CVProperty> created;
        ThrowIfFailed(CreateComObject(&created, m_properties[index]));
        *property = created.Detach();
    });
}

HRESULT CVPropertyEnumerator::Reset() {
    const std::lock_guard lock(m_lock);
    m_next = 0;
    return S_OK;
}
