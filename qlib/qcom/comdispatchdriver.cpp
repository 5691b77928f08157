#include "qlib/qcom/comdispatchdriver.h"

#include <string>
#include <utility>

HRESULT CComDispatchDriver::GetIDOfName(std::wstring_view name, DISPID* dispId) const {
    if (m_dispatch == nullptr) {
        return E_POINTER;
    }
    const std::wstring terminated(name);
    const wchar_t* names[] = {terminated.c_str()};
    return m_dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, dispId);
}

HRESULT CComDispatchDriver::Invoke(DISPID dispId, std::span<VARIANT> args, VARIANT* result) const {
    if (m_dispatch == nullptr) {
        return E_POINTER;
    }
    std::vector<VARIANT> reversed(args.size());
    for (size_t i = 0; i < args.size(); ++i) {
        reversed[args.size() - 1 - i] = std::move(args[i]);
    }
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    EXCEPINFO excepInfo;
    HRESULT hr = m_dispatch->Invoke(dispId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                    result, &excepInfo, nullptr);
    for (size_t i = 0; i < args.size(); ++i) {
        args[i] = std::move(reversed[args.size() - 1 - i]);
    }
    if (hr == DISP_E_EXCEPTION) {
        SetErrorInfo(
            {std::move(excepInfo.bstrDescription), GUID_NULL, std::move(excepInfo.bstrSource)});
        hr = FAILED(excepInfo.scode) ? excepInfo.scode : DISP_E_EXCEPTION;
    }
    return hr;
}

HRESULT CComDispatchDriver::Invoke(std::wstring_view name, std::span<VARIANT> args,
                                   VARIANT* result) const {
    DISPID dispId = DISPID_UNKNOWN;
    const HRESULT hr = GetIDOfName(name, &dispId);
    return FAILED(hr) ? hr : Invoke(dispId, args, result);
}
