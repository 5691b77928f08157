#include "qlib/qsys/registrykey.h"

#include <cerrno>

#include "qlib/qsys/registryfileformat.h"
#include "qlib/qsys/systemerror.h"
#include "qlib/qsys/textcodec.h"

namespace qsys {
namespace {

void CheckKeyNames(const std::vector<std::wstring>& levels) {
    for (const std::wstring& level : levels) {
        if (!RegistryFileFormat::IsValidKeyName(level)) {
            ThrowSystemError(EINVAL,
                             "a registry key name cannot hold NUL, CR or LF: " + ToUtf8(level));
        }
    }
}

// Removes the key `levels` below `base` with everything under it; false when it is missing.
bool DeleteBelow(RegistryKeyNode& base, const std::vector<std::wstring>& levels) {
    RegistryKeyNode* parent = base.Find(std::span(levels).first(levels.size() - 1));
    return parent != nullptr && parent->DeleteSubKey(levels.back());
}

[[noreturn]] void ThrowKeyNotFound(const RegistryPath& path) {
    ThrowSystemError(ENOENT, "registry key not found: " + ToUtf8(path.ToString()));
}

}  // namespace

RegistryKey RegistryKey::Open(std::wstring_view path, RegistryDisposition disposition,
                              RegistryAccess access) {
    return OpenPath(RegistryPath::Parse(path), disposition, access);
}

RegistryKey RegistryKey::OpenSubKey(std::wstring_view relative, RegistryDisposition disposition,
                                    RegistryAccess access) const {
    return OpenPath(m_path.Child(relative), disposition, access);
}

RegistryKey RegistryKey::OpenPath(RegistryPath path, RegistryDisposition disposition,
                                  RegistryAccess access) {
    RegistryKey key(RegistryHive::ForRoot(path.Root()), std::move(path), access);
    const bool exists = key.m_hive.Load().Find(key.m_path.Levels()) != nullptr;
    if (!exists && disposition == RegistryDisposition::OpenExisting) {
        ThrowKeyNotFound(key.m_path);
    }
    if (!exists) {
        CheckKeyNames(key.m_path.Levels());
        key.m_hive.Update(
            [&](RegistryKeyNode& root) { return root.Create(key.m_path.Levels()).second; });
    } else if (access == RegistryAccess::ReadWrite) {
        key.m_hive.CheckWritable();
    }
    return key;
}

bool RegistryKey::Exists(std::wstring_view path) {
    const RegistryPath parsed = RegistryPath::Parse(path);
    return RegistryHive::ForRoot(parsed.Root()).Load().Find(parsed.Levels()) != nullptr;
}

bool RegistryKey::DeleteTree(std::wstring_view path) {
    const RegistryPath parsed = RegistryPath::Parse(path);
    if (parsed.Levels().empty()) {
        ThrowSystemError(EINVAL, "a root key cannot be deleted: " + ToUtf8(path));
    }
    bool deleted = false;
    RegistryHive::ForRoot(parsed.Root()).Update([&](RegistryKeyNode& root) {
        deleted = DeleteBelow(root, parsed.Levels());
        return deleted;
    });
    return deleted;
}

RegistryKeyNode RegistryKey::LoadKey() const {
    RegistryKeyNode root = m_hive.Load();
    return std::move(FindIn(root));
}

RegistryKeyNode& RegistryKey::FindIn(RegistryKeyNode& root) const {
    RegistryKeyNode* key = root.Find(m_path.Levels());
    if (key == nullptr) {
        ThrowKeyNotFound(m_path);
    }
    return *key;
}

void RegistryKey::RequireWriteAccess() const {
    if (m_access != RegistryAccess::ReadWrite) {
        ThrowSystemError(EACCES, "registry key opened for reading only: " + ToUtf8(Path()));
    }
}

std::optional<RegistryValue> RegistryKey::GetValue(std::wstring_view name) const {
    const RegistryKeyNode key = LoadKey();
    const RegistryValue* value = key.FindValue(name);
    return value != nullptr ? std::optional<RegistryValue>(*value) : std::nullopt;
}

void RegistryKey::SetValue(std::wstring_view name, const RegistryValue& value) const {
    RequireWriteAccess();
    if (!RegistryFileFormat::IsValidValueName(name)) {
        ThrowSystemError(EINVAL,
                         "a registry value name cannot hold NUL, CR or LF: " + ToUtf8(name));
    }
    m_hive.Update([&](RegistryKeyNode& root) {
        FindIn(root).SetValue(name, value);
        return true;
    });
}

bool RegistryKey::DeleteValue(std::wstring_view name) const {
    RequireWriteAccess();
    bool deleted = false;
    m_hive.Update([&](RegistryKeyNode& root) {
        deleted = FindIn(root).DeleteValue(name);
        return deleted;
    });
    return deleted;
}

bool RegistryKey::DeleteSubKey(std::wstring_view relative) const {
    RequireWriteAccess();
    const std::vector<std::wstring> levels = RegistryPath::SplitLevels(relative);
    if (levels.empty()) {
        ThrowSystemError(EINVAL, "no subkey named to delete under " + ToUtf8(Path()));
    }
    bool deleted = false;
    m_hive.Update([&](RegistryKeyNode& root) {
        deleted = DeleteBelow(FindIn(root), levels);
        return deleted;
    });
    return deleted;
}

std::vector<std::wstring> RegistryKey::SubKeyNames() const {
    const RegistryKeyNode key = LoadKey();
    std::vector<std::wstring> names;
    for (const auto& subKey : key.SubKeys()) {
        names.push_back(subKey->Name());
    }
    return names;
}

std::vector<NamedRegistryValue> RegistryKey::Values() const {
    return LoadKey().Values();
}

}  // namespace qsys
