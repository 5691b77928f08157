#pragma once
// CVBusClassObjectHost: the server's classes on the session bus. RegisterClassObjects
// connects to the bus that started us (DBUS_STARTER_ADDRESS) or else the session bus, exports
// the class objects (the service as one shared object, a handler per request), takes the
// well-known name and starts serving; RevokeClassObjects withdraws everything and disconnects.
// The reference listener hears the number of references bus peers hold after every change.
//
// Called on the module's main thread; the listener runs on the bus's pool threads.

#include <functional>
#include <memory>

#include "qlib/qbus/qbusclassfactory.h"
#include "qlib/qbus/qbusconnection.h"
#include "vtranscodeserver/vclassobjecthost.h"

class CVBusClassObjectHost final : public CVClassObjectHost {
public:
    using ReferenceListener = std::function<void(size_t references)>;

    explicit CVBusClassObjectHost(ReferenceListener listener) : m_listener(std::move(listener)) {}
    ~CVBusClassObjectHost() override { RevokeClassObjects(); }

    HRESULT RegisterClassObjects() override;
    void RevokeClassObjects() noexcept override;

private:
    const ReferenceListener m_listener;
    std::unique_ptr<CQBusConnection> m_connection;
    std::unique_ptr<CQBusClassFactory> m_factory;  // withdrawn before the connection goes
};
