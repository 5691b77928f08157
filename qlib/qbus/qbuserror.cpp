#include "qlib/qbus/qbuserror.h"

#include <cinttypes>
#include <cstdio>

#include "qlib/qcom/comerror.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qexception.h"

sdbus::Error CQBusError::FromHResult(HRESULT hr, const std::optional<ErrorInfo>& info) {
    const std::wstring description = info && !info->description.empty()
                                         ? info->description
                                         : CQException::GetSystemErrorMessage(hr);
    if (hr == E_QEXCEPTION) {
        return sdbus::Error(k_qexceptionName, qsys::ToUtf8(description));
    }
    char code[16];
    std::snprintf(code, sizeof code, "0x%08" PRIX32, static_cast<uint32_t>(hr));
    return sdbus::Error(k_hresultName, std::string(code) + " " + qsys::ToUtf8(description));
}

sdbus::Error CQBusError::FromHResult(HRESULT hr, std::wstring description) {
    return FromHResult(hr, ErrorInfo{std::move(description), IID_NULL, L""});
}

sdbus::Error CQBusError::FromCurrentException() {
    try {
        throw;
    } catch (const sdbus::Error& error) {
        return error;
    } catch (const CQException& error) {
        return sdbus::Error(k_qexceptionName, qsys::ToUtf8(error.GetXML()));
    } catch (const _com_error& error) {
        return FromHResult(error.Error(), ErrorInfo{error.Description(), IID_NULL, error.Source()});
    } catch (const std::exception& error) {
        return FromHResult(E_FAIL, ErrorInfo{qsys::FromUtf8(error.what()), IID_NULL, L""});
    } catch (...) {
        return FromHResult(E_FAIL, std::nullopt);
    }
}

sdbus::Error CQBusError::InvalidArgument(std::string_view what) {
    return sdbus::Error(k_invalidArgsName, std::string(what));
}

HRESULT CQBusError::ToHResult(const sdbus::Error& error, ErrorInfo* info) {
    HRESULT hr = E_FAIL;
    std::string text = error.getMessage();
    if (error.getName() == k_qexceptionName) {
        hr = E_QEXCEPTION;
    } else if (error.getName() == k_hresultName) {
        unsigned long code = 0;
        int consumed = 0;
        if (std::sscanf(text.c_str(), "0x%8lx%n", &code, &consumed) == 1) {
            hr = static_cast<HRESULT>(static_cast<uint32_t>(code));
            text.erase(0, static_cast<size_t>(consumed) +
                              (text.size() > static_cast<size_t>(consumed) ? 1 : 0));
        }
    } else if (error.getName() == k_invalidArgsName) {
        hr = E_INVALIDARG;
    }
    if (info != nullptr) {
        *info = ErrorInfo{qsys::FromUtf8(text), IID_NULL, qsys::FromUtf8(error.getName())};
    }
    return hr;
}
