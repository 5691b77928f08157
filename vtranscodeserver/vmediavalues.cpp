#include "vtranscodeserver/vmediavalues.h"

#include <algorithm>
#include <utility>

CVMediaValues::CVMediaValues(std::wstring className) : m_className(std::move(className)) {}

CVMediaValues& CVMediaValues::SetMIMEType(std::wstring mimeType) {
    m_mimeType = std::move(mimeType);
    return *this;
}

CVMediaValues& CVMediaValues::SetValue(std::wstring_view name, std::wstring_view uri,
                                       VARIANT value) {
    const auto found =
        std::find_if(m_properties.begin(), m_properties.end(),
                     [&](const SProperty& p) { return p.name == name && p.uri == uri; });
    if (found != m_properties.end()) {
        found->value = std::move(value);
    } else {
        m_properties.push_back({std::wstring(name), std::wstring(uri), std::move(value)});
    }
    return *this;
}

VARIANT CVMediaValues::GetValue(std::wstring_view name, std::wstring_view uri) const {
    const auto found =
        std::find_if(m_properties.begin(), m_properties.end(),
                     [&](const SProperty& p) { return p.name == name && p.uri == uri; });
    return found != m_properties.end() ? found->value : VARIANT();
}
