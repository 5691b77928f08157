#pragma once
// AVProfile: the encoding parameters of one profile of the profile database, as a lookup fills
// them for a device, a media category and a quality level. A new record holds the values below;
// a lookup overwrites only the fields its category uses and the database gives.
//
// A plain value.

#include <cstdint>
#include <string>

struct AVProfile {
    std::wstring mime;          // output MIME type (the profile set's)
    uint32_t width = 0;         // pixels
    uint32_t height = 0;        // pixels
    double framerate = 0.0;     // frames per second
    uint32_t bitrate = 0;       // bits per second
    std::wstring codec;         // codec name, e.g. "avc", "mpeg-4"
    uint32_t audioStreams = 1;  // number of audio streams to keep

    friend bool operator==(const AVProfile&, const AVProfile&) = default;
};
