#include "components/vitemslib/vitemtext.h"

#include <cwchar>

#include "components/vitemslib/vitemwalk.h"
#include "qlib/qcom/comerror.h"

namespace {

std::wstring VtName(VARTYPE vt) {
    static constexpr std::pair<VARTYPE, const wchar_t*> k_names[] = {
        {VT_EMPTY, L"VT_EMPTY"},     {VT_NULL, L"VT_NULL"}, {VT_I2, L"VT_I2"},
        {VT_I4, L"VT_I4"},           {VT_R4, L"VT_R4"},     {VT_R8, L"VT_R8"},
        {VT_DATE, L"VT_DATE"},       {VT_BSTR, L"VT_BSTR"}, {VT_DISPATCH, L"VT_DISPATCH"},
        {VT_ERROR, L"VT_ERROR"},     {VT_BOOL, L"VT_BOOL"}, {VT_VARIANT, L"VT_VARIANT"},
        {VT_UNKNOWN, L"VT_UNKNOWN"}, {VT_I1, L"VT_I1"},     {VT_UI1, L"VT_UI1"},
        {VT_UI2, L"VT_UI2"},         {VT_UI4, L"VT_UI4"},   {VT_I8, L"VT_I8"},
        {VT_UI8, L"VT_UI8"},         {VT_INT, L"VT_INT"},   {VT_UINT, L"VT_UINT"},
    };
    const VARTYPE element = vt & VT_TYPEMASK;
    std::wstring name = L"VT_" + std::to_wstring(element);
    for (const auto& [code, text] : k_names) {
        if (code == element) {
            name = text;
        }
    }
    return (vt & VT_ARRAY) != 0 ? L"VT_ARRAY|" + name : name;
}

}  // namespace

std::wstring CVItemText::Dump(IVItem* item) {
    m_text.clear();
    m_open.clear();
    AppendItem(item, 0);
    if (Full()) {
        m_text.resize(k_maxLength);
        m_text += L"\n... (cut)";
    }
    return m_text;
}

void CVItemText::AppendItem(IVItem* item, int depth) {
    BSTR className;
    BSTR guid;
    BSTR dataStore;
    ThrowIfFailed(item->GetClassName(&className));
    ThrowIfFailed(item->GetGUID(&guid));
    ThrowIfFailed(item->GetDataStoreName(&dataStore));
    Append(L"Item ");
    AppendQuoted(className);
    Append(L" " + guid);
    if (!dataStore.empty()) {
        Append(L" datastore ");
        AppendQuoted(dataStore);
    }
    const CComPtr<IUnknown> identity = IdentityOf(item);
    if (m_open.contains(identity)) {
        Append(L" (shown above)");
    } else if (depth >= k_maxDepth) {
        Append(L" (nested too deeply to show)");
    } else {
        m_open.insert(identity);
        AppendProperties(item, depth);
        m_open.erase(identity);
    }
}

void CVItemText::AppendEnum(IVEnum* items, int depth) {
    LONG count = 0;
    ThrowIfFailed(items->GetCount(&count));
    Append(L"Enum of " + std::to_wstring(count) + L" items");
    const CComPtr<IUnknown> identity = IdentityOf(items);
    if (m_open.contains(identity)) {
        Append(L" (shown above)");
        return;
    }
    if (depth >= k_maxDepth) {
        Append(L" (nested too deeply to show)");
        return;
    }
    m_open.insert(identity);
    for (LONG index = 0; index < count && !Full(); ++index) {
        VARIANT item;
        ThrowIfFailed(items->GetItem(VARIANT(index), &item));
        NewLine(depth + 1);
        Append(L"[" + std::to_wstring(index) + L"] = ");
        AppendValue(item, depth + 1);
    }
    m_open.erase(identity);
}

void CVItemText::AppendProperties(IVItem* item, int depth) {
    ForEachProperty(item, [&](const BSTR& name, const BSTR& uri, const VARIANT& value) {
        NewLine(depth + 1);
        Append(name);
        if (!uri.empty()) {
            Append(L" [" + uri + L"]");
        }
        Append(L" = ");
        AppendValue(value, depth + 1);
        return !Full();
    });
}

void CVItemText::AppendValue(const VARIANT& value, int depth) {
    if (const CComPtr<IUnknown> object(value.Unknown()); object) {
        CComPtr<IVItem> item;
        CComPtr<IVEnum> items;
        if (SUCCEEDED(object.QueryInterface(&item))) {
            AppendItem(item, depth);
        } else if (SUCCEEDED(object.QueryInterface(&items))) {
            AppendEnum(items, depth);
        } else {
            Append(L"(object) (" + VtName(value.Vt()) + L")");
        }
        return;
    }
    if ((value.Vt() & VT_ARRAY) != 0) {
        Append(L"[");
        const SAFEARRAY& array = value.Get<SAFEARRAY>();
        for (size_t index = 0; index < array.Elements().size() && !Full(); ++index) {
            Append(index == 0 ? L"" : L", ");
            AppendScalar(array.Elements()[index]);
        }
        Append(L"]");
    } else {
        AppendScalar(value);
    }
    Append(L" (" + VtName(value.Vt()) + L")");
}

void CVItemText::AppendScalar(const VARIANT& value) {
    switch (value.Vt()) {
        case VT_EMPTY:
            return Append(L"empty");
        case VT_NULL:
            return Append(L"null");
        case VT_BSTR:
            return AppendQuoted(value.Get<BSTR>());
        case VT_ERROR: {
            wchar_t code[16];
            std::swprintf(code, std::size(code), L"0x%08X", value.Get<int32_t>());
            return Append(L"error " + std::wstring(code));
        }
        case VT_DISPATCH:
        case VT_UNKNOWN:
            return Append(value.Unknown() != nullptr ? L"(object)" : L"null object");
        default:
            break;
    }
    VARIANT text;
    const VARTYPE asNumber = value.Vt() == VT_DATE ? VARTYPE{VT_R8} : value.Vt();
    VARIANT number = value;
    if (SUCCEEDED(number.ChangeType(asNumber)) &&
        SUCCEEDED(VariantChangeType(&text, &number, VARIANT_ALPHABOOL, VT_BSTR))) {
        return Append(text.Get<BSTR>());
    }
    Append(L"?");
}

void CVItemText::AppendQuoted(std::wstring_view text) {
    std::wstring quoted = L"\"";
    for (const wchar_t c : text.substr(0, k_maxLength)) {
        switch (c) {
            case L'"':
                quoted += L"\\\"";
                break;
            case L'\\':
                quoted += L"\\\\";
                break;
            case L'\n':
                quoted += L"\\n";
                break;
            case L'\r':
                quoted += L"\\r";
                break;
            case L'\t':
                quoted += L"\\t";
                break;
            default:
                if (static_cast<uint32_t>(c) < 0x20) {
                    wchar_t escaped[8];
                    std::swprintf(escaped, std::size(escaped), L"\\u%04X",
                                  static_cast<unsigned>(c));
                    quoted += escaped;
                } else {
                    quoted += c;
                }
        }
    }
    Append(quoted + L"\"");
}

void CVItemText::Append(std::wstring_view text) {
    if (!Full()) {
        m_text.append(text.substr(0, k_maxLength + 1 - m_text.size()));
    }
}

void CVItemText::NewLine(int depth) {
    Append(L"\n");
    Append(std::wstring(static_cast<size_t>(depth) * 2, L' '));
}
