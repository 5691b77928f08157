#pragma once
// CVDSSchema: the schema facility of a datastore object (IVDSSchema). GetSchemaXML gives the
// registered schema in the XML form of vdsschemadefinition.h; RegisterSchema takes that XML
// text, or an array of texts each of which is schema XML or a namespace URI (the one-element
// array holding a namespace is how a caller makes a namespace known). Registered types are
// stored in the database, so every object and process that opens the datastore sees them.
//
// Holds a reference to its datastore object; any thread (the datastore guards itself).

#include "qlib/qcom/comdispatchimpl.h"
#include "qlib/qcom/comobjectbase.h"
#include "qlib/qcom/comsupporterrorinfoimpl.h"
#include "vtranscoder/vdatastoreinterfaces.h"

class CVDataStore;

class CVDSSchema final
    : public CComObjectBase<CComDispatchImpl<IVDSSchema>, CComSupportErrorInfoImpl<IVDSSchema>> {
public:
    explicit CVDSSchema(CComPtr<CVDataStore> dataStore);

    HRESULT GetSchemaXML(BSTR* xml) override;
    HRESULT RegisterSchema(const VARIANT& schema) override;

private:
    const CComPtr<CVDataStore> m_dataStore;
};
