#include "vtranscodeserver/vbusclassobjecthost.h"

#include <cstdlib>

#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qlogconfig.h"
#include "qlib/qutilitylib/qlogging.h"
#include "vtranscoder/veventinterfaces.h"
#include "vtranscodeserver/vbusnames.h"
#include "vtranscodeserver/vtranscodeserverlib.h"

namespace {

std::vector<SQBusClass> ServerClasses() {
    SQBusClass service;
    service.clsid = CLSID_VTranscodeService;
    service.path = std::string(k_vClassFactoryPath) + "/VTranscodeService";
    service.interfaces = {&IVTranscodeService::TypeInfo(), &IVTranscodeServiceAdmin::TypeInfo(),
                          &IVTranscodeServiceCtrl::TypeInfo(), &IVTranscodeInfo::TypeInfo()};
    service.eventInterface = DIID_IVEventListener;
    service.instancing = EQBusInstancing::Shared;

    SQBusClass handler;
    handler.clsid = CLSID_VTranscodeHandler;
    handler.path = std::string(k_vClassFactoryPath) + "/VTranscodeHandler";
    handler.interfaces = {&IVTranscodeHandler::TypeInfo()};
    handler.eventInterface = DIID_IVEventListener;
    handler.instancing = EQBusInstancing::PerRequest;
    return {service, handler};
}

std::unique_ptr<CQBusConnection> OpenStarterBus() {
    const char* starter = std::getenv("DBUS_STARTER_ADDRESS");
    return starter != nullptr && *starter != '\0' ? CQBusConnection::Open(starter)
                                                  : CQBusConnection::OpenSession();
}

}  // namespace

HRESULT CVBusClassObjectHost::RegisterClassObjects() {
    try {
        m_connection = OpenStarterBus();
        m_factory = std::make_unique<CQBusClassFactory>(*m_connection, k_vClassFactoryPath,
                                                        k_vInterfacePrefix, ServerClasses(),
                                                        m_listener);
        m_connection->RequestName(k_vBusName);
        m_connection->Start();
        return S_OK;
    } catch (const sdbus::Error& error) {
        CQLogging::Log(EQLogLevel_Error, false, L"The server cannot serve on the bus: %s\n",
                       qsys::FromUtf8(error.getMessage()));
        RevokeClassObjects();
        return CO_E_SERVER_EXEC_FAILURE;
    }
}

void CVBusClassObjectHost::RevokeClassObjects() noexcept {
    CQCatch::LogAndSwallow([&] {
        m_factory.reset();
        m_connection.reset();
    });
}
