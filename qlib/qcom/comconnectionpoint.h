#pragma once
// CComConnectionPoint<I>: a connection point for the outgoing interface I. For an outgoing
// dispinterface (which has no C++ type of its own) I is IDispatch and the point is made with
// the dispinterface's IID; sinks answer that IID with their IDispatch. It lives inside its
// container object (CComConnectionPointContainer owns it) and
// shares that object's lifetime: AddRef and Release go to the container, QueryInterface
// answers IConnectionPoint and IUnknown with the point itself (a point is an object of its own
// to its clients).
//
// Advise asks the sink for I and keeps that reference under a fresh cookie (never 0, never
// one in use); a sink without I is refused with CONNECT_E_CANNOTCONNECT. Unadvise of a cookie
// that names no connection answers CONNECT_E_NOCONNECTION. Sinks() takes a snapshot for
// firing an event, so that sinks may advise and unadvise while an event goes out:
//
//     for (const CComPtr<IDispatch>& sink : m_events.Sinks()) { sink->Invoke(1, ...); }
//
// A class that must do more on Advise or Unadvise derives from CComConnectionPoint<I>,
// overrides them and calls these.
//
// Thread-safe: m_lock guards m_sinks and m_nextCookie. Sinks are released, and sinks are asked
// for I, outside the lock (either may call back into the point).

#include <map>
#include <mutex>
#include <vector>

#include "qlib/qcom/connectionpoint.h"
#include "qlib/qcom/dispatch.h"

// The part of CComConnectionPoint that does not depend on I.
class CComConnectionPointImpl : public IConnectionPoint {
public:
    CComConnectionPointImpl(IConnectionPointContainer& container, REFIID iid)
        : m_container(container), m_iid(iid) {}
    CComConnectionPointImpl(const CComConnectionPointImpl&) = delete;
    CComConnectionPointImpl& operator=(const CComConnectionPointImpl&) = delete;
    virtual ~CComConnectionPointImpl();

    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override { return m_container.AddRef(); }
    ULONG Release() override { return m_container.Release(); }

    HRESULT GetConnectionInterface(IID* iid) override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override;
    HRESULT Unadvise(DWORD cookie) override;
    HRESULT EnumConnections(std::vector<CONNECTDATA>* connections) override;

    const IID& ConnectionInterface() const { return m_iid; }

protected:
    // Keeps `sink` (already the point's interface, as its IUnknown base) under a new cookie.
    HRESULT AddSink(CComPtr<IUnknown> sink, DWORD* cookie);
    std::vector<CComPtr<IUnknown>> SinkSnapshot() const;

private:
    IConnectionPointContainer& m_container;  // our owner; constant
    const IID m_iid;
    mutable std::mutex m_lock;
    std::map<DWORD, CComPtr<IUnknown>> m_sinks;  // by cookie; guarded by m_lock
    DWORD m_nextCookie = 1;                      // guarded by m_lock
};

template <class I>
requires std::is_base_of_v<IUnknown, I>
class CComConnectionPoint : public CComConnectionPointImpl {
public:
    explicit CComConnectionPoint(IConnectionPointContainer& container)
        : CComConnectionPointImpl(container, IidOf<I>()) {}
    // A point for an outgoing dispinterface `iid`.
    CComConnectionPoint(IConnectionPointContainer& container,
                        REFIID iid) requires std::is_same_v<I, IDispatch>
        : CComConnectionPointImpl(container, iid) {}

    HRESULT Advise(IUnknown* sink, DWORD* cookie) override {
        if (sink == nullptr || cookie == nullptr) {
            return E_POINTER;
        }
        *cookie = 0;
        void* raw = nullptr;
        if (FAILED(sink->QueryInterface(ConnectionInterface(), &raw)) || raw == nullptr) {
            return CONNECT_E_CANNOTCONNECT;
        }
        CComPtr<IUnknown> held;
        held.Attach(static_cast<IUnknown*>(static_cast<I*>(raw)));
        return AddSink(std::move(held), cookie);
    }

    // The sinks connected at this moment, oldest first, each with a reference.
    std::vector<CComPtr<I>> Sinks() const {
        std::vector<CComPtr<I>> sinks;
        for (const CComPtr<IUnknown>& sink : SinkSnapshot()) {
            // Every stored sink is the IUnknown base of an I (see Advise).
            sinks.emplace_back(static_cast<I*>(sink.Get()));
        }
        return sinks;
    }
};
