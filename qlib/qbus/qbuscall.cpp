#include "qlib/qbus/qbuscall.h"

#include <memory>

#include "qlib/qbus/qbuserror.h"
#include "qlib/qutilitylib/qcatch.h"

void CQBusCall::Serve(CQBusConnection& connection, const sdbus::MethodCall& call, Work work) {
    std::shared_ptr<CQBusCall> held(new CQBusCall(connection, call));
    connection.Post([held, work = std::move(work)] { work(*held); });
}

CQBusCall::CQBusCall(CQBusConnection& connection, const sdbus::MethodCall& call)
    : m_connection(connection), m_call(new sdbus::MethodCall(call)), m_sender(call.getSender()) {}

CQBusCall::~CQBusCall() {
    m_connection.WithBus([&](sdbus::IConnection&) { delete m_call; });
}

void CQBusCall::Reply(const std::function<void(sdbus::MethodReply& reply)>& write) const {
    m_connection.WithBus([&](sdbus::IConnection&) {
        CQCatch::LogAndSwallow([&] {
            try {
                sdbus::MethodReply reply = m_call->createReply();
                write(reply);
                reply.send();
            } catch (...) {
                m_call->createErrorReply(CQBusError::FromCurrentException()).send();
            }
        });
    });
}

void CQBusCall::ReplyError(const sdbus::Error& error) const {
    m_connection.WithBus([&](sdbus::IConnection&) {
        CQCatch::LogAndSwallow([&] { m_call->createErrorReply(error).send(); });
    });
}
