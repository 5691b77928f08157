// The warm helper: jobs run in children it forks, each with the limits and the isolation of a
// helper of its own; a warm helper that died is started again, a child that dies is a failure
// and not a hang, and several threads convert through it at once. Its job packets are hostile
// input and are checked.

#include "components/vtranscoderlib/vwarmhelper.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "components/vtranscoderlib/vconversion.h"
#include "components/vtranscoderlib/vmediaprobe.h"
#include "components/vtranscoderlib/vservepacket.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qsys/uniquefd.h"
#include "vtestmedia.h"

namespace {

using namespace std::chrono_literals;

SVHelperRequest ConvertRequest() {
    SVHelperRequest request;
    request.task = EVHelperTask_Convert;
    request.source = "/media/in put.mp4";
    request.sourceDescriptor = SVHelperRequest::k_sourceDescriptor;
    request.outputDescriptor = SVHelperRequest::k_outputDescriptor;
    request.outputFormat = 10;
    request.settings.videoWidth = 320;
    request.settings.frameRate = 12.5;
    return request;
}

std::string ParseProblem(std::string_view packet) {
    auto parsed = CVServePacket::Parse(packet);
    auto* problem = std::get_if<std::string>(&parsed);
    return problem ? *problem : std::string("accepted");
}

class WarmHelperTest : public ::testing::Test {
protected:
    // A conversion of a minute of video, long enough to be caught running.
    void MakeLongVideo() {
        m_media.Make("long.mkv", {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30:duration=60",
                                  "-c:v", "mpeg4", "-q:v", "8"});
    }

    // Starts the long conversion on a thread of its own and returns once it has progressed.
    void StartLong(CVConversion*& conversion) {
        m_options.onProgress = [this](const SVConversionProgress&) {
            m_progressed = true;
            m_progressed.notify_all();
        };
        m_conversion = std::make_unique<CVConversion>(
            SVConversionJob{m_media.Path("long.mkv"), m_media.Path("out/long.mp4"), 10, {}},
            m_options);
        conversion = m_conversion.get();
        m_runner = std::jthread([this] { m_outcome = m_conversion->Wait(); });
        m_progressed.wait(false);
    }

    SVTranscodeOutcome FinishLong() {
        m_runner.join();
        return m_outcome;
    }

    SVTranscodeOutcome ConvertStill(const std::string& name) {
        CVConversion conversion({m_media.Path("still.png"), m_media.Path(name), 15, {}});
        return conversion.Wait();
    }

    CVTestMedia m_media;
    SVConversionOptions m_options;
    std::atomic<bool> m_progressed = false;
    std::unique_ptr<CVConversion> m_conversion;
    SVTranscodeOutcome m_outcome;
    std::jthread m_runner;
};

}  // namespace

TEST(ServePacketTest, RequestsTravelWholeAndMalformedPacketsAreRefused) {
    SVHelperRequest request = ConvertRequest();
    auto parsed = CVServePacket::Parse(CVServePacket::Format(request, 7));
    ASSERT_TRUE(std::holds_alternative<SVServedJob>(parsed)) << std::get<std::string>(parsed);
    const SVServedJob& job = std::get<SVServedJob>(parsed);
    EXPECT_EQ(job.request, request);
    EXPECT_EQ(job.niceness, 7);
    EXPECT_EQ(job.Targets(), (std::vector<int>{3, 4, 5}));

    std::string packet = CVServePacket::Format(request, 0);
    EXPECT_NE(ParseProblem(packet.substr(0, packet.size() - 1)), "accepted") << "unended";
    EXPECT_NE(ParseProblem(""), "accepted");
    EXPECT_NE(ParseProblem(std::string(CVServePacket::k_maxBytes + 1, '\0')), "accepted");
    EXPECT_NE(ParseProblem(std::string(CVServePacket::k_maxElements + 1, '\0')), "accepted");
    EXPECT_NE(ParseProblem(CVServePacket::Format(request, -1)), "accepted");
    EXPECT_NE(ParseProblem(CVServePacket::Format(request, 20)), "accepted");
    EXPECT_NE(ParseProblem(std::string("0\0convert\0", 10)), "accepted") << "no source";

    // A job must take its files from the handed descriptors, never by name.
    SVHelperRequest named = request;
    named.outputDescriptor = -1;
    named.output = "/etc/elsewhere";
    EXPECT_NE(ParseProblem(CVServePacket::Format(named, 0)), "accepted");
    SVHelperRequest moved = request;
    moved.sourceDescriptor = 0;
    EXPECT_NE(ParseProblem(CVServePacket::Format(moved, 0)), "accepted");
    SVHelperRequest probe;
    probe.source = "in.mp4";
    probe.sourceDescriptor = SVHelperRequest::k_sourceDescriptor;
    auto probed = CVServePacket::Parse(CVServePacket::Format(probe, 0));
    ASSERT_TRUE(std::holds_alternative<SVServedJob>(probed));
    EXPECT_EQ(std::get<SVServedJob>(probed).DescriptorCount(), 2u);
}

TEST_F(WarmHelperTest, JobsRunInLimitedChildrenOfOneWarmHelper) {
    m_media.Still("still.png", 64, 48);
    ASSERT_EQ(ConvertStill("first.jpg").result, EVTranscodeResult_Completed);
    pid_t warm = CVWarmHelper::Shared().ProcessId();
    ASSERT_NE(warm, 0) << "the warm helper stays for the next job";
    ASSERT_EQ(ConvertStill("second.jpg").result, EVTranscodeResult_Completed);
    EXPECT_EQ(CVWarmHelper::Shared().ProcessId(), warm) << "reused";
    EXPECT_EQ(CVTestMedia::Inspect(m_media.Folder() / "second.jpg").First("video").width, 64);

    MakeLongVideo();
    CVConversion* conversion = nullptr;
    StartLong(conversion);
    pid_t child = conversion->HelperProcessId();
    EXPECT_EQ(CVTestMedia::ParentOf(child), warm);
    CVTestMedia::ExpectHelperLimits(child);
    // Only the job's own descriptors: standard ones, report, source and output.
    EXPECT_EQ(m_media.Names("/proc/" + std::to_string(child) + "/fd"),
              (std::vector<std::string>{"0", "1", "2", "3", "4", "5"}));
    EXPECT_TRUE(conversion->Abort());
    EXPECT_EQ(FinishLong().result, EVTranscodeResult_Aborted);
    EXPECT_EQ(m_media.Names(),
              (std::vector<std::string>{"first.jpg", "long.mkv", "second.jpg", "still.png"}));
}

TEST_F(WarmHelperTest, WarmHelperThatDiedIsStartedAgain) {
    m_media.Still("still.png", 32, 32);
    ASSERT_EQ(ConvertStill("a.jpg").result, EVTranscodeResult_Completed);
    pid_t warm = CVWarmHelper::Shared().ProcessId();
    ASSERT_NE(warm, 0);
    ASSERT_EQ(kill(warm, SIGKILL), 0);
    EXPECT_EQ(ConvertStill("b.jpg").result, EVTranscodeResult_Completed);
    pid_t again = CVWarmHelper::Shared().ProcessId();
    EXPECT_NE(again, 0);
    EXPECT_NE(again, warm);

    // Stopped on purpose, it is started for the next job, probes included.
    CVWarmHelper::Shared().Stop();
    EXPECT_EQ(CVWarmHelper::Shared().ProcessId(), 0);
    EXPECT_EQ(CVMediaProbe().Probe(m_media.Path("b.jpg")).width, 32);
    EXPECT_NE(CVWarmHelper::Shared().ProcessId(), 0);
}

TEST_F(WarmHelperTest, ChildKilledMidJobIsAFailureNotAHang) {
    MakeLongVideo();
    CVConversion* conversion = nullptr;
    StartLong(conversion);
    ASSERT_EQ(kill(conversion->HelperProcessId(), SIGKILL), 0);
    SVTranscodeOutcome outcome = FinishLong();
    EXPECT_EQ(outcome.result, EVTranscodeResult_HelperCrashed);
    EXPECT_NE(outcome.message.find(L"SIGKILL"), std::wstring::npos)
        << qsys::ToUtf8(outcome.message);
    EXPECT_EQ(m_media.Names(), std::vector<std::string>{"long.mkv"}) << "no output, no folder";
}

TEST_F(WarmHelperTest, WarmHelperKilledMidJobEndsTheJobAsAFailure) {
    MakeLongVideo();
    CVConversion* conversion = nullptr;
    StartLong(conversion);
    pid_t child = conversion->HelperProcessId();
    ASSERT_EQ(kill(CVTestMedia::ParentOf(child), SIGKILL), 0);
    SVTranscodeOutcome outcome = FinishLong();
    EXPECT_EQ(outcome.result, EVTranscodeResult_HelperCrashed) << qsys::ToUtf8(outcome.message);
    EXPECT_TRUE(CVTestMedia::EndWithinBound({child})) << "the child died with its warm helper";
    EXPECT_EQ(m_media.Names(), std::vector<std::string>{"long.mkv"});
    m_media.Still("still.png", 32, 32);
    EXPECT_EQ(ConvertStill("after.jpg").result, EVTranscodeResult_Completed);
}

TEST_F(WarmHelperTest, PausedChildIsStoppedAndResumed) {
    MakeLongVideo();
    CVConversion* conversion = nullptr;
    StartLong(conversion);
    pid_t child = conversion->HelperProcessId();
    ASSERT_TRUE(conversion->Pause());
    // The kernel shows the stop once every thread of the child has stopped.
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (CVTestMedia::StateOf(child) != 'T' && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(CVTestMedia::StateOf(child), 'T');
    ASSERT_TRUE(conversion->Continue());
    deadline = std::chrono::steady_clock::now() + 10s;
    while (CVTestMedia::StateOf(child) == 'T' && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_NE(CVTestMedia::StateOf(child), 'T');
    EXPECT_TRUE(conversion->Abort());
    EXPECT_EQ(FinishLong().result, EVTranscodeResult_Aborted);
}

TEST_F(WarmHelperTest, TwoThreadsConvertAtOnce) {
    m_media.Still("still.png", 96, 64);
    m_media.Video("clip.mp4", 1.0, 160, 120, 15);
    std::atomic<int> completed = 0;
    auto work = [&](const std::string& prefix) {
        for (int i = 0; i < 4; ++i) {
            std::string name = prefix + std::to_string(i);
            SVTranscodeOutcome still = ConvertStill(name + ".jpg");
            SVTranscodeOutcome video =
                CVConversion({m_media.Path("clip.mp4"), m_media.Path(name + ".mp4"), 10, {}})
                    .Wait();
            completed += still.result == EVTranscodeResult_Completed;
            completed += video.result == EVTranscodeResult_Completed;
        }
    };
    {
        std::jthread first(work, "a");
        std::jthread second(work, "b");
    }
    EXPECT_EQ(completed, 16);
    EXPECT_EQ(CVTestMedia::Inspect(m_media.Folder() / "b3.mp4").Count("video"), 1);
    EXPECT_EQ(CVTestMedia::Inspect(m_media.Folder() / "a2.jpg").First("video").width, 96);
}

TEST_F(WarmHelperTest, HelperThatCannotServeIsNotUsed) {
    // A warm helper of its own: the shared one keeps serving the other tests.
    CVWarmHelper helper;
    m_media.Text("in.mp4", "stand-in");
    std::string script = m_media.Script("no-serve.sh", "exit 1").string();
    qsys::UniqueFd source(open((m_media.Folder() / "in.mp4").c_str(), O_RDONLY | O_CLOEXEC));
    SVHelperRequest request;
    request.source = (m_media.Folder() / "in.mp4").string();
    request.sourceDescriptor = SVHelperRequest::k_sourceDescriptor;
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(
        helper.Serve(script, request, 0, {{source.Get(), SVHelperRequest::k_sourceDescriptor}}),
        nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - started, CVWarmHelper::k_startTimeout);
    EXPECT_EQ(helper.ProcessId(), 0);
}
