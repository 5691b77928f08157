#pragma once
// CQLogConfig: what the logging sinks are told: the product's identity, the level threshold of
// each sink, the log file and its rotation size. ReadConfig takes the values from the current
// user's registry key "HKEY_CURRENT_USER\Software\Zelto\Logging\Zelto V Platform":
//
//   "EventLogLevel" DWORD (default 2)   threshold of the system log sink
//   "FileLogLevel"  DWORD (default 0)   threshold of the file sink
//   "File"          string (default "") the log file; environment variables in %NAME% form are
//                                       expanded, and an empty path means no file
//   "FileMaxSize"   DWORD (default 1048576) bytes above which the file is rotated
//
// A missing key, a missing value or a value of another type gives the default. A threshold of
// N lets through every message of level N or lower; 0 turns a sink off.
//
// Decisions for file paths written as on the system we stand in for:
// - %TEMP% and %TMP% stand for the temporary directory when the environment has no such
//   variable; other unknown %NAME% stay as written.
// - "\" separates folders in the expanded path, as "/" does (the path builders accept both).
// - The expanded path has no length limit beyond the system's own.
//
// Never raises: every operation catches its own failures and reports them to the debug output
// (see CQLogGuard). A value type used by one thread at a time.

#include <cstdint>
#include <string>
#include <string_view>

// The message levels: a lower number is more severe. Levels above EQLogLevel_Info are
// debugging levels.
enum EQLogLevel : int {
    EQLogLevel_None = 0,
    EQLogLevel_Error = 1,
    EQLogLevel_Warning = 2,
    EQLogLevel_Info = 3,
    EQLogLevel_Debug = 4,
    EQLogLevel_StackTrace = 5,
};

class CQLogConfig {
public:
    static constexpr std::wstring_view k_productName = L"Zelto V Platform";
    static constexpr std::wstring_view k_productVersion = L"3,2,100,0";
    static constexpr std::wstring_view k_loggingKey =
        L"HKEY_CURRENT_USER\\Software\\Zelto\\Logging";
    static constexpr int k_defaultEventLogLevel = EQLogLevel_Warning;
    static constexpr int k_defaultFileLogLevel = EQLogLevel_None;
    static constexpr uint32_t k_defaultFileMaxSize = 0x100000;

    CQLogConfig() noexcept;
    CQLogConfig(const CQLogConfig& other) noexcept;
    CQLogConfig& operator=(const CQLogConfig& other) noexcept;
    ~CQLogConfig() = default;

    // Resets the levels, the file and its maximum size to their defaults.
    void SetDefaults() noexcept;
    // Reads the levels, the file and its maximum size from the registry; false when that
    // failed (the values are then unchanged).
    bool ReadConfig() noexcept;

    std::wstring_view GetProductName() const { return m_productName; }
    std::wstring_view GetProductVersion() const { return m_productVersion; }
    int GetEventLogLevel() const { return m_eventLogLevel; }
    int GetFileLogLevel() const { return m_fileLogLevel; }
    const std::wstring& GetFile() const { return m_file; }
    uint32_t GetFileMaxSize() const { return m_fileMaxSize; }

    // The text with every %NAME% replaced by the environment variable NAME (see above).
    static std::wstring ExpandEnvironmentStrings(std::wstring_view text);

private:
    std::wstring_view m_productName = k_productName;
    std::wstring_view m_productVersion = k_productVersion;
    int m_eventLogLevel = k_defaultEventLogLevel;
    int m_fileLogLevel = k_defaultFileLogLevel;
    std::wstring m_file;
    uint32_t m_fileMaxSize = k_defaultFileMaxSize;
};
