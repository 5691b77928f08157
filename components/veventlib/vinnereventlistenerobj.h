#pragma once
// CVInnerEventListenerObj: the inner listener class of the event library
// (CLSID_VInnerEventListener, "VEventLib::_VInnerEventListener"). It is the sink a
// CVEventListener connects to event sources (it answers DIID_IVEventListener) and forwards
// every event it receives to the attached listener's OnEvent, on the thread the event arrives
// on. It keeps a plain pointer to the listener, which its owner keeps alive while attached.
//
// Attach(listener) attaches (replacing any listener); Attach(nullptr) detaches. When Attach
// replaces or removes a listener it returns only once no OnEvent of the old listener is running
// on another thread, so that after Attach(nullptr) returns no OnEvent runs; called from inside
// an OnEvent it does not wait for that call (its own thread), only for the others. Events that
// arrive while nothing is attached are accepted and ignored. An exception leaving OnEvent is
// logged and swallowed.
//
// Threads: any thread. m_lock guards m_listener and m_delivering; m_idle is signalled when a
// delivery ends. OnEvent runs outside m_lock.

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "components/veventlib/veventsinkdispatch.h"
#include "qlib/qcom/comobjectbase.h"
#include "vtranscoder/veventinterfaces.h"

class CVInnerEventListenerObj final
    : public CComObjectBase<IVInnerEventListener, CVEventSinkDispatch> {
public:
    CVInnerEventListenerObj() = default;

    HRESULT Attach(CVEventListener* listener) override;

protected:
    void* QueryAdditionalInterface(REFIID iid) override { return SinkFor(iid); }
    HRESULT HandleEvent(IUnknown* event) override;

private:
    struct SDelivery {
        std::thread::id thread;
        CVEventListener* listener;
    };

    // Whether a thread other than this one is inside an OnEvent of `listener`; m_lock is held.
    bool OthersDeliveringLocked(const CVEventListener* listener) const;

    std::mutex m_lock;
    std::condition_variable m_idle;
    CVEventListener* m_listener = nullptr;  // guarded by m_lock; not owned
    std::vector<SDelivery> m_delivering;    // one entry per OnEvent running; guarded by m_lock
};
