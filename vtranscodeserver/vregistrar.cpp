#include "vtranscodeserver/vregistrar.h"

#include <system_error>

#include "qlib/qsys/registrykey.h"
#include "qlib/qutilitylib/qcatch.h"
#include "vtranscodeserver/vtypelibrary.h"

namespace {

constexpr std::wstring_view k_classesRoot = L"HKEY_CLASSES_ROOT";
constexpr std::wstring_view k_perUserClasses = L"HKEY_CURRENT_USER\\Software\\Classes";

// Runs one change of the store at `path`; the store's failure becomes a CQException naming the
// key.
template <class Change>
auto StoreChange(const std::wstring& path, Change&& change) {
    try {
        return change();
    } catch (const std::system_error& error) {
        CQException::RaiseSystemError(error, {{L"Registry key", path}});
    }
}

}  // namespace

void CVRegistrar::AddReplacement(std::wstring_view name, std::wstring_view value) {
    m_replacements[std::wstring(name)] = std::wstring(value);
}

void CVRegistrar::RegisterScript(std::wstring_view script) const {
    CQCatch::Internal([&] {
        const CVRegistryScript parsed = CVRegistryScript::Parse(script, m_replacements);
        try {
            for (const SVRegistryScriptKey& root : parsed.Roots()) {
                Register(root, RootPath(root.name));
            }
        } catch (...) {
            // Take back what was written before the failure; the failure is what the caller
            // needs to hear about.
            CQCatch::LogAndSwallow([&] {
                for (const SVRegistryScriptKey& root : parsed.Roots()) {
                    Unregister(root, RootPath(root.name));
                }
            });
            throw;
        }
    });
}

void CVRegistrar::UnregisterScript(std::wstring_view script) const {
    CQCatch::Internal([&] {
        const CVRegistryScript parsed = CVRegistryScript::Parse(script, m_replacements);
        for (const SVRegistryScriptKey& root : parsed.Roots()) {
            Unregister(root, RootPath(root.name));
        }
    });
}

void CVRegistrar::RegisterResource(const qsys::ResourceTable& module, uint32_t id) const {
    CQCatch::Internal([&] { RegisterScript(LoadResourceText(module, k_scriptResourceType, id)); });
}

void CVRegistrar::UnregisterResource(const qsys::ResourceTable& module, uint32_t id) const {
    CQCatch::Internal(
        [&] { UnregisterScript(LoadResourceText(module, k_scriptResourceType, id)); });
}

std::wstring CVRegistrar::RootPath(const std::wstring& root) const {
    return m_scope == EVRegistrationScope::PerUser && root == k_classesRoot
               ? std::wstring(k_perUserClasses)
               : root;
}

void CVRegistrar::Register(const SVRegistryScriptKey& key, const std::wstring& path) const {
    StoreChange(path, [&] {
        if (key.removal == EVKeyRemoval::Recreated) {
            qsys::RegistryKey::DeleteTree(path);
        }
        const qsys::RegistryKey opened = qsys::RegistryKey::Open(
            path, qsys::RegistryDisposition::CreateIfMissing, qsys::RegistryAccess::ReadWrite);
        if (key.defaultValue) {
            opened.SetValue(L"", *key.defaultValue);
        }
        for (const auto& [name, value] : key.values) {
            opened.SetValue(name, value);
        }
    });
    for (const SVRegistryScriptKey& subkey : key.subkeys) {
        Register(subkey, path + L"\\" + subkey.name);
    }
}

void CVRegistrar::Unregister(const SVRegistryScriptKey& key, const std::wstring& path) const {
    if (key.removal != EVKeyRemoval::NeverRemoved) {
        StoreChange(path, [&] { qsys::RegistryKey::DeleteTree(path); });
        return;
    }
    for (const SVRegistryScriptKey& subkey : key.subkeys) {
        Unregister(subkey, path + L"\\" + subkey.name);
    }
    StoreChange(path, [&] {
        if (key.values.empty() || !qsys::RegistryKey::Exists(path)) {
            return;
        }
        const qsys::RegistryKey opened = qsys::RegistryKey::Open(
            path, qsys::RegistryDisposition::OpenExisting, qsys::RegistryAccess::ReadWrite);
        for (const auto& [name, value] : key.values) {
            opened.DeleteValue(name);
        }
    });
}
