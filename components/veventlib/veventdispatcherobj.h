#pragma once
// CVEventDispatcherObj: the event dispatcher class of the event library (CLSID_VEventDispatcher,
// "VEventLib::_VEventDispatcher"). An event source keeps one and registers its clients' sinks
// with it; DispatchEvent hands an event over and returns at once.
//
// Delivery: DispatchEvent only queues the event; the dispatcher's own thread (the fan-out
// thread) passes each accepted event to every sink's channel (CVEventSinkChannel), and each
// channel has a delivery thread of its own. So the sender pays for one queue operation however
// many sinks there are, events reach each sink in the order DispatchEvent accepted them (one
// order for all sinks, also with several senders), and a slow or blocked sink delays neither
// the sender nor the other sinks. Progress events ("Type" 4 in the transcode namespace) may be
// coalesced or dropped where they pile up (CVEventBacklog), here or for a sink that falls
// behind; no other event is dropped for a sink that is still registered. The queue before the
// fan-out thread holds other events without limit: that thread never waits for a sink, so it
// holds only what a burst of the sender runs ahead of it.
//
// Connections: Advise(sink, cookie) registers the sink (which must answer DIID_IVEventListener)
// under the caller's cookie (not 0, not one in use: E_INVALIDARG). Unadvise(cookie) removes it
// and returns once no call to that sink is in flight, unless it is called from inside that
// call; CONNECT_E_NOCONNECTION for a cookie never registered. A sink that the dispatcher dropped
// itself (its client is gone, or it hung) keeps its cookie until it is unadvised, which then
// succeeds: the caller's connection bookkeeping stays as the caller made it.
//
// Releasing the dispatcher stops the fan-out thread (events not yet handed out are discarded)
// and closes every channel as Unadvise does.
//
// Threads: any thread may call any method. m_inboundLock guards m_inbound, m_fanOutWaiting and
// m_stopping. m_lock guards m_channels; the fan-out thread holds it while it hands events to
// the channels (never while a sink is called, never while a channel is closed). Lock order:
// m_lock, then a channel's lock; m_inboundLock is never held with another.

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "components/veventlib/veventbacklog.h"
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

    // Starts the fan-out thread.
    HRESULT FinalConstruct() override;
    void FinalRelease() noexcept override;

private:
    // Whether `event` is a progress event: an item whose "Type" in the transcode namespace is 4.
    static bool IsProgressEvent(IUnknown* event);

    void FanOut();
    // Waits for accepted events; empty when the dispatcher stops.
    std::deque<CVEventBacklog::SEvent> TakeAccepted();

    std::thread m_fanOut;  // set by FinalConstruct, joined by FinalRelease

    std::mutex m_inboundLock;
    std::condition_variable m_accepted;
    CVEventBacklog m_inbound;      // guarded by m_inboundLock
    bool m_fanOutWaiting = false;  // guarded by m_inboundLock
    bool m_stopping = false;       // guarded by m_inboundLock

    std::mutex m_lock;
    std::map<ULONG, std::shared_ptr<CVEventSinkChannel>> m_channels;  // guarded by m_lock
};
