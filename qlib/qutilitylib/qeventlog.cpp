#include "qlib/qutilitylib/qeventlog.h"

#include "qlib/qsys/debugoutput.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qfileutilities.h"
#include "qlib/qutilitylib/qlogguard.h"
#include "qlib/qutilitylib/qregistry.h"
#include "qlib/qutilitylib/qstring.h"

namespace {

// The error number a report without an event source fails with (ERROR_INVALID_HANDLE).
constexpr int k_invalidHandle = 6;

EQEventType EventType(int level) {
    switch (level) {
        case EQLogLevel_Error:
            return EQEventType_Error;
        case EQLogLevel_Warning:
            return EQEventType_Warning;
        default:
            return EQEventType_Information;
    }
}

qsys::SyslogPriority SyslogPriority(EQEventType type) {
    switch (type) {
        case EQEventType_Error:
            return qsys::SyslogPriority::Error;
        case EQEventType_Warning:
            return qsys::SyslogPriority::Warning;
        default:
            return qsys::SyslogPriority::Info;
    }
}

}  // namespace

std::atomic<CQEventLog::Reporter> CQEventLog::s_reporter = nullptr;

void CQEventLog::Init() noexcept {
    CQLogGuard::Run(L"CQEventLog::Init", [this] {
        m_sink.reset();
        InitEventResources();
        m_sink = std::make_unique<qsys::SyslogSink>(m_config.GetProductName());
    });
}

void CQEventLog::InitEventResources() noexcept {
    CQLogGuard::Run(L"CQEventLog::InitEventResources", [this] {
        try {
            CQCatch::Internal([this] {
                const std::wstring key =
                    std::wstring(k_sourcesKey) + L"\\" + std::wstring(m_config.GetProductName());
                const std::wstring messageFile = CQFileUtilities::ConcatPathname(
                    CQFileUtilities::GetTempDirectory(), std::wstring(k_messageFileName));
                CQRegistry::SetValue(key, L"EventMessageFile", messageFile);
                CQRegistry::SetValue(key, L"TypesSupported", k_typesSupported);
            });
        } catch (const CQException&) {
            qsys::WriteDebugOutput(
                L"CQEventLog: Failed to create event source file and registry resources");
        }
    });
}

void CQEventLog::Log(int level, const std::wstring& message, bool force) noexcept {
    CQLogGuard::Run(L"CQEventLog::Log", [&] {
        if (!force && (m_config.GetEventLogLevel() < level || m_sink == nullptr)) {
            return;
        }
        if (m_sink == nullptr) {
            qsys::WriteDebugOutput(L"ReportEvent failed, error: " +
                                   CQStringHelper::IntToString(k_invalidHandle));
            return;
        }
        const EQEventType type = EventType(level);
        const std::wstring text = CQStringHelper::Format(
            L"%s %s (QLib %s)\n\n%s", m_config.GetProductName(), m_config.GetProductVersion(),
            CQLogConfig::k_productVersion, message);
        if (const Reporter reporter = s_reporter.load()) {
            reporter(type, text);
        } else {
            m_sink->Write(SyslogPriority(type), text);
        }
    });
}

bool CQEventLog::IsDebuggingLevel() const noexcept {
    return m_config.GetEventLogLevel() > EQLogLevel_Info;
}

CQEventLog::Reporter CQEventLog::SetReporter(Reporter reporter) {
    return s_reporter.exchange(reporter);
}
