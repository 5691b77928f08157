#include "qlib/qutilitylib/qregistry.h"

#include <cerrno>
#include <system_error>

#include "qlib/qcom/hresult.h"
#include "qlib/qsys/debugoutput.h"
#include "qlib/qsys/registrypath.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qstring.h"

namespace {

bool NamesRootKey(const std::wstring& path) {
    const std::vector<std::wstring> levels = qsys::RegistryPath::SplitLevels(path);
    return !levels.empty() && qsys::RegistryRootFromName(levels.front()).has_value();
}

std::wstring ValuePath(const std::wstring& path, const std::wstring& valueName) {
    return path + L"\\" + valueName;
}

// The key for reading, or nullopt when it does not open. A missing key is normal; any other
// reason (a hive file that does not parse, above all) is worth a line on the debug output.
std::optional<qsys::RegistryKey> OpenForReading(const std::wstring& path) {
    if (!NamesRootKey(path)) {
        return std::nullopt;
    }
    try {
        return qsys::RegistryKey::Open(path);
    } catch (const std::system_error& error) {
        if (error.code() != std::errc::no_such_file_or_directory) {
            qsys::WriteDebugOutput(L"CQRegistry: cannot read " + path + L": " +
                                   CQStringHelper::MultiByteToString(error.what()));
        }
        return std::nullopt;
    }
}

// The value of that name, or nullopt when the key does not open or has no such value.
std::optional<qsys::RegistryValue> ReadValue(const std::optional<qsys::RegistryKey>& key,
                                             const std::wstring& valueName) {
    if (!key) {
        return std::nullopt;
    }
    try {
        return key->GetValue(valueName);
    } catch (const std::system_error&) {
        // The key went away (or its hive broke) since it was opened.
        return std::nullopt;
    }
}

[[noreturn]] void RaiseRegistryError(
    const wchar_t* description, HRESULT code, const std::wstring& registryKey,
    const std::source_location& location = std::source_location::current()) {
    CQException error(description, code, location);
    error.AddValue(L"Registry key", registryKey);
    throw error;
}

void WriteValue(const std::wstring& path, const std::wstring& valueName,
                const qsys::RegistryValue& value) {
    const std::optional<qsys::RegistryKey> key = CQRegistry::RegOpenRegKey(path, false, true, true);
    if (!key) {
        RaiseRegistryError(L"Failed to write registry value.", HResultFromErrno(EINVAL),
                           ValuePath(path, valueName));
    }
    try {
        key->SetValue(valueName, value);
    } catch (const std::system_error& failure) {
        RaiseRegistryError(L"Failed to write registry value.",
                           HResultFromErrno(failure.code().value()), ValuePath(path, valueName));
    }
}

}  // namespace

std::optional<qsys::RegistryKey> CQRegistry::RegOpenRegKey(const std::wstring& path,
                                                           bool bUse64bitHive, bool create,
                                                           bool writeAccess) {
    return CQCatch::Internal([&]() -> std::optional<qsys::RegistryKey> {
        if (!NamesRootKey(path)) {
            return std::nullopt;
        }
        try {
            return qsys::RegistryKey::Open(
                path,
                create ? qsys::RegistryDisposition::CreateIfMissing
                       : qsys::RegistryDisposition::OpenExisting,
                writeAccess ? qsys::RegistryAccess::ReadWrite : qsys::RegistryAccess::Read);
        } catch (const std::system_error& failure) {
            CQException error(L"Failed to open registry key.",
                              HResultFromErrno(failure.code().value()));
            error.AddValue(L"Registry key", path);
            error.AddValue(L"bUse64bitHive", bUse64bitHive ? 1 : 0);
            error.AddValue(L"Error", CQStringHelper::MultiByteToString(failure.what()));
            throw error;
        }
    });
}

std::wstring CQRegistry::GetStringValue(const std::wstring& path, const std::wstring& valueName,
                                        const std::optional<std::wstring>& defaultValue) {
    return CQCatch::Internal([&] {
        const std::optional<qsys::RegistryKey> key = OpenForReading(path);
        if (!key) {
            return defaultValue.value_or(std::wstring());
        }
        const std::optional<qsys::RegistryValue> value = ReadValue(key, valueName);
        if (value) {
            if (std::optional<std::wstring> text = value->AsString()) {
                return std::move(*text);
            }
        }
        if (defaultValue) {
            return *defaultValue;
        }
        RaiseRegistryError(L"Failed to read registry value.",
                           HResultFromErrno(value ? EINVAL : ENOENT), ValuePath(path, valueName));
    });
}

uint32_t CQRegistry::GetDWORDValue(const std::wstring& path, const std::wstring& valueName,
                                   uint32_t defaultValue) noexcept {
    try {
        const std::optional<qsys::RegistryValue> value = ReadValue(OpenForReading(path), valueName);
        return value ? value->AsDWord().value_or(defaultValue) : defaultValue;
    } catch (...) {
        // Out of memory while reading: the default, as for any value that cannot be read.
        return defaultValue;
    }
}

void CQRegistry::SetValue(const std::wstring& path, const std::wstring& valueName,
                          const std::wstring& text) {
    CQCatch::Internal([&] { WriteValue(path, valueName, qsys::RegistryValue::FromString(text)); });
}

void CQRegistry::SetValue(const std::wstring& path, const std::wstring& valueName, uint32_t value) {
    CQCatch::Internal([&] { WriteValue(path, valueName, qsys::RegistryValue::FromDWord(value)); });
}
