#pragma once
// CVPropertyEnumerator: walks a snapshot of a container's properties, taken when the container
// made it, in the order they were first set. Next hands out each property as a CVProperty.
//
// Any thread may call it; m_lock guards m_next (the snapshot is constant).

#include <mutex>
#include <vector>

#include "components/vitemslib/vproperties.h"

class CVPropertyEnumerator final : public CComObjectBase<IVPropertyEnumerator> {
public:
    static constexpr ComAggregation k_aggregation = ComAggregation::Refused;

    explicit CVPropertyEnumerator(std::vector<SVProperty> properties)
        : m_properties(std::move(properties)) {}

    HRESULT Next(IVProperty** property) override;
    HRESULT Reset() override;

private:
    const std::vector<SVProperty> m_properties;
    std::mutex m_lock;
    size_t m_next = 0;  // guarded by m_lock
};
