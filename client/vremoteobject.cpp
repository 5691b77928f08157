#include "client/vremoteobject.h"

#include <sdbus-c++/sdbus-c++.h>

#include "client/vbuscall.h"
#include "client/vtranscodeclient.h"
#include "qlib/qbus/qbusitemcodec.h"
#include "qlib/qbus/qbusserverobject.h"
#include "qlib/qbus/qbusvaluecodec.h"
#include "qlib/qsys/textcodec.h"
#include "vtranscodeserver/vbusnames.h"

namespace {

constexpr const char* k_eventInterface = "com.zelto.VEventLib.IVEventListener";
constexpr const char* k_eventSignal = "OnEvent";

}  // namespace

CVRemoteObject::CVRemoteObject(CVTranscodeClient& client, std::string path)
    : m_client(client),
      m_path(std::move(path)),
      m_proxy(sdbus::createProxy(client.Connection(), k_vBusName, m_path)) {}

CVRemoteObject::~CVRemoteObject() {
    try {
        Unadvise();
    } catch (...) {
        // The server may be gone; so is the connection of our events there.
    }
    m_proxy.reset();
    m_client.Release(m_path);
}

std::vector<VARIANT> CVRemoteObject::Call(const InterfaceInfo& table, const MethodInfo& method,
                                          const std::vector<VARIANT>& inArguments) {
    return CVBusCall::Run([&] {
        sdbus::MethodCall call = m_proxy->createMethodCall(
            std::string(k_vInterfacePrefix) + qsys::ToUtf8(table.name), qsys::ToUtf8(method.name));
        size_t next = 0;
        for (const ParamInfo& param : method.params) {
            if (param.direction != ParamDirection::In) {
                continue;
            }
            if (next >= inArguments.size()) {
                throw _com_error(DISP_E_BADPARAMCOUNT);
            }
            CQBusValueCodec::WriteParam(call, param, inArguments[next++]);
        }
        if (next != inArguments.size()) {
            throw _com_error(DISP_E_BADPARAMCOUNT);
        }
        sdbus::MethodReply reply =
            CVBusCall::Send(*m_proxy, call, CVTranscodeClient::k_callTimeout);
        std::vector<VARIANT> results;
        for (const ParamInfo& param : method.params) {
            if (param.direction != ParamDirection::In) {
                results.push_back(CQBusValueCodec::ReadParam(reply, param));
            }
        }
        return results;
    });
}

std::vector<VARIANT> CVRemoteObject::Call(const InterfaceInfo& table, const std::wstring& method,
                                          const std::vector<VARIANT>& inArguments) {
    const MethodInfo* info = table.FindMethod(method);
    if (info == nullptr) {
        throw _com_error(DISP_E_MEMBERNOTFOUND);
    }
    return Call(table, *info, inArguments);
}

void CVRemoteObject::Advise(EventHandler handler) {
    Unadvise();
    m_proxy->registerSignalHandler(k_eventInterface, k_eventSignal,
                                   [handler = std::move(handler)](sdbus::Signal& signal) {
                                       const CVBusCall::EventThreadScope eventThread;
                                       try {
                                           handler(CQBusItemCodec::ReadItem(signal, 0));
                                       } catch (...) {
                                           // An event that cannot be read is dropped.
                                       }
                                   });
    m_proxy->finishRegistration();
    m_cookie = CVBusCall::Run([&] {
        sdbus::MethodCall call =
            m_proxy->createMethodCall(CQBusServerObject::k_connectionPointsInterface, "Advise");
        uint32_t cookie = 0;
        CVBusCall::Send(*m_proxy, call, CVBusCall::k_defaultTimeout) >> cookie;
        return cookie;
    });
}

void CVRemoteObject::Unadvise() {
    if (m_cookie == 0) {
        return;
    }
    const uint32_t cookie = m_cookie;
    m_cookie = 0;
    m_proxy->unregister();
    m_proxy = sdbus::createProxy(m_client.Connection(), k_vBusName, m_path);
    CVBusCall::Run([&] {
        sdbus::MethodCall call =
            m_proxy->createMethodCall(CQBusServerObject::k_connectionPointsInterface, "Unadvise");
        call << cookie;
        CVBusCall::Send(*m_proxy, call, CVBusCall::k_defaultTimeout);
    });
}
