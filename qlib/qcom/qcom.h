#pragma once
// qcom: our component object layer, in place of COM, OLE automation and the object parts of a
// template library. Everything reports failures as HRESULTs (hresult.h); _com_error is raised
// only by the raising helpers (ThrowIfFailed, ComCall, CComDispatchDriver::Call, _variant_t).
//
// How a component is written here
//
// An INTERFACE is an abstract class deriving from IUnknown (or IDispatch for a dual interface):
// its identity in `static constexpr IID k_iid`, methods that return HRESULT and hand results
// back through out-pointers, with COM's types (LONG, BSTR = std::wstring, VARIANT_BOOL,
// VARIANT, interface pointers). An interface that scripts or the bus may call also has a type
// library table: `static const InterfaceInfo& TypeInfo();`, written with MakeInterfaceInfo.
// An OBJECT is a class deriving from CComObjectBase<the interfaces it answers>; it is made with
// CreateComObject or by its class factory and lives while references to it are held
// (CComPtr). A CLASS is a CLSID registered in the class table with a factory, so that
// CoCreateInstance can make it:
//
//     class IGreeter : public IDispatch {
//     public:
//         static constexpr IID k_iid = MakeGuid("6E0F5C43-5A32-4B7B-9C1E-2D3F4A5B6C7D");
//         static const InterfaceInfo& TypeInfo();
//         virtual HRESULT Greet(BSTR name, const VARIANT& title, BSTR* greeting) = 0;
//     };
//     const InterfaceInfo& IGreeter::TypeInfo() {
//         static const InterfaceInfo s_info = MakeInterfaceInfo<IGreeter>(
//             L"IGreeter", {{L"Greet", 1, &IGreeter::Greet,
//                            {L"name", Optional(L"title"), L"greeting"}}});
//         return s_info;
//     }
//     class CGreeter final : public CComObjectBase<CComDispatchImpl<IGreeter>> {
//     public:
//         HRESULT Greet(BSTR name, const VARIANT& title, BSTR* greeting) override {
//             *greeting = L"Hello " + (title.Vt() == VT_BSTR ? title.Get<BSTR>() + L" " : L"") +
//             name; return S_OK;
//         }
//     };
//     auto registration = RegisterComClass<CGreeter>(CLSID_Greeter, L"Sample::Greeter");
//
// and a client:
//     CComPtr<IGreeter> greeter;
//     ThrowIfFailed(CoCreateInstance(CLSID_Greeter, nullptr, CLSCTX_ALL, IID_IGreeter,
//     greeter.Put())); BSTR text = ComCall(greeter, &IGreeter::Greet, L"Ann", VARIANT(L"Dr."));  //
//     "Hello Dr. Ann" VARIANT same = CComDispatchDriver(greeter).Call(L"greet", L"Ann");         //
//     "Hello Ann"
//
// Where to look: unknown.h, comptr.h (references); comobjectbase.h (objects, aggregation);
// classfactory.h, comclassfactory.h, comsingletonfactory.h, comclasstable.h,
// comclassregistration.h, progid.h (classes); comtypes.h, variant.h, safearray.h, variant_t.h
// (automation values); dispatch.h, typeinfo.h, typeinfobuilder.h, comdispatchimpl.h,
// comdispatchdriver.h (late binding); connectionpoint.h, comconnectionpoint.h,
// comconnectionpointcontainer.h (events); errorinfo.h, comsupporterrorinfoimpl.h, comerror.h,
// comcall.h (errors).

#include "qlib/qcom/comcall.h"
#include "qlib/qcom/comclassregistration.h"
#include "qlib/qcom/comconnectionpointcontainer.h"
#include "qlib/qcom/comdispatchdriver.h"
#include "qlib/qcom/comdispatchimpl.h"
#include "qlib/qcom/comobjectbase.h"
#include "qlib/qcom/comsupporterrorinfoimpl.h"
#include "qlib/qcom/progid.h"
#include "qlib/qcom/typeinfobuilder.h"
#include "qlib/qcom/variant_t.h"
