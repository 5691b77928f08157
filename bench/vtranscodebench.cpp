// vtranscode_bench: converts through the engine as the server does (CVConversion, warm helper
// and all) and fails with the outcome's message. Like the server, it does not load FFmpeg
// itself; only the helper does.
//
//     vtranscode_bench [--repeat K] --source S --output D --format N [settings]
//     vtranscode_bench --batch --format N [settings] < jobs
//
// Settings are the helper's options (--video-width, --frame-rate, --audio-bit-rate, ...).
// --repeat converts the source K times (to the same destination) in this one process, as a
// running server converts one job after another; --batch converts each "source<TAB>output"
// line of its input with one CVConversion each. The warm helper is started by the first job
// and ended, and waited for, before the tool exits, so that timing the tool counts it.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "components/vtranscoderlib/vconversion.h"
#include "components/vtranscoderlib/vhelperrequest.h"
#include "components/vtranscoderlib/voutputformats.h"
#include "components/vtranscoderlib/vwarmhelper.h"
#include "qlib/qsys/textcodec.h"

namespace {

bool Convert(const SVHelperRequest& request, const char* program) {
    CVConversion conversion({qsys::FromUtf8(request.source), qsys::FromUtf8(request.output),
                             request.outputFormat, request.settings});
    SVTranscodeOutcome outcome = conversion.Wait();
    if (outcome.result != EVTranscodeResult_Completed) {
        fprintf(stderr, "%s: %ls: %ls\n", program, TranscodeResultName(outcome.result),
                outcome.message.c_str());
        return false;
    }
    return true;
}

// Converts every "source<TAB>output" line of standard input with the request's settings.
bool ConvertBatch(SVHelperRequest request, const char* program) {
    for (std::string line; std::getline(std::cin, line);) {
        size_t tab = line.find('\t');
        if (tab == std::string::npos) {
            fprintf(stderr, "%s: a batch line is not \"source<TAB>output\"\n", program);
            return false;
        }
        request.source = line.substr(0, tab);
        request.output = line.substr(tab + 1);
        if (!Convert(request, program)) {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments{"convert"};
    bool batch = false;
    long repeat = 1;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--batch") {
            batch = true;
        } else if (argument == "--repeat" && i + 1 < argc) {
            repeat = std::max(1L, std::strtol(argv[++i], nullptr, 10));
        } else {
            arguments.push_back(argument);
        }
    }
    if (batch) {
        // Each line names the files; the parser wants names to accept the settings.
        arguments.insert(arguments.end(), {"--source", "-", "--output", "-"});
    }
    auto parsed = SVHelperRequest::Parse(arguments);
    if (auto* problem = std::get_if<std::string>(&parsed)) {
        fprintf(stderr, "%s: %s\n", argv[0], problem->c_str());
        return 2;
    }
    const SVHelperRequest& request = std::get<SVHelperRequest>(parsed);
    if (!CVOutputFormats::Find(request.outputFormat)) {
        fprintf(stderr, "%s: the output format %d is not one the transcoder knows\n", argv[0],
                request.outputFormat);
        return 2;
    }
    bool converted = batch ? ConvertBatch(request, argv[0]) : true;
    for (long run = 0; !batch && converted && run < repeat; ++run) {
        converted = Convert(request, argv[0]);
    }
    CVWarmHelper::Shared().Stop();
    return converted ? 0 : 1;
}
