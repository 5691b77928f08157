#pragma once
// CVProperties: the property container of an item. A property is keyed by its name and its
// namespace URI (both compared exactly); its kind follows from the namespace (KindOfNamespace),
// so a property set by name with a kind is the same property the namespace-taking operations
// find in the namespace of that kind. The by-name operations take only the kinds that stand
// for a namespace or for none (0, 1, 14, 33); any other kind is E_INVALIDARG.
//
// Values are kept as given: strings and arrays are copied, objects are held by reference (a
// deep copy of an item is CVItemCopier's business). Properties keep the order in which they
// were first set; the enumerator walks a snapshot in that order.
//
// Storage: an item holds a handful of properties, so they live in one vector in order of first
// setting and are found by a linear search; from k_indexedFrom properties on (an item read from
// a peer may hold tens of thousands) an ordered index finds them instead, in logarithmic time
// whatever the names. Removing one moves those after it down a place: linear in their number.
//
// Ownership: an item owns its container through a counted reference; callers may keep the
// container beyond the item. Threads: any thread may call any method; m_lock guards
// m_properties and m_index. Values are copied out, and replaced values released, outside the
// lock, so no foreign object is called while it is held.

#include <cstddef>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "components/vitemslib/vitemfill.h"
#include "qlib/qcom/comdispatchimpl.h"
#include "qlib/qcom/comobjectbase.h"
#include "qlib/qcom/comsupporterrorinfoimpl.h"

class CVProperties final : public CComObjectBase<CComDispatchImpl<IVProperties>,
                                                 CComSupportErrorInfoImpl<IVProperties>> {
public:
    static constexpr ComAggregation k_aggregation = ComAggregation::Refused;

    HRESULT GetCount(LONG* count) override;
    HRESULT GetValue(BSTR name, BSTR uri, VARIANT* value) override;
    HRESULT SetValue(BSTR name, BSTR uri, const VARIANT& value) override;
    HRESULT GetEnumerator(IVPropertyEnumerator** enumerator) override;
    HRESULT RemoveValue(BSTR name, BSTR uri) override;
    HRESULT HasValue(BSTR name, BSTR uri, VARIANT_BOOL* present) override;
    HRESULT GetValueByName(BSTR name, LONG kind, VARIANT* value) override;
    HRESULT SetValueByName(BSTR name, const VARIANT& value, LONG kind) override;
    HRESULT HasValueByName(BSTR name, VARIANT_BOOL* present) override;

    // Every property, in the order they were first set.
    std::vector<SVProperty> Snapshot() const;
    // Sets each property in order as SetValue does (the kinds follow from the namespaces),
    // taking them over; a replaced value is handed back in its place, to be released by the
    // caller. E_INVALIDARG, changing nothing, when one has no name.
    HRESULT Fill(std::vector<SVProperty>& properties);

private:
    using Key = std::pair<std::wstring_view, std::wstring_view>;  // name, namespace URI

    // Orders positions in a property vector by the name, then the namespace, of the property
    // there; a Key is found among them without making a property.
    struct SKeyOrder {
        using is_transparent = void;
        const std::vector<SVProperty>* properties;

        Key KeyOf(size_t position) const;
        Key KeyOf(const Key& key) const { return key; }
        bool operator()(const auto& left, const auto& right) const {
            return KeyOf(left) < KeyOf(right);
        }
    };

    // From this many properties on, lookups go through m_index.
    static constexpr size_t k_indexedFrom = 16;
    // Room made at the first property: what most items hold in all.
    static constexpr size_t k_initialCapacity = 8;

    // The namespace a by-name kind stands for (empty for EVPropertyKind_None); nullopt for a
    // kind the by-name operations refuse.
    static std::optional<std::wstring_view> NamespaceOfByNameKind(LONG kind);

    // Sets the property (uri: a std::wstring to take, or a view to copy).
    template <class Uri>
    HRESULT Store(std::wstring name, Uri&& uri, const VARIANT& value);
    // Whether no two of the properties share name and namespace (quadratic: for a few).
    static bool AreDistinct(const std::vector<SVProperty>& properties);
    // The kind of a property in namespace uri.
    static LONG KindOf(std::wstring_view uri);
    // Makes room for count more properties, so that appending them cannot fail half way.
    // Caller holds m_lock.
    void MakeRoom(size_t count);
    // Appends the property, or swaps its value with that of the one of its name and namespace.
    // Caller holds m_lock.
    void Put(SVProperty& property) noexcept;
    HRESULT Load(std::wstring_view name, std::wstring_view uri, VARIANT* value) const;
    // The position of the property in m_properties; nullopt when missing. An empty m_index
    // means a linear search. Caller holds m_lock.
    std::optional<size_t> Find(std::wstring_view name, std::wstring_view uri) const;
    // Brings m_index up to date after a property was appended. Caller holds m_lock.
    void IndexLast() noexcept;
    // Brings m_index up to date after the property at position removed was taken out of
    // m_properties. Caller holds m_lock.
    void Unindex(size_t removed) noexcept;
    // Indexes every property when there are at least k_indexedFrom, else drops the index;
    // without the memory for it the index stays empty. Caller holds m_lock.
    void Reindex() noexcept;

    mutable std::mutex m_lock;
    std::vector<SVProperty> m_properties;  // in order of first setting; guarded by m_lock
    // Positions in m_properties ordered by the name and namespace there, while there are at
    // least k_indexedFrom properties (empty otherwise); guarded by m_lock.
    std::set<size_t, SKeyOrder> m_index{SKeyOrder{&m_properties}};
};
