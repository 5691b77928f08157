#include "qlib/qutilitylib/qprocessinfo.h"

#include <utility>

CQProcessInfo::CQProcessInfo(uint32_t processId, std::wstring processName,
                             std::wstring executablePath, std::optional<uid_t> userId)
    : m_processId(processId),
      m_processName(std::move(processName)),
      m_executablePath(std::move(executablePath)),
      m_userId(userId) {}
