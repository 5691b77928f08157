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

void WriteProperty(IVProperties* properties, SVDSProperty&& property) {
    // A property's kind follows from its namespace, so setting it in its namespace keeps both.
    // Only a kind without a namespace given (not one an item reports) is set by name with that
    // kind, which places it in the kind's namespace.
    if (property.uri.empty() && property.kind != EVPropertyKind_None) {
        ComCall(properties, &IVProperties::SetValueByName, std::move(property.name), property.value,
                property.kind);
    } else {
        ComCall(properties, &IVProperties::SetValue, std::move(property.name),
                std::move(property.uri), property.value);
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
    CComPtr<IVItem> item = ItemFactory().CreateObject<IVItem>();
    ComCall(item.Get(), &IVItem::SetGUID, std::move(record.guid));
    ComCall(item.Get(), &IVItem::SetClassName, std::move(record.className));
    ComCall(item.Get(), &IVItem::SetDataStoreName, std::move(record.dataStoreName));
    CComPtr<IVProperties> properties = ComCall(item.Get(), &IVItem::GetProperties);
    for (SVDSProperty& property : record.properties) {
        WriteProperty(properties.Get(), std::move(property));
    }
    return item;
}

CComPtr<IVEnum> CVDSItemConverter::NewEnum() {
    return EnumFactory().CreateObject<IVEnum>();
}
