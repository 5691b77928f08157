#include "components/vdatastorelib/vdatastorelib.h"

#include "components/vdatastorelib/vdatastore.h"
#include "qlib/qcom/comclassregistration.h"

void CVDataStoreLib::RegisterClasses() {
    static const CComClassRegistration s_registration =
        RegisterComClass<CVDataStore>(CLSID_VDataStore, k_dataStoreDisplayName);
}
