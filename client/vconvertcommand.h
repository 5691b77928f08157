#pragma once
// CVConvertCommand: `vtranscode convert SOURCE DEST --format N [--device CODE] [--priority P]
// [--detach]` queues one job at the service and follows it: a progress bar with percentage,
// speed and time left on a terminal, plain lines otherwise (JSON lines with --json). It exits
// 0 only when the job completed, 1 with the error text when it failed, was removed or the
// server ended, and 130 after Ctrl-C, which aborts the job (or takes it out of the queue when
// it has not started). --detach prints the job id and returns at once.
//
// Runs on the main thread; events arrive on the connection's thread and are handed over
// through m_guard (which guards m_events).

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

#include <CLI/CLI.hpp>

#include "client/vclioutput.h"
#include "client/vclisession.h"

class CVConvertCommand {
public:
    static constexpr int k_exitFailed = 1;
    static constexpr int k_exitInterrupted = 130;

    CVConvertCommand(CLI::App& app, CVCliSession& session, const CVCliOutput& output);

private:
    int Run();
    // Waits for the job's end; the exit code.
    int Follow(LONG jobId);
    // The job's exit code once `event` ends it, -1 while it goes on.
    int Handle(IVItem* event, LONG jobId);
    void Interrupt(LONG jobId);
    void DrawProgress(IVItem* event);

    CVCliSession& m_session;
    const CVCliOutput& m_output;
    std::string m_source;
    std::string m_destination;
    LONG m_format = 0;
    std::string m_device;
    LONG m_priority = 2;
    bool m_detach = false;
    bool m_interrupted = false;
    bool m_barDrawn = false;

    std::mutex m_guard;
    std::condition_variable m_arrived;
    std::deque<CComPtr<IVItem>> m_events;  // guarded by m_guard
};
