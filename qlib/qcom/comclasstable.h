#pragma once
// CComClassTable: the process's table of class objects, by CLSID. In-process components
// register a factory for each of their classes (with a display name for messages); the bus
// client registers proxies for the classes of the local server under CLSCTX_LOCAL_SERVER.
// CoCreateInstance and CoGetClassObject look classes up here.
//
// Registrations stack: the newest registration of a CLSID (in a matching context) answers,
// and revoking it brings back the one before. That is how a test puts a double in place of a
// class for its lifetime (CComClassRegistration revokes in its destructor).
//
// Register at start-up, explicitly (a component library offers a function that registers its
// classes): initialisers of globals in a static library may be dropped by the linker.
//
// Thread-safe: m_lock guards m_entries and m_nextCookie. A factory is called, and a revoked
// factory is released, after the lock is let go, so factories may themselves create objects.

#include <mutex>
#include <string>
#include <vector>

#include "qlib/qcom/classfactory.h"
#include "qlib/qcom/comptr.h"

// Where a class object may run. The table keeps in-process factories and, for classes of the
// local server, the bus proxies' factories.
enum CLSCTX : DWORD {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_REMOTE_SERVER = 0x10,
    CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
    CLSCTX_ALL = CLSCTX_SERVER | CLSCTX_INPROC_HANDLER,
};

class CComClassTable {
public:
    // The process's table.
    static CComClassTable& Instance();

    CComClassTable() = default;
    CComClassTable(const CComClassTable&) = delete;
    CComClassTable& operator=(const CComClassTable&) = delete;

    // Registers `factory` for `clsid` in `context` (one CLSCTX value) and answers the
    // registration's cookie (never 0). E_POINTER for a null factory or cookie, E_INVALIDARG for
    // a context that names no server.
    HRESULT Register(REFCLSID clsid, std::wstring displayName, IClassFactory* factory,
                     DWORD context, DWORD* cookie);
    // Removes the registration; CO_E_OBJNOTREG for a cookie that names none.
    HRESULT Revoke(DWORD cookie);

    // The newest factory registered for `clsid` in one of the `context` bits, asked for `iid`.
    // REGDB_E_CLASSNOTREG when there is none.
    HRESULT GetClassObject(REFCLSID clsid, DWORD context, REFIID iid, void** object) const;
    // The display name of the class's newest registration; REGDB_E_CLASSNOTREG without one.
    HRESULT GetDisplayName(REFCLSID clsid, std::wstring* name) const;

private:
    struct Entry {
        DWORD cookie;
        CLSID clsid;
        std::wstring displayName;
        DWORD context;
        CComPtr<IClassFactory> factory;
    };

    const Entry* FindNewest(REFCLSID clsid, DWORD context) const;

    mutable std::mutex m_lock;
    std::vector<Entry> m_entries;  // oldest first; guarded by m_lock
    DWORD m_nextCookie = 1;        // guarded by m_lock
};

// The class object of `clsid` from the process's table (see CComClassTable::GetClassObject).
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, REFIID iid, void** object);

// An instance of `clsid` answering `iid`, made by its class object; with `outer`, aggregated in
// it. REGDB_E_CLASSNOTREG for a class nobody registered; otherwise the factory's answer.
// *object is null on failure.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object);
