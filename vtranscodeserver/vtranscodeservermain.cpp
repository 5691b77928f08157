// ZeltoVTranscodeServer: the transcode server process. Parses the command line, then either
// closes the running instances, (un)registers the server, or serves its classes on the session
// bus until the last client is gone or it is told to close.
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "components/vdatastorelib/vdatastorelib.h"
#include "components/veventlib/veventlib.h"
#include "components/vitemslib/vitemslib.h"
#include "components/vtranscoderlib/vtranscodercomponent.h"
#include "qlib/qcom/comsingletonfactory.h"
#include "qlib/qsys/resourcetable.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qlogconfig.h"
#include "qlib/qutilitylib/qlogging.h"
#include "vtranscodeserver/vactivationfile.h"
#include "vtranscodeserver/vbusclassobjecthost.h"
#include "vtranscodeserver/vregistrar.h"
#include "vtranscodeserver/vtranscodeservercmdline.h"
#include "vtranscodeserver/vtranscodeservermodule.h"
#include "vtranscodeserver/vtranscodehandler.h"
#include "vtranscodeserver/vtranscodeserviceobj.h"

namespace {

std::wstring ExecutablePath() {
    return qsys::FromUtf8(std::filesystem::read_symlink("/proc/self/exe").string());
}

// RegServer / UnregServer and their per-user forms: the registry entries and the bus's
// activation file.
HRESULT UpdateRegistration(const CVTranscodeServerCmdLine& cmdLine) {
    HRESULT result = S_OK;
    CQCatch::Boundary(
        [&] {
            CVRegistrar registrar(cmdLine.IsPerUser() ? EVRegistrationScope::PerUser
                                                      : EVRegistrationScope::Machine);
            registrar.AddReplacement(L"MODULE", ExecutablePath());
            registrar.AddReplacement(L"APPID", GuidToString(APPID_VTranscodeServer));
            for (uint32_t id : CVRegistrar::k_serverScripts) {
                if (cmdLine.IsRegister()) {
                    registrar.RegisterResource(qsys::ResourceTable::Process(), id);
                } else {
                    registrar.UnregisterResource(qsys::ResourceTable::Process(), id);
                }
            }
            if (cmdLine.IsRegister()) {
                CVActivationFile::Write(ExecutablePath());
            } else {
                CVActivationFile::Remove();
            }
        },
        [&](CQException& error) {
            CQLogging::Log(EQLogLevel_Error, false, L"%s\n", error.GetDescription());
            std::fprintf(stderr, "%s\n", qsys::ToUtf8(error.GetDescription()).c_str());
            result = error.GetHResult();
        });
    return result;
}

HRESULT Serve() {
    CComSingletonFactory<CVTranscodeService>* serviceFactory = nullptr;
    const CComClassRegistration service = CVTranscodeService::RegisterClass(&serviceFactory);
    const CComClassRegistration handler = CVTranscodeHandler::RegisterClass();
    CVTranscodeServerModule* module = nullptr;
    std::mutex referencesGuard;
    size_t references = 0;
    CVBusClassObjectHost classObjects([&](size_t now) {
        std::lock_guard guard(referencesGuard);
        for (; references < now; ++references) {
            module->Lock();
        }
        for (; references > now; --references) {
            module->Unlock();
        }
    });
    // Only a service that exists saves its queue: making one now would write an empty queue
    // over the saved one.
    CVTranscodeServerModule server(
        classObjects,
        [&] {
            const CComPtr<IUnknown> existing = serviceFactory->Instance();
            if (existing) {
                CComPtr<IVTranscodeServiceAdmin> admin;
                ThrowIfFailed(existing.QueryInterface(&admin));
                ThrowIfFailed(admin->Close(VARIANT_TRUE));
            }
        },
        {});
    module = &server;
    CVTranscodeService::SetModuleLock([&](bool held) { held ? server.Lock() : server.Unlock(); });
    const HRESULT result = server.Run();
    CVTranscodeService::SetModuleLock({});
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    sigset_t termination;
    sigemptyset(&termination);
    sigaddset(&termination, SIGTERM);
    sigaddset(&termination, SIGINT);
    pthread_sigmask(SIG_BLOCK, &termination, nullptr);  // the module's signal thread takes them

    std::vector<std::wstring> arguments;
    for (int index = 1; index < argc; ++index) {
        arguments.push_back(qsys::FromUtf8(argv[index]));
    }
    CVTranscodeServerCmdLine cmdLine;
    cmdLine.Parse(CQCmdLine::Join(arguments));
    if (cmdLine.IsCloseRequested()) {
        CVTranscodeServerModule::CloseInstances();
        return 0;
    }
    if (cmdLine.IsRegister() || cmdLine.IsUnregister()) {
        return UpdateRegistration(cmdLine) == S_OK ? 0 : 1;
    }
    CVItemsLib::RegisterClasses();
    CVEventLib::RegisterClasses();
    CVDataStoreLib::RegisterClasses();
    CVTranscoderComponent::RegisterClasses();
    return SUCCEEDED(Serve()) ? 0 : 1;
}
