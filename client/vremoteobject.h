#pragma once
// CVRemoteObject: one object of the server, reached over the bus by its path. It holds one
// reference at the server (taken by CVTranscodeClient::CreateInstance) and releases it when it
// goes. Methods are called through the interface's type library table: Call takes the
// in-arguments in declaration order and answers the out-parameters in order, the return value
// last. A failure raises _com_error with the server's HRESULT and error information (for an
// exception, its XML as the description).
//
// Events: Advise connects this client to the object's events; the handler then runs on the
// connection's event thread for every event item, until Unadvise or destruction.
//
// One thread at a time per object; the event handler runs on another thread and must guard
// what it shares.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <sdbus-c++/IProxy.h>

#include "qlib/qcom/comptr.h"
#include "qlib/qcom/typeinfo.h"
#include "qlib/qcom/variant.h"
#include "vtranscoder/vitemsinterfaces.h"

class CVTranscodeClient;

class CVRemoteObject {
public:
    using EventHandler = std::function<void(const CComPtr<IVItem>& event)>;

    CVRemoteObject(CVTranscodeClient& client, std::string path);
    CVRemoteObject(const CVRemoteObject&) = delete;
    CVRemoteObject& operator=(const CVRemoteObject&) = delete;
    ~CVRemoteObject();

    const std::string& Path() const { return m_path; }

    std::vector<VARIANT> Call(const InterfaceInfo& table, const MethodInfo& method,
                              const std::vector<VARIANT>& inArguments);
    // The same, the method found by name; an unknown name raises DISP_E_MEMBERNOTFOUND.
    std::vector<VARIANT> Call(const InterfaceInfo& table, const std::wstring& method,
                              const std::vector<VARIANT>& inArguments);

    void Advise(EventHandler handler);
    void Unadvise();

private:
    CVTranscodeClient& m_client;
    const std::string m_path;
    std::unique_ptr<sdbus::IProxy> m_proxy;
    uint32_t m_cookie = 0;  // 0 while not advised
};
