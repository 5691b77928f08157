#pragma once
// IDispatch: late-bound calls by name and dispatch id, for scripting clients and the bus
// bridge. Objects do not write it by hand: CComDispatchImpl<I> implements it over the
// interface's type-library table (typeinfo.h), and CComDispatchDriver calls it.
//
// The shape is COM's with two differences that follow from having no VT_BYREF here:
// - out parameters are returned in place: the caller passes a slot for each out parameter in
//   rgvarg (its incoming value is ignored) and finds the result there after the call; the
//   out-retval parameter comes back through pVarResult;
// - GetTypeInfo hands out the interface's table itself (a static object; nothing to release).
// As in COM, rgvarg holds the arguments in reverse order (the last argument first), and
// puArgErr counts in that order too.
//
// Thread rules are those of the implementing object.

#include "qlib/qcom/unknown.h"

class VARIANT;
struct InterfaceInfo;

// What a caller asks Invoke to do; a method answers DISPATCH_METHOD and DISPATCH_PROPERTYGET.
constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

constexpr LCID LOCALE_USER_DEFAULT = 0x400;

struct DISPPARAMS {
    VARIANT* rgvarg = nullptr;  // the arguments, last first
    DISPID* rgdispidNamedArgs = nullptr;
    UINT cArgs = 0;
    UINT cNamedArgs = 0;
};

// What a method that failed left behind, when Invoke answers DISP_E_EXCEPTION.
struct EXCEPINFO {
    WORD wCode = 0;
    BSTR bstrSource;
    BSTR bstrDescription;
    SCODE scode = S_OK;  // the HRESULT the method returned
};

class IDispatch : public IUnknown {
public:
    static constexpr IID k_iid = MakeGuid("00020400-0000-0000-C000-000000000046");

    // 1 when the object has a table for this interface, 0 otherwise.
    virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
    // The table (index 0); DISP_E_BADINDEX for any other index.
    virtual HRESULT GetTypeInfo(UINT index, LCID lcid, const InterfaceInfo** info) = 0;
    // names[0] is a method name, matched ignoring case; names[1..] are names of its parameters,
    // answered with their positions. riid must be IID_NULL.
    virtual HRESULT GetIDsOfNames(REFIID riid, const wchar_t* const* names, UINT count, LCID lcid,
                                  DISPID* dispIds) = 0;
    // Calls the method `dispId`. When the method itself fails and pExcepInfo is given, the answer
    // is DISP_E_EXCEPTION with the method's HRESULT and error information in *pExcepInfo;
    // without pExcepInfo the answer is the method's HRESULT and the error information stays
    // with the thread.
    virtual HRESULT Invoke(DISPID dispId, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                           VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;

protected:
    ~IDispatch() = default;
};

inline constexpr IID IID_IDispatch = IDispatch::k_iid;
