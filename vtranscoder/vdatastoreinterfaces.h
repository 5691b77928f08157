#pragma once
// The datastore component's interfaces and class id. A datastore holds items (class name,
// GUID, properties); Query understands the filters `Class.Property = "value"` and
// `Class.Property=<integer>`, the property "GUID" of class "Item" naming an item's identifier.
// A failure whose exception carries VDSERR_DATASTORE_UNUSABLE means the datastore's storage is
// unusable (not a database, corrupt, or of an unreadable schema).

#include "qlib/qcom/dispatch.h"
#include "qlib/qcom/guid.h"
#include "qlib/qcom/variant.h"
#include "vtranscoder/vitemsinterfaces.h"

inline constexpr LONG VDSERR_DATASTORE_UNUSABLE = 51009;

inline constexpr CLSID CLSID_VDataStore = MakeGuid("9E3F5A7B-1C2D-4E5F-A6B7-C8D9E0F1A201");
inline constexpr const wchar_t* k_dataStoreDisplayName = L"VDataStoreLib::VDataStore";

// Schemas: RegisterSchema takes a schema as XML text, or a one-element string array.
class IVDSSchema : public IDispatch {
public:
    static constexpr IID k_iid = MakeGuid("9E3F5A7B-1C2D-4E5F-A6B7-C8D9E0F1A211");
    static const InterfaceInfo& TypeInfo();
    virtual HRESULT GetSchemaXML(BSTR* xml) = 0;
    virtual HRESULT RegisterSchema(const VARIANT& schema) = 0;
};

class IVDSTypes : public IDispatch {
public:
    static constexpr IID k_iid = MakeGuid("9E3F5A7B-1C2D-4E5F-A6B7-C8D9E0F1A212");
    static const InterfaceInfo& TypeInfo();
    virtual HRESULT IsOfType(BSTR typeName, IVItem* item, VARIANT_BOOL* result) = 0;
};

// Transactions nest per datastore object; an abort undoes the adds and deletes since its begin.
class IVDSTransaction : public IDispatch {
public:
    static constexpr IID k_iid = MakeGuid("9E3F5A7B-1C2D-4E5F-A6B7-C8D9E0F1A213");
    static const InterfaceInfo& TypeInfo();
    virtual HRESULT BeginTransaction() = 0;
    virtual HRESULT CommitTransaction() = 0;
    virtual HRESULT AbortTransaction() = 0;
};

class IVDataStore : public IDispatch {
public:
    static constexpr IID k_iid = MakeGuid("9E3F5A7B-1C2D-4E5F-A6B7-C8D9E0F1A214");
    static const InterfaceInfo& TypeInfo();
    // `location` holds a datastore name or a folder path (VT_BSTR).
    virtual HRESULT Open(const VARIANT& location, const VARIANT& reserved1,
                         const VARIANT& reserved2) = 0;
    virtual HRESULT Add(const VARIANT& reserved, IVItem* item) = 0;
    virtual HRESULT Delete(IVEnum* items) = 0;
    virtual HRESULT Close() = 0;
    virtual HRESULT Query(const VARIANT& reserved, BSTR className, BSTR filter,
                          IVEnum** result) = 0;
    virtual HRESULT Count(BSTR className, LONG* count) = 0;
    virtual HRESULT GetSchema(IVDSSchema** schema) = 0;
    virtual HRESULT GetTypes(IVDSTypes** types) = 0;
};
