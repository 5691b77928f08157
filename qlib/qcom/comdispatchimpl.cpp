#include "qlib/qcom/comdispatchimpl.h"

#include <algorithm>
#include <limits>
#include <vector>

HRESULT TypeTableGetIDsOfNames(const InterfaceInfo& info, REFIID riid, const wchar_t* const* names,
                               UINT count, DISPID* dispIds) {
    if (names == nullptr || dispIds == nullptr) {
        return E_POINTER;
    }
    if (riid != IID_NULL) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    std::fill(dispIds, dispIds + count, DISPID_UNKNOWN);
    if (count == 0) {
        return E_INVALIDARG;
    }
    const MethodInfo* method = info.FindMethod(names[0]);
    if (method == nullptr) {
        return DISP_E_MEMBERNOTFOUND;
    }
    dispIds[0] = method->dispId;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < count; ++i) {
        dispIds[i] = method->FindParam(names[i]);
        if (dispIds[i] == DISPID_UNKNOWN) {
            hr = DISP_E_UNKNOWNNAME;
        }
    }
    return hr;
}

HRESULT TypeTableInvoke(const InterfaceInfo& info, void* self, DISPID dispId, REFIID riid,
                        WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                        UINT* argErr) {
    if (riid != IID_NULL) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    const MethodInfo* method = info.FindMethod(dispId);
    if (method == nullptr || (flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) == 0) {
        return DISP_E_MEMBERNOTFOUND;
    }
    if (params == nullptr || (params->cArgs > 0 && params->rgvarg == nullptr)) {
        return E_INVALIDARG;
    }
    if (params->cNamedArgs > 0) {
        return DISP_E_NONAMEDARGS;
    }
    // rgvarg holds the last argument first.
    std::vector<VARIANT*> args(params->cArgs);
    for (UINT i = 0; i < params->cArgs; ++i) {
        args[i] = &params->rgvarg[params->cArgs - 1 - i];
    }
    constexpr UINT k_noBadArgument = std::numeric_limits<UINT>::max();
    UINT badArgument = k_noBadArgument;
    const HRESULT hr = InvokeMethod(*method, self, args, result, excepInfo, &badArgument);
    if (badArgument != k_noBadArgument && argErr != nullptr) {
        *argErr = params->cArgs - 1 - badArgument;
    }
    return hr;
}
