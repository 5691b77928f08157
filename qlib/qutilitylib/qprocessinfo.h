#pragma once
// CQProcessInfo: what CQProcess::GetAllProcesses tells about one process: its id and its name
// (the file name of its executable, for example "ZeltoVTranscodeServer"; empty when we may not
// read it). The executable's full path and the process's user are kept as well, so that a caller
// that means to end processes by name can check that a process really is an instance of its
// own program and runs as its own user: a name alone is easily shared.
//
// A copyable value; one thread at a time.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

class CQProcessInfo {
public:
    CQProcessInfo() = default;
    CQProcessInfo(uint32_t processId, std::wstring processName, std::wstring executablePath = {},
                  std::optional<uid_t> userId = std::nullopt);

    uint32_t GetProcessID() const { return m_processId; }
    const std::wstring& GetProcessName() const { return m_processName; }
    // Absolute path of the executable; empty when it cannot be read.
    const std::wstring& GetExecutablePath() const { return m_executablePath; }
    // Real user id; nullopt when it cannot be read.
    const std::optional<uid_t>& GetUserId() const { return m_userId; }

private:
    uint32_t m_processId = 0;
    std::wstring m_processName;
    std::wstring m_executablePath;
    std::optional<uid_t> m_userId;
};
