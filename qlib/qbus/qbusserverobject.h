#pragma once
// CQBusServerObject: one object of this process exported on the bus at one path, from the type
// library tables of its interfaces (typeinfo.h):
//   - each table as the interface <prefix><table name> (for example
//     "com.zelto.VTranscodeServerLib.IVTranscodeService"): one method per table method, the
//     in-parameters as arguments in order, the reply the out-parameters in order and the
//     out-retval last, with the types of qbusvaluecodec.h;
//   - "com.zelto.Automation.IDispatch", when a table is dual (the first dual table answers):
//     GetIDsOfNames(as names) -> ai, each name matched exactly as the table spells it;
//     Invoke(i dispid, a(qv) args) -> a(qv): the in-arguments in declaration order (missing
//     trailing optional ones may be left out; a caller may also pass one value for every
//     parameter but the retval, and the values in out-parameter places are then ignored; a
//     transcode item may be given as its item XML); the reply holds the return value first
//     (VT_EMPTY for a method without one), then the out-parameters in order;
//   - "com.zelto.Automation.IConnectionPointContainer", when the object has an event interface:
//     Advise() -> u cookie connects a sink for the calling peer (CQBusEventSink), Unadvise(u)
//     drops one of the caller's own connections (CONNECT_E_NOCONNECTION for any other cookie);
//     a peer that leaves the bus is unadvised (DropPeer);
//   - the signal "com.zelto.VEventLib.IVEventListener.OnEvent" in its introspection data.
// Failures answer the errors of qbuserror.h; an unknown dispatch id or name is
// DISP_E_MEMBERNOTFOUND.
//
// Calls are read in the connection's loop and served on its pool, so a call that blocks
// holds up no other; the object must therefore be safe to call from several threads at once.
//
// Ownership: the export holds a reference to the object until it is destroyed. The destructor
// withdraws the path (no call starts afterwards; calls already running finish on the pool and
// still reply), unadvises every bus peer's connection, and must not run in the loop (a method
// handler).
// m_core->lock guards the table of connections (advises).

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qlib/qbus/qbusconnection.h"
#include "qlib/qcom/comptr.h"
#include "qlib/qcom/typeinfo.h"

struct SQBusExport {
    std::string path;
    std::string interfacePrefix;  // "com.zelto.VTranscodeServerLib."
    CComPtr<IUnknown> object;
    std::vector<const InterfaceInfo*> interfaces;  // each answered by the object's QueryInterface
    std::optional<IID> eventInterface;             // its connection point's interface, if any
};

class CQBusServerObject {
public:
    static constexpr const char* k_dispatchInterface = "com.zelto.Automation.IDispatch";
    static constexpr const char* k_connectionPointsInterface =
        "com.zelto.Automation.IConnectionPointContainer";

    // Registers everything on the connection; raises sdbus::Error (a path in use, a bad name)
    // or _com_error (the object does not answer one of its tables' interfaces).
    CQBusServerObject(CQBusConnection& connection, SQBusExport description);
    CQBusServerObject(const CQBusServerObject&) = delete;
    CQBusServerObject& operator=(const CQBusServerObject&) = delete;
    ~CQBusServerObject();

    const std::string& Path() const;
    IUnknown* Object() const;
    // Drops every connection the peer advised.
    void DropPeer(const std::string& peer);

    struct Core;

private:
    std::shared_ptr<Core> m_core;
    uint64_t m_peerListener = 0;
};
