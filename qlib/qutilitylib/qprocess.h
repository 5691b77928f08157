#pragma once
// CQProcess: lists the processes of the system and ends one of them.
//
// GetAllProcesses lists every process, also those we may not inspect (they have an empty name);
// there is no limit on their number. A CQProcess object holds at most one process handle, taken
// by Attach and let go by Detach, the next Attach or the destructor. The handle refers to the
// process that was attached even if its id is reused after it ends, so Terminate never hits a
// stranger that inherited the id.
//
// Decision: ending a process is SIGKILL, which the process cannot catch or delay. A process
// ended this way has no exit code (callers that expect "exit code 1" of a forced end get none);
// its parent sees "killed by signal 9". Attach succeeds only for a process we may signal (our
// own user's, or any when privileged).
//
// One thread at a time per object; GetAllProcesses is safe on any thread.

#include <cstdint>
#include <vector>

#include "qlib/qsys/processhandle.h"
#include "qlib/qutilitylib/qprocessinfo.h"

class CQProcess {
public:
    CQProcess() = default;
    CQProcess(const CQProcess&) = delete;
    CQProcess& operator=(const CQProcess&) = delete;
    virtual ~CQProcess() = default;

    // Every process of the system, by ascending id. Raises the system error when the process
    // list cannot be read at all.
    static std::vector<CQProcessInfo> GetAllProcesses();

    // Lets go of any previous process, then takes a handle to processId. False when there is no
    // such process or we may not end it.
    bool Attach(uint32_t processId);
    void Detach() { m_process = {}; }
    bool IsAttached() const { return m_process.IsValid(); }

    // Attaches to processId and ends it. False when it could not be attached or ended.
    bool Terminate(uint32_t processId);

private:
    qsys::ProcessHandle m_process;
};
