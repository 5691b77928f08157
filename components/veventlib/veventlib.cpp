#include "components/veventlib/veventlib.h"

#include "components/veventlib/veventdispatcherobj.h"
#include "components/veventlib/vinnereventlistenerobj.h"
#include "qlib/qcom/comclassregistration.h"

namespace {

struct SRegistrations {
    CComClassRegistration dispatcher = RegisterComClass<CVEventDispatcherObj>(
        CLSID_VEventDispatcher, k_eventDispatcherDisplayName);
    CComClassRegistration innerListener = RegisterComClass<CVInnerEventListenerObj>(
        CLSID_VInnerEventListener, k_innerEventListenerDisplayName);
};

}  // namespace

void CVEventLib::RegisterClasses() {
    static const SRegistrations s_registrations;
}
