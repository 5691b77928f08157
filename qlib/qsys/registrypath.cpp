#include "qlib/qsys/registrypath.h"

#include <array>
#include <cerrno>

#include "qlib/qsys/nocase.h"
#include "qlib/qsys/systemerror.h"
#include "qlib/qsys/textcodec.h"

namespace qsys {
namespace {

struct RootEntry {
    RegistryRoot root;
    std::wstring_view name;
};

constexpr std::array k_roots{
    RootEntry{RegistryRoot::ClassesRoot, L"HKEY_CLASSES_ROOT"},
    RootEntry{RegistryRoot::CurrentUser, L"HKEY_CURRENT_USER"},
    RootEntry{RegistryRoot::LocalMachine, L"HKEY_LOCAL_MACHINE"},
    RootEntry{RegistryRoot::Users, L"HKEY_USERS"},
    RootEntry{RegistryRoot::CurrentConfig, L"HKEY_CURRENT_CONFIG"},
};

}  // namespace

std::wstring_view RegistryRootName(RegistryRoot root) {
    for (const RootEntry& entry : k_roots) {
        if (entry.root == root) {
            return entry.name;
        }
    }
    return {};
}

std::optional<RegistryRoot> RegistryRootFromName(std::wstring_view name) {
    for (const RootEntry& entry : k_roots) {
        if (EqualsIgnoreCase(entry.name, name)) {
            return entry.root;
        }
    }
    return std::nullopt;
}

std::vector<std::wstring> RegistryPath::SplitLevels(std::wstring_view relative) {
    std::vector<std::wstring> levels;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find_first_of(L"\\/", start);
        if (end == std::wstring_view::npos) {
            end = relative.size();
        }
        if (end > start) {
            levels.emplace_back(relative.substr(start, end - start));
        }
        start = end + 1;
    }
    return levels;
}

RegistryPath RegistryPath::Parse(std::wstring_view path) {
    std::vector<std::wstring> levels = SplitLevels(path);
    const std::optional<RegistryRoot> root =
        levels.empty() ? std::nullopt : RegistryRootFromName(levels.front());
    if (!root) {
        ThrowSystemError(EINVAL, "registry path does not start with a root key: " + ToUtf8(path));
    }
    levels.erase(levels.begin());
    return RegistryPath(*root, std::move(levels));
}

std::wstring RegistryPath::ToString() const {
    std::wstring text(RegistryRootName(m_root));
    for (const std::wstring& level : m_levels) {
        text += L'\\';
        text += level;
    }
    return text;
}

RegistryPath RegistryPath::Child(std::wstring_view relative) const {
    std::vector<std::wstring> levels = m_levels;
    for (std::wstring& level : SplitLevels(relative)) {
        levels.push_back(std::move(level));
    }
    return RegistryPath(m_root, std::move(levels));
}

}  // namespace qsys
