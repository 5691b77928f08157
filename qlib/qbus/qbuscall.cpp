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
    if (m_call != nullptr) {
        m_connection.WithBus([&](sdbus::IConnection&) { delete m_call; });
    }
}

void CQBusCall::Reply(const std::function<void(sdbus::MethodReply& reply)>& write) const {
    Answer([&](sdbus::MethodCall& call) {
        try {
            sdbus::MethodReply reply = call.createReply();
            write(reply);
            reply.send();
        } catch (...) {
            call.createErrorReply(CQBusError::FromCurrentException()).send();
        }
    });
}

void CQBusCall::ReplyError(const sdbus::Error& error) const {
    Answer([&](sdbus::MethodCall& call) { call.createErrorReply(error).send(); });
}

void CQBusCall::Answer(const std::function<void(sdbus::MethodCall& call)>& answer) const {
    m_connection.WithBus([&](sdbus::IConnection&) {
        if (m_call == nullptr) {
            return;
        }
        CQCatch::LogAndSwallow([&] { answer(*m_call); });
        delete m_call;
        m_call = nullptr;
    });
}
