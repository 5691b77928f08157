#pragma once
// CVDSTypes: the type facility of a datastore object (IVDSTypes). IsOfType(type, item) is true
// when the datastore's Query of that class would select the item: "Item" for every item, a
// registered aspect of "Item" for an item carrying each of its properties, any other name for
// an item of that class name ("File" for a plain file item).
//
// Holds a reference to its datastore object; any thread (the datastore guards itself).

#include "qlib/qcom/comdispatchimpl.h"
#include "qlib/qcom/comobjectbase.h"
#include "qlib/qcom/comsupporterrorinfoimpl.h"
#include "vtranscoder/vdatastoreinterfaces.h"

class CVDataStore;

class CVDSTypes final
    : public CComObjectBase<CComDispatchImpl<IVDSTypes>, CComSupportErrorInfoImpl<IVDSTypes>> {
public:
    explicit CVDSTypes(CComPtr<CVDataStore> dataStore);

    HRESULT IsOfType(BSTR typeName, IVItem* item, VARIANT_BOOL* result) override;

private:
    const CComPtr<CVDataStore> m_dataStore;
};
