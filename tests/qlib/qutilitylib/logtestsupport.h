#pragma once
// Helpers of the logging, lock and worker tests.
//
// Every test process of this binary logs into a private world: a global test environment
// points ZELTO_REGISTRY_DIR, TMPDIR and XDG_RUNTIME_DIR at a fresh folder (so no test reads or
// writes the user's registry, /etc, the shared temporary folder or the user's kernel objects),
// sets the logging key there to
// EventLogLevel 5 and FileLogLevel 0, replaces the system log by a collector, and initialises
// the logging front end before the first test. EventLogCapture gives a test what reached the
// (replaced) system log while it lived.
//
// TestProgram runs tests/qlib/qutilitylib/qutilitylib_testprogram.cpp with extra environment.

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "qlib/qutilitylib/qeventlog.h"
#include "tests/qlib/qsys/testsupport.h"

namespace qutilitylib::test {

struct SEventReport {
    EQEventType type;
    std::wstring text;
};

class EventLogCapture {
public:
    EventLogCapture();
    EventLogCapture(const EventLogCapture&) = delete;
    EventLogCapture& operator=(const EventLogCapture&) = delete;

    // The reports since construction, oldest first.
    std::vector<SEventReport> Reports() const;
    // Whether a report's message (the text after the product line) contains part.
    bool Contains(const std::wstring& part) const;

private:
    size_t m_first;
};

// Sets an environment variable (or removes it, for nullopt) for the life of the scope.
using qsys::test::ScopedEnvironment;

// The folder of the test process's private world ($TMPDIR), without a trailing "/".
std::string PrivateFolder();

struct STestProgramResult {
    int exitCode = -1;
    std::string output;  // standard output
};

class TestProgram {
public:
    using Environment = std::map<std::string, std::string>;

    // Starts the program with args and the test process's environment plus extra.
    TestProgram(const std::vector<std::string>& args, const Environment& extra);
    TestProgram(const TestProgram&) = delete;
    TestProgram& operator=(const TestProgram&) = delete;
    ~TestProgram();

    // Waits for the program to end.
    STestProgramResult Wait();

    static STestProgramResult Run(const std::vector<std::string>& args, const Environment& extra) {
        return TestProgram(args, extra).Wait();
    }

private:
    pid_t m_child = -1;
    int m_output = -1;
};

// The text of a UTF-16LE file after its byte-order mark, split at CR LF (no empty last line).
std::vector<std::wstring> ReadLogLines(const std::string& path);

}  // namespace qutilitylib::test
