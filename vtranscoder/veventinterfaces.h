#pragma once
// The event library's interfaces and class ids. An event is an item (vitemsinterfaces.h)
// passed as one VARIANT holding an object reference to the listener dispinterface's method
// (dispatch id k_eventMethodDispId). The outside dispatcher fans events out to the sinks
// registered with it; the inner listener is the sink the server connects to event sources and
// forwards every event it receives to the attached CVEventListener (vevent/veventlistener.h).

#include "qlib/qcom/dispatch.h"
#include "qlib/qcom/guid.h"
#include "qlib/qcom/variant.h"

class CVEventListener;

// The listener dispinterface: the outgoing interface of every event source. Sinks answer this
// IID with their IDispatch; its one method takes the event.
inline constexpr IID DIID_IVEventListener = MakeGuid("7C2D4E6F-8A9B-4C1D-8E2F-3A4B5C6D7E01");
inline constexpr DISPID k_eventMethodDispId = 1;

inline constexpr CLSID CLSID_VEventDispatcher = MakeGuid("7C2D4E6F-8A9B-4C1D-8E2F-3A4B5C6D7E02");
inline constexpr CLSID CLSID_VInnerEventListener =
    MakeGuid("7C2D4E6F-8A9B-4C1D-8E2F-3A4B5C6D7E03");
inline constexpr const wchar_t* k_eventDispatcherDisplayName = L"VEventLib::_VEventDispatcher";
inline constexpr const wchar_t* k_innerEventListenerDisplayName =
    L"VEventLib::_VInnerEventListener";

// Delivers events to registered sinks on its own thread. Advise registers `sink` (answering
// DIID_IVEventListener) under the caller's cookie; DispatchEvent returns once the event is
// accepted, never waiting for a sink.
class IVEventDispatcher : public IDispatch {
public:
    static constexpr IID k_iid = MakeGuid("7C2D4E6F-8A9B-4C1D-8E2F-3A4B5C6D7E11");
    static const InterfaceInfo& TypeInfo();
    virtual HRESULT Advise(IUnknown* sink, ULONG cookie) = 0;
    virtual HRESULT Unadvise(ULONG cookie) = 0;
    virtual HRESULT DispatchEvent(const VARIANT& event) = 0;
};

// Attach(listener) makes the inner listener forward each received event to listener->OnEvent;
// Attach(nullptr) detaches: after it returns no OnEvent runs.
class IVInnerEventListener : public IUnknown {
public:
    static constexpr IID k_iid = MakeGuid("7C2D4E6F-8A9B-4C1D-8E2F-3A4B5C6D7E12");
    virtual HRESULT Attach(CVEventListener* listener) = 0;
};
