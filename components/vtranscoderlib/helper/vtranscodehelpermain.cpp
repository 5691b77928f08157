// ZeltoVTranscodeHelper: runs one conversion or one probe and reports on descriptor 3 (see
// SVHelperRequest for the command line, CVHelperMessage for the report). Run by hand, without
// a descriptor 3, it reports on standard output.
//
//     ZeltoVTranscodeHelper serve
//
// runs it as the warm helper instead (CVWarmServer), serving jobs sent on descriptor 4.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "components/vtranscoderlib/helper/vhelperjob.h"
#include "components/vtranscoderlib/helper/vprogressreporter.h"
#include "components/vtranscoderlib/helper/vwarmserver.h"
#include "components/vtranscoderlib/vhelperrequest.h"
#include "components/vtranscoderlib/vwarmhelper.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments == std::vector<std::string>{"serve"}) {
        return CVWarmServer(CVWarmHelper::k_controlDescriptor).Run();
    }
    int reportFd = fcntl(CVHelperMessage::k_reportDescriptor, F_GETFD) >= 0
                       ? CVHelperMessage::k_reportDescriptor
                       : STDOUT_FILENO;
    auto parsed = SVHelperRequest::Parse(arguments);
    if (auto* problem = std::get_if<std::string>(&parsed)) {
        CVHelperMessage result(CVHelperMessage::k_result);
        result.Set("code", int64_t{EVTranscodeResult_HelperCrashed})
            .Set("msg", "Bad command line: " + *problem);
        CVProgressReporter(reportFd).Send(result);
        fprintf(stderr, "%s: %s\n", argv[0], problem->c_str());
        return 2;
    }
    return CVHelperJob::Run(std::get<SVHelperRequest>(parsed), reportFd);
}
