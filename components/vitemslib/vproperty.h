#pragma once
// CVProperty: one property as the enumerator hands it out: name, namespace URI, kind and value,
// fixed when it is made (a later change of the container does not show here).
//
// Immutable after construction, so any thread may call it.

#include "components/vitemslib/vproperties.h"

class CVProperty final : public CComObjectBase<IVProperty> {
public:
    static constexpr ComAggregation k_aggregation = ComAggregation::Refused;

    explicit CVProperty(SVProperty property) : m_property(std::move(property)) {}

    HRESULT GetName(BSTR* name) override;
    HRESULT GetNamespace(BSTR* uri) override;
    HRESULT GetKind(LONG* kind) override;
    HRESULT GetValue(VARIANT* value) override;

private:
    const SVProperty m_property;
};
