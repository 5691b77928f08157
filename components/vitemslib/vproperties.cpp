#include "components/vitemslib/vproperties.h"

#include "components/vitemslib/vpropertyenumerator.h"
#include "qlib/qutilitylib/qcatch.h"

namespace {

HRESULT Catch(auto&& body, const std::source_location& location = std::source_location::current()) {
    return CQCatch::Interface(IVProperties::k_iid, CLSID_VItem, body, location);
}

}  // namespace

HRESULT CVProperties::GetCount(LONG* count) {
    if (count == nullptr) {
        return E_POINTER;
    }
    const std::lock_guard lock(m_lock);
    *count = static_cast<LONG>(m_properties.size());
    return S_OK;
}

HRESULT CVProperties::GetValue(BSTR name, BSTR uri, VARIANT* value) {
    return Load({std::move(name), std::move(uri)}, value);
}

HRESULT CVProperties::SetValue(BSTR name, BSTR uri, const VARIANT& value) {
    return Store({std::move(name), std::move(uri)}, value);
}

HRESULT CVProperties::GetEnumerator(IVPropertyEnumerator** enumerator) {
    if (enumerator == nullptr) {
        return E_POINTER;
    }
    *enumerator = nullptr;
    return Catch([&] {
        CComPtr<CVPropertyEnumerator> created;
        ThrowIfFailed(CreateComObject(&created, Snapshot()));
        *enumerator = created.Detach();
    });
}

HRESULT CVProperties::RemoveValue(BSTR name, BSTR uri) {
    std::optional<SVProperty> removed;  // released after the lock is let go
    const std::lock_guard lock(m_lock);
    const auto found = m_orderOf.find(Key{std::move(name), std::move(uri)});
    if (found != m_orderOf.end()) {
        const auto property = m_properties.find(found->second);
        removed = std::move(property->second);
        m_properties.erase(property);
        m_orderOf.erase(found);
    }
    return S_OK;
}

HRESULT CVProperties::HasValue(BSTR name, BSTR uri, VARIANT_BOOL* present) {
    if (present == nullptr) {
        return E_POINTER;
    }
    *present = ToVariantBool(Contains({std::move(name), std::move(uri)}));
    return S_OK;
}

HRESULT CVProperties::GetValueByName(BSTR name, LONG kind, VARIANT* value) {
    std::optional<std::wstring> uri = NamespaceOfByNameKind(kind);
    if (!uri) {
        return E_INVALIDARG;
    }
    return Load({std::move(name), std::move(*uri)}, value);
}

HRESULT CVProperties::SetValueByName(BSTR name, const VARIANT& value, LONG kind) {
    std::optional<std::wstring> uri = NamespaceOfByNameKind(kind);
    if (!uri) {
        return E_INVALIDARG;
    }
    return Store({std::move(name), std::move(*uri)}, value);
}

HRESULT CVProperties::HasValueByName(BSTR name, VARIANT_BOOL* present) {
    if (present == nullptr) {
        return E_POINTER;
    }
    const std::lock_guard lock(m_lock);
    // Keys are ordered by name first, and the empty namespace sorts first among them.
    const auto first = m_orderOf.lower_bound(Key{name, std::wstring()});
    *present = ToVariantBool(first != m_orderOf.end() && first->first.first == name);
    return S_OK;
}

std::vector<SVProperty> CVProperties::Snapshot() const {
    const std::lock_guard lock(m_lock);
    std::vector<SVProperty> properties;
    properties.reserve(m_properties.size());
    for (const auto& [order, property] : m_properties) {
        properties.push_back(property);
    }
    return properties;
}

std::optional<std::wstring> CVProperties::NamespaceOfByNameKind(LONG kind) {
    if (kind == EVPropertyKind_None) {
        return std::wstring();
    }
    const std::wstring_view uri = NamespaceOfKind(kind);
    if (uri.empty()) {
        return std::nullopt;
    }
    return std::wstring(uri);
}

HRESULT CVProperties::Store(Key key, const VARIANT& value) {
    if (key.first.empty()) {
        return E_INVALIDARG;
    }
    return Catch([&] {
        VARIANT replaced = value;  // after the swap: the old value, released outside the lock
        const std::lock_guard lock(m_lock);
        const auto found = m_orderOf.find(key);
        if (found != m_orderOf.end()) {
            std::swap(m_properties.at(found->second).value, replaced);
            return;
        }
        const LONG kind = KindOfNamespace(key.second);
        SVProperty property{key.first, key.second, kind, std::move(replaced)};
        m_properties.emplace(m_nextOrder, std::move(property));
        m_orderOf.emplace(std::move(key), m_nextOrder);
        ++m_nextOrder;
    });
}

HRESULT CVProperties::Load(const Key& key, VARIANT* value) const {
    if (value == nullptr) {
        return E_POINTER;
    }
    return Catch([&] {
        VARIANT found;
        {
            const std::lock_guard lock(m_lock);
            const auto order = m_orderOf.find(key);
            if (order != m_orderOf.end()) {
                found = m_properties.at(order->second).value;
            }
        }
        *value = std::move(found);
    });
}

bool CVProperties::Contains(const Key& key) const {
    const std::lock_guard lock(m_lock);
    return m_orderOf.contains(key);
}
