#pragma once
// CComDispatchDriver: calls an object by name or dispatch id through its IDispatch, the way a
// scripting client does, with the arguments in declaration order (DISPPARAMS wants them
// reversed; the driver does that). A method's failure comes back as the method's own HRESULT
// with its error information given back to the thread (DISP_E_EXCEPTION is unpacked), so that
// ThrowIfFailed raises it with its description.
//
//     CComDispatchDriver driver(service);
//     VARIANT next = driver.Call(L"getnext");            // raises _com_error on failure
//     std::vector<VARIANT> args{L"product", L"/media/a.mp4", VARIANT()};
//     VARIANT formats;
//     HRESULT hr = driver.Invoke(L"GetOutputFormatsForFile", args, &formats);
//     // args[2] now holds the out parameter
//
// Holds one reference to the object; used by one thread at a time.

#include <span>
#include <string_view>
#include <vector>

#include "qlib/qcom/comerror.h"
#include "qlib/qcom/comptr.h"
#include "qlib/qcom/variant.h"

class CComDispatchDriver {
public:
    explicit CComDispatchDriver(CComPtr<IDispatch> dispatch) : m_dispatch(std::move(dispatch)) {}

    HRESULT GetIDOfName(std::wstring_view name, DISPID* dispId) const;
    // Calls the method with `args` in declaration order; out parameters come back in their
    // slots, the retval in *result (result may be null).
    HRESULT Invoke(DISPID dispId, std::span<VARIANT> args, VARIANT* result) const;
    HRESULT Invoke(std::wstring_view name, std::span<VARIANT> args, VARIANT* result) const;

    // Calls a method with in-arguments only and answers its retval; raises _com_error.
    template <class... Args>
    VARIANT Call(std::wstring_view name, Args&&... args) const {
        std::vector<VARIANT> arguments{VARIANT(std::forward<Args>(args))...};
        VARIANT result;
        ThrowIfFailed(Invoke(name, arguments, &result));
        return result;
    }

private:
    CComPtr<IDispatch> m_dispatch;
};
