#include "qlib/qutilitylib/qprocess.h"

#include <system_error>
#include <utility>

#include "qlib/qsys/processlist.h"
#include "qlib/qutilitylib/qcatch.h"

std::vector<CQProcessInfo> CQProcess::GetAllProcesses() {
    return CQCatch::Internal([] {
        std::vector<uint32_t> ids;
        try {
            ids = qsys::ListProcessIds();
        } catch (const std::system_error& error) {
            CQException::RaiseSystemError(error, {{L"Directory", L"/proc"}});
        }
        std::vector<CQProcessInfo> processes;
        processes.reserve(ids.size());
        for (const uint32_t id : ids) {
            qsys::ProcessEntry entry = qsys::ReadProcessEntry(id);
            processes.emplace_back(entry.id, std::move(entry.name), std::move(entry.executablePath),
                                   entry.userId);
        }
        return processes;
    });
}

bool CQProcess::Attach(uint32_t processId) {
    return CQCatch::Internal([&] {
        Detach();
        try {
            m_process = qsys::ProcessHandle::Open(processId);
            return true;
        } catch (const std::system_error&) {
            // No such process, or not ours to end: a false result, as the caller expects.
            return false;
        }
    });
}

bool CQProcess::Terminate(uint32_t processId) {
    return CQCatch::Internal([&] {
        if (!Attach(processId)) {
            return false;
        }
        try {
            m_process.Kill();
            return true;
        } catch (const std::system_error&) {
            // The process ended by itself between Attach and now.
            return false;
        }
    });
}
