#pragma once
// CVDataStore: the datastore object (CLSID_VDataStore). It answers IVDataStore and
// IVDSTransaction; GetSchema and GetTypes hand out facilities (CVDSSchema, CVDSTypes) that hold
// a reference to it and act on whatever it has open when they are called.
//
// Open takes a datastore name or a folder path (VT_BSTR). A text holding "/" is a path, used
// as the datastore's folder; anything else is a name: the folder
// $XDG_DATA_HOME/Zelto/Datastores/<name>/ (~/.local/share when XDG_DATA_HOME is unset). A
// name is at most 255 bytes and holds no "\", control character, "." or ".." alone. The
// folder and its database are created on first use (CVDSStore). The text given to Open is the
// datastore's name: every item that Add stores or Query returns carries it
// (SetDataStoreName). Opening again closes what was open; Close rolls back an open
// transaction.
//
// Add stores the item with every property; an item without a GUID is given a fresh one
// first, and a stored item with the same GUID is replaced. Delete removes every item of the
// enumeration by GUID (items not stored are passed over) in one transaction. Query returns a
// new enumeration of new items; Count the number of items of a class (see CVDSStore for what a
// class selects and CVDSFilter for the filter grammar).
//
// Transactions nest per object: each BeginTransaction must be matched by one Commit or Abort;
// an Abort undoes the adds and deletes since its Begin. They belong to the object, not to a
// thread.
//
// Errors: every method follows the catch convention (E_QEXCEPTION with the exception's XML);
// the codes are listed in vdatastorelib.h.
//
// Threads: any thread may call any method. m_lock guards m_store and m_name; item objects are
// read and made outside it.

#include <memory>
#include <mutex>
#include <string>

#include "components/vdatastorelib/vdsitemrecord.h"
#include "components/vdatastorelib/vdsstore.h"
#include "qlib/qcom/comdispatchimpl.h"
#include "qlib/qcom/comobjectbase.h"
#include "qlib/qcom/comsupporterrorinfoimpl.h"
#include "vtranscoder/vdatastoreinterfaces.h"

class CVDataStore final
    : public CComObjectBase<CComDispatchImpl<IVDataStore>, CComDispatchImpl<IVDSTransaction>,
                            CComSupportErrorInfoImpl<IVDataStore, IVDSTransaction>> {
public:
    // IVDataStore
    HRESULT Open(const VARIANT& location, const VARIANT& reserved1,
                 const VARIANT& reserved2) override;
    HRESULT Add(const VARIANT& reserved, IVItem* item) override;
    HRESULT Delete(IVEnum* items) override;
    HRESULT Close() override;
    HRESULT Query(const VARIANT& reserved, BSTR className, BSTR filter, IVEnum** result) override;
    HRESULT Count(BSTR className, LONG* count) override;
    HRESULT GetSchema(IVDSSchema** schema) override;
    HRESULT GetTypes(IVDSTypes** types) override;

    // IVDSTransaction
    HRESULT BeginTransaction() override;
    HRESULT CommitTransaction() override;
    HRESULT AbortTransaction() override;

    // The facilities' work, raising CQException.
    std::wstring GetSchemaXMLImpl();
    void RegisterSchemaImpl(const VARIANT& schema);
    bool IsOfTypeImpl(const std::wstring& typeName, IVItem* item);

    // The folder a location names (see the header); raises VDSERR_INVALID_LOCATION.
    static std::wstring FolderOf(const VARIANT& location);

private:
    void OpenImpl(const VARIANT& location);
    void AddImpl(IVItem* item);
    void DeleteImpl(IVEnum* items);
    CComPtr<IVEnum> QueryImpl(const std::wstring& className, const std::wstring& filter);
    // A new facility object (CVDSSchema, CVDSTypes) on this datastore, which must be open.
    template <class Facility, class FacilityInterface>
    HRESULT MakeFacility(FacilityInterface** facility);
    // The open store; raises VDSERR_NOT_OPEN. Call with m_lock held.
    CVDSStore& Store();

    std::mutex m_lock;
    std::unique_ptr<CVDSStore> m_store;  // guarded by m_lock
    std::wstring m_name;                 // guarded by m_lock
};
