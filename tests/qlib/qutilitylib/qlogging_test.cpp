// Logging: the configuration from the registry, the log file (format, levels, line ends,
// rotation, several threads and processes, a lock that is never released), the system log
// sink and its event-source registration, the message file, the timer, and the front end as
// separate processes see it (each reads its configuration once).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "qlib/qsys/currentthread.h"
#include "qlib/qsys/event.h"
#include "qlib/qsys/registrykey.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qeventlog.h"
#include "qlib/qutilitylib/qfilelog.h"
#include "qlib/qutilitylib/qlogconfig.h"
#include "qlib/qutilitylib/qlogging.h"
#include "qlib/qutilitylib/qregistry.h"
#include "qlib/qutilitylib/qsystem.h"
#include "qlib/qutilitylib/qtimer.h"
#include "tests/qlib/qutilitylib/filetestsupport.h"
#include "tests/qlib/qutilitylib/logtestsupport.h"

using qutilitylib::test::EventLogCapture;
using qutilitylib::test::FileTestFolder;
using qutilitylib::test::ReadBytes;
using qutilitylib::test::ReadLogLines;
using qutilitylib::test::ScopedEnvironment;
using qutilitylib::test::TestProgram;

namespace {

const std::wstring k_loggingKey =
    std::wstring(CQLogConfig::k_loggingKey) + L"\\" + std::wstring(CQLogConfig::k_productName);
const std::wstring k_productLine = L"Zelto V Platform 3,2,100,0 (QLib 3,2,100,0)\n\n";

// A registry and a folder of the test's own; the sinks are configured through the registry as
// the front end configures them.
class LoggingTest : public testing::Test {
protected:
    void SetLogging(const wchar_t* name, uint32_t value) {
        CQRegistry::SetValue(k_loggingKey, name, value);
    }
    void SetLogging(const wchar_t* name, const std::wstring& value) {
        CQRegistry::SetValue(k_loggingKey, name, value);
    }
    CQLogConfig ReadConfig() {
        CQLogConfig config;
        EXPECT_TRUE(config.ReadConfig());
        return config;
    }
    // A file sink on the registry's configuration, opened.
    void Open(CQLogBase& sink) {
        sink.SetConfig(ReadConfig());
        sink.Init();
    }
    std::wstring LogFile() const { return m_folder.Wide(L"logs/x.log"); }
    std::string NativeLogFile() const { return qsys::ToUtf8(LogFile()); }

    FileTestFolder m_folder;
    ScopedEnvironment m_registry{"ZELTO_REGISTRY_DIR", m_folder.Native(L"registry")};
};

// date, time, level, thread, message
const std::wregex k_line(
    L"(\\d{4}-\\d\\d-\\d\\d)\t(\\d\\d:\\d\\d:\\d\\d\\.\\d{4})\t([A-Z]+)\t(\\d+)\t(.*)");

// Level name and message of each line (UTF-8, for the matchers).
std::vector<std::string> Messages(const std::vector<std::wstring>& lines) {
    std::vector<std::string> messages;
    for (const std::wstring& line : lines) {
        std::wsmatch match;
        messages.push_back(qsys::ToUtf8(std::regex_match(line, match, k_line)
                                            ? match[3].str() + L" " + match[5].str()
                                            : L"MALFORMED " + line));
    }
    return messages;
}

}  // namespace

TEST_F(LoggingTest, ConfigDefaultsWithoutKeyOrForWrongTypes) {
    CQLogConfig config = ReadConfig();
    EXPECT_EQ(config.GetEventLogLevel(), 2);
    EXPECT_EQ(config.GetFileLogLevel(), 0);
    EXPECT_EQ(config.GetFile(), L"");
    EXPECT_EQ(config.GetFileMaxSize(), 1048576u);

    SetLogging(L"EventLogLevel", L"5");
    SetLogging(L"FileLogLevel", 3u);
    SetLogging(L"FileMaxSize", 100u);
    config = ReadConfig();
    EXPECT_EQ(config.GetEventLogLevel(), 2) << "a string is no DWORD";
    EXPECT_EQ(config.GetFileLogLevel(), 3);
    EXPECT_EQ(config.GetFileMaxSize(), 100u);
    config.SetDefaults();
    EXPECT_EQ(config.GetFileLogLevel(), 0);
    EXPECT_EQ(config.GetProductName(), L"Zelto V Platform");
}

TEST_F(LoggingTest, ConfigExpandsTheFilePath) {
    const ScopedEnvironment temp("TEMP", std::nullopt);
    const ScopedEnvironment tmp("TMP", std::nullopt);
    const ScopedEnvironment tmpdir("TMPDIR", "/var/tmp");
    const ScopedEnvironment logs("LOGS", "/srv/logs");
    SetLogging(L"File", L"%TEMP%\\x.log");
    EXPECT_EQ(ReadConfig().GetFile(), L"/var/tmp/x.log");

    EXPECT_EQ(CQLogConfig::ExpandEnvironmentStrings(L"%LOGS%/%UNKNOWN_NAME%/100%%/%TMP%"),
              L"/srv/logs/%UNKNOWN_NAME%/100%%//var/tmp");
    EXPECT_EQ(CQLogConfig::ExpandEnvironmentStrings(L"50% of %LOGS"), L"50% of %LOGS");
}

TEST_F(LoggingTest, FileGetsMarkedLinesOfTheLevelsItsThresholdLetThrough) {
    SetLogging(L"FileLogLevel", 4u);
    SetLogging(L"File", LogFile());
    CQFileLog sink;
    Open(sink);
    EXPECT_TRUE(sink.IsDebuggingLevel());
    for (int level = 1; level <= 5; ++level) {
        sink.Log(level, L"level " + std::to_wstring(level), false);
    }
    const std::vector<std::wstring> lines = ReadLogLines(NativeLogFile());
    EXPECT_THAT(Messages(lines), testing::ElementsAre("ERROR level 1", "WARNING level 2",
                                                      "INFO level 3", "DEBUG level 4"));
    std::wsmatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match, k_line));
    EXPECT_EQ(match[4].str(), std::to_wstring(qsys::GetCurrentThreadId()));

    sink.Log(5, L"forced", true);
    EXPECT_EQ(Messages(ReadLogLines(NativeLogFile())).back(), "STACKTRACE forced");
}

TEST_F(LoggingTest, FileLinesEndInCrLfWhateverTheMessageUses) {
    SetLogging(L"FileLogLevel", 1u);
    SetLogging(L"File", LogFile());
    CQFileLog sink;
    Open(sink);
    sink.Log(1, L"one\ntwo\r\nthree\rfour\n", false);
    const std::string bytes = ReadBytes(NativeLogFile());
    const std::wstring text =
        qsys::FromUtf16(std::string_view(bytes).substr(2), qsys::ByteOrder::LittleEndian);
    EXPECT_THAT(text, testing::EndsWith(L"\tone\r\ntwo\r\nthree\r\nfour\r\n\r\n"));
}

TEST_F(LoggingTest, FileLineFormat) {
    {
        const ScopedEnvironment zone("TZ", "UTC");
        tzset();
        using namespace std::chrono;
        const system_clock::time_point when =
            sys_days{year{2024} / 5 / 1} + hours{9} + minutes{3} + seconds{7} + milliseconds{42};
        EXPECT_EQ(CQFileLog::FormatLine(4, L"text", when, 1234),
                  L"2024-05-01\t09:03:07.0042\tDEBUG\t1234\ttext\n");
    }
    tzset();
    EXPECT_EQ(CQFileLog::LevelName(0), L"NONE");
    EXPECT_EQ(CQFileLog::LevelName(5), L"STACKTRACE");
    EXPECT_EQ(CQFileLog::LevelName(7), L"7");
    EXPECT_EQ(CQFileLog::LevelName(-1), L"-1");
    EXPECT_EQ(CQFileLog::RotatedPath(L"/logs/server.log"), L"/logs/server_old.log");
    EXPECT_EQ(CQFileLog::RotatedPath(L"/logs.d/server"), L"/logs.d/server_old");
    EXPECT_EQ(CQFileLog::RotatedPath(L"server.tar.gz"), L"server.tar_old.gz");
}

TEST_F(LoggingTest, FileRotatesOnlyAboveItsMaximumSizeReplacingTheOldGeneration) {
    SetLogging(L"FileLogLevel", 2u);
    SetLogging(L"File", LogFile());
    CQFileLog sink;
    Open(sink);
    sink.Log(1, L"first", false);
    const uint64_t size = std::filesystem::file_size(NativeLogFile());
    const std::string oldFile = m_folder.Native(L"logs/x_old.log");
    qutilitylib::test::WriteBytes(oldFile, "an earlier generation");

    SetLogging(L"FileMaxSize", static_cast<uint32_t>(size));
    Open(sink);
    sink.Log(1, L"second", false);  // exactly at the limit: no rotation
    EXPECT_EQ(ReadBytes(oldFile), "an earlier generation");
    sink.Log(1, L"third", false);  // one line above it: rotated first
    EXPECT_THAT(Messages(ReadLogLines(oldFile)),
                testing::ElementsAre("ERROR first", "ERROR second"));
    EXPECT_THAT(Messages(ReadLogLines(NativeLogFile())), testing::ElementsAre("ERROR third"));
}

TEST_F(LoggingTest, FileTakesLinesOfManyThreadsWhole) {
    SetLogging(L"FileLogLevel", 2u);
    SetLogging(L"File", LogFile());
    SetLogging(L"FileMaxSize", 4096u);
    CQFileLog sink;
    Open(sink);
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([&sink, thread] {
            for (int line = 0; line < 100; ++line) {
                sink.Log(2,
                         L"thread " + std::to_wstring(thread) + L" line " + std::to_wstring(line),
                         false);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const std::string& path : {NativeLogFile(), m_folder.Native(L"logs/x_old.log")}) {
        for (const std::string& message : Messages(ReadLogLines(path))) {
            EXPECT_THAT(message, testing::MatchesRegex("WARNING thread [0-3] line [0-9]+"));
        }
    }
}

TEST_F(LoggingTest, FileIsWrittenEvenWhileItsLockIsNeverReleased) {
    SetLogging(L"FileLogLevel", 2u);
    SetLogging(L"File", LogFile());
    SetLogging(L"FileMaxSize", 1u);
    CQFileLog sink;
    Open(sink);
    sink.Log(1, L"before", false);
    // Another writer takes the file's mutex and keeps it while this one logs (the sink waits
    // for it k_fileLockTimeout ms).
    CQMutexLock stuck;
    stuck.Init(LogFile(), EQKernelObjectScope_User);
    qsys::Event held(qsys::EventReset::Manual, qsys::EventState::NonSignaled);
    qsys::Event release(qsys::EventReset::Manual, qsys::EventState::NonSignaled);
    std::thread holder([&] {
        EXPECT_TRUE(stuck.Lock());
        held.Set();
        (void)release.Wait();
        stuck.Unlock();
    });
    (void)held.Wait();
    sink.Log(1, L"after", false);
    release.Set();
    holder.join();
    EXPECT_THAT(Messages(ReadLogLines(NativeLogFile())),
                testing::ElementsAre("ERROR before", "ERROR after"))
        << "written without the lock, and not rotated without it";
}

TEST_F(LoggingTest, EventLogReportsTheLevelsItsThresholdLetsThrough) {
    CQEventLog sink;
    Open(sink);
    EXPECT_FALSE(sink.IsDebuggingLevel());
    const EventLogCapture capture;
    sink.Log(1, L"an error", false);
    sink.Log(2, L"a warning", false);
    sink.Log(3, L"an information", false);
    sink.Log(4, L"forced", true);
    const auto reports = capture.Reports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].type, EQEventType_Error);
    EXPECT_EQ(reports[0].text, k_productLine + L"an error");
    EXPECT_EQ(reports[1].type, EQEventType_Warning);
    EXPECT_EQ(reports[2].type, EQEventType_Information);
    EXPECT_EQ(reports[2].text, k_productLine + L"forced");
}

TEST_F(LoggingTest, EventLogRegistersItsEventSource) {
    const ScopedEnvironment temp("TMPDIR", m_folder.Native(L"temp"));
    CQEventLog sink;
    Open(sink);
    const std::wstring key = std::wstring(CQEventLog::k_sourcesKey) + L"\\Zelto V Platform";
    const std::wstring messageFile = m_folder.Wide(L"temp/QEventMessages.dll");
    EXPECT_EQ(CQRegistry::GetStringValue(key, L"EventMessageFile"), messageFile);
    EXPECT_EQ(CQRegistry::GetDWORDValue(key, L"TypesSupported", 0), 7u);
    EXPECT_FALSE(std::filesystem::exists(m_folder.Native(L"temp")))
        << "no message file: nothing here reads one";
}

TEST_F(LoggingTest, EventLogGoesOnWhenTheMachineKeyCannotBeWritten) {
    // The machine hive's lock file cannot be opened for writing: a folder is in its place.
    std::filesystem::create_directories(m_folder.Native(L"registry/HKEY_LOCAL_MACHINE.reg.lock"));
    CQEventLog sink;
    testing::internal::CaptureStderr();
    Open(sink);
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                testing::HasSubstr(
                    "CQEventLog: Failed to create event source file and registry resources\n"));
    const EventLogCapture capture;
    sink.Log(1, L"still reported", false);
    EXPECT_TRUE(capture.Contains(L"still reported"));
}

TEST(CQTimer, ReportsItsEndOnce) {
    // The test environment's system log takes debugging levels.
    const EventLogCapture capture;
    CQTimer timer;
    timer.Start(L"timed 100%");
    EXPECT_GE(timer.Stop(), 0.0);
    EXPECT_EQ(timer.Stop(), 0.0);
    const auto reports = capture.Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].text, k_productLine + L"==TIMER START==\ttimed 100%\n");
    ASSERT_TRUE(reports[1].text.starts_with(k_productLine));
    EXPECT_THAT(qsys::ToUtf8(reports[1].text.substr(k_productLine.size())),
                testing::MatchesRegex("==TIMER END==\ttimed 100%\t[0-9.]+\tms\n"));

    CQTimer never;
    EXPECT_EQ(never.Stop(), 0.0);
    EXPECT_EQ(capture.Reports().size(), 2u);
}

// The front end, in processes of their own (each reads its configuration once).
class CQLoggingProgramTest : public LoggingTest {
protected:
    CQLoggingProgramTest() { std::filesystem::create_directories(m_folder.Native(L"temp")); }

    qutilitylib::test::STestProgramResult RunLevels() {
        return TestProgram::Run({"levels"}, {{"ZELTO_REGISTRY_DIR", m_folder.Native(L"registry")},
                                             {"TMPDIR", m_folder.Native(L"temp")}});
    }
    std::vector<std::string> Events(const std::string& output) {
        std::vector<std::string> events;
        std::istringstream lines(output);
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with("EVENT ")) {
                events.push_back(line.substr(0, 8) + line.substr(line.find("\\n\\n") + 4));
            }
        }
        return events;
    }
};

TEST_F(CQLoggingProgramTest, WithoutRegistryKeyErrorsAndWarningsReachOnlyTheSystemLog) {
    const auto result = RunLevels();
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_THAT(Events(result.output), testing::ElementsAre("EVENT 1 level 1", "EVENT 2 level 2"));
    EXPECT_THAT(result.output, testing::HasSubstr("DEBUGGING 0"));
    for (const auto& entry : std::filesystem::directory_iterator(m_folder.Native(L"temp"))) {
        EXPECT_NE(entry.path().extension(), ".log");
    }
}

TEST_F(CQLoggingProgramTest, RegistryDirectoryAndFileLevelFourBringDebugLinesIntoTheFile) {
    SetLogging(L"FileLogLevel", 4u);
    SetLogging(L"File", L"%TEMP%\\x.log");
    const auto result = RunLevels();
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_THAT(Events(result.output), testing::ElementsAre("EVENT 1 level 1", "EVENT 2 level 2"));
    EXPECT_THAT(result.output, testing::HasSubstr("DEBUGGING 1"));
    const std::vector<std::string> messages =
        Messages(ReadLogLines(m_folder.Native(L"temp/x.log")));
    EXPECT_THAT(messages, testing::IsSupersetOf({"ERROR level 1", "WARNING level 2", "INFO level 3",
                                                 "DEBUG level 4"}));
    EXPECT_THAT(messages, testing::Not(testing::Contains(testing::HasSubstr("level 5"))));
    EXPECT_THAT(
        messages,
        testing::Contains(testing::MatchesRegex(
            "DEBUG 0x[0-9a-f]{4,}\t\tCQWorkerThreadHost::WorkerThreadRunner\\(\\) Entered")));
    EXPECT_THAT(messages, testing::Contains("DEBUG ==TIMER START==\ttimer 100%"));
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                            [](const std::string& message) {
                                return message.starts_with("DEBUG ==TIMER END==\ttimer 100%\t");
                            }),
              1);
}

TEST_F(CQLoggingProgramTest, FileLevelFiveWithoutFileAsksForDebuggingButWritesNothing) {
    SetLogging(L"FileLogLevel", 5u);
    const auto result = RunLevels();
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_THAT(result.output, testing::HasSubstr("DEBUGGING 1"));
    for (const auto& entry : std::filesystem::directory_iterator(m_folder.Native(L"temp"))) {
        EXPECT_NE(entry.path().extension(), ".log");
    }
}

TEST_F(CQLoggingProgramTest, TwoProcessesShareOneRotatingFileWithoutTearingALine) {
    constexpr int k_lines = 1000;
    constexpr uint32_t k_maxSize = 16384;
    SetLogging(L"FileLogLevel", 4u);
    SetLogging(L"File", m_folder.Wide(L"temp/shared.log"));
    SetLogging(L"FileMaxSize", k_maxSize);
    const TestProgram::Environment environment{{"ZELTO_REGISTRY_DIR", m_folder.Native(L"registry")},
                                               {"TMPDIR", m_folder.Native(L"temp")}};
    {
        TestProgram first({"log", std::to_string(k_lines), "A"}, environment);
        TestProgram second({"log", std::to_string(k_lines), "B"}, environment);
        EXPECT_EQ(first.Wait().exitCode, 0);
        EXPECT_EQ(second.Wait().exitCode, 0);
    }

    std::vector<std::string> logFiles;
    for (const auto& entry : std::filesystem::directory_iterator(m_folder.Native(L"temp"))) {
        if (entry.path().filename().string().starts_with("shared")) {
            logFiles.push_back(entry.path().filename().string());
        }
    }
    EXPECT_THAT(logFiles, testing::UnorderedElementsAre("shared.log", "shared_old.log"));
    const std::string current = m_folder.Native(L"temp/shared.log");
    const std::string old = m_folder.Native(L"temp/shared_old.log");
    EXPECT_GT(std::filesystem::file_size(old), k_maxSize);
    EXPECT_LE(std::filesystem::file_size(current), k_maxSize + 256);

    // Every line whole, and each process's lines in the order it wrote them.
    std::map<std::string, int> lastLine{{"A", -1}, {"B", -1}};
    int lastOfAll = -1;
    const std::regex k_message("DEBUG ([AB]) line ([0-9]+)");
    for (const std::string& path : {old, current}) {
        for (const std::string& message : Messages(ReadLogLines(path))) {
            std::smatch match;
            ASSERT_TRUE(std::regex_match(message, match, k_message)) << message;
            const int line = std::stoi(match[2].str());
            EXPECT_GT(line, lastLine[match[1].str()]);
            lastLine[match[1].str()] = line;
            lastOfAll = line;
        }
    }
    EXPECT_EQ(lastOfAll, k_lines - 1) << "the newest line is in the current file";
}
