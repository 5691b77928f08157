#pragma once
// CComClassRegistration: one class registered in the process's class table for the lifetime of
// this object. A component library keeps its registrations for as long as it serves its
// classes; a test that puts a double in place of a class holds one for the test's lifetime and
// the class it replaced answers again afterwards.
//
//     CComClassRegistration transcoder =
//         RegisterComClass<CScriptedTranscoder>(CLSID_VTranscoder, L"VTranscoderLib::VTranscoder");
//
// Move-only; the thread that owns it may move or destroy it.

#include <string>

#include "qlib/qcom/comclassfactory.h"
#include "qlib/qcom/comclasstable.h"
#include "qlib/qcom/comsingletonfactory.h"

class [[nodiscard]] CComClassRegistration {
public:
    CComClassRegistration() noexcept = default;
    // Registers `factory`; raises _com_error when the table refuses (a null factory, a context
    // without a server).
    CComClassRegistration(REFCLSID clsid, std::wstring displayName, CComPtr<IClassFactory> factory,
                          DWORD context = CLSCTX_INPROC_SERVER);
    CComClassRegistration(CComClassRegistration&& other) noexcept;
    CComClassRegistration& operator=(CComClassRegistration&& other) noexcept;
    ~CComClassRegistration();

    // Revokes now (nothing when already revoked or empty).
    void Revoke() noexcept;
    DWORD Cookie() const { return m_cookie; }

private:
    DWORD m_cookie = 0;
};

// Registers T with the ordinary factory (a new instance per request).
template <class T>
CComClassRegistration RegisterComClass(REFCLSID clsid, std::wstring displayName) {
    CComPtr<CComClassFactory<T>> factory;
    ThrowIfFailed(CreateComObject(&factory));
    return CComClassRegistration(clsid, std::move(displayName), std::move(factory));
}

// Registers T with the singleton factory (one shared instance); `factory`, when given, receives
// a reference to the factory (for CComSingletonFactory::Instance).
template <class T>
CComClassRegistration RegisterComSingleton(REFCLSID clsid, std::wstring displayName,
                                           CComSingletonFactory<T>** factory = nullptr) {
    CComPtr<CComSingletonFactory<T>> created;
    ThrowIfFailed(CreateComObject(&created));
    if (factory != nullptr) {
        created.CopyTo(factory);
    }
    return CComClassRegistration(clsid, std::move(displayName), std::move(created));
}
