#pragma once
// CVRegistrar: applies registration scripts (vregistryscript.h) to the registry store, in place
// of the system's registrar. The server registers its application and classes with the
// scripts it embeds as resources of type "REGISTRY" (101 the application, 102 the service
// class, 103 the handler class) and the replacements %MODULE% (the executable's full path) and
// %APPID% (the application identifier):
//
//     CVRegistrar registrar;
//     registrar.AddReplacement(L"MODULE", executablePath);
//     registrar.AddReplacement(L"APPID", GuidToString(APPID_VTranscodeServer));
//     for (uint32_t id : CVRegistrar::k_serverScripts) {
//         registrar.RegisterResource(qsys::ResourceTable::Process(), id);
//     }
//
// Registering writes every key and value of the script; a "ForceRemove" key is removed with
// everything under it first. When a registration fails part way, what it wrote so far is
// unregistered again and the failure raised. Unregistering removes every key of the script
// with everything under it, except "NoRemove" keys, which stay (only the named values and
// subkeys the script puts under them go). So a register followed by an unregister leaves the
// store as it was, but for the never-removed keys that did not exist before.
//
// Per-user registration writes what the scripts put under HKEY_CLASSES_ROOT under
// HKEY_CURRENT_USER\Software\Classes instead. Note that ProgID lookups (qcom/progid.h) read
// HKEY_CLASSES_ROOT only; in this registry store that hive is the user's own file already
// (registryhive.h), so a registration that clients must find by ProgID uses the Machine scope.
//
// Failures raise CQException: a script that does not parse (vregistryscript.h), a missing
// resource, or the store's failure (its errno as an HRESULT, with the context value
// "Registry key").
//
// A value; thread-compatible (the registry store itself is safe between threads and processes).

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "qlib/qsys/resourcetable.h"
#include "vtranscodeserver/vregistryscript.h"

enum class EVRegistrationScope { Machine, PerUser };

class CVRegistrar {
public:
    static constexpr const wchar_t* k_scriptResourceType = L"REGISTRY";
    static constexpr uint32_t k_applicationScript = 101;
    static constexpr uint32_t k_serviceScript = 102;
    static constexpr uint32_t k_handlerScript = 103;
    static constexpr std::array<uint32_t, 3> k_serverScripts{k_applicationScript, k_serviceScript,
                                                             k_handlerScript};

    explicit CVRegistrar(EVRegistrationScope scope = EVRegistrationScope::Machine)
        : m_scope(scope) {}

    // %name% in a script becomes value (name without the percent signs).
    void AddReplacement(std::wstring_view name, std::wstring_view value);

    void RegisterScript(std::wstring_view script) const;
    void UnregisterScript(std::wstring_view script) const;
    void RegisterResource(const qsys::ResourceTable& module, uint32_t id) const;
    void UnregisterResource(const qsys::ResourceTable& module, uint32_t id) const;

private:
    // The store path a script's root stands for in this scope.
    std::wstring RootPath(const std::wstring& root) const;
    void Register(const SVRegistryScriptKey& key, const std::wstring& path) const;
    void Unregister(const SVRegistryScriptKey& key, const std::wstring& path) const;

    EVRegistrationScope m_scope;
    CVRegistryScript::Replacements m_replacements;
};
