#include "components/vtranscoderlib/vconversion.h"

#include <signal.h>

#include <algorithm>
#include <cwchar>
#include <optional>
#include <system_error>

#include "components/vtranscoderlib/vhelperrequest.h"
#include "components/vtranscoderlib/vsourcefile.h"
#include "components/vtranscoderlib/vtranscodeerror.h"
#include "components/vtranscoderlib/vwarmhelper.h"
#include "qlib/qsys/textcodec.h"

namespace {

double Seconds(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

}  // namespace

CVConversion::CVConversion(SVConversionJob job, SVConversionOptions options)
    : m_job(std::move(job)),
      m_options(std::move(options)),
      m_format(CVOutputFormats::Get(m_job.outputFormat)) {}

CVConversion::~CVConversion() {
    std::unique_ptr<CVHelperProcess> process;
    {
        std::lock_guard lock(m_mutex);
        process = std::move(m_process);
    }
    process.reset();  // kills and reaps before the partial output is removed
    m_output.reset();
}

void CVConversion::Start() {
    {
        std::lock_guard lock(m_mutex);
        if (m_state != EVConversionState_Created) {
            return;
        }
        if (m_abortRequested) {
            m_state = EVConversionState_Finished;
            m_outcome = {EVTranscodeResult_Aborted, L"The conversion was aborted."};
            return;
        }
    }
    if (auto problem = FindSettingsProblem(m_job.settings)) {
        Finish({EVTranscodeResult_UnsupportedSettings, *problem});
        return;
    }
    SVHelperRequest request;
    request.task = EVHelperTask_Convert;
    request.source = qsys::ToUtf8(m_job.source);
    request.sourceDescriptor = SVHelperRequest::k_sourceDescriptor;
    request.outputDescriptor = SVHelperRequest::k_outputDescriptor;
    request.outputFormat = m_job.outputFormat;
    request.settings = m_job.settings;
    std::optional<CVSourceFile> source;
    try {
        source.emplace(CVSourceFile::Open(request.source));
        std::string destination = qsys::ToUtf8(m_job.destination);
        if (source->IsSameFileAs(destination)) {
            Finish({EVTranscodeResult_OutputUnwritable,
                    L"The destination " + m_job.destination +
                        L" is the source file itself; it is left as it is."});
            return;
        }
        m_output = std::make_unique<CVPendingOutput>(destination);
    } catch (const CVTranscodeError& error) {
        Finish({error.Result(), error.Message()});
        return;
    }
    std::lock_guard lock(m_mutex);
    try {
        m_clock = std::make_unique<CVPausableClock>();
        m_process =
            CVWarmHelper::StartJob(m_options.helperExecutable, request, m_options.niceness,
                                   {{source->Descriptor(), SVHelperRequest::k_sourceDescriptor},
                                    {m_output->Descriptor(), SVHelperRequest::k_outputDescriptor}});
        m_state = EVConversionState_Running;
        if (m_abortRequested) {  // asked for while the destination was prepared
            m_process->Signal(SIGKILL);
        }
    } catch (const std::system_error& error) {
        m_state = EVConversionState_Finished;
        m_outcome = {
            EVTranscodeResult_HelperCrashed,
            L"The conversion helper could not be started: " + qsys::FromUtf8(error.what()) + L"."};
        m_output.reset();
    }
}

SVTranscodeOutcome CVConversion::Wait() {
    Start();
    CVHelperProcess* process = nullptr;
    const CVPausableClock* clock = nullptr;
    {
        std::lock_guard lock(m_mutex);
        if (m_state == EVConversionState_Finished) {
            return m_outcome;
        }
        process = m_process.get();
        clock = m_clock.get();
    }
    SVHelperRun run = process->Supervise(
        *clock, m_options.watchdog,
        [this](const CVHelperMessage& message) { return OnHelperMessage(message); });
    SVTranscodeOutcome outcome = run.ToOutcome(DescribeProgress());
    {
        // From here on the job is decided: a later Abort is refused rather than ignored.
        std::lock_guard lock(m_mutex);
        if (m_abortRequested) {
            outcome = {EVTranscodeResult_Aborted, L"The conversion was aborted."};
        }
        m_state = EVConversionState_Finished;
    }
    if (outcome.result == EVTranscodeResult_Completed) {
        try {
            m_output->Commit();
        } catch (const CVTranscodeError& error) {
            outcome = {error.Result(), error.Message()};
        }
    }
    Finish(std::move(outcome));
    return m_outcome;
}

void CVConversion::Finish(SVTranscodeOutcome outcome) {
    std::unique_ptr<CVHelperProcess> process;
    {
        std::lock_guard lock(m_mutex);
        m_state = EVConversionState_Finished;
        m_paused = false;
        m_outcome = std::move(outcome);
        process = std::move(m_process);
    }
    process.reset();
    m_output.reset();
}

bool CVConversion::OnHelperMessage(const CVHelperMessage& message) {
    if (message.Type() == CVHelperMessage::k_alive) {
        int64_t bytes = message.Integer("bytes");
        bool grew = bytes > m_lastBytes;
        m_lastBytes = std::max(m_lastBytes, bytes);
        return grew;
    }
    if (message.Type() != CVHelperMessage::k_progress) {
        return false;
    }
    int64_t position = message.Integer("pos");
    int64_t frames = message.Integer("frames");
    bool advanced = position > m_lastPosition || frames > m_lastFrames;
    m_lastPosition = std::max(m_lastPosition, position);
    m_lastFrames = std::max(m_lastFrames, frames);
    m_lastDuration = message.Integer("dur");

    SVConversionProgress progress;
    progress.positionSeconds = static_cast<double>(position) / 1e6;
    progress.durationSeconds = static_cast<double>(message.Integer("dur")) / 1e6;
    progress.frames = frames;
    progress.activeSeconds = ActiveSeconds();
    if (progress.durationSeconds > 0.0) {
        progress.percent =
            std::clamp(100.0 * progress.positionSeconds / progress.durationSeconds, 0.0, 100.0);
    }
    if (progress.activeSeconds > 0.0) {
        progress.framesPerSecond = static_cast<double>(frames) / progress.activeSeconds;
    }
    if (progress.percent > 0.0) {
        progress.remainingSeconds =
            progress.activeSeconds * (100.0 - progress.percent) / progress.percent;
    }
    if (m_options.onProgress) {
        m_options.onProgress(progress);
    }
    return advanced;
}

std::wstring CVConversion::DescribeProgress() const {
    if (m_lastBytes >= 0) {
        return L"it was finishing the file, " + std::to_wstring(m_lastBytes) + L" bytes written";
    }
    if (m_lastPosition < 0) {
        return L"it had not converted anything yet";
    }
    auto seconds = [](int64_t microseconds) {
        wchar_t text[32];
        swprintf(text, 32, L"%.1f s", static_cast<double>(microseconds) / 1e6);
        return std::wstring(text);
    };
    return L"it had come to " + seconds(m_lastPosition) +
           (m_lastDuration > 0 ? L" of " + seconds(m_lastDuration) : std::wstring()) + L" (" +
           std::to_wstring(std::max<int64_t>(m_lastFrames, 0)) + L" frames)";
}

bool CVConversion::Pause() {
    std::lock_guard lock(m_mutex);
    if (m_state != EVConversionState_Running || m_paused || !m_process->Signal(SIGSTOP)) {
        return false;
    }
    m_clock->Pause();
    m_paused = true;
    return true;
}

bool CVConversion::Continue() {
    std::lock_guard lock(m_mutex);
    if (m_state != EVConversionState_Running || !m_paused) {
        return false;
    }
    m_process->Signal(SIGCONT);
    m_clock->Resume();
    m_paused = false;
    return true;
}

bool CVConversion::Abort() {
    std::lock_guard lock(m_mutex);
    if (m_state == EVConversionState_Finished) {
        return false;
    }
    m_abortRequested = true;
    if (m_process) {
        m_process->Signal(SIGKILL);
    }
    return true;
}

bool CVConversion::IsPaused() const {
    std::lock_guard lock(m_mutex);
    return m_paused;
}

EVConversionState CVConversion::State() const {
    std::lock_guard lock(m_mutex);
    return m_state;
}

pid_t CVConversion::HelperProcessId() const {
    std::lock_guard lock(m_mutex);
    return m_process ? m_process->Id() : 0;
}

double CVConversion::ActiveSeconds() const {
    std::lock_guard lock(m_mutex);
    return m_clock ? Seconds(m_clock->Elapsed()) : 0.0;
}
