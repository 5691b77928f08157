#pragma once
// CVBusCall: runs a call to the server and turns a bus error into the _com_error a COM caller
// expects: the server's HRESULT with its error information (the exception's XML for a
// QException error), so that CQException::FromComError reads it back. Send makes one call and
// waits for its reply.
//
// Stateless apart from a per-thread flag that marks the connection's event thread; any thread.

#include <chrono>
#include <future>
#include <memory>

#include <sdbus-c++/Error.h>
#include <sdbus-c++/IProxy.h>
#include <sdbus-c++/Message.h>

#include "qlib/qbus/qbuserror.h"
#include "qlib/qcom/comerror.h"

class CVBusCall {
public:
    // The bus library's default reply timeout (25 s), for calls that never wait for work.
    static constexpr std::chrono::microseconds k_defaultTimeout{0};

    template <class Body>
    static decltype(auto) Run(Body&& body) {
        try {
            return body();
        } catch (const sdbus::Error& error) {
            ErrorInfo info;
            const HRESULT hr = CQBusError::ToHResult(error, &info);
            throw _com_error(hr, info);
        }
    }

    // Sends the call and waits for its reply. Off the event thread the reply arrives there and
    // is handed over through state both threads own, never through the waiting caller's stack
    // (the bus library's own waiting call does that, and may touch it after the caller went
    // on). On the event thread (an event handler calling) the library's call reads the reply
    // itself.
    static sdbus::MethodReply Send(sdbus::IProxy& proxy, const sdbus::MethodCall& call,
                                   std::chrono::microseconds timeout) {
        const auto micros = static_cast<uint64_t>(timeout.count());
        if (t_onEventThread) {
            return proxy.callMethod(call, micros);
        }
        auto reply = std::make_shared<std::promise<sdbus::MethodReply>>();
        std::future<sdbus::MethodReply> arrived = reply->get_future();
        proxy.callMethod(
            call,
            [reply](sdbus::MethodReply& answer, const sdbus::Error* error) {
                if (error != nullptr) {
                    reply->set_exception(std::make_exception_ptr(*error));
                } else {
                    reply->set_value(answer);
                }
            },
            micros);
        return arrived.get();
    }

    // Marks the calling thread as the connection's event thread for the life of a scope.
    class EventThreadScope {
    public:
        EventThreadScope() { t_onEventThread = true; }
        EventThreadScope(const EventThreadScope&) = delete;
        EventThreadScope& operator=(const EventThreadScope&) = delete;
        ~EventThreadScope() { t_onEventThread = false; }
    };

private:
    static inline thread_local bool t_onEventThread = false;
};
