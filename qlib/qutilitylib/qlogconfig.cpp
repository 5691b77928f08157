#include "qlib/qutilitylib/qlogconfig.h"

#include <algorithm>
#include <cstdlib>

#include "qlib/qsys/knownfolders.h"
#include "qlib/qsys/nocase.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qlogguard.h"
#include "qlib/qutilitylib/qregistry.h"

namespace {

// The value of the environment variable name, or the temporary directory for TEMP and TMP.
std::optional<std::wstring> EnvironmentValue(std::wstring_view name) {
    if (const char* value = std::getenv(qsys::ToUtf8(name).c_str()); value != nullptr) {
        return qsys::FromUtf8(value);
    }
    if (qsys::EqualsIgnoreCase(name, L"TEMP") || qsys::EqualsIgnoreCase(name, L"TMP")) {
        return qsys::TemporaryDirectory();
    }
    return std::nullopt;
}

}  // namespace

CQLogConfig::CQLogConfig() noexcept = default;

CQLogConfig::CQLogConfig(const CQLogConfig& other) noexcept {
    *this = other;
}

CQLogConfig& CQLogConfig::operator=(const CQLogConfig& other) noexcept {
    CQLogGuard::Run(L"CQLogConfig::operator =", [&] {
        m_file = other.m_file;
        m_productName = other.m_productName;
        m_productVersion = other.m_productVersion;
        m_eventLogLevel = other.m_eventLogLevel;
        m_fileLogLevel = other.m_fileLogLevel;
        m_fileMaxSize = other.m_fileMaxSize;
    });
    return *this;
}

void CQLogConfig::SetDefaults() noexcept {
    m_eventLogLevel = k_defaultEventLogLevel;
    m_fileLogLevel = k_defaultFileLogLevel;
    m_file.clear();
    m_fileMaxSize = k_defaultFileMaxSize;
}

bool CQLogConfig::ReadConfig() noexcept {
    return CQLogGuard::Run(L"CQLogConfig::ReadConfig", false, [this] {
        return CQCatch::Internal([this] {
            const std::wstring key =
                std::wstring(k_loggingKey) + L"\\" + std::wstring(m_productName);
            const auto level = [&](const wchar_t* name, int fallback) {
                return static_cast<int>(
                    CQRegistry::GetDWORDValue(key, name, static_cast<uint32_t>(fallback)));
            };
            const int eventLogLevel = level(L"EventLogLevel", k_defaultEventLogLevel);
            const int fileLogLevel = level(L"FileLogLevel", k_defaultFileLogLevel);
            std::wstring file =
                ExpandEnvironmentStrings(CQRegistry::GetStringValue(key, L"File", L""));
            std::replace(file.begin(), file.end(), L'\\', L'/');
            const uint32_t fileMaxSize =
                CQRegistry::GetDWORDValue(key, L"FileMaxSize", k_defaultFileMaxSize);
            m_fileMaxSize = fileMaxSize;
            m_eventLogLevel = eventLogLevel;
            m_fileLogLevel = fileLogLevel;
            m_file = std::move(file);
            return true;
        });
    });
}

std::wstring CQLogConfig::ExpandEnvironmentStrings(std::wstring_view text) {
    std::wstring expanded;
    size_t position = 0;
    while (position < text.size()) {
        const size_t open = text.find(L'%', position);
        const size_t close = open == std::wstring_view::npos ? open : text.find(L'%', open + 1);
        if (close == std::wstring_view::npos) {
            break;
        }
        expanded.append(text, position, open - position);
        const std::wstring_view name = text.substr(open + 1, close - open - 1);
        const std::optional<std::wstring> value = EnvironmentValue(name);
        // An unknown name stays as written, with its "%" signs.
        expanded += value ? *value : L"%" + std::wstring(name) + L"%";
        position = close + 1;
    }
    expanded.append(text.substr(std::min(position, text.size())));
    return expanded;
}
