#include "client/vconvertcommand.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "client/vvaluetext.h"
#include "qlib/qsys/textcodec.h"
#include "vtranscodeserver/vtranscodeserverlib.h"

namespace {

using namespace std::chrono_literals;

std::atomic<bool> s_interruptRequested = false;

void OnInterrupt(int /*signal*/) {
    s_interruptRequested = true;
}

LONG IntegerProperty(IVItem* event, const wchar_t* name) {
    VARIANT value = CVValueText::Property(event, name, k_transcodeNamespace);
    return SUCCEEDED(value.ChangeType(VT_I4)) ? value.Get<LONG>() : -1;
}

std::wstring TextProperty(IVItem* event, const wchar_t* name) {
    VARIANT value = CVValueText::Property(event, name, k_transcodeNamespace);
    return SUCCEEDED(value.ChangeType(VT_BSTR)) ? value.Get<BSTR>() : L"";
}

std::wstring Absolute(const std::string& path) {
    return qsys::FromUtf8(std::filesystem::absolute(path).lexically_normal().string());
}

double NumberProperty(IVItem* event, const wchar_t* name) {
    VARIANT value = CVValueText::Property(event, name, k_transcodeNamespace);
    return SUCCEEDED(value.ChangeType(VT_R8)) ? value.Get<double>() : -1.0;
}

// What a Progress notification of the transcoder carries.
struct VProgressFields {
    int percent = 0;
    double speed = 0.0;  // seconds of media per second of conversion
    double secondsLeft = -1.0;

    static VProgressFields From(IVItem* event) {
        VProgressFields fields;
        fields.percent =
            static_cast<int>(std::clamp(NumberProperty(event, L"Percent"), 0.0, 100.0));
        const double position = NumberProperty(event, L"Position");
        const double active = NumberProperty(event, L"ActiveTime");
        fields.speed = position > 0 && active > 0 ? position / active : 0.0;
        fields.secondsLeft = NumberProperty(event, L"TimeLeft");
        return fields;
    }
};

std::string Clock(double seconds) {
    const long total = seconds < 0 ? 0 : static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    return text;
}

}  // namespace

CVConvertCommand::CVConvertCommand(CLI::App& app, CVCliSession& session, const CVCliOutput& output)
    : m_session(session), m_output(output) {
    CLI::App* command = app.add_subcommand("convert", "Converts one file and waits for the result");
    command->add_option("source", m_source, "the file to convert")->required();
    command->add_option("destination", m_destination, "the file to write")->required();
    command->add_option("-f,--format", m_format, "the output format code")->required();
    command->add_option("-d,--device", m_device, "the device's product code");
    command->add_option("-p,--priority", m_priority, "1 low, 2 normal, 3 high");
    command->add_flag("--detach", m_detach, "queue the job, print its id and return");
    command->callback([this] { throw CLI::RuntimeError(Run()); });
}

int CVConvertCommand::Run() {
    CVRemoteObject& service = m_session.Service();
    if (!m_detach) {
        service.Advise([this](const CComPtr<IVItem>& event) {
            std::lock_guard guard(m_guard);
            m_events.push_back(event);
            m_arrived.notify_one();
        });
    }
    const VARIANT device =
        m_device.empty() ? VARIANT::Missing() : VARIANT(qsys::FromUtf8(m_device));
    const LONG jobId =
        service
            .Call(IVTranscodeService::TypeInfo(), L"AddFile",
                  {VARIANT(Absolute(m_source)), VARIANT(Absolute(m_destination)),
                   VARIANT(m_priority), VARIANT(static_cast<ULONG>(m_format)), device})
            .at(0)
            .Get<LONG>();
    if (jobId < 1) {
        throw CQException(L"The service did not queue the job.", E_FAIL);
    }
    if (m_detach) {
        m_output.PrintResults(L"convert", {L"job"}, {VARIANT(jobId)});
        return 0;
    }
    return Follow(jobId);
}

int CVConvertCommand::Follow(LONG jobId) {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    auto interruptDeadline = std::chrono::steady_clock::time_point::max();
    while (true) {
        CComPtr<IVItem> event;
        {
            std::unique_lock guard(m_guard);
            m_arrived.wait_for(guard, 200ms, [&] { return !m_events.empty(); });
            if (!m_events.empty()) {
                event = m_events.front();
                m_events.pop_front();
            }
        }
        if (s_interruptRequested.exchange(false) && !m_interrupted) {
            m_interrupted = true;
            interruptDeadline = std::chrono::steady_clock::now() + 10s;
            Interrupt(jobId);
        }
        if (event) {
            const int exitCode = Handle(event.Get(), jobId);
            if (exitCode >= 0) {
                return exitCode;
            }
        } else if (std::chrono::steady_clock::now() > interruptDeadline) {
            return k_exitInterrupted;
        }
    }
}

int CVConvertCommand::Handle(IVItem* event, LONG jobId) {
    const LONG type = IntegerProperty(event, L"Type");
    const LONG itemId = IntegerProperty(event, L"ItemID");
    if (type == EVTranscodeServiceEvent_Cleared || type == EVTranscodeServiceEvent_Closed) {
        m_output.PrintMessage(L"The service's queue was emptied before the job ended.");
        return k_exitFailed;
    }
    if (itemId != jobId) {
        return -1;
    }
    if (m_output.IsJson()) {
        m_output.PrintEvent(event);
    }
    const bool ends =
        type == EVTranscodeServiceEvent_Completed || type == EVTranscodeServiceEvent_Error ||
        type == EVTranscodeServiceEvent_Aborted || type == EVTranscodeServiceEvent_Removed;
    if (m_barDrawn && ends && !m_output.IsJson()) {
        std::fputc('\n', stdout);
    }
    switch (type) {
        case EVTranscodeServiceEvent_Progress:
            DrawProgress(event);
            return -1;
        case EVTranscodeServiceEvent_Completed:
            if (!m_output.IsJson()) {
                m_output.PrintMessage(L"Completed: " + TextProperty(event, L"OutFile"));
            }
            return 0;
        case EVTranscodeServiceEvent_Error:
            std::fprintf(stderr, "vtranscode: the conversion failed: %s\n",
                         qsys::ToUtf8(TextProperty(event, L"ErrorDescription")).c_str());
            return k_exitFailed;
        case EVTranscodeServiceEvent_Aborted:
        case EVTranscodeServiceEvent_Removed:
            if (!m_output.IsJson()) {
                m_output.PrintMessage(type == EVTranscodeServiceEvent_Aborted
                                          ? L"Aborted."
                                          : L"Removed from the queue.");
            }
            return m_interrupted ? k_exitInterrupted : k_exitFailed;
        default:
            if (!m_output.IsJson() && type == EVTranscodeServiceEvent_Started) {
                m_output.PrintMessage(L"Started.");
            }
            return -1;
    }
}

void CVConvertCommand::Interrupt(LONG jobId) {
    CVRemoteObject& service = m_session.Service();
    const LONG current =
        service.Call(IVTranscodeService::TypeInfo(), L"GetCurrent", {}).at(0).Get<LONG>();
    if (current == jobId) {
        service.Call(IVTranscodeServiceCtrl::TypeInfo(), L"Abort", {});
    } else {
        service.Call(IVTranscodeService::TypeInfo(), L"Remove", {VARIANT(jobId)});
    }
}

void CVConvertCommand::DrawProgress(IVItem* event) {
    if (m_output.IsJson()) {
        return;
    }
    const VProgressFields fields = VProgressFields::From(event);
    if (!isatty(STDOUT_FILENO)) {
        std::printf("progress %d%%\n", fields.percent);
        std::fflush(stdout);
        return;
    }
    constexpr int k_width = 30;
    const int filled = fields.percent * k_width / 100;
    std::printf("\r%3d%% [%s%s] %.1fx ETA %s ", fields.percent, std::string(filled, '#').c_str(),
                std::string(k_width - filled, ' ').c_str(), fields.speed,
                Clock(fields.secondsLeft).c_str());
    std::fflush(stdout);
    m_barDrawn = true;
}
