#include "vtranscoder/veventinterfaces.h"

#include "qlib/qcom/typeinfobuilder.h"

const InterfaceInfo& IVEventDispatcher::TypeInfo() {
    static const InterfaceInfo s_info = MakeInterfaceInfo<IVEventDispatcher>(
        L"IVEventDispatcher",
        {
            {L"Advise", 1, &IVEventDispatcher::Advise, {L"pSink", L"nCookie"}},
            {L"Unadvise", 2, &IVEventDispatcher::Unadvise, {L"nCookie"}},
            {L"DispatchEvent", 3, &IVEventDispatcher::DispatchEvent, {L"varEvent"}},
        });
    return s_info;
}
