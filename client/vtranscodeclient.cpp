#include "client/vtranscodeclient.h"

#include <sdbus-c++/sdbus-c++.h>

#include "client/vbuscall.h"
#include "qlib/qbus/qbusclassfactory.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qexception.h"
#include "vtranscodeserver/vbusnames.h"

namespace {

constexpr int QERR_NO_SESSION_BUS = 1016;

}  // namespace

std::unique_ptr<CVTranscodeClient> CVTranscodeClient::Connect() {
    std::unique_ptr<sdbus::IConnection> connection;
    try {
        connection = sdbus::createSessionBusConnection();
    } catch (const sdbus::Error& error) {
        throw CQException(
            L"There is no D-Bus session bus to reach the transcode server (" +
                qsys::FromUtf8(error.getMessage()) +
                L"). Run the command inside a session, for example: dbus-run-session -- "
                L"vtranscode ...",
            QERR_NO_SESSION_BUS);
    }
    return std::unique_ptr<CVTranscodeClient>(new CVTranscodeClient(std::move(connection)));
}

CVTranscodeClient::CVTranscodeClient(std::unique_ptr<sdbus::IConnection> connection)
    : m_connection(std::move(connection)),
      m_factory(sdbus::createProxy(*m_connection, k_vBusName, k_vClassFactoryPath)) {
    m_factory->finishRegistration();
    m_connection->enterEventLoopAsync();
}

CVTranscodeClient::~CVTranscodeClient() {
    m_factory.reset();
    m_connection->leaveEventLoop();
}

std::string CVTranscodeClient::CreateInstance(const std::wstring& classId) {
    return CVBusCall::Run([&] {
        sdbus::MethodCall call =
            m_factory->createMethodCall(CQBusClassFactory::k_interface, "CreateInstance");
        call << qsys::ToUtf8(classId);
        sdbus::ObjectPath path;
        CVBusCall::Send(*m_factory, call, k_callTimeout) >> path;
        return std::string(path);
    });
}

void CVTranscodeClient::Release(const std::string& path) noexcept {
    try {
        sdbus::MethodCall call =
            m_factory->createMethodCall(CQBusClassFactory::k_interface, "Release");
        call << sdbus::ObjectPath(path);
        CVBusCall::Send(*m_factory, call, CVBusCall::k_defaultTimeout);
    } catch (...) {
        // The server may have ended; its references went with it.
    }
}
