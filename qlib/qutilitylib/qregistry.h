#pragma once
// CQRegistry: reads and writes registry values by a textual key path such as
// "HKEY_CURRENT_USER\Software\Zelto\Logging\Zelto V Platform" ("\" or "/" between levels; the
// first level names the root key). The values live in the program's registry store (one file
// per root key, safe between processes; see qlib/qsys/registrykey.h).
//
// Reads fall back to defaults as configuration reads should: a key that does not open gives
// the default; GetDWORDValue never raises. A hive file that does not parse (a hand edit gone
// wrong) is never emptied or rewritten: reads give their defaults and say so on the debug
// output (standard error) with the file and line, writes raise.
//
// Decision: the store has one view of every hive, so bUse64bitHive changes nothing but the
// context of an error.
//
// Stateless; safe to call from any thread.

#include <cstdint>
#include <optional>
#include <string>

#include "qlib/qsys/registrykey.h"

class CQRegistry {
public:
    // The key at path, or nullopt when its first level is none of the five root key names.
    // create makes the key and its missing parents; writeAccess opens it for changes. Raises
    // "Failed to open registry key." with the failure's HRESULT and the context values
    // "Registry key" (the path), "bUse64bitHive" and "Error" (the store's reason).
    static std::optional<qsys::RegistryKey> RegOpenRegKey(const std::wstring& path,
                                                          bool bUse64bitHive, bool create,
                                                          bool writeAccess);

    // The text of a REG_SZ or REG_EXPAND_SZ value (unexpanded). A key that does not open gives
    // the default (empty without one). A value that is missing or of another type gives the
    // default when there is one and raises "Failed to read registry value." otherwise.
    static std::wstring GetStringValue(
        const std::wstring& path, const std::wstring& valueName,
        const std::optional<std::wstring>& defaultValue = std::nullopt);

    // A 4-byte REG_DWORD value; the default for anything else. Never raises.
    static uint32_t GetDWORDValue(const std::wstring& path, const std::wstring& valueName,
                                  uint32_t defaultValue) noexcept;

    // Write a REG_SZ or REG_DWORD value, creating the key when missing. Raise "Failed to write
    // registry value." (or the open failure) with "Registry key" = path + "\" + value name.
    static void SetValue(const std::wstring& path, const std::wstring& valueName,
                         const std::wstring& text);
    static void SetValue(const std::wstring& path, const std::wstring& valueName, uint32_t value);
};
