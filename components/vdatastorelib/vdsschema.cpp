#include "components/vdatastorelib/vdsschema.h"

#include "components/vdatastorelib/vdatastore.h"
#include "qlib/qutilitylib/qcatch.h"

CVDSSchema::CVDSSchema(CComPtr<CVDataStore> dataStore) : m_dataStore(std::move(dataStore)) {}

HRESULT CVDSSchema::GetSchemaXML(BSTR* xml) {
    return CQCatch::Interface(IVDSSchema::k_iid, CLSID_VDataStore, [&] {
        if (xml == nullptr) {
            return E_POINTER;
        }
        *xml = m_dataStore->GetSchemaXMLImpl();
        return S_OK;
    });
}

HRESULT CVDSSchema::RegisterSchema(const VARIANT& schema) {
    return CQCatch::Interface(IVDSSchema::k_iid, CLSID_VDataStore,
                              [&] { m_dataStore->RegisterSchemaImpl(schema); });
}
