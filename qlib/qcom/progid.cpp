#include "qlib/qcom/progid.h"

#include <optional>
#include <string>
#include <system_error>

#include "qlib/qcom/comerror.h"
#include "qlib/qsys/registrykey.h"

namespace {

// CurVer chains are one step long as registration writes them; a few more are tolerated, a
// loop is not followed for ever.
constexpr int k_maxCurVerSteps = 4;

// The default value of <root>\<subKey> as text; nullopt when the key or the value is missing or
// not a string. Other failures of the store raise std::system_error.
std::optional<std::wstring> ReadDefault(const std::wstring& root, const std::wstring& subKey) {
    try {
        const auto value = qsys::RegistryKey::Open(root + L"\\" + subKey).GetValue(L"");
        return value ? value->AsString() : std::nullopt;
    } catch (const std::system_error& error) {
        if (error.code() == std::errc::no_such_file_or_directory) {
            return std::nullopt;
        }
        throw;
    }
}

// The classes as the system merges them: the user's own registration (per-user registration
// writes under HKEY_CURRENT_USER\Software\Classes) before the machine's.
std::optional<std::wstring> ReadClassesRootDefault(const std::wstring& subKey) {
    if (auto own = ReadDefault(L"HKEY_CURRENT_USER\\Software\\Classes", subKey)) {
        return own;
    }
    return ReadDefault(L"HKEY_CLASSES_ROOT", subKey);
}

// A ProgID names one key: it is not empty and holds no level separator.
bool IsProgIdName(std::wstring_view progId) {
    return !progId.empty() && progId.find_first_of(L"\\/") == std::wstring_view::npos;
}

HRESULT Resolve(const std::wstring& progId, int curVerSteps, CLSID* clsid) {
    if (!IsProgIdName(progId)) {
        return CO_E_CLASSSTRING;
    }
    if (const auto text = ReadClassesRootDefault(progId + L"\\CLSID")) {
        const auto parsed = GuidFromString(*text);
        if (!parsed) {
            return CO_E_CLASSSTRING;
        }
        *clsid = *parsed;
        return S_OK;
    }
    const auto current = ReadClassesRootDefault(progId + L"\\CurVer");
    if (!current || curVerSteps >= k_maxCurVerSteps) {
        return CO_E_CLASSSTRING;
    }
    return Resolve(*current, curVerSteps + 1, clsid);
}

}  // namespace

HRESULT CLSIDFromProgID(std::wstring_view progId, CLSID* clsid) {
    if (clsid == nullptr) {
        return E_POINTER;
    }
    *clsid = GUID_NULL;
    try {
        return Resolve(std::wstring(progId), 0, clsid);
    } catch (const std::system_error& error) {
        return HResultFromErrno(error.code().value());
    } catch (...) {
        return HResultFromCurrentException();
    }
}

HRESULT CLSIDFromString(std::wstring_view text, CLSID* clsid) {
    if (clsid == nullptr) {
        return E_POINTER;
    }
    if (!text.empty() && text.front() == L'{') {
        const auto parsed = text.size() == 38 ? GuidFromString(text) : std::nullopt;
        *clsid = parsed.value_or(GUID_NULL);
        return parsed ? S_OK : CO_E_CLASSSTRING;
    }
    return CLSIDFromProgID(text, clsid);
}
