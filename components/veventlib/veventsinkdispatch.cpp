#include "components/veventlib/veventsinkdispatch.h"

#include "qlib/qcom/variant.h"
#include "qlib/qsys/nocase.h"

namespace {

constexpr const wchar_t* k_eventMethodName = L"OnEvent";

}  // namespace

HRESULT CVEventSinkDispatch::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) {
        return E_POINTER;
    }
    *count = 0;
    return S_OK;
}

HRESULT CVEventSinkDispatch::GetTypeInfo(UINT /*index*/, LCID /*lcid*/,
                                         const InterfaceInfo** info) {
    if (info == nullptr) {
        return E_POINTER;
    }
    *info = nullptr;
    return DISP_E_BADINDEX;
}

HRESULT CVEventSinkDispatch::GetIDsOfNames(REFIID /*riid*/, const wchar_t* const* names, UINT count,
                                           LCID /*lcid*/, DISPID* dispIds) {
    if (names == nullptr || dispIds == nullptr || count == 0) {
        return E_POINTER;
    }
    const bool known =
        names[0] != nullptr && count == 1 && qsys::EqualsIgnoreCase(names[0], k_eventMethodName);
    dispIds[0] = known ? k_eventMethodDispId : DISPID{-1};
    return known ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT CVEventSinkDispatch::Invoke(DISPID dispId, REFIID /*riid*/, LCID /*lcid*/, WORD flags,
                                    DISPPARAMS* params, VARIANT* /*result*/, EXCEPINFO* excepInfo,
                                    UINT* argErr) {
    if (dispId != k_eventMethodDispId || (flags & DISPATCH_METHOD) == 0) {
        return DISP_E_MEMBERNOTFOUND;
    }
    if (params == nullptr || params->cArgs != 1 || params->rgvarg == nullptr) {
        return DISP_E_BADPARAMCOUNT;
    }
    if (params->cNamedArgs != 0) {
        return DISP_E_NONAMEDARGS;
    }
    IUnknown* event = params->rgvarg[0].Unknown();
    if (event == nullptr) {
        if (argErr != nullptr) {
            *argErr = 0;
        }
        return DISP_E_TYPEMISMATCH;
    }
    const HRESULT hr = HandleEvent(event);
    if (FAILED(hr) && excepInfo != nullptr) {
        *excepInfo = EXCEPINFO{};
        excepInfo->scode = hr;
        return DISP_E_EXCEPTION;
    }
    return hr;
}
