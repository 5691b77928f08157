#pragma once
// RegistryPath splits a textual key path such as
// "HKEY_CURRENT_USER\Software\Zelto\Logging" into its root key and the names below it. Both
// "\" and "/" separate levels (path builders may join key paths with either); empty levels
// (doubled or trailing separators) are skipped. The root is one of the five root key names,
// matched ignoring case.
//
// A value type; thread-compatible.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qsys {

enum class RegistryRoot { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig };

// "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS",
// "HKEY_CURRENT_CONFIG".
std::wstring_view RegistryRootName(RegistryRoot root);
std::optional<RegistryRoot> RegistryRootFromName(std::wstring_view name);

class RegistryPath {
public:
    // Throws std::system_error(EINVAL) when the first level is not a root key name.
    static RegistryPath Parse(std::wstring_view path);
    // The levels of a path relative to some key.
    static std::vector<std::wstring> SplitLevels(std::wstring_view relative);

    RegistryRoot Root() const { return m_root; }
    const std::vector<std::wstring>& Levels() const { return m_levels; }
    // The path with "\" between levels, the root spelt as RegistryRootName gives it.
    std::wstring ToString() const;
    RegistryPath Child(std::wstring_view relative) const;

private:
    RegistryPath(RegistryRoot root, std::vector<std::wstring> levels)
        : m_root(root), m_levels(std::move(levels)) {}

    RegistryRoot m_root;
    std::vector<std::wstring> m_levels;
};

}  // namespace qsys
