#include "components/vdatastorelib/vdsitemconverter.h"

#include "qlib/qcom/comcall.h"
#include "qlib/qutilitylib/qcomclassfactory.h"

namespace {

CQCOMClassFactory& ItemFactory() {
    static CQCOMClassFactory s_factory(CLSID_VItem, k_itemDisplayName);
    return s_factory;
}

CQCOMClassFactory& EnumFactory() {
    static CQCOMClassFactory s_factory(CLSID_VEnum, k_enumDisplayName);
    return s_factory;
}

SVDSProperty ReadProperty(IVProperty* property) {
    SVDSProperty read;
    read.name = ComCall(property, &IVProperty::GetName);
    read.uri = ComCall(property, &IVProperty::GetNamespace);
    read.kind = ComCall(property, &IVProperty::GetKind);
    read.value = ComCall(property, &IVProperty::GetValue);
    return read;
}

// A kind given without a namespace places the property in the namespace of that kind, as
// setting it by name with that kind does; a kind without a namespace of its own cannot be set
// that way.
void PlaceByKind(SVDSProperty& property) {
    if (property.uri.empty() && property.kind != EVPropertyKind_None) {
        const std::wstring_view uri = NamespaceOfKind(property.kind);
        if (uri.empty()) {
            throw _com_error(E_INVALIDARG);
        }
        property.uri = uri;
    }
}

}  // namespace

SVDSItemRecord CVDSItemConverter::FromItem(IVItem* item) {
    SVDSItemRecord record;
    record.guid = ComCall(item, &IVItem::GetGUID);
    record.className = ComCall(item, &IVItem::GetClassName);
    record.dataStoreName = ComCall(item, &IVItem::GetDataStoreName);
    CComPtr<IVProperties> properties = ComCall(item, &IVItem::GetProperties);
    CComPtr<IVPropertyEnumerator> enumerator =
        ComCall(properties.Get(), &IVProperties::GetEnumerator);
    for (;;) {
        CComPtr<IVProperty> property;
        const HRESULT hr = enumerator->Next(&property);
        ThrowIfFailed(hr);
        if (hr == S_FALSE || property == nullptr) {
            break;
        }
        record.properties.push_back(ReadProperty(property.Get()));
    }
    return record;
}

CComPtr<IVItem> CVDSItemConverter::ToItem(SVDSItemRecord&& record) {
    for (SVDSProperty& property : record.properties) {
        PlaceByKind(property);
    }
    CComPtr<IVItem> item = ItemFactory().CreateObject<IVItem>();
    CComPtr<IVItemFill> fill;
    ThrowIfFailed(item.QueryInterface(&fill));
    ComCall(fill.Get(), &IVItemFill::Fill, std::move(record.guid), std::move(record.className),
            std::move(record.dataStoreName), std::move(record.properties));
    return item;
}

CComPtr<IVEnum> CVDSItemConverter::NewEnum() {
    return EnumFactory().CreateObject<IVEnum>();
}
