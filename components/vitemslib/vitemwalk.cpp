#include "components/vitemslib/vitemwalk.h"

#include "qlib/qcom/comerror.h"

CComPtr<IUnknown> IdentityOf(IUnknown* object) {
    CComPtr<IUnknown> identity;
    ThrowIfFailed(object->QueryInterface(IID_IUnknown, identity.Put()));
    return identity;
}

void ForEachProperty(
    IVItem* item,
    const std::function<bool(const BSTR& name, const BSTR& uri, const VARIANT& value)>& visit) {
    CComPtr<IVProperties> properties;
    CComPtr<IVPropertyEnumerator> enumerator;
    ThrowIfFailed(item->GetProperties(&properties));
    ThrowIfFailed(properties->GetEnumerator(&enumerator));
    for (;;) {
        CComPtr<IVProperty> property;
        const HRESULT hr = enumerator->Next(&property);
        ThrowIfFailed(hr);
        if (hr == S_FALSE || !property) {
            return;
        }
        BSTR name;
        BSTR uri;
        VARIANT value;
        ThrowIfFailed(property->GetName(&name));
        ThrowIfFailed(property->GetNamespace(&uri));
        ThrowIfFailed(property->GetValue(&value));
        if (!visit(name, uri, value)) {
            return;
        }
    }
}
