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
// Ownership: an item owns its container through a counted reference; callers may keep the
// container beyond the item. Threads: any thread may call any method; m_lock guards the
// property maps and m_nextOrder. Values are copied out, and replaced values released, outside
// the lock, so no foreign object is called while it is held.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "qlib/qcom/comdispatchimpl.h"
#include "qlib/qcom/comobjectbase.h"
#include "qlib/qcom/comsupporterrorinfoimpl.h"
#include "vtranscoder/vitemsinterfaces.h"

// One property: what the enumerator reports.
struct SVProperty {
    std::wstring name;
    std::wstring uri;
    LONG kind = EVPropertyKind_None;
    VARIANT value;
};

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

private:
    using Key = std::pair<std::wstring, std::wstring>;  // name, namespace URI

    // The namespace a by-name kind stands for; nullopt for a kind that stands for none.
    static std::optional<std::wstring> NamespaceOfByNameKind(LONG kind);

    HRESULT Store(Key key, const VARIANT& value);
    HRESULT Load(const Key& key, VARIANT* value) const;
    bool Contains(const Key& key) const;

    mutable std::mutex m_lock;
    std::map<Key, uint64_t> m_orderOf;            // key -> first-set order; guarded by m_lock
    std::map<uint64_t, SVProperty> m_properties;  // by first-set order; guarded by m_lock
    uint64_t m_nextOrder = 0;                     // guarded by m_lock
};
