#pragma once
// CQBusItemCodec: items, enumerations and transcode items by value on the bus.
//   item         "(sssa(ssi(qv)))": class name, GUID, owning datastore name, and the properties
//                as (name, namespace, kind, value); a property whose value is an item nests the
//                same structure;
//   enumeration  "a(sssa(ssi(qv)))": its items in order;
//   transcode item "s": its own item XML (GetItemXML / LoadItemXML).
// Reading makes fresh objects of the items library (CLSID_VItem, CLSID_VEnum) and of the
// transcoder (CLSID_VTranscodeItem) through the class table, so the program must have those
// classes registered. A property is set in the namespace it came with (a property without a
// namespace but with a kind is set by name with that kind); an empty GUID gives the copy a
// fresh one, as the items library does. Limits and errors as in qbusvaluecodec.h; an item that
// the items library refuses is an InvalidArgs error with the library's HRESULT.
//
// Stateless; any thread.

#include <sdbus-c++/Message.h>

#include "qlib/qcom/comptr.h"
#include "vtranscoder/vitemsinterfaces.h"
#include "vtranscoder/vtranscoderinterfaces.h"

class CQBusItemCodec {
public:
    static constexpr const char* k_itemSignature = "(sssa(ssi(qv)))";
    static constexpr const char* k_enumSignature = "a(sssa(ssi(qv)))";

    // A null item is written as an item with no class, GUID, datastore or properties.
    static void WriteItem(sdbus::Message& message, IVItem* item, int depth);
    static CComPtr<IVItem> ReadItem(sdbus::Message& message, int depth);
    static void WriteEnum(sdbus::Message& message, IVEnum* items, int depth);
    static CComPtr<IVEnum> ReadEnum(sdbus::Message& message, int depth);
    static void WriteTranscodeItem(sdbus::Message& message, IUnknown* item);
    static CComPtr<IVTranscodeItem> ReadTranscodeItem(sdbus::Message& message);
    // A fresh transcode item loaded from its item XML (InvalidArgs when it does not load).
    static CComPtr<IVTranscodeItem> TranscodeItemFromXML(const std::wstring& xml);
};
