#include "components/vdatastorelib/vdsvaluecodec.h"

#include <cstring>

#include "components/vdatastorelib/vdatastorelib.h"
#include "components/vdatastorelib/vdsitemconverter.h"
#include "qlib/qcom/comcall.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qexception.h"

namespace {

enum ObjectTag : uint8_t { ObjectTag_Null = 0, ObjectTag_Item = 1, ObjectTag_Enum = 2 };

[[noreturn]] void NotStorable(const std::wstring& reason) {
    throw CQException(L"The value cannot be stored: " + reason + L".", VDSERR_VALUE_NOT_STORABLE);
}

[[noreturn]] void Damaged(const wchar_t* reason) {
    throw CQException(std::wstring(L"A stored value is damaged (") + reason + L").",
                      VDSERR_DATASTORE_UNUSABLE);
}

class Writer {
public:
    std::string Take() { return std::move(m_bytes); }

    template <class T>
    void Raw(T value) {
        char bytes[sizeof(T)];
        std::memcpy(bytes, &value, sizeof(T));
        m_bytes.append(bytes, sizeof(T));
    }

    void Text(std::wstring_view text) {
        const std::string utf8 = qsys::ToUtf8(text);
        Raw<uint32_t>(static_cast<uint32_t>(utf8.size()));
        m_bytes += utf8;
    }

    void Value(const VARIANT& value, int depth) {
        if (depth > CVDSValueCodec::k_maxDepth) {
            NotStorable(L"it is nested deeper than 32 levels");
        }
        const VARTYPE vt = value.Vt();
        Raw<uint16_t>(vt);
        if (vt & VT_ARRAY) {
            Array(value.Get<SAFEARRAY>(), depth);
            return;
        }
        switch (vt) {
            case VT_EMPTY:
            case VT_NULL:
                return;
            case VT_I1:
                return Raw(value.Get<int8_t>());
            case VT_UI1:
                return Raw(value.Get<uint8_t>());
            case VT_I2:
                return Raw(value.Get<int16_t>());
            case VT_UI2:
                return Raw(value.Get<uint16_t>());
            case VT_I4:
            case VT_INT:
            case VT_ERROR:
                return Raw(value.Get<int32_t>());
            case VT_UI4:
            case VT_UINT:
                return Raw(value.Get<uint32_t>());
            case VT_I8:
                return Raw(value.Get<int64_t>());
            case VT_UI8:
                return Raw(value.Get<uint64_t>());
            case VT_R4:
                return Raw(value.Get<float>());
            case VT_R8:
            case VT_DATE:
                return Raw(value.Get<double>());
            case VT_BOOL:
                return Raw(static_cast<int16_t>(value.Get<VARIANT_BOOL>()));
            case VT_BSTR:
                return Text(value.Get<BSTR>());
            case VT_DISPATCH:
            case VT_UNKNOWN:
                return Object(value.Unknown(), depth);
            default:
                NotStorable(L"its type " + std::to_wstring(vt) + L" is not kept");
        }
    }

private:
    void Array(const SAFEARRAY& array, int depth) {
        Raw<int32_t>(array.LowerBound());
        Raw<uint32_t>(array.Count());
        for (const VARIANT& element : array.Elements()) {
            Value(element, depth + 1);
        }
    }

    void Object(IUnknown* object, int depth) {
        if (object == nullptr) {
            Raw<uint8_t>(ObjectTag_Null);
            return;
        }
        CComPtr<IUnknown> holder(object);
        CComPtr<IVItem> item;
        if (SUCCEEDED(holder.QueryInterface(&item))) {
            Raw<uint8_t>(ObjectTag_Item);
            Item(item, depth);
            return;
        }
        CComPtr<IVEnum> items;
        if (FAILED(holder.QueryInterface(&items))) {
            NotStorable(L"it holds an object that is neither an item nor an enumeration");
        }
        Raw<uint8_t>(ObjectTag_Enum);
        const LONG count = ComCall(items.Get(), &IVEnum::GetCount);
        Raw<uint32_t>(static_cast<uint32_t>(count));
        for (LONG index = 0; index < count; ++index) {
            const VARIANT element = ComCall(items.Get(), &IVEnum::GetItem, VARIANT(index));
            CComPtr<IVItem> elementItem;
            if (CComPtr<IUnknown>(element.Unknown()).QueryInterface(&elementItem) != S_OK) {
                NotStorable(L"an element of an enumeration is not an item");
            }
            Item(elementItem, depth + 1);
        }
    }

    void Item(IVItem* item, int depth) {
        if (depth + 1 > CVDSValueCodec::k_maxDepth) {
            NotStorable(L"it is nested deeper than 32 levels");
        }
        const SVDSItemRecord record = CVDSItemConverter::FromItem(item);
        Text(record.className);
        Text(record.guid);
        Text(record.dataStoreName);
        Raw<uint32_t>(static_cast<uint32_t>(record.properties.size()));
        for (const SVDSProperty& property : record.properties) {
            Text(property.name);
            Text(property.uri);
            Raw<int32_t>(property.kind);
            Value(property.value, depth + 1);
        }
    }

    std::string m_bytes;
};

class Reader {
public:
    explicit Reader(std::string_view bytes) : m_bytes(bytes) {}

    bool AtEnd() const { return m_bytes.empty(); }

    template <class T>
    T Raw() {
        if (m_bytes.size() < sizeof(T)) {
            Damaged(L"it ends early");
        }
        T value;
        std::memcpy(&value, m_bytes.data(), sizeof(T));
        m_bytes.remove_prefix(sizeof(T));
        return value;
    }

    std::wstring Text() {
        const uint32_t size = Raw<uint32_t>();
        if (size > m_bytes.size()) {
            Damaged(L"a text is longer than the value");
        }
        std::wstring text = qsys::FromUtf8(m_bytes.substr(0, size));
        m_bytes.remove_prefix(size);
        return text;
    }

    // A count of things each at least minimumSize bytes long: never more than the bytes left.
    uint32_t Count(size_t minimumSize) {
        const uint32_t count = Raw<uint32_t>();
        if (count > m_bytes.size() / minimumSize) {
            Damaged(L"a count exceeds the value");
        }
        return count;
    }

    VARIANT Value(int depth) {
        if (depth > CVDSValueCodec::k_maxDepth) {
            Damaged(L"it is nested too deep");
        }
        const VARTYPE vt = Raw<uint16_t>();
        if (vt & VT_ARRAY) {
            return Array(static_cast<VARTYPE>(vt & VT_TYPEMASK), depth);
        }
        switch (vt) {
            case VT_EMPTY:
                return VARIANT();
            case VT_NULL:
                return VARIANT::Null();
            case VT_I1:
                return VARIANT(Raw<int8_t>());
            case VT_UI1:
                return VARIANT(Raw<uint8_t>());
            case VT_I2:
                return VARIANT(Raw<int16_t>());
            case VT_UI2:
                return VARIANT(Raw<uint16_t>());
            case VT_I4:
                return VARIANT(Raw<int32_t>());
            case VT_INT:
                return VARIANT::Int(Raw<int32_t>());
            case VT_ERROR:
                return VARIANT::Error(Raw<int32_t>());
            case VT_UI4:
                return VARIANT(Raw<uint32_t>());
            case VT_UINT:
                return VARIANT::UInt(Raw<uint32_t>());
            case VT_I8:
                return VARIANT(Raw<int64_t>());
            case VT_UI8:
                return VARIANT(Raw<uint64_t>());
            case VT_R4:
                return VARIANT(Raw<float>());
            case VT_R8:
                return VARIANT(Raw<double>());
            case VT_DATE:
                return VARIANT::Date(Raw<double>());
            case VT_BOOL:
                return VARIANT(static_cast<VARIANT_BOOL>(Raw<int16_t>()));
            case VT_BSTR:
                return VARIANT(Text());
            case VT_DISPATCH:
            case VT_UNKNOWN:
                return Object(vt, depth);
            default:
                Damaged(L"an unknown type");
        }
    }

private:
    VARIANT Array(VARTYPE elementVt, int depth) {
        if (!SAFEARRAY::IsElementType(elementVt)) {
            Damaged(L"an unknown array type");
        }
        const int32_t lowerBound = Raw<int32_t>();
        const uint32_t count = Count(sizeof(uint16_t));
        if (static_cast<int64_t>(lowerBound) + count - 1 > INT32_MAX) {
            Damaged(L"an array's bounds exceed their range");
        }
        SAFEARRAY array(elementVt, count, lowerBound);
        for (uint32_t index = 0; index < count; ++index) {
            const VARIANT element = Value(depth + 1);
            if (elementVt != VT_VARIANT && element.Vt() != elementVt) {
                Damaged(L"an array element of another type");
            }
            ThrowIfFailed(array.PutElement(lowerBound + static_cast<LONG>(index), element));
        }
        return VARIANT(std::move(array));
    }

    VARIANT Object(VARTYPE vt, int depth) {
        CComPtr<IDispatch> object;
        switch (Raw<uint8_t>()) {
            case ObjectTag_Null:
                break;
            case ObjectTag_Item:
                object = Item(depth);
                break;
            case ObjectTag_Enum:
                object = Enum(depth);
                break;
            default:
                Damaged(L"an unknown object");
        }
        if (vt == VT_UNKNOWN) {
            return VARIANT(static_cast<IUnknown*>(object.Get()));
        }
        return VARIANT(object.Get());
    }

    CComPtr<IDispatch> Enum(int depth) {
        CComPtr<IVEnum> items = CVDSItemConverter::NewEnum();
        const uint32_t count = Count(1);
        for (uint32_t index = 0; index < count; ++index) {
            CComPtr<IDispatch> item = Item(depth + 1);
            ComCall(items.Get(), &IVEnum::Append, VARIANT(item.Get()), VARIANT::Missing());
        }
        return CComPtr<IDispatch>(items.Get());
    }

    CComPtr<IDispatch> Item(int depth) {
        if (depth + 1 > CVDSValueCodec::k_maxDepth) {
            Damaged(L"it is nested too deep");
        }
        SVDSItemRecord record;
        record.className = Text();
        record.guid = Text();
        record.dataStoreName = Text();
        const uint32_t count = Count(3 * sizeof(uint32_t));
        for (uint32_t index = 0; index < count; ++index) {
            SVDSProperty property;
            property.name = Text();
            property.uri = Text();
            property.kind = Raw<int32_t>();
            property.value = Value(depth + 1);
            record.properties.push_back(std::move(property));
        }
        return CComPtr<IDispatch>(CVDSItemConverter::ToItem(std::move(record)).Get());
    }

    std::string_view m_bytes;
};

}  // namespace

std::string CVDSValueCodec::Encode(const VARIANT& value) {
    Writer writer;
    writer.Value(value, 0);
    return writer.Take();
}

VARIANT CVDSValueCodec::Decode(std::string_view bytes) {
    Reader reader(bytes);
    VARIANT value = reader.Value(0);
    if (!reader.AtEnd()) {
        Damaged(L"bytes after its end");
    }
    return value;
}
