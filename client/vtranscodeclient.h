#pragma once
// CVTranscodeClient: a program's connection to the transcode server on the user's session bus.
// The server is started by the bus on the first call when it is not running. Without a
// session bus, Connect raises a CQException that says so and how to get one.
//
//     auto client = CVTranscodeClient::Connect();
//     CVRemoteObject service(*client,
//     client->CreateInstance(L"VTranscodeServer.VTranscodeServiceOb")); LONG count =
//     service.Call(IVTranscodeService::TypeInfo(), L"GetCount", {})[0].Get<LONG>();
//
// The connection runs its own event thread (events arrive there). Calls may come from any
// thread; CreateInstance and Release are as thread-safe as the bus library's calls.

#include <chrono>
#include <memory>
#include <string>

#include <sdbus-c++/IConnection.h>
#include <sdbus-c++/IProxy.h>

class CVTranscodeClient {
public:
    // Blocking calls (a handler waiting for its jobs) may take long.
    static constexpr std::chrono::hours k_callTimeout{24};

    static std::unique_ptr<CVTranscodeClient> Connect();
    CVTranscodeClient(const CVTranscodeClient&) = delete;
    CVTranscodeClient& operator=(const CVTranscodeClient&) = delete;
    ~CVTranscodeClient();

    // A new reference to an object of the class (a CLSID in registry form or a ProgID); the
    // object's path.
    std::string CreateInstance(const std::wstring& classId);
    // Drops one reference taken by CreateInstance; never raises (the server may be gone).
    void Release(const std::string& path) noexcept;

    sdbus::IConnection& Connection() { return *m_connection; }

private:
    explicit CVTranscodeClient(std::unique_ptr<sdbus::IConnection> connection);

    std::unique_ptr<sdbus::IConnection> m_connection;
    std::unique_ptr<sdbus::IProxy> m_factory;
};
