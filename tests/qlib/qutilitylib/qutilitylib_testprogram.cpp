// A small program that the cross-process tests of the utility library start (several copies
// at once), so that logging and named mutexes are exercised by real, separate processes with
// their own logging front end:
//
//   qutilitylib_testprogram log <count> <tag>
//       logs <count> DEBUG lines "<tag> line <n>" (n from 0)
//   qutilitylib_testprogram levels
//       reports what would go to the system log on standard output ("EVENT <type> <text>",
//       line ends shown as "\n"), logs "level <n>" at the levels 1 to 5, runs one worker
//       thread and a timer that is stopped twice, and prints "DEBUGGING 1" or "DEBUGGING 0"
//   qutilitylib_testprogram mutex <name> <count> <counter file>
//       <count> times: takes the named mutex (the user's own), reads the number in the counter
//       file, yields, writes the number plus one, releases the mutex
//
// Exit code 0 on success, 2 for a usage error, 1 for any other failure.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qeventlog.h"
#include "qlib/qutilitylib/qlockholder.h"
#include "qlib/qutilitylib/qlogging.h"
#include "qlib/qutilitylib/qmutexlock.h"
#include "qlib/qutilitylib/qtimer.h"
#include "qlib/qutilitylib/qworkerthreadhost.h"

namespace {

class CQIdleWorker : public CQWorkerThreadHost {
public:
    CQIdleWorker() : CQWorkerThreadHost(L"CQIdleWorker") {}
    ~CQIdleWorker() override { StopWorkerThread(k_infiniteTimeout); }

protected:
    void WorkerProc(void*) override {}
};

void PrintReport(EQEventType type, const std::wstring& text) {
    std::string line = qsys::ToUtf8(text);
    for (size_t position = line.find('\n'); position != std::string::npos;
         position = line.find('\n', position)) {
        line.replace(position, 1, "\\n");
    }
    std::cout << "EVENT " << static_cast<int>(type) << ' ' << line << '\n';
}

int LogLines(int count, const std::string& tag) {
    const std::wstring wideTag = qsys::FromUtf8(tag);
    for (int line = 0; line < count; ++line) {
        CQLogging::Log(EQLogLevel_Debug, false, L"%s line %d", wideTag, line);
    }
    return 0;
}

int LogLevels() {
    CQEventLog::SetReporter(&PrintReport);
    for (int level = EQLogLevel_Error; level <= EQLogLevel_StackTrace; ++level) {
        CQLogging::Log(level, false, L"level %d", level);
    }
    CQIdleWorker worker;
    worker.StartWorkerThread();
    worker.StopWorkerThread(k_infiniteTimeout);
    CQTimer timer;
    timer.Start(L"timer 100%");
    timer.Stop();
    timer.Stop();
    std::cout << "DEBUGGING " << (CQLogging::IsDebuggingLevel() ? 1 : 0) << '\n';
    return 0;
}

int CountUnderMutex(const std::string& name, int count, const std::string& counterFile) {
    CQMutexLock lock;
    lock.Init(qsys::FromUtf8(name), EQKernelObjectScope_User);
    for (int round = 0; round < count; ++round) {
        const CQLockHolder holder(lock);
        if (!holder.IsHeld()) {
            return 1;
        }
        long value = 0;
        std::ifstream(counterFile) >> value;
        std::this_thread::yield();
        std::ofstream(counterFile, std::ios::trunc) << value + 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string command = argc > 1 ? argv[1] : "";
        if (command == "log" && argc == 4) {
            return LogLines(std::stoi(argv[2]), argv[3]);
        }
        if (command == "levels" && argc == 2) {
            return LogLevels();
        }
        if (command == "mutex" && argc == 5) {
            return CountUnderMutex(argv[2], std::stoi(argv[3]), argv[4]);
        }
        std::cerr << "usage: qutilitylib_testprogram log|levels|mutex ...\n";
        return 2;
    } catch (...) {
        return 1;
    }
}
