#pragma once
// IClassFactory: the class object of a class, which makes its instances. The class table
// (comclasstable.h) keeps one per registered class; CComClassFactory<T> and
// CComSingletonFactory<T> are the two implementations every class uses.
//
// COM's LockServer is left out: how long a process lives is decided by the bus host from the
// references its peers hold, not by class objects.

#include "qlib/qcom/unknown.h"

class IClassFactory : public IUnknown {
public:
    static constexpr IID k_iid = MakeGuid("00000001-0000-0000-C000-000000000046");

    // An instance answering `iid` into *object (null on failure). With an outer object the
    // instance is aggregated in it and `iid` must be IID_IUnknown; a class that refuses
    // aggregation answers CLASS_E_NOAGGREGATION.
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;

protected:
    ~IClassFactory() = default;
};

inline constexpr IID IID_IClassFactory = IClassFactory::k_iid;
