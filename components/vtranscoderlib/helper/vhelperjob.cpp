#include "components/vtranscoderlib/helper/vhelperjob.h"

#include <fcntl.h>

#include <new>
#include <string>

#include "components/vtranscoderlib/helper/vavlog.h"
#include "components/vtranscoderlib/helper/vhelperlimits.h"
#include "components/vtranscoderlib/helper/vmediaanalyzer.h"
#include "components/vtranscoderlib/helper/vprogressreporter.h"
#include "components/vtranscoderlib/helper/vtranscodepipeline.h"
#include "components/vtranscoderlib/vsourcefile.h"
#include "components/vtranscoderlib/vtranscodeerror.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qsys/uniquefd.h"
#include "qlib/qutilitylib/qexception.h"

namespace {

CVHelperMessage Result(EVTranscodeResult code, const std::string& message) {
    CVHelperMessage result(CVHelperMessage::k_result);
    result.Set("code", int64_t{code}).Set("msg", message);
    return result;
}

// The source the parent handed over, or the one named (a helper run by hand).
CVSourceFile Source(const SVHelperRequest& request) {
    return request.sourceDescriptor >= 0
               ? CVSourceFile::Adopt(qsys::UniqueFd(request.sourceDescriptor), request.source)
               : CVSourceFile::Open(request.source);
}

// The output the parent handed over, or a new file of the given name (a helper run by hand).
qsys::UniqueFd Output(const SVHelperRequest& request) {
    if (request.outputDescriptor >= 0) {
        return qsys::UniqueFd(request.outputDescriptor);
    }
    qsys::UniqueFd fd(
        open(request.output.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd.IsValid()) {
        throw CVTranscodeError(
            EVTranscodeResult_OutputUnwritable,
            L"The output " + qsys::FromUtf8(request.output) + L" cannot be created.");
    }
    return fd;
}

void RunRequest(const SVHelperRequest& request, CVProgressReporter& reporter) {
    if (request.task == EVHelperTask_Probe) {
        reporter.Send(ToMessage(CVMediaAnalyzer::Analyze(Source(request))));
        return;
    }
    SVPipelineObserver observer{[&reporter](int64_t position, int64_t duration, int64_t frames) {
                                    reporter.Progress(position, duration, frames);
                                },
                                [&reporter](int64_t bytes) { reporter.Alive(bytes); }};
    CVTranscodePipeline pipeline(request, Source(request), std::move(observer));
    qsys::UniqueFd output = Output(request);
    pipeline.Run(output.Get());
}

}  // namespace

int CVHelperJob::Run(const SVHelperRequest& request, int reportFd) {
    CVProgressReporter reporter(reportFd);
    CVHelperLimits::Apply();
    CVAVLog::Install();
    try {
        RunRequest(request, reporter);
    } catch (const CVTranscodeError& error) {
        reporter.Send(Result(error.Result(), error.what()));
        return 1;
    } catch (const std::bad_alloc&) {
        reporter.Send(Result(EVTranscodeResult_ConversionFailed, "Out of memory"));
        return 1;
    } catch (const std::exception& error) {
        reporter.Send(Result(EVTranscodeResult_ConversionFailed, error.what()));
        return 1;
    } catch (const CQException& error) {
        reporter.Send(
            Result(EVTranscodeResult_ConversionFailed, qsys::ToUtf8(error.GetDescription())));
        return 1;
    } catch (...) {
        reporter.Send(
            Result(EVTranscodeResult_ConversionFailed, "An unknown failure ended the conversion"));
        return 1;
    }
    reporter.Send(Result(EVTranscodeResult_Completed, ""));
    return 0;
}
