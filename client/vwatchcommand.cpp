#include "client/vwatchcommand.h"

#include <signal.h>

#include <chrono>
#include <thread>

namespace {

std::atomic<bool> s_stop = false;

void OnStop(int /*signal*/) {
    s_stop = true;
}

}  // namespace

CVWatchCommand::CVWatchCommand(CLI::App& app, CVCliSession& session, const CVCliOutput& output)
    : m_session(session), m_output(output) {
    CLI::App* command = app.add_subcommand("watch", "Prints the service's events as they come");
    command->add_option("-n,--count", m_count, "stop after this many events");
    command->callback([this] { throw CLI::RuntimeError(Run()); });
}

int CVWatchCommand::Run() {
    struct sigaction action {};
    action.sa_handler = OnStop;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    m_session.Service().Advise([this](const CComPtr<IVItem>& event) {
        if (m_count > 0 && m_printed >= m_count) {
            return;
        }
        m_output.PrintEvent(event.Get());
        if (++m_printed >= m_count && m_count > 0) {
            s_stop = true;
        }
    });
    while (!s_stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    m_session.Service().Unadvise();
    return 0;
}
