#include "qlib/qutilitylib/qcomutilities.h"

#include <optional>

#include "qlib/qcom/comclasstable.h"
#include "qlib/qcom/comerror.h"
#include "qlib/qcom/errorinfo.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qguid.h"

CComPtr<IUnknown> CQCOMUtils::CreateObject(REFCLSID clsid, const std::wstring& displayName) {
    return CQCatch::Internal([&] {
        CComPtr<IUnknown> created;
        // Whatever error information the thread holds now is older than this call.
        ClearErrorInfo();
        if (const HRESULT hr =
                CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IUnknown, created.Put());
            FAILED(hr)) {
            RaiseCreateFailure(hr, clsid, displayName);
        }
        return QueryCreated<IUnknown>(created, clsid, displayName);
    });
}

void CQCOMUtils::RaiseCreateFailure(HRESULT hr, REFCLSID clsid, const std::wstring& displayName,
                                    const std::source_location& location) {
    const std::optional<ErrorInfo> info = GetErrorInfo();
    CQException error;
    if (info) {
        error = CQException::FromComError(_com_error(hr, info));
    }
    error.AddEntry(CQException::GetSystemErrorMessage(hr), hr, location);
    error.AddValue(L"ClassID", CQGUID::GUIDToString(clsid));
    if (!displayName.empty()) {
        error.AddValue(L"ProgID", displayName);
    }
    throw error;
}
