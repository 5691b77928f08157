#include "client/vclisession.h"

#include "qlib/qcom/guid.h"
#include "vtranscodeserver/vtranscodeserverlib.h"

CVCliSession::~CVCliSession() {
    m_service.reset();
    m_client.reset();
}

CVTranscodeClient& CVCliSession::Client() {
    if (!m_client) {
        m_client = CVTranscodeClient::Connect();
    }
    return *m_client;
}

CVRemoteObject& CVCliSession::Service() {
    if (!m_service) {
        CVTranscodeClient& client = Client();
        m_service = std::make_unique<CVRemoteObject>(
            client, client.CreateInstance(GuidToString(CLSID_VTranscodeService)));
    }
    return *m_service;
}
