#pragma once
// CVMediaDescription: what the output-format decisions read about a piece of media: its class
// ("Video", "Audio", "Image", "File", "Item"), its MIME type (the property "ItemType") and
// named properties in a namespace ("Codec" and "AudioStreamCount" in the transcode namespace;
// "Width", "Height", "Framerate", "Bitrate" and "URI" in the metadata namespace). An outside
// item answers through CVItemMediaDescription; the decisions' own probes and the tests use
// plain values (CVMediaValues).
//
// Implementations say whether they may be used from several threads.

#include <optional>
#include <string>
#include <string_view>

#include "qlib/qcom/variant.h"

class CVMediaDescription {
public:
    virtual ~CVMediaDescription() = default;

    virtual std::wstring GetClassName() const = 0;
    // The value of "ItemType" as text when the media has that property; nullopt without it.
    virtual std::optional<std::wstring> GetMIMEType() const = 0;
    // The property's value; VT_EMPTY when the media lacks it.
    virtual VARIANT GetValue(std::wstring_view name, std::wstring_view uri) const = 0;
};
