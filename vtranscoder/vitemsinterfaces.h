#pragma once
// The items library's interfaces, class ids and shared constants: an item (class name, GUID,
// owning datastore name, properties), its property container, the property enumerator and the
// enumeration of items. Every component and the server use these declarations; the
// implementation is components/vitemslib.
//
// A property has a name, a namespace URI (empty for none), a kind and a VARIANT value. A
// property set by name with a kind lives in the namespace that kind stands for
// (NamespaceOfKind); a property set with a namespace gets the kind of that namespace
// (KindOfNamespace). Names and namespaces are compared exactly.
//
// Threads: item objects guard their own state; any thread may call them.

#include <string_view>

#include "qlib/qcom/dispatch.h"
#include "qlib/qcom/guid.h"
#include "qlib/qcom/variant.h"

// Namespace URIs, one constant each, used everywhere.
inline constexpr const wchar_t* k_transcodeNamespace = L"http://www.zelto.com/Ve2e/ns/transcode";
inline constexpr const wchar_t* k_metadataNamespace = L"http://www.zelto.com/VdE";
inline constexpr const wchar_t* k_datastoreNamespace = L"http://www.zelto.com/Ve2e/ns/datastore";
inline constexpr const wchar_t* k_storeNamespace = L"http://www.zelto.com/Ve2e/Transcoding#store";

// Property kinds of the by-name operations.
enum EVPropertyKind : LONG {
    EVPropertyKind_None = 0,        // no namespace, or one without a kind of its own
    EVPropertyKind_Metadata = 1,    // k_metadataNamespace: "URI", "ItemType", "Bitrate", ...
    EVPropertyKind_Store = 14,      // k_storeNamespace: the handler's queue properties
    EVPropertyKind_Transcode = 33,  // k_transcodeNamespace: the service's event properties
};

// The namespace URI a kind stands for; empty for a kind without one.
inline std::wstring_view NamespaceOfKind(LONG kind) {
    switch (kind) {
    case EVPropertyKind_Metadata:
        return k_metadataNamespace;
    case EVPropertyKind_Store:
        return k_storeNamespace;
    case EVPropertyKind_Transcode:
        return k_transcodeNamespace;
    default:
        return {};
    }
}

// The kind of a namespace URI; EVPropertyKind_None for any other namespace and for none.
inline LONG KindOfNamespace(std::wstring_view uri) {
    for (LONG kind : {EVPropertyKind_Metadata, EVPropertyKind_Store, EVPropertyKind_Transcode}) {
        if (uri == NamespaceOfKind(kind)) {
            return kind;
        }
    }
    return EVPropertyKind_None;
}

inline constexpr CLSID CLSID_VItem = MakeGuid("5B1E8C2A-3F47-4D8E-9A61-0C2B7E4F1A01");
inline constexpr CLSID CLSID_VEnum = MakeGuid("5B1E8C2A-3F47-4D8E-9A61-0C2B7E4F1A02");
inline constexpr const wchar_t* k_itemDisplayName = L"VItemsLib::VItem";
inline constexpr const wchar_t* k_enumDisplayName = L"VItemsLib::VEnum";

class IVItem;

// One property as the enumerator reports it.
class IVProperty : public IUnknown {
public:
    static constexpr IID k_iid = MakeGuid("5B1E8C2A-3F47-4D8E-9A61-0C2B7E4F1A11");
    virtual HRESULT GetName(BSTR* name) = 0;
    virtual HRESULT GetNamespace(BSTR* uri) = 0;
    virtual HRESULT GetKind(LONG* kind) = 0;
    virtual HRESULT GetValue(VARIANT* value) = 0;
};

// Walks a snapshot of a container's properties in the order they were first set. Next answers
// S_OK with the next property, or S_FALSE and null after the last.
class IVPropertyEnumerator : public IUnknown {
public:
    static constexpr IID k_iid = MakeGuid("5B1E8C2A-3F47-4D8E-9A61-0C2B7E4F1A12");
    virtual HRESULT Next(IVProperty** property) = 0;
    virtual HRESULT Reset() = 0;
};

// The property container of an item. GetValue of a missing property answers VT_EMPTY;
// RemoveValue of a missing property succeeds.
class IVProperties : public IDispatch {
public:
    static constexpr IID k_iid = MakeGuid("5B1E8C2A-3F47-4D8E-9A61-0C2B7E4F1A13");
    static const InterfaceInfo& TypeInfo();
    virtual HRESULT GetCount(LONG* count) = 0;
    virtual HRESULT GetValue(BSTR name, BSTR uri, VARIANT* value) = 0;
    virtual HRESULT SetValue(BSTR name, BSTR uri, const VARIANT& value) = 0;
    virtual HRESULT GetEnumerator(IVPropertyEnumerator** enumerator) = 0;
    virtual HRESULT RemoveValue(BSTR name, BSTR uri) = 0;
    virtual HRESULT HasValue(BSTR name, BSTR uri, VARIANT_BOOL* present) = 0;
    virtual HRESULT GetValueByName(BSTR name, LONG kind, VARIANT* value) = 0;
    virtual HRESULT SetValueByName(BSTR name, const VARIANT& value, LONG kind) = 0;
    // True when a property of that name exists in any namespace.
    virtual HRESULT HasValueByName(BSTR name, VARIANT_BOOL* present) = 0;
};

// An item. SetGUID with an empty string gives the item a fresh GUID; SetDataStoreName with an
// empty string detaches it from its datastore. Copy keeps the GUID and deep-copies the
// properties (an item-valued property is copied too).
class IVItem : public IDispatch {
public:
    static constexpr IID k_iid = MakeGuid("5B1E8C2A-3F47-4D8E-9A61-0C2B7E4F1A14");
    static const InterfaceInfo& TypeInfo();
    virtual HRESULT GetText(const VARIANT& options, BSTR* text) = 0;
    virtual HRESULT GetDataStoreName(BSTR* name) = 0;
    virtual HRESULT SetClassName(BSTR className) = 0;
    virtual HRESULT GetGUID(BSTR* guid) = 0;
    virtual HRESULT SetGUID(BSTR guid) = 0;
    virtual HRESULT GetClassName(BSTR* className) = 0;
    virtual HRESULT SetDataStoreName(BSTR name) = 0;
    virtual HRESULT GetProperties(IVProperties** properties) = 0;
    virtual HRESULT Copy(const VARIANT& options, IVItem** copy) = 0;
};

// An ordered enumeration of items. GetItem answers DISP_E_BADINDEX for an index out of range;
// Append takes a VARIANT holding an item (VT_DISPATCH or VT_UNKNOWN).
class IVEnum : public IDispatch {
public:
    static constexpr IID k_iid = MakeGuid("5B1E8C2A-3F47-4D8E-9A61-0C2B7E4F1A15");
    static const InterfaceInfo& TypeInfo();
    virtual HRESULT GetItem(const VARIANT& index, VARIANT* item) = 0;
    virtual HRESULT Append(const VARIANT& item, const VARIANT& reserved) = 0;
    virtual HRESULT GetCount(LONG* count) = 0;
};
