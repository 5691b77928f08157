#include "client/vvaluetext.h"

#include <cstdio>

#include "qlib/qcom/safearray.h"
#include "qlib/qsys/textcodec.h"

namespace {

std::string NumberJson(VARIANT value) {
    if (FAILED(value.ChangeType(VT_BSTR))) {
        return "null";
    }
    return qsys::ToUtf8(value.Get<BSTR>());
}

std::string EnumJson(IVEnum* items, int depth) {
    LONG count = 0;
    items->GetCount(&count);
    std::string json = "[";
    for (LONG index = 0; index < count; ++index) {
        VARIANT item;
        items->GetItem(VARIANT(index), &item);
        json += index > 0 ? "," : "";
        json += CVValueText::ToJson(item, depth + 1);
    }
    return json + "]";
}

std::string ObjectJson(IUnknown* object, int depth) {
    if (object == nullptr) {
        return "null";
    }
    CComPtr<IVItem> item;
    if (SUCCEEDED(CComPtr<IUnknown>(object).QueryInterface(&item))) {
        return CVValueText::ToJson(item.Get(), depth);
    }
    CComPtr<IVEnum> items;
    if (SUCCEEDED(CComPtr<IUnknown>(object).QueryInterface(&items))) {
        return EnumJson(items.Get(), depth);
    }
    return "null";
}

}  // namespace

std::string CVValueText::JsonString(const std::wstring& text) {
    std::string json = "\"";
    for (unsigned char c : qsys::ToUtf8(text)) {
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            json += escaped;
        } else {
            json += static_cast<char>(c);
        }
    }
    return json + "\"";
}

std::string CVValueText::ToJson(const VARIANT& value, int depth) {
    if (depth > k_maxDepth) {
        return "null";
    }
    if ((value.Vt() & VT_ARRAY) != 0) {
        std::string json = "[";
        bool first = true;
        for (const VARIANT& element : value.Get<SAFEARRAY>().Elements()) {
            json += first ? "" : ",";
            json += ToJson(element, depth + 1);
            first = false;
        }
        return json + "]";
    }
    switch (value.Vt()) {
        case VT_EMPTY:
        case VT_NULL:
            return "null";
        case VT_BOOL:
            return value.Get<VARIANT_BOOL>() == VARIANT_FALSE ? "false" : "true";
        case VT_BSTR:
            return JsonString(value.Get<BSTR>());
        case VT_DISPATCH:
        case VT_UNKNOWN:
            return ObjectJson(value.Unknown(), depth);
        default:
            return NumberJson(value);
    }
}

std::string CVValueText::ToJson(IVItem* item, int depth) {
    if (item == nullptr || depth > k_maxDepth) {
        return "null";
    }
    BSTR className, guid, datastore;
    item->GetClassName(&className);
    item->GetGUID(&guid);
    item->GetDataStoreName(&datastore);
    std::string json = "{\"class\":" + JsonString(className) + ",\"guid\":" + JsonString(guid) +
                       ",\"datastore\":" + JsonString(datastore) + ",\"properties\":[";
    CComPtr<IVProperties> properties;
    CComPtr<IVPropertyEnumerator> enumerator;
    if (SUCCEEDED(item->GetProperties(&properties)) &&
        SUCCEEDED(properties->GetEnumerator(&enumerator))) {
        CComPtr<IVProperty> property;
        for (bool first = true; enumerator->Next(&property) == S_OK; first = false) {
            BSTR name, uri;
            LONG kind = 0;
            VARIANT propertyValue;
            property->GetName(&name);
            property->GetNamespace(&uri);
            property->GetKind(&kind);
            property->GetValue(&propertyValue);
            json += std::string(first ? "" : ",") + "{\"name\":" + JsonString(name) +
                    ",\"namespace\":" + JsonString(uri) + ",\"kind\":" + std::to_string(kind) +
                    ",\"value\":" + ToJson(propertyValue, depth + 1) + "}";
        }
    }
    return json + "]}";
}

std::wstring CVValueText::ToText(const VARIANT& value) {
    CComPtr<IVItem> item;
    if (value.Unknown() != nullptr &&
        SUCCEEDED(CComPtr<IUnknown>(value.Unknown()).QueryInterface(&item))) {
        BSTR text;
        return SUCCEEDED(item->GetText(VARIANT::Missing(), &text)) ? text : L"(item)";
    }
    if ((value.Vt() & VT_ARRAY) != 0 || value.Unknown() != nullptr) {
        return qsys::FromUtf8(ToJson(value));
    }
    VARIANT text = value;
    return SUCCEEDED(text.ChangeType(VT_BSTR, VARIANT_ALPHABOOL)) ? text.Get<BSTR>() : L"";
}

VARIANT CVValueText::Property(IVItem* item, const wchar_t* name, const wchar_t* uri) {
    VARIANT value;
    CComPtr<IVProperties> properties;
    if (item != nullptr && SUCCEEDED(item->GetProperties(&properties))) {
        properties->GetValue(name, uri, &value);
    }
    return value;
}
