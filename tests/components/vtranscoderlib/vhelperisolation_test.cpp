// A helper that crashes, hangs, garbles its report or lies about its result ends its job with
// a failure; the caller goes on. Shell scripts stand in for the helper.

#include <atomic>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "components/vtranscoderlib/vconversion.h"
#include "components/vtranscoderlib/vmediaprobe.h"
#include "components/vtranscoderlib/vtranscodeerror.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qexception.h"
#include "vtestmedia.h"

namespace {

using namespace std::chrono_literals;

class HelperIsolationTest : public ::testing::Test {
protected:
    // The stand-ins read nothing, but the source must be a plain file to be handed over.
    HelperIsolationTest() { m_media.Text("in.mp4", "stand-in"); }

    SVTranscodeOutcome RunWith(const std::string& script,
                               std::chrono::milliseconds watchdog = 60s) {
        SVConversionOptions options;
        options.helperExecutable = m_media.Script("helper.sh", script).string();
        options.watchdog = watchdog;
        CVConversion conversion({m_media.Path("in.mp4"), m_media.Path("out/result.mp4"), 10, {}},
                                options);
        SVTranscodeOutcome outcome = conversion.Wait();
        EXPECT_FALSE(std::filesystem::exists(m_media.Folder() / "out")) << "nothing left";
        return outcome;
    }

    CVTestMedia m_media;
};

}  // namespace

TEST_F(HelperIsolationTest, CrashIsReportedWithItsSignal) {
    SVTranscodeOutcome outcome =
        RunWith("echo 'P pos=1000 dur=5000000 frames=1' >&3\nkill -SEGV $$");
    EXPECT_EQ(outcome.result, EVTranscodeResult_HelperCrashed);
    EXPECT_NE(outcome.message.find(L"SIGSEGV"), std::wstring::npos)
        << qsys::ToUtf8(outcome.message);
}

TEST_F(HelperIsolationTest, ExitWithoutResultIsACrash) {
    SVTranscodeOutcome outcome = RunWith("exit 3");
    EXPECT_EQ(outcome.result, EVTranscodeResult_HelperCrashed);
    EXPECT_NE(outcome.message.find(L"exit code 3"), std::wstring::npos);
}

TEST_F(HelperIsolationTest, SuccessClaimedBeforeACrashIsNotBelieved) {
    SVTranscodeOutcome outcome = RunWith("echo 'R code=0' >&3\nkill -ABRT $$");
    EXPECT_EQ(outcome.result, EVTranscodeResult_HelperCrashed);
}

TEST_F(HelperIsolationTest, GarbledReportStopsTheHelper) {
    SVTranscodeOutcome outcome = RunWith("echo 'this is not a report' >&3\nexec sleep 600");
    EXPECT_EQ(outcome.result, EVTranscodeResult_HelperCrashed);
}

TEST_F(HelperIsolationTest, HangWithoutProgressIsKilledByTheWatchdog) {
    SVTranscodeOutcome outcome =
        RunWith("echo 'P pos=1000 dur=5000000 frames=1' >&3\nexec sleep 600", 500ms);
    EXPECT_EQ(outcome.result, EVTranscodeResult_HelperHung);
    EXPECT_NE(outcome.message.find(L"500 milliseconds"), std::wstring::npos);
    EXPECT_NE(outcome.message.find(L"it had come to 0.0 s of 5.0 s (1 frames)"), std::wstring::npos)
        << qsys::ToUtf8(outcome.message);
}

TEST_F(HelperIsolationTest, SignsOfLifeWithoutGrowthAreNoProgress) {
    // The stand-in claims to be finishing the file for five seconds but writes nothing.
    SVTranscodeOutcome outcome = RunWith(
        "i=0\nwhile [ $i -lt 100 ]; do echo 'A bytes=10' >&3; sleep 0.05; i=$((i+1)); done\n"
        "echo 'R code=0' >&3",
        500ms);
    EXPECT_EQ(outcome.result, EVTranscodeResult_HelperHung);
    EXPECT_NE(outcome.message.find(L"finishing the file, 10 bytes written"), std::wstring::npos)
        << qsys::ToUtf8(outcome.message);
}

TEST_F(HelperIsolationTest, HelperThatKeepsTheReportOpenAfterExitingIsStillReaped) {
    // The background child holds descriptor 3 open; the helper itself is gone.
    SVTranscodeOutcome outcome = RunWith("sleep 600 &\necho 'R code=4 msg=failed' >&3\nexit 1");
    EXPECT_EQ(outcome.result, EVTranscodeResult_ConversionFailed);
    EXPECT_EQ(outcome.message, L"failed");
}

TEST_F(HelperIsolationTest, WatchdogDoesNotCountPausedTime) {
    SVConversionOptions options;
    // The second report waits for the test's word, not for a time.
    std::filesystem::path go = m_media.Folder() / "go";
    options.helperExecutable =
        m_media
            .Script("helper.sh",
                    "echo 'P pos=1000 dur=5000000 frames=1' >&3\n"
                    "while [ ! -e '" +
                        go.string() +
                        "' ]; do sleep 0.02; done\n"
                        "echo 'P pos=2000 dur=5000000 frames=2' >&3\nexec sleep 600")
            .string();
    options.watchdog = 1s;
    std::atomic<int> reports = 0;
    options.onProgress = [&](const SVConversionProgress&) {
        ++reports;
        reports.notify_all();
    };
    CVConversion conversion({m_media.Path("in.mp4"), m_media.Path("out.mp4"), 10, {}}, options);
    SVTranscodeOutcome outcome;
    std::jthread runner([&] { outcome = conversion.Wait(); });
    reports.wait(0);
    ASSERT_TRUE(conversion.Pause());
    // Beyond the watchdog while paused; a running watchdog would end the job meanwhile.
    auto pausedUntil = std::chrono::steady_clock::now() + options.watchdog * 3 / 2;
    while (std::chrono::steady_clock::now() < pausedUntil &&
           conversion.State() == EVConversionState_Running) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(conversion.State(), EVConversionState_Running) << "paused, not hung";
    std::ofstream(go) << "go";
    ASSERT_TRUE(conversion.Continue());
    runner.join();  // the second report arrives, then the stand-in hangs for real
    EXPECT_EQ(reports, 2);
    EXPECT_EQ(outcome.result, EVTranscodeResult_HelperHung);
}

TEST_F(HelperIsolationTest, MissingHelperIsReportedNotRaised) {
    SVConversionOptions options;
    options.helperExecutable = (m_media.Folder() / "no-such-helper").string();
    CVConversion conversion({m_media.Path("in.mp4"), m_media.Path("out.mp4"), 10, {}}, options);
    SVTranscodeOutcome outcome = conversion.Wait();
    EXPECT_EQ(outcome.result, EVTranscodeResult_HelperCrashed);
    EXPECT_NE(outcome.message.find(L"could not be started"), std::wstring::npos);
}

TEST_F(HelperIsolationTest, CallerGoesOnWithARealConversionAfterAFailure) {
    ASSERT_EQ(RunWith("kill -KILL $$").result, EVTranscodeResult_HelperCrashed);
    m_media.Still("in.png", 32, 32);
    CVConversion conversion({m_media.Path("in.png"), m_media.Path("ok.jpg"), 15, {}});
    EXPECT_EQ(conversion.Wait().result, EVTranscodeResult_Completed);
    EXPECT_TRUE(std::filesystem::exists(m_media.Folder() / "ok.jpg"));
}

TEST_F(HelperIsolationTest, ProbeOfAHangingHelperRaises) {
    SVProbeOptions options;
    options.helperExecutable = m_media.Script("probe.sh", "exec sleep 600").string();
    options.watchdog = 300ms;
    try {
        CVMediaProbe(options).Probe(m_media.Path("in.mp4"));
        FAIL() << "no exception";
    } catch (const CQException& error) {
        EXPECT_TRUE(error.HasErrorCode(TranscodeErrorCode(EVTranscodeResult_HelperHung)));
    }
}
