#pragma once
// The type library of an interface, written once in C++ (typeinfobuilder.h builds it from the
// interface's member functions): its IID and name, and per method, in slot order, the name,
// the dispatch id, the parameters (name, VT type, direction, optional flag; the out-retval
// parameter last) and a call thunk. One generic IDispatch (CComDispatchImpl) serves every dual
// interface from it, and the bus bridge builds its signatures and makes its calls from it.
//
// An interface with a table declares it as a static member function, defined next to the
// table:
//     static const InterfaceInfo& TypeInfo();
//
// Tables are built once (function-local statics) and never change afterwards: any thread may
// read them. InvokeMethod is as thread-safe as the method it calls.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "qlib/qcom/dispatch.h"
#include "qlib/qcom/variant.h"

enum class ParamDirection : uint8_t { In, Out, RetVal };
enum class ParamPresence : uint8_t { Required, Optional };
enum class InterfaceKind : uint8_t {
    Custom,  // derives from IUnknown: reached through the vtable (and the bus) only
    Dual,    // derives from IDispatch: also callable by name and dispatch id
};

struct ParamInfo {
    std::wstring name;
    // The type of the value (for out parameters, of what the pointer receives): a scalar VT
    // code, VT_BSTR, VT_VARIANT for a VARIANT, VT_DISPATCH or VT_UNKNOWN for an interface.
    VARTYPE vt = VT_EMPTY;
    // The interface of an interface-pointer parameter, nullptr for every other type.
    const IID* iid = nullptr;
    ParamDirection direction = ParamDirection::In;
    // Only VARIANT in-parameters may be optional; a caller that leaves one out passes
    // VARIANT::Missing().
    ParamPresence presence = ParamPresence::Required;
};

// Calls a method with one slot per parameter in declaration order (the retval's slot last):
// in-parameters are converted from their slots, out-parameters are written to theirs when the
// method succeeds. `self` is the interface pointer the table describes, as QueryInterface
// answered it for the table's IID (converted to void*). When an argument does not convert,
// *badArgument receives its index and the conversion's HRESULT is returned without calling.
using MethodThunk =
    std::function<HRESULT(void* self, std::span<VARIANT* const> slots, UINT* badArgument)>;

struct MethodInfo {
    std::wstring name;
    DISPID dispId = DISPID_UNKNOWN;  // DISPID_UNKNOWN in a custom interface
    ULONG slot = 0;                  // 1-based, among the interface's own methods
    std::vector<ParamInfo> params;
    MethodThunk call;

    // The parameters a caller passes: all but the retval.
    size_t ArgumentCount() const;
    // The out-retval parameter, nullptr when the method has none.
    const ParamInfo* RetVal() const;
    // The position of a parameter named `name` (ignoring case), -1 when there is none.
    int FindParam(std::wstring_view name) const;
};

struct InterfaceInfo {
    IID iid;
    std::wstring name;
    InterfaceKind kind = InterfaceKind::Custom;
    std::vector<MethodInfo> methods;  // slot order

    const MethodInfo* FindMethod(DISPID dispId) const;
    // By name, ignoring case.
    const MethodInfo* FindMethod(std::wstring_view name) const;
};

// Calls `method` on `self` (see MethodThunk) with `args`, the arguments in declaration order
// without the retval: values for in-parameters, slots for out-parameters (their values are
// ignored and replaced by the results). Trailing optional parameters may be left out; an
// optional one may also be passed as VARIANT::Missing(). The retval goes to *result (VT_EMPTY
// when the method has none; result may be null).
// Failures: DISP_E_BADPARAMCOUNT for too many arguments or too few for the required
// parameters; DISP_E_PARAMNOTOPTIONAL for VARIANT::Missing() in a required parameter;
// DISP_E_TYPEMISMATCH or DISP_E_OVERFLOW for an argument that does not convert to its
// parameter's type (*argErr, when given, receives the argument's index). When the method
// itself fails: with `excepInfo`, DISP_E_EXCEPTION and the method's HRESULT and the thread's
// error information (taken) in *excepInfo; without, the method's HRESULT, and the error
// information stays with the thread. An exception from the method becomes an HRESULT
// (HResultFromCurrentException).
HRESULT InvokeMethod(const MethodInfo& method, void* self, std::span<VARIANT* const> args,
                     VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr);
HRESULT InvokeMethod(const MethodInfo& method, void* self, std::span<VARIANT> args, VARIANT* result,
                     EXCEPINFO* excepInfo, UINT* argErr);
