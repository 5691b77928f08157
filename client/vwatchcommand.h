#pragma once
// CVWatchCommand: `vtranscode watch [--count N]` prints the service's events as they come
// (one JSON document per line with --json) until Ctrl-C, or until N events were printed.
//
// Events are printed on the connection's thread; the main thread waits for the end.

#include <CLI/CLI.hpp>
#include <atomic>

#include "client/vclioutput.h"
#include "client/vclisession.h"

class CVWatchCommand {
public:
    CVWatchCommand(CLI::App& app, CVCliSession& session, const CVCliOutput& output);

private:
    int Run();

    CVCliSession& m_session;
    const CVCliOutput& m_output;
    long m_count = 0;  // 0: no limit
    std::atomic<long> m_printed = 0;
};
