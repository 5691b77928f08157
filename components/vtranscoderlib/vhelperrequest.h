#pragma once
// SVHelperRequest: the one task a helper process runs, and its command line. The parent builds
// the arguments with ToArguments; the helper reads them back with Parse. Paths travel as the
// bytes of the file system (UTF-8 here), so any name survives the trip.
//
//     ZeltoVTranscodeHelper probe --source <path> [--source-fd N]
//     ZeltoVTranscodeHelper convert --source <path> [--source-fd N]
//         (--output <path> | --output-fd N) --format <code>
//         [--video-width N] [--video-height N] [--frame-rate F] [--video-bit-rate N]
//         [--audio-bit-rate N] [--audio-streams N] [--image-width N] [--image-height N]
//
// The server opens the files and hands them over as descriptors (k_sourceDescriptor,
// k_outputDescriptor): the source's name then only names it in messages and hints at its
// type, and the output is the unnamed file the parent names when it has checked the result.
// A helper run by hand opens --source and creates --output itself. Its report goes to
// descriptor 3.
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
    // Where the server places the descriptors it hands to the helper.
    static constexpr int k_sourceDescriptor = 4;
    static constexpr int k_outputDescriptor = 5;

    EVHelperTask task = EVHelperTask_Probe;
    std::string source;         // UTF-8 path
    int sourceDescriptor = -1;  // the source, open for reading; -1: open `source` by name
    std::string output;         // UTF-8 path of the file to write (conversions run by hand)
    int outputDescriptor = -1;  // the output, open for reading and writing; -1: use `output`
    int32_t outputFormat = 0;
    SVTranscodeSettings settings;

    bool operator==(const SVHelperRequest&) const = default;

    // The arguments after the program name.
    std::vector<std::string> ToArguments() const;

    // The request of a command line (without the program name), or the reason it is not one.
    static std::variant<SVHelperRequest, std::string> Parse(const std::vector<std::string>& args);
};
