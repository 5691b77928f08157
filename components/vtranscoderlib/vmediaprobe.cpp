#include "components/vtranscoderlib/vmediaprobe.h"

#include <optional>
#include <system_error>

#include "components/vtranscoderlib/vhelperprocess.h"
#include "components/vtranscoderlib/vhelperrequest.h"
#include "components/vtranscoderlib/vsourcefile.h"
#include "components/vtranscoderlib/vtranscodeerror.h"
#include "components/vtranscoderlib/vwarmhelper.h"
#include "qlib/qsys/textcodec.h"

SVMediaInfo CVMediaProbe::Probe(const std::wstring& path) const {
    SVHelperRequest request;
    request.task = EVHelperTask_Probe;
    request.source = qsys::ToUtf8(path);
    std::optional<SVMediaInfo> info;
    SVHelperRun run;
    try {
        CVSourceFile source = CVSourceFile::Open(request.source);
        request.sourceDescriptor = SVHelperRequest::k_sourceDescriptor;
        std::unique_ptr<CVHelperProcess> process =
            CVWarmHelper::StartJob(m_options.helperExecutable, request, 0,
                                   {{source.Descriptor(), SVHelperRequest::k_sourceDescriptor}});
        CVPausableClock clock;
        run =
            process->Supervise(clock, m_options.watchdog, [&info](const CVHelperMessage& message) {
                if (message.Type() == CVHelperMessage::k_info) {
                    info = MediaInfoFromMessage(message);
                }
                return true;
            });
    } catch (const CVTranscodeError& error) {
        RaiseTranscodeError(error.Result(), error.Message());
    } catch (const std::system_error& error) {
        RaiseTranscodeError(
            EVTranscodeResult_HelperCrashed,
            L"The media probe could not be started: " + qsys::FromUtf8(error.what()) + L".");
    }
    SVTranscodeOutcome outcome = run.ToOutcome();
    if (outcome.result != EVTranscodeResult_Completed) {
        RaiseTranscodeError(outcome.result, outcome.message);
    }
    if (!info) {
        RaiseTranscodeError(EVTranscodeResult_HelperCrashed,
                            L"The media probe of " + path + L" reported no information.");
    }
    return *info;
}
