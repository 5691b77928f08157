#pragma once
// CVMediaValues: a media description held as plain values, for the decisions' probes ("does the
// device play audio/mp4 at 192000 bit/s?") and for callers that have no item. Properties are
// kept in the order they were set; setting one again replaces its value.
//
//     CVMediaValues probe(L"Audio");
//     probe.SetMIMEType(L"audio/mp4").SetValue(L"Bitrate", k_metadataNamespace, 192000);
//
// A value type; thread-compatible.

#include <vector>

#include "vtranscodeserver/vmediadescription.h"

class CVMediaValues final : public CVMediaDescription {
public:
    explicit CVMediaValues(std::wstring className);

    CVMediaValues& SetMIMEType(std::wstring mimeType);
    CVMediaValues& SetValue(std::wstring_view name, std::wstring_view uri, VARIANT value);

    std::wstring GetClassName() const override { return m_className; }
    std::optional<std::wstring> GetMIMEType() const override { return m_mimeType; }
    VARIANT GetValue(std::wstring_view name, std::wstring_view uri) const override;

private:
    struct SProperty {
        std::wstring name;
        std::wstring uri;
        VARIANT value;
    };

    std::wstring m_className;
    std::optional<std::wstring> m_mimeType;
    std::vector<SProperty> m_properties;
};
