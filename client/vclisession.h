#pragma once
// CVCliSession: the command line's connection to the server and its reference to the service,
// both made on first use (a command that fails before needing them never touches the bus) and
// released in order when the session goes.
//
// One thread, except that the remote objects' event handlers run on the connection's thread.

#include <memory>

#include "client/vremoteobject.h"
#include "client/vtranscodeclient.h"

class CVCliSession {
public:
    CVCliSession() = default;
    CVCliSession(const CVCliSession&) = delete;
    CVCliSession& operator=(const CVCliSession&) = delete;
    ~CVCliSession();

    CVTranscodeClient& Client();
    CVRemoteObject& Service();

private:
    std::unique_ptr<CVTranscodeClient> m_client;
    std::unique_ptr<CVRemoteObject> m_service;  // released before the client
};
