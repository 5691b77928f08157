#pragma once
// CVTranscodeItemXML: the XML form of a transcode item (the format is described in
// vtranscodeitem.h). Write escapes every value, so paths holding "&", "<", quotes or line
// breaks come back unchanged; Read accepts exactly one "TranscodeItem" element and answers
// nullopt for anything else, never raising for malformed text.
//
// Stateless; any thread.

#include <optional>
#include <string>
#include <string_view>

#include "components/vtranscoderlib/vtranscodeitem.h"

class CVTranscodeItemXML {
public:
    static constexpr const char* k_elementName = "TranscodeItem";

    static std::wstring Write(const SVTranscodeItemState& state);
    static std::optional<SVTranscodeItemState> Read(std::wstring_view xml);
};
