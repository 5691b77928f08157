#include "components/vitemslib/vitem.h"

#include "components/vitemslib/vitemcopier.h"
#include "components/vitemslib/vitemtext.h"
#include "qlib/qutilitylib/qcatch.h"

template <class Body>
HRESULT CVItem::Catch(Body&& body, const std::source_location& location) {
    return CQCatch::Interface(IVItem::k_iid, CLSID_VItem, std::forward<Body>(body), location);
}

HRESULT CVItem::FinalConstruct() {
    return Catch([&] {
        m_guid = NewGuid();
        ThrowIfFailed(CreateComObject(&m_properties));
    });
}

HRESULT CVItem::GetText(const VARIANT& /*options*/, BSTR* text) {
    if (text == nullptr) {
        return E_POINTER;
    }
    return Catch([&] { *text = CVItemText().Dump(this); });
}

HRESULT CVItem::GetDataStoreName(BSTR* name) {
    if (name == nullptr) {
        return E_POINTER;
    }
    return Catch([&] {
        const std::lock_guard lock(m_lock);
        *name = m_dataStoreName;
    });
}

HRESULT CVItem::SetClassName(BSTR className) {
    return Catch([&] {
        const std::lock_guard lock(m_lock);
        m_className = std::move(className);
    });
}

HRESULT CVItem::GetGUID(BSTR* guid) {
    if (guid == nullptr) {
        return E_POINTER;
    }
    GUID value;
    {
        const std::lock_guard lock(m_lock);
        value = m_guid;
    }
    return Catch([&] { *guid = GuidToString(value); });
}

std::optional<GUID> CVItem::GuidOf(const std::wstring& text) {
    return text.empty() ? NewGuid() : GuidFromString(text);
}

HRESULT CVItem::SetGUID(BSTR guid) {
    const std::optional<GUID> parsed = GuidOf(guid);
    if (!parsed) {
        return E_INVALIDARG;
    }
    const std::lock_guard lock(m_lock);
    m_guid = *parsed;
    return S_OK;
}

HRESULT CVItem::GetClassName(BSTR* className) {
    if (className == nullptr) {
        return E_POINTER;
    }
    return Catch([&] {
        const std::lock_guard lock(m_lock);
        *className = m_className;
    });
}

HRESULT CVItem::SetDataStoreName(BSTR name) {
    return Catch([&] {
        const std::lock_guard lock(m_lock);
        m_dataStoreName = std::move(name);
    });
}

HRESULT CVItem::GetProperties(IVProperties** properties) {
    if (properties == nullptr) {
        return E_POINTER;
    }
    *properties = CComPtr<IVProperties>(m_properties).Detach();
    return S_OK;
}

HRESULT CVItem::Copy(const VARIANT& /*options*/, IVItem** copy) {
    if (copy == nullptr) {
        return E_POINTER;
    }
    *copy = nullptr;
    return Catch([&] { *copy = CVItemCopier().CopyItem(this).Detach(); });
}

HRESULT CVItem::Fill(BSTR guid, BSTR className, BSTR dataStoreName,
                     std::vector<SVProperty>&& properties) {
    const std::optional<GUID> parsed = GuidOf(guid);
    if (!parsed) {
        return E_INVALIDARG;
    }
    std::vector<SVProperty> taken = std::move(properties);  // replaced values go with it
    const HRESULT filled = m_properties->Fill(taken);
    if (FAILED(filled)) {
        return filled;
    }
    const std::lock_guard lock(m_lock);
    m_guid = *parsed;
    m_className = std::move(className);
    m_dataStoreName = std::move(dataStoreName);
    return S_OK;
}
