#pragma once
// CVEventSinkChannel: one sink of the event dispatcher, with its backlog and the thread that
// delivers to it. Events reach the sink in the order they were posted; a sink that blocks
// holds up only its own channel.
//
// Backlog: Post never waits for the sink. Progress events are coalesced or dropped when the
// sink falls behind (CVEventBacklog). Every other event is queued; a sink that lets
// k_maxBacklog of them pile up is treated as hung and dropped, since queueing without end would
// let one stuck client exhaust the server's memory. (A server sends a handful of such events
// per job: that many waiting means the client has not taken an event for thousands of jobs,
// while a burst from a busy sender stays well below it.)
//
// Gone clients: a call that fails with one of the HRESULTs IsGoneClient names (the client's
// process or connection is gone), or that throws, drops the sink: its backlog is discarded,
// its reference released and its thread ends. Any other failure is the sink's own answer to
// one event and the sink stays.
//
// Lifetime: the dispatcher makes a channel with Start and owns it through a shared pointer; the
// delivery thread holds another. Close ends the channel: it discards the backlog and waits for
// the call in flight, unless it runs on the delivery thread itself (from inside the sink's
// call), in which case the thread is let go and ends as soon as that call returns. Close must
// run before the dispatcher lets its pointer go.
//
// Threads: Post from any thread; Close from one thread once. m_lock guards m_backlog, m_state
// and m_workerWaiting. m_sink is set before the thread starts and reset only by the delivery
// thread as it ends. m_worker is set once by Start and used only by Close and the destructor.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "components/veventlib/veventbacklog.h"
#include "qlib/qcom/comptr.h"
#include "qlib/qcom/dispatch.h"
#include "qlib/qcom/variant.h"

class CVEventSinkChannel {
public:
    static constexpr std::size_t k_maxBacklog = 16384;

    // Whether the sink's answer hr means its client is gone (RPC_E_DISCONNECTED,
    // CO_E_OBJNOTCONNECTED, RPC_S_SERVER_UNAVAILABLE, RPC_E_SERVER_DIED,
    // RPC_E_SERVER_DIED_DNE).
    static bool IsGoneClient(HRESULT hr);

    // A channel delivering to `sink` (the listener dispinterface of a client), its thread
    // started. `cookie` names the connection in log lines. Raises std::system_error when no
    // thread can be started.
    static std::shared_ptr<CVEventSinkChannel> Start(ULONG cookie, CComPtr<IDispatch> sink);

    CVEventSinkChannel(const CVEventSinkChannel&) = delete;
    CVEventSinkChannel& operator=(const CVEventSinkChannel&) = delete;
    ~CVEventSinkChannel();

    // Queues `event` (a VARIANT holding the event object) under the backlog rules above.
    void Post(const VARIANT& event, bool isProgress);
    // Ends the channel (see above).
    void Close();

private:
    enum class EState { Open, Gone, Closed };

    CVEventSinkChannel(ULONG cookie, CComPtr<IDispatch> sink);

    void Run();
    // Waits for the next event; false when the channel is no longer open.
    bool TakeNext(CVEventBacklog::SEvent* next);
    // One call of the sink; false when the sink is to be dropped.
    bool Deliver(const VARIANT& event);
    // Marks the sink gone or closed and takes its backlog (released by the caller, outside the
    // lock).
    std::deque<CVEventBacklog::SEvent> DropLocked(EState state);

    const ULONG m_cookie;
    CComPtr<IDispatch> m_sink;  // see the thread notes above
    std::thread m_worker;

    std::mutex m_lock;
    std::condition_variable m_wake;
    CVEventBacklog m_backlog;       // guarded by m_lock
    EState m_state = EState::Open;  // guarded by m_lock
    bool m_workerWaiting = false;   // guarded by m_lock
};
