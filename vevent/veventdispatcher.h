#pragma once
// CVEventDispatcher<T>: the sending side of events. T, the class whose objects send events,
// lists it in its interface map; that makes each object a connection point container with one
// point for the listener dispinterface (DIID_IVEventListener), which clients advise their
// sinks on:
//
//     class CVTranscodeService final
//         : public CComObjectBase<CComDispatchImpl<IVTranscodeService>,
//                                 CVEventDispatcher<CVTranscodeService>> { ... };
//     DispatchEvent(eventItem);  // returns once the event is accepted
//
// Every client connection is mirrored, under the cookie the point gave it, into an event
// dispatcher of the event library (CLSID_VEventDispatcher), created on first use; that object
// delivers every event, on its own threads, so the sender never waits for a client and slow or
// vanished clients are its concern. The server never calls a client's sink itself.
//
// The point's Advise runs the standard Advise first (a sink without the dispinterface is
// refused there and never reaches the event dispatcher), then the mirror; when the mirror
// fails, the standard connection is undone and Advise answers the mirror's HRESULT. The point's
// Unadvise runs the standard Unadvise, then the mirror's, and answers the mirror's failure only
// when the standard one succeeded (a cookie the point does not know fails as the point says).
//
// Ownership: the point belongs to the container base; the event dispatcher is held until the
// owner is destroyed, which ends delivery to every client.
//
// Threads: any thread may advise, unadvise and dispatch. m_dispatcherLock guards
// m_eventDispatcher and is held while the event dispatcher is created, so that two threads
// racing for the first use create one; it is never held while an event is handed over or a
// connection is mirrored. The point's own lock guards the sink array.

#include <mutex>
#include <utility>

#include "qlib/qcom/comconnectionpointcontainer.h"
#include "qlib/qcom/comerror.h"
#include "qlib/qcom/variant.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qcomutilities.h"
#include "vtranscoder/veventinterfaces.h"

template <class T>
class CVEventDispatcher : public CComConnectionPointContainer {
public:
    // Hands `event` (an item) to the event dispatcher for every connected client. Raises
    // CQException with the event dispatcher's HRESULT when it refuses the event.
    void DispatchEvent(IUnknown* event) {
        CQCatch::Internal([&] {
            const CComPtr<IVEventDispatcher> dispatcher = GetEventDispatcher();
            VARIANT wrapped(event);
            ThrowIfFailed(dispatcher->DispatchEvent(wrapped));
        });
    }

    // A new reference to the event dispatcher, created on first use.
    CComPtr<IVEventDispatcher> GetEventDispatcher() {
        return CQCatch::Internal([&] {
            std::lock_guard lock(m_dispatcherLock);
            if (!m_eventDispatcher) {
                m_eventDispatcher = CQCOMUtils::CreateObject<IVEventDispatcher>(
                    CLSID_VEventDispatcher, k_eventDispatcherDisplayName);
            }
            return m_eventDispatcher;
        });
    }

protected:
    CVEventDispatcher() { AddConnectionPoint<CVEventConnectionPoint>(*this); }
    ~CVEventDispatcher() = default;

private:
    // The point for the listener dispinterface, mirroring its connections into the event
    // dispatcher.
    class CVEventConnectionPoint final : public CComConnectionPoint<IDispatch> {
    public:
        CVEventConnectionPoint(IConnectionPointContainer& container, CVEventDispatcher& owner)
            : CComConnectionPoint<IDispatch>(container, DIID_IVEventListener), m_owner(owner) {}

        HRESULT Advise(IUnknown* sink, DWORD* cookie) override {
            const HRESULT hr = CComConnectionPoint<IDispatch>::Advise(sink, cookie);
            if (FAILED(hr)) {
                return hr;
            }
            const HRESULT mirrored = m_owner.MirrorAdvise(sink, *cookie);
            if (FAILED(mirrored)) {
                CComConnectionPointImpl::Unadvise(*cookie);
                *cookie = 0;
                return mirrored;
            }
            return hr;
        }

        HRESULT Unadvise(DWORD cookie) override {
            const HRESULT hr = CComConnectionPointImpl::Unadvise(cookie);
            const HRESULT mirrored = m_owner.MirrorUnadvise(cookie);
            return SUCCEEDED(hr) && FAILED(mirrored) ? mirrored : hr;
        }

    private:
        CVEventDispatcher& m_owner;  // our container; outlives us
    };

    HRESULT MirrorAdvise(IUnknown* sink, DWORD cookie) noexcept {
        try {
            return GetEventDispatcher()->Advise(sink, cookie);
        } catch (const CQException& error) {
            return error.GetHResult();
        } catch (...) {
            return HResultFromCurrentException();
        }
    }

    // Nothing to undo before the event dispatcher exists: no connection reached it.
    HRESULT MirrorUnadvise(DWORD cookie) noexcept {
        CComPtr<IVEventDispatcher> dispatcher;
        {
            std::lock_guard lock(m_dispatcherLock);
            dispatcher = m_eventDispatcher;
        }
        return dispatcher ? dispatcher->Unadvise(cookie) : S_OK;
    }

    std::mutex m_dispatcherLock;
    CComPtr<IVEventDispatcher> m_eventDispatcher;  // guarded by m_dispatcherLock
};
