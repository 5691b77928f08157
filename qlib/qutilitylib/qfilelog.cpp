#include "qlib/qutilitylib/qfilelog.h"

#include <time.h>

#include <array>

#include "qlib/qsys/currentthread.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qfileutilities.h"
#include "qlib/qutilitylib/qlockholder.h"
#include "qlib/qutilitylib/qlogguard.h"
#include "qlib/qutilitylib/qstring.h"

namespace {

constexpr std::array<std::wstring_view, 6> k_levelNames = {L"NONE", L"ERROR", L"WARNING",
                                                           L"INFO", L"DEBUG", L"STACKTRACE"};

}  // namespace

void CQFileLog::Init() noexcept {
    CQLogGuard::Run(L"CQFileLog::Init", [this] {
        m_fileMutex.Init(m_config.GetFile(), EQKernelObjectScope_User);
        m_fileMutex.SetTimeout(k_fileLockTimeout);
    });
}

void CQFileLog::Log(int level, const std::wstring& message, bool force) noexcept {
    CQLogGuard::Run(L"CQFileLog::Log", [&] {
        const std::wstring& path = m_config.GetFile();
        if ((m_config.GetFileLogLevel() < level && !force) || path.empty()) {
            return;
        }
        const std::wstring text = CQStringHelper::ConvertNewlinesTo(FormatLine(
            level, message, std::chrono::system_clock::now(), qsys::GetCurrentThreadId()));
        const CQLockHolder holder(m_fileMutex);
        if (holder.IsHeld() && CQFileUtilities::GetFileSize(path) > m_config.GetFileMaxSize()) {
            CQFileUtilities::MoveFileW(path, RotatedPath(path));
        }
        CQFileUtilities::WriteTextFile(path, text, true, EQTextEncoding_Utf16LE);
    });
}

bool CQFileLog::IsDebuggingLevel() const noexcept {
    return m_config.GetFileLogLevel() > EQLogLevel_Info;
}

std::wstring CQFileLog::LevelName(int level) {
    if (level >= 0 && static_cast<size_t>(level) < k_levelNames.size()) {
        return std::wstring(k_levelNames[static_cast<size_t>(level)]);
    }
    return CQStringHelper::IntToString(level);
}

std::wstring CQFileLog::FormatLine(int level, const std::wstring& message,
                                   std::chrono::system_clock::time_point when, uint32_t threadId) {
    const time_t seconds = std::chrono::system_clock::to_time_t(when);
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  when - std::chrono::system_clock::from_time_t(seconds))
                                  .count();
    tm local{};
    localtime_r(&seconds, &local);
    return CQStringHelper::Format(
        L"%04d-%02d-%02d\t%02d:%02d:%02d.%04d\t%s\t%d\t%s\n", local.tm_year + 1900,
        local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
        static_cast<int>(milliseconds), LevelName(level), static_cast<int>(threadId), message);
}

std::wstring CQFileLog::RotatedPath(const std::wstring& path) {
    return CQFileUtilities::GetPathFromFilename(path) +
           CQFileUtilities::GetFilenameWithoutExtension(path) + L"_old" +
           CQFileUtilities::GetFileExtension(path);
}
