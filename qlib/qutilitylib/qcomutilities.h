#pragma once
// CQCOMUtils: creating component objects with enough context in a failure to name the missing
// component: a failed creation raises CQException with the system's text for the HRESULT, the
// HRESULT as its code, and the context values "ClassID" (the class id in registry form) and,
// when given, "ProgID" (the display name the caller passed, such as
// "VDataStoreLib::VDataStore"). When the failing component left error information (its own
// CQException with E_QEXCEPTION, or a description), that comes first as the entries FromComError
// makes of it, so the log shows why the component failed as well as which one.
//
//     CComPtr<IVDataStore> store =
//         CQCOMUtils::CreateObject<IVDataStore>(CLSID_VDataStore, L"VDataStoreLib::VDataStore");
//
// Objects are created in any server context (in-process components, or the local server
// through the bus). They need no separate "run" step here: an object is running once created.
//
// Stateless; any thread.

#include <source_location>
#include <string>

#include "qlib/qcom/comptr.h"
#include "qlib/qcom/guid.h"
#include "qlib/qcom/hresult.h"
#include "qlib/qutilitylib/qexception.h"

class CQCOMUtils {
public:
    // A new object of the class, as its IUnknown.
    static CComPtr<IUnknown> CreateObject(REFCLSID clsid, const std::wstring& displayName = {});

    // A new object of the class, as its interface Interface; an object without that interface
    // raises as a creation failure (E_NOINTERFACE).
    template <class Interface>
    static CComPtr<Interface> CreateObject(REFCLSID clsid, const std::wstring& displayName = {}) {
        return QueryCreated<Interface>(CreateObject(clsid, displayName), clsid, displayName);
    }

    // The interface Interface of a freshly created object; raises as a creation failure of the
    // class when the object does not answer it.
    template <class Interface>
    static CComPtr<Interface> QueryCreated(const CComPtr<IUnknown>& object, REFCLSID clsid,
                                           const std::wstring& displayName) {
        CComPtr<Interface> result;
        if (const HRESULT hr = object.QueryInterface(&result); FAILED(hr)) {
            RaiseCreateFailure(hr, clsid, displayName);
        }
        return result;
    }

    // Raises the failure hr of creating an object of the class (see above); takes the thread's
    // error information, which the caller cleared before the call that failed.
    [[noreturn]] static void RaiseCreateFailure(
        HRESULT hr, REFCLSID clsid, const std::wstring& displayName,
        const std::source_location& location = std::source_location::current());
};
