#include "components/vitemslib/vproperties.h"

#include <algorithm>
#include <new>
#include <utility>

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
    return Load(name, uri, value);
}

HRESULT CVProperties::SetValue(BSTR name, BSTR uri, const VARIANT& value) {
    return Store(std::move(name), std::move(uri), value);
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
    return Catch([&] {
        std::optional<SVProperty> removed;  // released after the lock is let go
        const std::lock_guard lock(m_lock);
        const std::optional<size_t> position = Find(name, uri);
        if (position) {
            removed = std::move(m_properties[*position]);
            m_properties.erase(m_properties.begin() + static_cast<ptrdiff_t>(*position));
            Unindex(*position);
        }
    });
}

HRESULT CVProperties::HasValue(BSTR name, BSTR uri, VARIANT_BOOL* present) {
    if (present == nullptr) {
        return E_POINTER;
    }
    const std::lock_guard lock(m_lock);
    *present = ToVariantBool(Find(name, uri).has_value());
    return S_OK;
}

HRESULT CVProperties::GetValueByName(BSTR name, LONG kind, VARIANT* value) {
    const std::optional<std::wstring_view> uri = NamespaceOfByNameKind(kind);
    if (!uri) {
        return E_INVALIDARG;
    }
    return Load(name, *uri, value);
}

HRESULT CVProperties::SetValueByName(BSTR name, const VARIANT& value, LONG kind) {
    const std::optional<std::wstring_view> uri = NamespaceOfByNameKind(kind);
    if (!uri) {
        return E_INVALIDARG;
    }
    return Store(std::move(name), *uri, value);
}

HRESULT CVProperties::HasValueByName(BSTR name, VARIANT_BOOL* present) {
    if (present == nullptr) {
        return E_POINTER;
    }
    const std::lock_guard lock(m_lock);
    *present = ToVariantBool(
        std::any_of(m_properties.begin(), m_properties.end(),
                    [&](const SVProperty& property) { return property.name == name; }));
    return S_OK;
}

std::vector<SVProperty> CVProperties::Snapshot() const {
    const std::lock_guard lock(m_lock);
    return m_properties;
}

std::optional<std::wstring_view> CVProperties::NamespaceOfByNameKind(LONG kind) {
    const std::wstring_view uri = NamespaceOfKind(kind);
    if (uri.empty() && kind != EVPropertyKind_None) {
        return std::nullopt;
    }
    return uri;
}

CVProperties::Key CVProperties::SKeyOrder::KeyOf(size_t position) const {
    const SVProperty& property = (*properties)[position];
    return {property.name, property.uri};
}

template <class Uri>
HRESULT CVProperties::Store(std::wstring name, Uri&& uri, const VARIANT& value) {
    if (name.empty()) {
        return E_INVALIDARG;
    }
    return Catch([&] {
        // Made before the lock is taken; after a swap it holds the old value, which is released
        // outside the lock.
        SVProperty property{std::move(name), std::wstring(std::forward<Uri>(uri)),
                            EVPropertyKind_None, value};
        property.kind = KindOf(property.uri);
        const std::lock_guard lock(m_lock);
        MakeRoom(1);
        Put(property);
    });
}

HRESULT CVProperties::Fill(std::vector<SVProperty>& properties) {
    if (std::any_of(properties.begin(), properties.end(),
                    [](const SVProperty& property) { return property.name.empty(); })) {
        return E_INVALIDARG;
    }
    return Catch([&] {
        for (SVProperty& property : properties) {
            property.kind = KindOf(property.uri);
        }
        const bool adoptable = properties.size() < k_indexedFrom && AreDistinct(properties);
        const std::lock_guard lock(m_lock);
        if (adoptable && m_properties.empty()) {
            m_properties.swap(properties);  // a new item's properties, taken over as they stand
            return;
        }
        MakeRoom(properties.size());
        for (SVProperty& property : properties) {
            Put(property);
        }
    });
}

bool CVProperties::AreDistinct(const std::vector<SVProperty>& properties) {
    for (auto later = properties.begin(); later != properties.end(); ++later) {
        for (auto earlier = properties.begin(); earlier != later; ++earlier) {
            if (earlier->name == later->name && earlier->uri == later->uri) {
                return false;
            }
        }
    }
    return true;
}

LONG CVProperties::KindOf(std::wstring_view uri) {
    // Most properties have no namespace: that needs no comparing with each kind's.
    return uri.empty() ? EVPropertyKind_None : KindOfNamespace(uri);
}

void CVProperties::MakeRoom(size_t count) {
    const size_t needed = m_properties.size() + count;
    if (needed > m_properties.capacity()) {
        m_properties.reserve(std::max({needed, 2 * m_properties.capacity(), k_initialCapacity}));
    }
}

void CVProperties::Put(SVProperty& property) noexcept {
    if (const std::optional<size_t> position = Find(property.name, property.uri)) {
        std::swap(m_properties[*position].value, property.value);
        return;
    }
    m_properties.push_back(std::move(property));
    IndexLast();
}

HRESULT CVProperties::Load(std::wstring_view name, std::wstring_view uri, VARIANT* value) const {
    if (value == nullptr) {
        return E_POINTER;
    }
    return Catch([&] {
        VARIANT found;
        {
            const std::lock_guard lock(m_lock);
            if (const std::optional<size_t> position = Find(name, uri)) {
                found = m_properties[*position].value;
            }
        }
        *value = std::move(found);
    });
}

std::optional<size_t> CVProperties::Find(std::wstring_view name, std::wstring_view uri) const {
    if (m_index.empty()) {
        for (size_t position = 0; position < m_properties.size(); ++position) {
            const SVProperty& property = m_properties[position];
            if (property.name == name && property.uri == uri) {
                return position;
            }
        }
        return std::nullopt;
    }
    const auto found = m_index.find(Key{name, uri});
    return found != m_index.end() ? std::optional<size_t>(*found) : std::nullopt;
}

void CVProperties::IndexLast() noexcept {
    if (m_index.empty()) {
        if (m_properties.size() >= k_indexedFrom) {
            Reindex();
        }
        return;
    }
    try {
        m_index.insert(m_properties.size() - 1);
    } catch (const std::bad_alloc&) {
        m_index.clear();  // Find falls back to the linear search, which is always right
    }
}

void CVProperties::Unindex(size_t removed) noexcept {
    if (m_properties.size() < k_indexedFrom) {
        m_index.clear();
        return;
    }
    // The others keep their order; those past the removed one move down a place. The nodes are
    // moved over in that order, so nothing is allocated and each goes in at the end.
    std::set<size_t, SKeyOrder> shifted{SKeyOrder{&m_properties}};
    while (!m_index.empty()) {
        auto node = m_index.extract(m_index.begin());
        if (node.value() != removed) {
            node.value() -= node.value() > removed ? 1 : 0;
            shifted.insert(shifted.end(), std::move(node));
        }
    }
    m_index.swap(shifted);
}

void CVProperties::Reindex() noexcept {
    m_index.clear();
    if (m_properties.size() < k_indexedFrom) {
        return;
    }
    try {
        for (size_t position = 0; position < m_properties.size(); ++position) {
            m_index.insert(position);
        }
    } catch (const std::bad_alloc&) {
        m_index.clear();  // Find falls back to the linear search, which is always right
    }
}
