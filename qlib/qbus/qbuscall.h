#pragma once
// CQBusCall: a method call that arrived in the connection's loop, held for its reply from a pool
// thread. Serve is what a method handler calls: it copies the call (under the bus lock, which
// the handler holds) and runs the work on the connection's pool; the work answers with Reply
// or ReplyError, which build and send the reply under the bus lock. A reply that cannot be
// written (a value without a bus form) becomes an error reply; a failure to send is logged.
//
// Owned by the pool work that serves it. The copy of the message is dropped under the bus lock
// as soon as the reply is sent (so that a served call takes the lock once), or when the
// CQBusCall goes unanswered. One reply per call: a second Reply or ReplyError does nothing.
// Reply and ReplyError may be called from any thread, one at a time.

#include <functional>
#include <string>

#include <sdbus-c++/Error.h>
#include <sdbus-c++/Message.h>

#include "qlib/qbus/qbusconnection.h"

class CQBusCall {
public:
    using Work = std::function<void(const CQBusCall& call)>;

    // Only in the loop, inside a method handler.
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

    // Runs `answer` on the message under the bus lock (once), then drops the message.
    void Answer(const std::function<void(sdbus::MethodCall& call)>& answer) const;

    CQBusConnection& m_connection;
    mutable sdbus::MethodCall* m_call;  // guarded by the bus lock; null once answered
    std::string m_sender;
};
