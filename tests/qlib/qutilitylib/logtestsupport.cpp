#include "tests/qlib/qutilitylib/logtestsupport.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>

#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qlogconfig.h"
#include "qlib/qutilitylib/qlogging.h"
#include "qlib/qutilitylib/qregistry.h"
#include "tests/qlib/qutilitylib/filetestsupport.h"

extern char** environ;

namespace qutilitylib::test {
namespace {

std::mutex s_reportsGuard;
std::vector<SEventReport> s_reports;  // guarded by s_reportsGuard

void Collect(EQEventType type, const std::wstring& text) {
    const std::lock_guard lock(s_reportsGuard);
    s_reports.push_back({type, text});
}

size_t ReportCount() {
    const std::lock_guard lock(s_reportsGuard);
    return s_reports.size();
}

class LogTestEnvironment : public testing::Environment {
public:
    void SetUp() override {
        m_folder = std::make_unique<FileTestFolder>();
        const std::string folder = qsys::ToUtf8(m_folder->Path());
        // Open to others: tests that switch to an unprivileged user make their folders here.
        std::filesystem::permissions(
            folder, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                        std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                        std::filesystem::perms::others_exec);
        ::setenv("ZELTO_REGISTRY_DIR", (folder + "/registry").c_str(), 1);
        ::setenv("TMPDIR", folder.c_str(), 1);
        const std::string runtime = folder + "/run";
        std::filesystem::create_directory(runtime);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        const std::wstring key = std::wstring(CQLogConfig::k_loggingKey) + L"\\" +
                                 std::wstring(CQLogConfig::k_productName);
        CQRegistry::SetValue(key, L"EventLogLevel", 5u);
        CQRegistry::SetValue(key, L"FileLogLevel", 0u);
        CQEventLog::SetReporter(&Collect);
        CQLogging::Init();
    }

    void TearDown() override { m_folder.reset(); }

private:
    std::unique_ptr<FileTestFolder> m_folder;
};

testing::Environment* const s_environment =
    testing::AddGlobalTestEnvironment(new LogTestEnvironment);

}  // namespace

EventLogCapture::EventLogCapture() : m_first(ReportCount()) {}

std::vector<SEventReport> EventLogCapture::Reports() const {
    const std::lock_guard lock(s_reportsGuard);
    return {s_reports.begin() + static_cast<std::ptrdiff_t>(m_first), s_reports.end()};
}

bool EventLogCapture::Contains(const std::wstring& part) const {
    for (const SEventReport& report : Reports()) {
        const size_t body = report.text.find(L"\n\n");
        if (body != std::wstring::npos && report.text.find(part, body + 2) != std::wstring::npos) {
            return true;
        }
    }
    return false;
}

std::string PrivateFolder() {
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr ? folder : "/tmp";
}

TestProgram::TestProgram(const std::vector<std::string>& args, const Environment& extra) {
    std::vector<std::string> arguments{QUTILITYLIB_TESTPROGRAM};
    arguments.insert(arguments.end(), args.begin(), args.end());
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        if (extra.count(variable.substr(0, variable.find('='))) == 0) {
            environment.push_back(variable);
        }
    }
    for (const auto& [name, value] : extra) {
        environment.push_back(name + "=" + value);
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& variable : environment) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);

    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    m_child = ::fork();
    if (m_child == 0) {
        ::dup2(pipe[1], STDOUT_FILENO);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(pipe[1]);
    m_output = pipe[0];
    if (m_child < 0) {
        throw std::runtime_error("fork failed");
    }
}

TestProgram::~TestProgram() {
    if (m_child > 0) {
        Wait();
    }
}

STestProgramResult TestProgram::Wait() {
    STestProgramResult result;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(m_output, buffer, sizeof buffer);
        if (count > 0) {
            result.output.append(buffer, static_cast<size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(m_output);
    m_output = -1;
    int status = 0;
    while (::waitpid(m_child, &status, 0) < 0 && errno == EINTR) {
    }
    m_child = -1;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::vector<std::wstring> ReadLogLines(const std::string& path) {
    const std::string bytes = ReadBytes(path);
    if (bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE") != 0) {
        throw std::runtime_error("no UTF-16LE mark: " + path);
    }
    const std::wstring text =
        qsys::FromUtf16(std::string_view(bytes).substr(2), qsys::ByteOrder::LittleEndian);
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end = text.find(L"\r\n"); end != std::wstring::npos;
         end = text.find(L"\r\n", start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start));
    }
    return lines;
}

}  // namespace qutilitylib::test
