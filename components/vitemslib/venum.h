#pragma once
// CVEnum: an ordered enumeration of items. Append takes a VARIANT holding an item (VT_DISPATCH
// or VT_UNKNOWN of an object answering IVItem; anything else is DISP_E_TYPEMISMATCH). GetItem
// takes a zero-based index of any integer or floating-point type (VT_I1 ... VT_UI8, VT_INT,
// VT_UINT, VT_R4, VT_R8) and answers the item as VT_DISPATCH; an index outside 0..count-1 is
// DISP_E_BADINDEX, an index of another type DISP_E_TYPEMISMATCH.
//
// Holds a counted reference to each item. Any thread may call it; m_lock guards m_items.

#include <mutex>
#include <optional>
#include <vector>

#include "qlib/qcom/comdispatchimpl.h"
#include "qlib/qcom/comobjectbase.h"
#include "qlib/qcom/comsupporterrorinfoimpl.h"
#include "vtranscoder/vitemsinterfaces.h"

class CVEnum final
    : public CComObjectBase<CComDispatchImpl<IVEnum>, CComSupportErrorInfoImpl<IVEnum>> {
public:
    static constexpr ComAggregation k_aggregation = ComAggregation::Refused;

    HRESULT GetItem(const VARIANT& index, VARIANT* item) override;
    HRESULT Append(const VARIANT& item, const VARIANT& reserved) override;
    HRESULT GetCount(LONG* count) override;

private:
    // The index a VARIANT stands for; nullopt when it is of no numeric type.
    static std::optional<LONGLONG> IndexOf(const VARIANT& index);

    mutable std::mutex m_lock;
    std::vector<CComPtr<IVItem>> m_items;  // guarded by m_lock
};
