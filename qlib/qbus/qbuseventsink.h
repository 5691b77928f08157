#pragma once
// CQBusEventSink: the sink a bus peer's Advise connects to an object's connection point. It
// answers the point's outgoing dispinterface (the listener dispinterface, DIID_IVEventListener,
// on the server's objects); each event it receives (dispatch id k_eventMethodDispId, one
// VARIANT holding the event item) goes out as the signal
// "com.zelto.VEventLib.IVEventListener.OnEvent" with the item by value, from the object's path
// to that one peer only.
//
// The signal goes out through a CQBusSignalTarget that the exported object shares with its
// sinks; once the object is withdrawn (or the peer has left: PeerGone) the sink answers
// RPC_E_DISCONNECTED, which tells the event dispatcher to drop it.
//
// Invoke may be called on any thread (the event library's delivery threads); the signal is
// built and sent under the bus lock, which also guards the target's object pointer.

#include <atomic>
#include <memory>
#include <string>

#include <sdbus-c++/IObject.h>

#include "qlib/qbus/qbusconnection.h"
#include "qlib/qcom/comobjectbase.h"

// The exported object a sink sends through; `object` is null once it is withdrawn.
struct SQBusSignalTarget {
    CQBusConnection* connection = nullptr;
    sdbus::IObject* object = nullptr;  // guarded by the connection's bus lock
};

class CQBusEventSink final : public CComObjectBase<IDispatch> {
public:
    static constexpr const char* k_interface = "com.zelto.VEventLib.IVEventListener";
    static constexpr const char* k_signal = "OnEvent";

    CQBusEventSink(std::shared_ptr<SQBusSignalTarget> target, std::string peer, const IID& events)
        : m_target(std::move(target)), m_peer(std::move(peer)), m_events(events) {}

    void PeerGone() { m_peerGone = true; }

    HRESULT GetTypeInfoCount(UINT* count) override;
    HRESULT GetTypeInfo(UINT index, LCID lcid, const InterfaceInfo** info) override;
    HRESULT GetIDsOfNames(REFIID riid, const wchar_t* const* names, UINT count, LCID lcid,
                          DISPID* dispIds) override;
    HRESULT Invoke(DISPID dispId, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) override;

protected:
    void* QueryAdditionalInterface(REFIID iid) override;

private:
    std::shared_ptr<SQBusSignalTarget> m_target;
    std::string m_peer;
    const IID m_events;
    std::atomic<bool> m_peerGone{false};
};
