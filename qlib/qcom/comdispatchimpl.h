#pragma once
// CComDispatchImpl<I>: the one IDispatch implementation, over the type library table of the
// dual interface I (I::TypeInfo(), see typeinfo.h). An object lists it in its interface map in
// place of I:
//
//     class CService final : public CComObjectBase<CComDispatchImpl<IVTranscodeService>, ...>
//
// GetIDsOfNames matches method names ignoring case. Invoke takes DISPATCH_METHOD or
// DISPATCH_PROPERTYGET, converts the arguments to the method's parameter types, passes
// VARIANT::Missing() for optional parameters the caller left out, and returns out parameters
// in their argument slots and the retval through pVarResult (see dispatch.h and InvokeMethod).
// An unknown method name or dispatch id answers DISP_E_MEMBERNOTFOUND (a name, too: callers on
// the bus and in scripts see one answer for "no such member" however they asked); an unknown
// parameter name answers DISP_E_UNKNOWNNAME; named arguments are not taken
// (DISP_E_NONAMEDARGS).
//
// Stateless; as thread-safe as the methods of I.

#include "qlib/qcom/typeinfo.h"

// The workings of CComDispatchImpl, shared by every interface.
HRESULT TypeTableGetIDsOfNames(const InterfaceInfo& info, REFIID riid, const wchar_t* const* names,
                               UINT count, DISPID* dispIds);
HRESULT TypeTableInvoke(const InterfaceInfo& info, void* self, DISPID dispId, REFIID riid,
                        WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                        UINT* argErr);

template <class I>
class CComDispatchImpl : public I {
public:
    using Interface = I;

    HRESULT GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT index, LCID /*lcid*/, const InterfaceInfo** info) override {
        if (info == nullptr) {
            return E_POINTER;
        }
        *info = index == 0 ? &I::TypeInfo() : nullptr;
        return index == 0 ? S_OK : DISP_E_BADINDEX;
    }
    HRESULT GetIDsOfNames(REFIID riid, const wchar_t* const* names, UINT count, LCID /*lcid*/,
                          DISPID* dispIds) override {
        return TypeTableGetIDsOfNames(I::TypeInfo(), riid, names, count, dispIds);
    }
    HRESULT Invoke(DISPID dispId, REFIID riid, LCID /*lcid*/, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) override {
        return TypeTableInvoke(I::TypeInfo(), static_cast<I*>(this), dispId, riid, flags, params,
                               result, excepInfo, argErr);
    }

protected:
    CComDispatchImpl() = default;
    ~CComDispatchImpl() = default;
};
