#include "vtranscodeserver/vitemmediadescription.h"

#include "qlib/qcom/comcall.h"

namespace {

constexpr const wchar_t* k_itemType = L"ItemType";

}  // namespace

CVItemMediaDescription::CVItemMediaDescription(IVItem* item)
    : m_item(item), m_properties(ComCall(item, &IVItem::GetProperties)) {}

std::wstring CVItemMediaDescription::GetClassName() const {
    return ComCall(m_item.Get(), &IVItem::GetClassName);
}

std::optional<std::wstring> CVItemMediaDescription::GetMIMEType() const {
    if (ComCall(m_properties.Get(), &IVProperties::HasValueByName, k_itemType) != VARIANT_TRUE) {
        return std::nullopt;
    }
    VARIANT value = ComCall(m_properties.Get(), &IVProperties::GetValueByName, k_itemType,
                            LONG{EVPropertyKind_Metadata});
    if (value.Vt() == VT_EMPTY) {
        value = ComCall(m_properties.Get(), &IVProperties::GetValue, k_itemType, L"");
    }
    if (value.Vt() != VT_BSTR && FAILED(value.ChangeType(VT_BSTR))) {
        return std::wstring();
    }
    return value.Get<BSTR>();
}

VARIANT CVItemMediaDescription::GetValue(std::wstring_view name, std::wstring_view uri) const {
    return ComCall(m_properties.Get(), &IVProperties::GetValue, std::wstring(name),
                   std::wstring(uri));
}
