#pragma once
// CVEventListener: the receiving side of events. A class that listens to event sources
// (objects with a connection point for DIID_IVEventListener) derives from it and implements
// OnEvent; Advise(source) connects, Unadvise(source) disconnects, Clear disconnects from all.
// The connections are made by an inner listener of the event library
// (CLSID_VInnerEventListener), created by the first Advise and released when the last source
// goes; it calls OnEvent for every event of every connected source, on the thread the event
// arrives on (a delivery thread of the source's event dispatcher), possibly on several threads
// at once when several sources send.
//
//     class CVTranscodeService : ..., public CVEventListener {
//         void OnEvent(IUnknown* event) override;   // catch convention: log and swallow
//         ~CVTranscodeService() { Clear(); }       // before the members OnEvent uses go
//     };
//
// Contract for owners: call Clear (or unadvise every source) in the owner's destructor or
// FinalRelease, before the members OnEvent uses are destroyed. Clear returns only when no
// OnEvent is running on another thread, and afterwards none starts. Clear and Unadvise may be
// called from inside OnEvent; they then do not wait for that call. The destructor here calls
// Clear only as a last resort, when OnEvent can no longer be dispatched to the owner.
//
// Advising a source that is already connected does nothing. Sources are told apart by
// identity (their IUnknown).
//
// Threads: any thread may call any method. m_lock guards m_innerListener and m_sources. It is
// held while the inner listener is created (two threads racing for the first use create one)
// but never while a source is connected or disconnected, nor while the inner listener is
// detached: those may wait for an OnEvent, which may itself call Unadvise.
//
// CVAdviseHolder: one scoped connection of a CVEventListener to a source. The constructor
// advises (a failure is logged and the holder stays empty), Clear and the destructor unadvise.
// It keeps a reference to the source and a plain pointer to the listener, which must outlive
// the holder. Used by one thread at a time.

#include <exception>
#include <map>
#include <mutex>
#include <source_location>
#include <utility>

#include "qlib/qcom/comerror.h"
#include "qlib/qcom/connectionpoint.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qcomutilities.h"
#include "vtranscoder/veventinterfaces.h"

class CVEventListener {
public:
    CVEventListener() = default;
    CVEventListener(const CVEventListener&) = delete;
    CVEventListener& operator=(const CVEventListener&) = delete;
    virtual ~CVEventListener() {
        CQCatch::LogAndSwallow([&] { Clear(); });
    }

    // One event of a connected source (an item).
    virtual void OnEvent(IUnknown* event) = 0;

    // Connects the inner listener to `source`. Raises CQException with the HRESULT of the
    // failing connection call as its code.
    void Advise(IUnknown* source) {
        CQCatch::Internal([&] {
            const CComPtr<IUnknown> identity = Identity(source);
            for (;;) {
                if (IsAdvised(identity)) {
                    return;
                }
                const CComPtr<IVInnerEventListener> inner = GetInnerListener();
                const DWORD cookie = Connect(identity, inner);
                if (Record(identity, inner, cookie)) {
                    return;
                }
                // A concurrent Clear replaced the inner listener, or another thread advised
                // the same source first: undo, and look again.
                Disconnect(identity, cookie);
            }
        });
    }

    // Disconnects from `source`; nothing when it is not connected. Unadvising the last source
    // releases the inner listener. Raises as Advise (the source counts as gone all the same).
    void Unadvise(IUnknown* source) {
        CQCatch::Internal([&] {
            if (source == nullptr) {
                return;
            }
            const CComPtr<IUnknown> identity = Identity(source);
            CComPtr<IVInnerEventListener> lastInner;
            DWORD cookie = 0;
            {
                std::lock_guard lock(m_lock);
                const auto found = m_sources.find(identity.Get());
                if (found == m_sources.end()) {
                    return;
                }
                cookie = found->second.first;
                m_sources.erase(found);
                if (m_sources.empty()) {
                    lastInner = std::exchange(m_innerListener, nullptr);
                }
            }
            if (lastInner) {
                ThrowIfFailed(lastInner->Attach(nullptr));
            }
            Disconnect(identity, cookie);
        });
    }

    // Detaches from the inner listener (no OnEvent after this returns), disconnects from every
    // source and releases the inner listener. Raises the first disconnection failure after
    // trying every source.
    void Clear() {
        CQCatch::Internal([&] {
            SourceMap sources;
            CComPtr<IVInnerEventListener> inner;
            {
                std::lock_guard lock(m_lock);
                sources.swap(m_sources);
                inner = std::exchange(m_innerListener, nullptr);
            }
            if (inner) {
                ThrowIfFailed(inner->Attach(nullptr));
            }
            std::exception_ptr firstFailure;
            for (const auto& [key, connection] : sources) {
                try {
                    Disconnect(connection.second, connection.first);
                } catch (...) {
                    firstFailure = firstFailure ? firstFailure : std::current_exception();
                }
            }
            if (firstFailure) {
                std::rethrow_exception(firstFailure);
            }
        });
    }

    // A new reference to the inner listener, created and attached to this listener on first
    // use.
    CComPtr<IVInnerEventListener> GetInnerListener() {
        return CQCatch::Internal([&] {
            std::lock_guard lock(m_lock);
            if (!m_innerListener) {
                CComPtr<IVInnerEventListener> created =
                    CQCOMUtils::CreateObject<IVInnerEventListener>(CLSID_VInnerEventListener,
                                                                   k_innerEventListenerDisplayName);
                ThrowIfFailed(created->Attach(this));
                m_innerListener = std::move(created);
            }
            return m_innerListener;
        });
    }

private:
    using SourceMap = std::map<IUnknown*, std::pair<DWORD, CComPtr<IUnknown>>>;

    static CComPtr<IUnknown> Identity(IUnknown* source) {
        if (source == nullptr) {
            throw CQException(QERR_INVALID_PARAMETER);
        }
        CComPtr<IUnknown> identity;
        if (const HRESULT hr = source->QueryInterface(IID_IUnknown, identity.Put()); FAILED(hr)) {
            throw ConnectionFailure(hr);
        }
        return identity;
    }

    // The connection point of the listener dispinterface on `source`.
    static CComPtr<IConnectionPoint> FindPoint(IUnknown* source) {
        CComPtr<IConnectionPointContainer> container;
        HRESULT hr = CComPtr<IUnknown>(source).QueryInterface(&container);
        CComPtr<IConnectionPoint> point;
        if (SUCCEEDED(hr)) {
            hr = container->FindConnectionPoint(DIID_IVEventListener, &point);
        }
        if (FAILED(hr)) {
            throw ConnectionFailure(hr);
        }
        return point;
    }

    static DWORD Connect(IUnknown* source, IUnknown* sink) {
        DWORD cookie = 0;
        if (const HRESULT hr = FindPoint(source)->Advise(sink, &cookie); FAILED(hr)) {
            throw ConnectionFailure(hr);
        }
        return cookie;
    }

    static void Disconnect(IUnknown* source, DWORD cookie) {
        if (const HRESULT hr = FindPoint(source)->Unadvise(cookie); FAILED(hr)) {
            throw ConnectionFailure(hr);
        }
    }

    static CQException ConnectionFailure(
        HRESULT hr, const std::source_location& location = std::source_location::current()) {
        return CQException(CQException::GetSystemErrorMessage(hr), hr, location);
    }

    bool IsAdvised(const CComPtr<IUnknown>& identity) {
        std::lock_guard lock(m_lock);
        return m_sources.contains(identity.Get());
    }

    // Records the connection made through `inner`; false when `inner` is no longer this
    // listener's inner listener or the source is already recorded.
    bool Record(const CComPtr<IUnknown>& identity, const CComPtr<IVInnerEventListener>& inner,
                DWORD cookie) {
        std::lock_guard lock(m_lock);
        return m_innerListener == inner &&
               m_sources.try_emplace(identity.Get(), cookie, identity).second;
    }

    std::mutex m_lock;
    CComPtr<IVInnerEventListener> m_innerListener;  // guarded by m_lock
    SourceMap m_sources;  // source identity -> (cookie, source); guarded by m_lock
};

class CVAdviseHolder {
public:
    CVAdviseHolder(IUnknown* source, CVEventListener* listener)
        : m_source(source), m_listener(listener) {
        CQCatch::LogAndSwallow([&] { m_listener->Advise(m_source); });
    }
    CVAdviseHolder(const CVAdviseHolder&) = delete;
    CVAdviseHolder& operator=(const CVAdviseHolder&) = delete;
    virtual ~CVAdviseHolder() {
        CQCatch::LogAndSwallow([&] { Clear(); });
    }

    // Disconnects the listener from the source and lets the source go; nothing the second
    // time.
    void Clear() {
        CQCatch::Internal([&] {
            CComPtr<IUnknown> source = std::exchange(m_source, nullptr);
            if (source) {
                m_listener->Unadvise(source);
            }
        });
    }

private:
    CComPtr<IUnknown> m_source;
    CVEventListener* m_listener;  // not owned
};
