#include "qlib/qcom/comclassregistration.h"

#include <utility>

CComClassRegistration::CComClassRegistration(REFCLSID clsid, std::wstring displayName,
                                             CComPtr<IClassFactory> factory, DWORD context) {
    ThrowIfFailed(CComClassTable::Instance().Register(clsid, std::move(displayName), factory,
                                                      context, &m_cookie));
}

CComClassRegistration::CComClassRegistration(CComClassRegistration&& other) noexcept
    : m_cookie(std::exchange(other.m_cookie, 0)) {}

CComClassRegistration& CComClassRegistration::operator=(CComClassRegistration&& other) noexcept {
    if (this != &other) {
        Revoke();
        m_cookie = std::exchange(other.m_cookie, 0);
    }
    return *this;
}

CComClassRegistration::~CComClassRegistration() {
    Revoke();
}

void CComClassRegistration::Revoke() noexcept {
    if (m_cookie != 0) {
        // The cookie is ours, so the table knows it: nothing to report.
        (void)CComClassTable::Instance().Revoke(std::exchange(m_cookie, 0));
    }
}
