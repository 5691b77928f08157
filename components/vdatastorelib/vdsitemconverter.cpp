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

void WriteProperty(IVProperties* properties, const SVDSProperty& property) {
    // A kind that stands for the property's namespace (or a kind of its own, without one) is
    // only kept when the property is set by name with that kind.
    if (property.kind != EVPropertyKind_None &&
        (property.uri.empty() || NamespaceOfKind(property.kind) == property.uri)) {
        ComCall(properties, &IVProperties::SetValueByName, property.name, property.value,
                property.kind);
    } else {
        ComCall(properties, &IVProperties::SetValue, property.name, property.uri, property.value);
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

CComPtr<IVItem> CVDSItemConverter::ToItem(const SVDSItemRecord& record) {
    CComPtr<IVItem> item = ItemFactory().CreateObject<IVItem>();
    ComCall(item.Get(), &IVItem::SetGUID, record.guid);
    ComCall(item.Get(), &IVItem::SetClassName, record.className);
    ComCall(item.Get(), &IVItem::SetDataStoreName, record.dataStoreName);
    CComPtr<IVProperties> properties = ComCall(item.Get(), &IVItem::GetProperties);
    for (const SVDSProperty& property : record.properties) {
        WriteProperty(properties.Get(), property);
    }
    return item;
}

CComPtr<IVEnum> CVDSItemConverter::NewEnum() {
    return EnumFactory().CreateObject<IVEnum>();
}
