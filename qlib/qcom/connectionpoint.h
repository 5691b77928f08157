#pragma once
// Connection points: how an object sends events to the sinks its clients give it.
// IConnectionPointContainer is the event source object's interface for finding its points; an
// IConnectionPoint stands for one outgoing interface (usually a dispinterface) and keeps the
// connected sinks, each under a cookie. CComConnectionPointContainer and CComConnectionPoint<I>
// implement them.
//
// COM's enumerator interfaces are replaced by snapshots in vectors.
//
// Thread rules are the implementation's (ours: any thread).

#include <vector>

#include "qlib/qcom/comptr.h"

class IConnectionPointContainer;

struct CONNECTDATA {
    CComPtr<IUnknown> pUnk;  // the sink, as the connection point's interface
    DWORD dwCookie = 0;
};

class IConnectionPoint : public IUnknown {
public:
    static constexpr IID k_iid = MakeGuid("B196B286-BAB4-101A-B69C-00AA00341D07");

    // The IID of the outgoing interface.
    virtual HRESULT GetConnectionInterface(IID* iid) = 0;
    virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) = 0;
    // Connects `sink`, which must answer the outgoing interface (CONNECT_E_CANNOTCONNECT
    // otherwise); *cookie (never 0) names the connection for Unadvise.
    virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
    // Drops the connection; CONNECT_E_NOCONNECTION for a cookie that names none.
    virtual HRESULT Unadvise(DWORD cookie) = 0;
    // The connections at this moment, oldest first.
    virtual HRESULT EnumConnections(std::vector<CONNECTDATA>* connections) = 0;

protected:
    ~IConnectionPoint() = default;
};

class IConnectionPointContainer : public IUnknown {
public:
    static constexpr IID k_iid = MakeGuid("B196B284-BAB4-101A-B69C-00AA00341D07");

    virtual HRESULT EnumConnectionPoints(std::vector<CComPtr<IConnectionPoint>>* points) = 0;
    // The point for the outgoing interface `iid`; CONNECT_E_NOCONNECTION when there is none.
    virtual HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) = 0;

protected:
    ~IConnectionPointContainer() = default;
};

inline constexpr IID IID_IConnectionPoint = IConnectionPoint::k_iid;
inline constexpr IID IID_IConnectionPointContainer = IConnectionPointContainer::k_iid;
