// vtranscode_bench: converts through the engine as the server does (CVConversion, helper
// process and all) and fails with the outcome's message. Like the server, it does not load
// FFmpeg itself; only the helper does.
//
//     vtranscode_bench --source S --output D --format N [settings]
//
// Settings are the helper's options (--video-width, --frame-rate, --audio-bit-rate, ...).

#include <cstdio>
#include <string>
#include <vector>

#include "components/vtranscoderlib/vconversion.h"
#include "components/vtranscoderlib/vhelperrequest.h"
#include "components/vtranscoderlib/voutputformats.h"
#include "qlib/qsys/textcodec.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments{"convert"};
    arguments.insert(arguments.end(), argv + 1, argv + argc);
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
    CVConversion conversion({qsys::FromUtf8(request.source), qsys::FromUtf8(request.output),
                             request.outputFormat, request.settings});
    SVTranscodeOutcome outcome = conversion.Wait();
    if (outcome.result != EVTranscodeResult_Completed) {
        fprintf(stderr, "%ls: %ls\n", TranscodeResultName(outcome.result), outcome.message.c_str());
        return 1;
    }
    return 0;
}
