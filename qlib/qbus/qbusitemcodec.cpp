#include "qlib/qbus/qbusitemcodec.h"

#include <string>

#include "qlib/qbus/qbuserror.h"
#include "qlib/qbus/qbusvaluecodec.h"
#include "qlib/qcom/comclasstable.h"

namespace {

// Raises the HResult error for a failed call on a local object while writing.
void Check(HRESULT hr) {
    if (FAILED(hr)) {
        throw CQBusError::FromHResult(hr, GetErrorInfo());
    }
}

// Raises InvalidArgs for an item the items library refused while reading.
void CheckRead(HRESULT hr, const char* what) {
    if (FAILED(hr)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
        ClearErrorInfo();
        throw CQBusError::InvalidArgument(std::string(what) + " refused (" + code + ")");
    }
}

template <class I>
CComPtr<I> Create(const CLSID& clsid) {
    CComPtr<I> object;
    const HRESULT hr =
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IidOf<I>(), object.Put());
    if (FAILED(hr)) {
        throw CQBusError::FromHResult(hr, GetErrorInfo());
    }
    return object;
}

void WriteProperties(sdbus::Message& message, IVItem* item, int depth) {
    message.openContainer("(ssi(qv))");
    if (item != nullptr) {
        CComPtr<IVProperties> properties;
        Check(item->GetProperties(&properties));
        CComPtr<IVPropertyEnumerator> enumerator;
        Check(properties->GetEnumerator(&enumerator));
        for (;;) {
            CComPtr<IVProperty> property;
            const HRESULT hr = enumerator->Next(&property);
            Check(hr);
            if (hr == S_FALSE || property == nullptr) {
                break;
            }
            BSTR name;
            BSTR uri;
            LONG kind = 0;
            VARIANT value;
            Check(property->GetName(&name));
            Check(property->GetNamespace(&uri));
            Check(property->GetKind(&kind));
            Check(property->GetValue(&value));
            message.openStruct("ssi(qv)");
            CQBusValueCodec::WriteString(message, name);
            CQBusValueCodec::WriteString(message, uri);
            message << kind;
            CQBusValueCodec::WriteVariant(message, value, depth);
            message.closeStruct();
        }
    }
    message.closeContainer();
}

void ReadProperty(sdbus::Message& message, IVProperties* properties, int depth) {
    message.enterStruct("ssi(qv)");
    const BSTR name = CQBusValueCodec::ReadString(message);
    const BSTR uri = CQBusValueCodec::ReadString(message);
    int32_t kind = 0;
    message >> kind;
    const VARIANT value = CQBusValueCodec::ReadVariant(message, depth);
    message.exitStruct();
    CheckRead(!uri.empty() || kind == 0 ? properties->SetValue(name, uri, value)
                                        : properties->SetValueByName(name, value, kind),
              "a property");
}

}  // namespace

void CQBusItemCodec::WriteItem(sdbus::Message& message, IVItem* item, int depth) {
    BSTR className;
    BSTR guid;
    BSTR datastore;
    if (item != nullptr) {
        Check(item->GetClassName(&className));
        Check(item->GetGUID(&guid));
        Check(item->GetDataStoreName(&datastore));
    }
    message.openStruct("sssa(ssi(qv))");
    CQBusValueCodec::WriteString(message, className);
    CQBusValueCodec::WriteString(message, guid);
    CQBusValueCodec::WriteString(message, datastore);
    WriteProperties(message, item, depth);
    message.closeStruct();
}

CComPtr<IVItem> CQBusItemCodec::ReadItem(sdbus::Message& message, int depth) {
    if (depth > CQBusValueCodec::k_maxDepth) {
        throw CQBusError::InvalidArgument("items nested more than " +
                                          std::to_string(CQBusValueCodec::k_maxDepth) +
                                          " levels deep");
    }
    CQBusValueCodec::ExpectSignature(message, k_itemSignature);
    CComPtr<IVItem> item = Create<IVItem>(CLSID_VItem);
    message.enterStruct("sssa(ssi(qv))");
    CheckRead(item->SetClassName(CQBusValueCodec::ReadString(message)), "the class name");
    CheckRead(item->SetGUID(CQBusValueCodec::ReadString(message)), "the GUID");
    CheckRead(item->SetDataStoreName(CQBusValueCodec::ReadString(message)), "the datastore name");
    CComPtr<IVProperties> properties;
    Check(item->GetProperties(&properties));
    message.enterContainer("(ssi(qv))");
    for (size_t count = 0; !CQBusValueCodec::AtEnd(message); ++count) {
        if (count == CQBusValueCodec::k_maxElements) {
            throw CQBusError::InvalidArgument("an item with more than " +
                                              std::to_string(CQBusValueCodec::k_maxElements) +
                                              " properties");
        }
        ReadProperty(message, properties.Get(), depth);
    }
    message.exitContainer();
    message.exitStruct();
    return item;
}

void CQBusItemCodec::WriteEnum(sdbus::Message& message, IVEnum* items, int depth) {
    LONG count = 0;
    if (items != nullptr) {
        Check(items->GetCount(&count));
    }
    message.openContainer("(sssa(ssi(qv)))");
    for (LONG index = 0; index < count; ++index) {
        VARIANT value;
        Check(items->GetItem(VARIANT(index), &value));
        CComPtr<IVItem> item;
        if (value.Unknown() == nullptr ||
            FAILED(value.Unknown()->QueryInterface(IVItem::k_iid, item.Put()))) {
            Check(DISP_E_TYPEMISMATCH);
        }
        WriteItem(message, item.Get(), depth);
    }
    message.closeContainer();
}

CComPtr<IVEnum> CQBusItemCodec::ReadEnum(sdbus::Message& message, int depth) {
    CQBusValueCodec::ExpectSignature(message, k_enumSignature);
    CComPtr<IVEnum> items = Create<IVEnum>(CLSID_VEnum);
    message.enterContainer("(sssa(ssi(qv)))");
    for (size_t count = 0; !CQBusValueCodec::AtEnd(message); ++count) {
        if (count == CQBusValueCodec::k_maxElements) {
            throw CQBusError::InvalidArgument("an enumeration of more than " +
                                              std::to_string(CQBusValueCodec::k_maxElements) +
                                              " items");
        }
        CheckRead(items->Append(VARIANT(ReadItem(message, depth)), VARIANT::Missing()),
                  "an enumeration's item");
    }
    message.exitContainer();
    return items;
}

void CQBusItemCodec::WriteTranscodeItem(sdbus::Message& message, IUnknown* item) {
    BSTR xml;
    if (item != nullptr) {
        CComPtr<IVTranscodeItemData> data;
        Check(item->QueryInterface(IVTranscodeItemData::k_iid, data.Put()));
        Check(data->GetItemXML(&xml));
    }
    CQBusValueCodec::WriteString(message, xml);
}

CComPtr<IVTranscodeItem> CQBusItemCodec::ReadTranscodeItem(sdbus::Message& message) {
    return TranscodeItemFromXML(CQBusValueCodec::ReadString(message));
}

CComPtr<IVTranscodeItem> CQBusItemCodec::TranscodeItemFromXML(const std::wstring& xml) {
    CComPtr<IVTranscodeItemData> data = Create<IVTranscodeItemData>(CLSID_VTranscodeItem);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    CheckRead(data->LoadItemXML(xml, &loaded), "the transcode item");
    if (loaded == VARIANT_FALSE) {
        throw CQBusError::InvalidArgument("a transcode item whose XML does not load");
    }
    CComPtr<IVTranscodeItem> item;
    Check(data->QueryInterface(IVTranscodeItem::k_iid, item.Put()));
    return item;
}
