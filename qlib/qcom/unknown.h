#pragma once
// IUnknown: the root of every interface. An interface is an abstract class with COM's shape:
// it derives from IUnknown (or from IDispatch), names its identity in a static member k_iid,
// and every method returns an HRESULT, handing results back through out-pointers.
//
// Interfaces are never deleted through their pointers (their destructors are protected): an
// object goes when Release drops its last reference. AddRef and Release return the new count,
// which is only good for diagnostics.
//
// Whether an interface may be called from several threads is the implementing class's
// promise; reference counting itself is always safe from any thread.

#include <type_traits>

#include "qlib/qcom/comtypes.h"
#include "qlib/qcom/guid.h"
#include "qlib/qcom/hresult.h"

class IUnknown {
public:
    static constexpr IID k_iid = MakeGuid("00000000-0000-0000-C000-000000000046");

    // On success *object holds the interface `iid` of this object with one reference added;
    // on failure (E_NOINTERFACE) *object is null. Asking any interface of one object for
    // IUnknown always answers the same pointer: that pointer is the object's identity.
    virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    IUnknown() = default;
    IUnknown(const IUnknown&) = default;
    IUnknown& operator=(const IUnknown&) = default;
    ~IUnknown() = default;
};

inline constexpr IID IID_IUnknown = IUnknown::k_iid;

// The interface id that an interface type declares.
template <class Interface>
requires std::is_base_of_v<IUnknown, Interface>
constexpr const IID& IidOf() {
    return Interface::k_iid;
}

// True when two interface pointers belong to one object (their IUnknown pointers are equal);
// two null pointers are the same object.
bool IsSameObject(IUnknown* left, IUnknown* right);
