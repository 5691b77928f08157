#include "qlib/qsys/registrykeynode.h"

#include <algorithm>

#include "qlib/qsys/nocase.h"

namespace qsys {

RegistryKeyNode::RegistryKeyNode(const RegistryKeyNode& other)
    : m_name(other.m_name), m_values(other.m_values), m_valueIndex(other.m_valueIndex) {
    m_subKeys.reserve(other.m_subKeys.size());
    for (const auto& subKey : other.m_subKeys) {
        m_subKeys.push_back(std::make_unique<RegistryKeyNode>(*subKey));
    }
}

RegistryKeyNode& RegistryKeyNode::operator=(const RegistryKeyNode& other) {
    if (this != &other) {
        *this = RegistryKeyNode(other);
    }
    return *this;
}

std::vector<std::unique_ptr<RegistryKeyNode>>::iterator RegistryKeyNode::LowerBound(
    std::wstring_view name) {
    return std::lower_bound(
        m_subKeys.begin(), m_subKeys.end(), name,
        [](const std::unique_ptr<RegistryKeyNode>& key, std::wstring_view wanted) {
            return CompareIgnoreCase(key->m_name, wanted) < 0;
        });
}

RegistryKeyNode* RegistryKeyNode::Find(std::span<const std::wstring> path) {
    RegistryKeyNode* key = this;
    for (const std::wstring& name : path) {
        const auto found = key->LowerBound(name);
        if (found == key->m_subKeys.end() || !EqualsIgnoreCase((*found)->m_name, name)) {
            return nullptr;
        }
        key = found->get();
    }
    return key;
}

const RegistryKeyNode* RegistryKeyNode::Find(std::span<const std::wstring> path) const {
    return const_cast<RegistryKeyNode*>(this)->Find(path);
}

std::pair<RegistryKeyNode*, bool> RegistryKeyNode::Create(std::span<const std::wstring> path) {
    RegistryKeyNode* key = this;
    bool created = false;
    for (const std::wstring& name : path) {
        auto found = key->LowerBound(name);
        if (found == key->m_subKeys.end() || !EqualsIgnoreCase((*found)->m_name, name)) {
            found = key->m_subKeys.insert(found, std::make_unique<RegistryKeyNode>(name));
            created = true;
        }
        key = found->get();
    }
    return {key, created};
}

bool RegistryKeyNode::DeleteSubKey(std::wstring_view name) {
    const auto found = LowerBound(name);
    if (found == m_subKeys.end() || !EqualsIgnoreCase((*found)->m_name, name)) {
        return false;
    }
    m_subKeys.erase(found);
    return true;
}

const RegistryValue* RegistryKeyNode::FindValue(std::wstring_view name) const {
    const auto found = m_valueIndex.find(FoldCase(name));
    return found == m_valueIndex.end() ? nullptr : &m_values[found->second].value;
}

void RegistryKeyNode::SetValue(std::wstring_view name, RegistryValue value) {
    const auto [position, added] = m_valueIndex.try_emplace(FoldCase(name), m_values.size());
    if (added) {
        m_values.push_back({std::wstring(name), std::move(value)});
    } else {
        m_values[position->second].value = std::move(value);
    }
}

bool RegistryKeyNode::DeleteValue(std::wstring_view name) {
    const auto found = m_valueIndex.find(FoldCase(name));
    if (found == m_valueIndex.end()) {
        return false;
    }
    const size_t removed = found->second;
    m_values.erase(m_values.begin() + static_cast<std::ptrdiff_t>(removed));
    m_valueIndex.erase(found);
    for (auto& [folded, position] : m_valueIndex) {
        if (position > removed) {
            --position;
        }
    }
    return true;
}

}  // namespace qsys
