#pragma once
// Test objects shared by the event library's and the event delivery's tests:
// - CTestEvent: events as items that count themselves, so a test can see how many a dispatcher
//   holds;
// - CRecordingSink: a client's sink that records what it receives and can be made slow, held at
//   a gate, failing or throwing;
// - CTestSource: an event source (a connection point container through CVEventDispatcher);
// - CGate: a one-shot gate that threads wait at until the test opens it.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "components/veventlib/veventsinkdispatch.h"
#include "qlib/qcom/comobjectbase.h"
#include "vevent/veventdispatcher.h"
#include "vtranscoder/vitemsinterfaces.h"

inline constexpr LONG k_progressType = 4;
inline constexpr LONG k_completedType = 2;
inline constexpr auto k_patience = std::chrono::seconds(20);  // never reached when all is well

class CGate {
public:
    void Open();
    // Waits until opened; false when k_patience passed first.
    bool Wait();
    bool IsOpen();

private:
    std::mutex m_lock;
    std::condition_variable m_opened;
    bool m_open = false;  // guarded by m_lock
};

// Events are items of the items library carrying "Type" (set by name with the transcode kind),
// "Sequence" and a counted token that tells how many events are alive.
class CTestEvent {
public:
    static CComPtr<IUnknown> Make(LONG type, LONG sequence);
    // Events alive now, and the most alive at once since ResetPeak.
    static int Alive() { return s_alive; }
    static int Peak() { return s_peak; }
    static void ResetPeak() { s_peak = s_alive.load(); }
    static LONG SequenceOf(IUnknown* event);
    static LONG TypeOf(IUnknown* event);

private:
    class CLiveToken;

    static inline std::atomic<int> s_alive{0};
    static inline std::atomic<int> s_peak{0};
};

class CRecordingSink final : public CComObjectBase<CVEventSinkDispatch> {
public:
    struct SReceived {
        LONG type;
        LONG sequence;
    };
    // Runs inside the sink's call before it is recorded; its HRESULT is the call's answer.
    using Behaviour = std::function<HRESULT(const SReceived&)>;

    static CComPtr<CRecordingSink> Make(Behaviour behaviour = {});

    std::vector<SReceived> Received();
    // Waits until `count` events arrived; false when k_patience passed first.
    bool WaitForCount(std::size_t count);
    // Waits until an event with this sequence number arrived; false when k_patience passed.
    bool WaitForSequence(LONG sequence);

protected:
    void* QueryAdditionalInterface(REFIID iid) override { return SinkFor(iid); }
    HRESULT HandleEvent(IUnknown* event) override;

private:
    bool WaitUntil(const std::function<bool()>& done);

    Behaviour m_behaviour;  // constant after Make
    std::mutex m_lock;
    std::condition_variable m_arrived;
    std::vector<SReceived> m_received;  // guarded by m_lock
};

class CTestSource final : public CComObjectBase<CVEventDispatcher<CTestSource>> {
public:
    static CComPtr<CTestSource> Make();
};
