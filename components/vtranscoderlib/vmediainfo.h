#pragma once
// SVMediaInfo: what a probe learns about a media file, in the terms the server's format
// decisions use: the MIME type and class ("Video", "Audio", "Image") decide the category, the
// codec is named in the profile database's vocabulary ("avc", "mpeg-4", "h263", "WMV3",
// "aac", ...), and the numbers are compared with a device's limits.
//
// Plain value type. ToMessage/FromMessage carry it over the helper's report.

#include <cstdint>
#include <string>

#include "components/vtranscoderlib/vhelpermessage.h"

struct SVMediaInfo {
    std::wstring mimeType;   // "video/mp4", "audio/mp4", "image/jpeg", ...
    std::wstring className;  // "Video", "Audio" or "Image"
    std::wstring codec;      // of the video stream (or picture), else of the first audio stream
    int32_t width = 0;       // pixels; 0 without a picture
    int32_t height = 0;
    double frameRate = 0.0;  // frames per second; 0 for stills and audio
    int64_t bitRate = 0;     // bits per second of the main stream, else of the whole file
    int32_t audioStreamCount = 0;
    double durationSeconds = 0.0;  // 0 when unknown or a still

    bool operator==(const SVMediaInfo&) const = default;
};

// The information as an 'I' message of the helper's report.
CVHelperMessage ToMessage(const SVMediaInfo& info);

// The information an 'I' message carries.
SVMediaInfo MediaInfoFromMessage(const CVHelperMessage& message);
