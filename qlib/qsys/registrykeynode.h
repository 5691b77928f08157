#pragma once
// RegistryKeyNode is one key of an in-memory hive tree: its name as first spelt, its values in
// the order they were created and its subkeys ordered by name ignoring case (the order in
// which the registry enumerates them). Names of keys and values are matched ignoring case;
// the spelling a name was created with is kept when it is written again in another case.
//
// The tree is a value that the hive loads, changes and writes back within one call;
// thread-compatible.

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "qlib/qsys/registryvalue.h"

namespace qsys {

struct NamedRegistryValue {
    std::wstring name;  // empty for the key's default value ("@" in a hive file)
    RegistryValue value;
};

class RegistryKeyNode {
public:
    explicit RegistryKeyNode(std::wstring name) : m_name(std::move(name)) {}
    RegistryKeyNode(const RegistryKeyNode& other);
    RegistryKeyNode& operator=(const RegistryKeyNode& other);
    RegistryKeyNode(RegistryKeyNode&&) = default;
    RegistryKeyNode& operator=(RegistryKeyNode&&) = default;

    const std::wstring& Name() const { return m_name; }

    // The key reached by following `path` (subkey names) from here; nullptr when one is missing.
    RegistryKeyNode* Find(std::span<const std::wstring> path);
    const RegistryKeyNode* Find(std::span<const std::wstring> path) const;
    // Like Find, but creates the missing keys. Returns the key and whether anything was created.
    std::pair<RegistryKeyNode*, bool> Create(std::span<const std::wstring> path);
    // Removes the direct subkey `name` with everything under it; false when there is none.
    bool DeleteSubKey(std::wstring_view name);

    const RegistryValue* FindValue(std::wstring_view name) const;
    // Replaces the value of that name (keeping the name's first spelling) or adds it at the end.
    void SetValue(std::wstring_view name, RegistryValue value);
    // False when there is no such value.
    bool DeleteValue(std::wstring_view name);

    const std::vector<NamedRegistryValue>& Values() const { return m_values; }
    const std::vector<std::unique_ptr<RegistryKeyNode>>& SubKeys() const { return m_subKeys; }

private:
    std::vector<std::unique_ptr<RegistryKeyNode>>::iterator LowerBound(std::wstring_view name);

    std::wstring m_name;
    std::vector<NamedRegistryValue> m_values;
    // Position in m_values by case-folded name, so that reading a key with many values stays
    // linear.
    std::unordered_map<std::wstring, size_t> m_valueIndex;
    std::vector<std::unique_ptr<RegistryKeyNode>> m_subKeys;  // ordered by name, ignoring case
};

}  // namespace qsys
