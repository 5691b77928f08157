#pragma once
// CVEventSinkDispatch: the IDispatch of an event sink, the object side of the listener
// dispinterface (DIID_IVEventListener). Its one method, dispatch id k_eventMethodDispId, named
// "OnEvent", takes one VARIANT holding the event object (VT_UNKNOWN or VT_DISPATCH, never null)
// and hands it to HandleEvent. An object lists it in its interface map and answers the
// dispinterface's IID with it from QueryAdditionalInterface:
//
//     class CSink final : public CComObjectBase<CVEventSinkDispatch> {
//         void* QueryAdditionalInterface(REFIID iid) override { return SinkFor(iid); }
//         HRESULT HandleEvent(IUnknown* event) override { ...; return S_OK; }
//     };
//
// Invoke answers DISP_E_MEMBERNOTFOUND for any other dispatch id, DISP_E_BADPARAMCOUNT unless
// exactly one positional argument is given, DISP_E_TYPEMISMATCH for an argument that holds no
// object. A failed HandleEvent comes back as DISP_E_EXCEPTION with its HRESULT in the
// EXCEPINFO when the caller passes one, as the HRESULT itself otherwise.
//
// Stateless; as thread-safe as HandleEvent.

#include "qlib/qcom/dispatch.h"
#include "vtranscoder/veventinterfaces.h"

class CVEventSinkDispatch : public IDispatch {
public:
    using Interface = IDispatch;

    HRESULT GetTypeInfoCount(UINT* count) override;
    HRESULT GetTypeInfo(UINT index, LCID lcid, const InterfaceInfo** info) override;
    HRESULT GetIDsOfNames(REFIID riid, const wchar_t* const* names, UINT count, LCID lcid,
                          DISPID* dispIds) override;
    HRESULT Invoke(DISPID dispId, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) override;

protected:
    CVEventSinkDispatch() = default;
    ~CVEventSinkDispatch() = default;

    // Receives one event (never null).
    virtual HRESULT HandleEvent(IUnknown* event) = 0;

    // This sink's IDispatch when iid is the listener dispinterface, nullptr otherwise.
    void* SinkFor(REFIID iid) {
        return iid == DIID_IVEventListener ? static_cast<void*>(static_cast<IDispatch*>(this))
                                           : nullptr;
    }
};
