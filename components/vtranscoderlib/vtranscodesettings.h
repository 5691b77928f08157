#pragma once
// SVTranscodeSettings: the encoding settings a transcode item carries for one job. A zero
// means "the output format's default" (see CVOutputFormats), except for the image box, where
// 0 x 0 keeps the picture's size. The values are limits: the picture is scaled to fit inside
// the box keeping its aspect ratio and never enlarged, the frame rate is never raised, audio
// is stereo at most, and the first audioStreams audio streams of the source are kept (0 keeps
// none for video formats; audio formats keep at least one).
//
// Plain value type.

#include <cstdint>
#include <optional>
#include <string>

struct SVTranscodeSettings {
    int32_t videoWidth = 0;
    int32_t videoHeight = 0;
    double frameRate = 0.0;    // frames per second; the cap for the output
    int32_t videoBitRate = 0;  // bits per second
    int32_t audioBitRate = 0;  // bits per second, per output audio stream
    uint32_t audioStreams = 1;
    int32_t imageWidth = 0;
    int32_t imageHeight = 0;

    bool operator==(const SVTranscodeSettings&) const = default;
};

// Why the settings cannot be used (a negative size, a frame rate that is not a number, a bit
// rate beyond what any encoder here takes, ...), or nullopt when they are usable.
std::optional<std::wstring> FindSettingsProblem(const SVTranscodeSettings& settings);
