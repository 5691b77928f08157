#include "components/vdatastorelib/vdstypes.h"

#include "components/vdatastorelib/vdatastore.h"
#include "qlib/qutilitylib/qcatch.h"

CVDSTypes::CVDSTypes(CComPtr<CVDataStore> dataStore) : m_dataStore(std::move(dataStore)) {}

HRESULT CVDSTypes::IsOfType(BSTR typeName, IVItem* item, VARIANT_BOOL* result) {
    return CQCatch::Interface(IVDSTypes::k_iid, CLSID_VDataStore, [&] {
        if (result == nullptr) {
            return E_POINTER;
        }
        *result = ToVariantBool(m_dataStore->IsOfTypeImpl(typeName, item));
        return S_OK;
    });
}
