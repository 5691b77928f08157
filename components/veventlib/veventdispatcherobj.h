#pragma once
// CVEventDispatcherObj: the event dispatcher class of the event library (CLSID_VEventDispatcher,
// "VEventLib::_VEventDispatcher"). An event source keeps one and registers its clients' sinks
// with it; DispatchEvent hands an event to every registered sink and returns at once.
//
// Delivery: every sink has a channel of its own (CVEventSinkChannel) with a delivery thread,
// so events reach each sink in the order DispatchEvent accepted them and a slow or blocked sink
// delays neither the sender nor the other sinks. Events from several threads are accepted in
// one order for all sinks. Progress events ("Type" 4 in the transcode namespace) may be
// coalesced or dropped for a sink that falls behind; no other event is dropped for a sink that
// is still registered (see the channel's backlog rules).
//
// Connections: Advise(sink, cookie) registers the sink (which must answer DIID_IVEventListener)
// under the caller's cookie (not 0, not one in use: E_INVALIDARG). Unadvise(cookie) removes it
// and returns once no call to that sink is in flight, unless it is called from inside that
// call; CONNECT_E_NOCONNECTION for a cookie never registered. A sink that the dispatcher dropped
// itself (its client is gone, or it hung) keeps its cookie until it is unadvised, which then
// succeeds: the caller's connection bookkeeping stays as the caller made it.
//
// Releasing the dispatcher closes every channel as Unadvise does.
//
// Threads: any thread may call any method. m_lock guards m_channels; it is held while an event
// is queued to each channel (never while a sink is called, never while a channel is closed), so
// every sink sees one order. Lock order: m_lock, then a channel's lock.

#include <map>
#include <memory>
#include <mutex>

#include "components/veventlib/veventsinkchannel.h"
#include "qlib/qcom/comdispatchimpl.h"
#include "qlib/qcom/comobjectbase.h"
#include "vtranscoder/veventinterfaces.h"

class CVEventDispatcherObj final : public CComObjectBase<CComDispatchImpl<IVEventDispatcher>> {
public:
    CVEventDispatcherObj() = default;

    HRESULT Advise(IUnknown* sink, ULONG cookie) override;
    HRESULT Unadvise(ULONG cookie) override;
    HRESULT DispatchEvent(const VARIANT& event) override;

    void FinalRelease() noexcept override;

private:
    // Whether `event` is a progress event: an item whose "Type" in the transcode namespace is 4.
    static bool IsProgressEvent(IUnknown* event);

    std::mutex m_lock;
    std::map<ULONG, std::shared_ptr<CVEventSinkChannel>> m_channels;  // guarded by m_lock
};
