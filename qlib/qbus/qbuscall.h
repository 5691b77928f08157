#pragma once
// CQBusCall: a method call that arrived on the loop thread, held for its reply from a pool
// thread. Serve is what a method handler calls: it copies the call (under the bus lock, which
// the handler holds) and runs the work on the connection's pool; the work answers with Reply
// or ReplyError, which build and send the reply under the bus lock. A reply that cannot be
// written (a value without a bus form) becomes an error reply; a failure to send is logged.
//
// Owned by the pool work that serves it; the copy of the message is dropped under the bus
// lock when the CQBusCall goes. Reply and ReplyError may be called from any thread.

#include <functional>
#include <string>

#include <sdbus-c++/Error.h>
#include <sdbus-c++/Message.h>

#include "qlib/qbus/qbusconnection.h"

class CQBusCall {
public:
    using Work = std::function<void(const CQBusCall& call)>;

    // Only on the loop thread, inside a method handler.
    static void Serve(CQBusConnection& connection, const sdbus::MethodCall& call, Work work);

    CQBusCall(const CQBusCall&) = delete;
    CQBusCall& operator=(const CQBusCall&) = delete;
    ~CQBusCall();

    // The unique name of the calling peer.
    const std::string& Sender() const { return m_sender; }
    void Reply(const std::function<void(sdbus::MethodReply& reply)>& write) const;
    void ReplyError(const sdbus::Error& error) const;

private:
    CQBusCall(CQBusConnection& connection, const sdbus::MethodCall& call);

    CQBusConnection& m_connection;
    sdbus::MethodCall* m_call;  // guarded by the bus lock
    std::string m_sender;
};
