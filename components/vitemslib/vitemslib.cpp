#include "components/vitemslib/vitemslib.h"

#include <array>

#include "components/vitemslib/venum.h"
#include "components/vitemslib/vitem.h"
#include "qlib/qcom/comclassregistration.h"

void CVItemsLib::RegisterClasses() {
    static const std::array<CComClassRegistration, 2> s_registrations{
        RegisterComClass<CVItem>(CLSID_VItem, k_itemDisplayName),
        RegisterComClass<CVEnum>(CLSID_VEnum, k_enumDisplayName),
    };
}
