#include "components/veventlib/veventsinkchannel.h"

#include <utility>

#include "qlib/qutilitylib/qlogging.h"
#include "vtranscoder/veventinterfaces.h"

namespace {

constexpr HRESULT k_objectNotConnected = MakeHResult(0x800401FD);     // CO_E_OBJNOTCONNECTED
constexpr HRESULT k_serverUnavailable = MakeHResult(0x800706BA);      // RPC_S_SERVER_UNAVAILABLE
constexpr HRESULT k_serverDied = MakeHResult(0x80010007);             // RPC_E_SERVER_DIED
constexpr HRESULT k_serverDiedNotExecuted = MakeHResult(0x80010012);  // RPC_E_SERVER_DIED_DNE

}  // namespace

bool CVEventSinkChannel::IsGoneClient(HRESULT hr) {
    return hr == RPC_E_DISCONNECTED || hr == k_objectNotConnected || hr == k_serverUnavailable ||
           hr == k_serverDied || hr == k_serverDiedNotExecuted;
}

std::shared_ptr<CVEventSinkChannel> CVEventSinkChannel::Start(ULONG cookie,
                                                              CComPtr<IDispatch> sink) {
    std::shared_ptr<CVEventSinkChannel> channel(new CVEventSinkChannel(cookie, std::move(sink)));
    channel->m_worker = std::thread([keep = channel] { keep->Run(); });
    return channel;
}

CVEventSinkChannel::CVEventSinkChannel(ULONG cookie, CComPtr<IDispatch> sink)
    : m_cookie(cookie), m_sink(std::move(sink)) {}

CVEventSinkChannel::~CVEventSinkChannel() {
    // Close ran (it joined or let go of the thread); the last owner may be the thread itself.
    if (m_worker.joinable()) {
        m_worker.detach();
    }
}

void CVEventSinkChannel::Post(const VARIANT& event, bool isProgress) {
    std::deque<CVEventBacklog::SEvent> dropped;  // released after the lock is let go
    bool wake = false;
    {
        std::lock_guard lock(m_lock);
        if (m_state != EState::Open) {
            return;
        }
        if (!isProgress && m_backlog.Size() >= k_maxBacklog) {
            dropped = DropLocked(EState::Gone);
            wake = true;
        } else {
            m_backlog.Push(event, isProgress);
            wake = m_workerWaiting;
        }
    }
    if (wake) {
        m_wake.notify_one();
    }
    if (!dropped.empty()) {
        CQLogging::Log(EQLogLevel_Warning, false,
                       L"CVEventSinkChannel::Post: sink %u dropped, %u events wait for it\n",
                       m_cookie, static_cast<unsigned>(dropped.size()));
    }
}

void CVEventSinkChannel::Close() {
    std::deque<CVEventBacklog::SEvent> dropped;
    {
        std::lock_guard lock(m_lock);
        dropped = DropLocked(EState::Closed);
    }
    m_wake.notify_one();
    dropped.clear();
    if (m_worker.get_id() == std::this_thread::get_id()) {
        m_worker.detach();  // called from inside the sink's call: the thread ends after it
    } else if (m_worker.joinable()) {
        m_worker.join();
    }
}

std::deque<CVEventBacklog::SEvent> CVEventSinkChannel::DropLocked(EState state) {
    if (m_state != EState::Closed) {
        m_state = state;
    }
    return m_backlog.TakeAll();
}

void CVEventSinkChannel::Run() {
    CVEventBacklog::SEvent next;
    while (TakeNext(&next)) {
        const bool keep = Deliver(next.event);
        next.event.Clear();
        if (!keep) {
            std::deque<CVEventBacklog::SEvent> dropped;
            std::lock_guard lock(m_lock);
            dropped = DropLocked(EState::Gone);
        }
    }
    m_sink.Reset();
}

bool CVEventSinkChannel::TakeNext(CVEventBacklog::SEvent* next) {
    std::unique_lock lock(m_lock);
    m_workerWaiting = true;
    m_wake.wait(lock, [&] { return m_state != EState::Open || !m_backlog.Empty(); });
    m_workerWaiting = false;
    if (m_state != EState::Open) {
        return false;
    }
    *next = m_backlog.Pop();
    return true;
}

bool CVEventSinkChannel::Deliver(const VARIANT& event) {
    VARIANT argument = event;
    DISPPARAMS params;
    params.rgvarg = &argument;
    params.cArgs = 1;
    EXCEPINFO failure;
    HRESULT hr = S_OK;
    try {
        hr = m_sink->Invoke(k_eventMethodDispId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                            &params, nullptr, &failure, nullptr);
    } catch (...) {
        CQLogging::Log(EQLogLevel_Warning, false,
                       L"CVEventSinkChannel::Deliver: sink %u dropped, its call threw\n", m_cookie);
        return false;
    }
    if (hr == DISP_E_EXCEPTION) {
        hr = failure.scode;
    }
    if (IsGoneClient(hr)) {
        CQLogging::Log(EQLogLevel_Warning, false,
                       L"CVEventSinkChannel::Deliver: sink %u dropped, its client is gone "
                       L"(0x%08X)\n",
                       m_cookie, static_cast<unsigned>(hr));
        return false;
    }
    return true;
}
