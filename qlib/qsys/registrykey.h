#pragma once
// RegistryKey is an open key of the registry store, named by a path such as
// "HKEY_CURRENT_USER\Software\Zelto\Logging" ("\" or "/" between levels; names of keys and
// values are matched ignoring case). It stands for the key, not for a copy: every call reads
// the hive file afresh (see RegistryHive), so changes by other processes are seen at once, and
// every change is one locked read-modify-write of the file.
//
// Failures throw std::system_error with errno:
//   EINVAL  the path does not start with a root key name, or a name cannot be stored;
//   ENOENT  the key does not exist (or was deleted since it was opened);
//   EACCES  a change through a key opened for reading, or to a hive this user may not write
//           (HKEY_LOCAL_MACHINE for a user other than root);
//   EBADMSG the hive file does not parse (a RegistryFormatError naming file and line).
//
// A value (hive and path); copyable; any thread.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qlib/qsys/registryhive.h"
#include "qlib/qsys/registrykeynode.h"
#include "qlib/qsys/registrypath.h"
#include "qlib/qsys/registryvalue.h"

namespace qsys {

enum class RegistryDisposition { OpenExisting, CreateIfMissing };
enum class RegistryAccess { Read, ReadWrite };

class RegistryKey {
public:
    // Opens the key at `path`. CreateIfMissing creates it and its missing parents when it does
    // not exist (a change: that needs a writable hive whatever `access` says). ReadWrite
    // checks now that the hive may be written.
    static RegistryKey Open(std::wstring_view path,
                            RegistryDisposition disposition = RegistryDisposition::OpenExisting,
                            RegistryAccess access = RegistryAccess::Read);
    // Whether the key at `path` exists (EINVAL for a path without a root key name).
    static bool Exists(std::wstring_view path);
    // Removes the key at `path` with all its subkeys and values; false when it does not
    // exist. A root key cannot be removed (EINVAL).
    static bool DeleteTree(std::wstring_view path);

    RegistryKey OpenSubKey(std::wstring_view relative,
                           RegistryDisposition disposition = RegistryDisposition::OpenExisting,
                           RegistryAccess access = RegistryAccess::Read) const;

    // The key's path, the root spelt in full and "\" between levels as given when opened.
    std::wstring Path() const { return m_path.ToString(); }

    // The value of that name (empty for the default value); nullopt when there is none.
    std::optional<RegistryValue> GetValue(std::wstring_view name) const;
    void SetValue(std::wstring_view name, const RegistryValue& value) const;
    // False when there is no such value.
    bool DeleteValue(std::wstring_view name) const;
    // Removes the subkey (a relative path) with everything under it; false when it is missing.
    bool DeleteSubKey(std::wstring_view relative) const;

    // Names of the direct subkeys, ordered by name ignoring case.
    std::vector<std::wstring> SubKeyNames() const;
    // The values in the order they were created.
    std::vector<NamedRegistryValue> Values() const;

private:
    RegistryKey(RegistryHive hive, RegistryPath path, RegistryAccess access)
        : m_hive(std::move(hive)), m_path(std::move(path)), m_access(access) {}

    static RegistryKey OpenPath(RegistryPath path, RegistryDisposition disposition,
                                RegistryAccess access);
    RegistryKeyNode LoadKey() const;
    RegistryKeyNode& FindIn(RegistryKeyNode& root) const;
    void RequireWriteAccess() const;

    RegistryHive m_hive;
    RegistryPath m_path;
    RegistryAccess m_access;
};

}  // namespace qsys
