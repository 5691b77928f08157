#pragma once
// SVHelperRequest: the one task a helper process runs, and its command line. The parent builds
// the arguments with ToArguments; the helper reads them back with Parse. Paths travel as the
// bytes of the file system (UTF-8 here), so any name survives the trip.
//
//     ZeltoVTranscodeHelper probe --source <path>
//     ZeltoVTranscodeHelper convert --source <path> --output <path> --format <code>
//         [--video-width N] [--video-height N] [--frame-rate F] [--video-bit-rate N]
//         [--audio-bit-rate N] [--audio-streams N] [--image-width N] [--image-height N]
//
// The output of a conversion is the temporary file that the parent renames when it has
// checked the result; the helper writes only that file. Its report goes to descriptor 3.
//
// Plain value type.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "components/vtranscoderlib/vtranscodesettings.h"

enum EVHelperTask : int32_t {
    EVHelperTask_Probe = 1,
    EVHelperTask_Convert = 2,
};

struct SVHelperRequest {
    EVHelperTask task = EVHelperTask_Probe;
    std::string source;  // UTF-8 path
    std::string output;  // UTF-8 path of the file to write (conversions)
    int32_t outputFormat = 0;
    SVTranscodeSettings settings;

    bool operator==(const SVHelperRequest&) const = default;

    // The arguments after the program name.
    std::vector<std::string> ToArguments() const;

    // The request of a command line (without the program name), or the reason it is not one.
    static std::variant<SVHelperRequest, std::string> Parse(const std::vector<std::string>& args);
};
