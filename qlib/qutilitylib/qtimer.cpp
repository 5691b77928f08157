#include "qlib/qutilitylib/qtimer.h"

#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qlogging.h"

CQTimer::~CQTimer() {
    CQCatch::LogAndSwallow([this] { Stop(); });
}

void CQTimer::Start(const std::wstring& name) {
    CQCatch::Internal([&] {
        m_active = true;
        m_name = name;
        m_stopped = false;
        m_start = std::chrono::steady_clock::now();
        Emit(L"==TIMER START==", 0);
    });
}

double CQTimer::Stop() {
    return CQCatch::Internal([this] {
        if (m_stopped || !m_active) {
            return 0.0;
        }
        const std::chrono::duration<double, std::milli> elapsed =
            std::chrono::steady_clock::now() - m_start;
        Emit(L"==TIMER END==", elapsed.count());
        m_stopped = true;
        return elapsed.count();
    });
}

void CQTimer::Emit(const wchar_t* label, double milliseconds) const {
    if (!m_active || !CQLogging::IsDebuggingLevel()) {
        return;
    }
    const std::wstring text = milliseconds > 0 ? CQStringHelper::Format(L"%s\t%s\t%.8f\tms\n",
                                                                        label, m_name, milliseconds)
                                               : CQStringHelper::Format(L"%s\t%s\n", label, m_name);
    CQLogging::LogInternal(EQLogLevel_Debug, text, false);
}
