// The helper's conversion run in this process, where its threads can be watched: the staged
// conversion keeps every stream, the duration and the frames; an observer that stops it
// mid-stream and an output that fails under the encoding thread end every thread of the
// conversion with the right result; a held progress report holds the whole conversion.

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "components/vtranscoderlib/helper/vtranscodepipeline.h"
#include "components/vtranscoderlib/vtranscodeerror.h"
#include "qlib/qsys/uniquefd.h"
#include "vtestmedia.h"

namespace {

using namespace std::chrono_literals;

// The threads of this process.
int ThreadCount() {
    int count = 0;
    DIR* tasks = opendir("/proc/self/task");
    while (const dirent* entry = tasks ? readdir(tasks) : nullptr) {
        count += entry->d_name[0] != '.';
    }
    if (tasks) {
        closedir(tasks);
    }
    return count;
}

class TranscodePipelineTest : public ::testing::Test {
protected:
    static SVHelperRequest Request(const std::filesystem::path& source, int32_t format) {
        SVHelperRequest request;
        request.task = EVHelperTask_Convert;
        request.source = source.string();
        request.outputFormat = format;
        return request;
    }

    // Runs the conversion into `output`; the result code it ends with.
    static EVTranscodeResult Run(const SVHelperRequest& request, int outputFd,
                                 SVPipelineObserver observer = {}) {
        return Outcome(request, outputFd, std::move(observer)).result;
    }

    static SVTranscodeOutcome Outcome(const SVHelperRequest& request, int outputFd,
                                      SVPipelineObserver observer = {}) {
        try {
            CVTranscodePipeline pipeline(request, CVSourceFile::Open(request.source),
                                         std::move(observer));
            pipeline.Run(outputFd);
        } catch (const CVTranscodeError& error) {
            return {error.Result(), error.Message()};
        }
        return {};
    }

    qsys::UniqueFd Create(const std::string& name) {
        return qsys::UniqueFd(
            open((m_media.Folder() / name).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    }

    CVTestMedia m_media;
};

}  // namespace

TEST_F(TranscodePipelineTest, StagedConversionKeepsStreamsDurationAndFramesAndReportsOnItsThread) {
    auto source = m_media.Video("two-tones.mp4", 4.0, 640, 480, 30, 2);

    SVHelperRequest h264 = Request(source, 10);
    h264.settings.videoWidth = 320;
    h264.settings.videoHeight = 240;
    h264.settings.frameRate = 30;
    h264.settings.videoBitRate = 512'000;
    h264.settings.audioStreams = 2;
    std::set<std::thread::id> reportingThreads;
    int64_t lastPosition = 0;
    int64_t lastFrames = 0;
    SVPipelineObserver observer{[&](int64_t position, int64_t, int64_t frames) {
                                    reportingThreads.insert(std::this_thread::get_id());
                                    lastPosition = position;
                                    lastFrames = frames;
                                },
                                {}};
    auto output = Create("h264.mp4");
    ASSERT_EQ(Run(h264, output.Get(), observer), EVTranscodeResult_Completed);
    SVInspection result = CVTestMedia::Inspect(m_media.Folder() / "h264.mp4");
    ASSERT_EQ(result.Count("video"), 1);
    EXPECT_EQ(result.Count("audio"), 2) << "both sound streams, each in its own lane";
    EXPECT_EQ(result.First("video").frames, 120);
    EXPECT_NEAR(result.durationSeconds, 4.0, 0.1);
    EXPECT_EQ(reportingThreads, std::set{std::this_thread::get_id()}) << "only Run's thread";
    EXPECT_GE(lastPosition, 3'900'000);
    EXPECT_EQ(lastFrames, 120);

    // H.263 at half the rate: frames dropped before scaling, the picture padded.
    SVHelperRequest h263 = Request(source, 25);
    h263.settings.videoWidth = 176;
    h263.settings.videoHeight = 144;
    h263.settings.frameRate = 15;
    output = Create("h263.3gp");
    ASSERT_EQ(Run(h263, output.Get()), EVTranscodeResult_Completed);
    result = CVTestMedia::Inspect(m_media.Folder() / "h263.3gp");
    ASSERT_EQ(result.Count("video"), 1);
    EXPECT_EQ(result.Count("audio"), 1);
    EXPECT_EQ(result.First("video").frames, 60);
    EXPECT_NEAR(result.durationSeconds, 4.0, 0.1);

    // A picture from a clip: the picture lane ends after its first frame while the clip's
    // packets still come; reading stops instead of waiting on a lane that takes no more.
    SVHelperRequest still = Request(source, 15);
    still.settings.imageWidth = 160;
    still.settings.imageHeight = 120;
    output = Create("still.jpg");
    ASSERT_EQ(Run(still, output.Get()), EVTranscodeResult_Completed);
    result = CVTestMedia::Inspect(m_media.Folder() / "still.jpg");
    ASSERT_EQ(result.Count("video"), 1);
    EXPECT_EQ(result.First("video").width, 160);
}

TEST_F(TranscodePipelineTest, StopsMidStreamAndFailuresOfTheEncodingThreadEndEveryThread) {
    auto source = m_media.Video("clip.mp4", 6.0, 640, 480, 30);
    SVHelperRequest request = Request(source, 9);
    request.settings.videoWidth = 320;
    request.settings.videoHeight = 240;
    request.settings.frameRate = 15;
    request.settings.videoBitRate = 384'000;
    // A sanitizer's runtime starts a thread of its own once the process first makes one: make
    // and join one first, so that the count before compares with the counts after.
    std::thread([] {}).join();
    const int threadsBefore = ThreadCount();

    // The observer stops the conversion a second into the clip, as a caller that gives up.
    int64_t stoppedAt = -1;
    SVPipelineObserver stopping{[&](int64_t position, int64_t, int64_t) {
                                    if (position >= 1'000'000) {
                                        stoppedAt = position;
                                        throw CVTranscodeError(EVTranscodeResult_Aborted,
                                                               L"stopped by the caller");
                                    }
                                },
                                {}};
    auto output = Create("stopped.mp4");
    EXPECT_EQ(Run(request, output.Get(), stopping), EVTranscodeResult_Aborted);
    EXPECT_GE(stoppedAt, 1'000'000);
    EXPECT_LT(stoppedAt, 5'000'000) << "stopped mid-stream, not at the end";
    EXPECT_EQ(ThreadCount(), threadsBefore) << "every stage and codec thread has ended";

    // The output may not grow past 64 KB: the header goes out, then a write of the encoding
    // thread fails (EFBIG) while the other stages run.
    output = Create("capped.mp4");
    rlimit unlimited{};
    getrlimit(RLIMIT_FSIZE, &unlimited);
    rlimit capped{64 * 1024, unlimited.rlim_max};
    sighandler_t oldHandler = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &capped);
    SVTranscodeOutcome outcome = Outcome(request, output.Get());
    setrlimit(RLIMIT_FSIZE, &unlimited);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(outcome.result, EVTranscodeResult_OutputUnwritable);
    EXPECT_NE(outcome.message.find(L"output cannot be written"), std::wstring::npos)
        << "a packet's write failed, not the header's or the end's";
    EXPECT_EQ(ThreadCount(), threadsBefore);

    // After both, the same conversion still runs whole.
    output = Create("whole.mp4");
    ASSERT_EQ(Run(request, output.Get()), EVTranscodeResult_Completed);
    EXPECT_EQ(CVTestMedia::Inspect(m_media.Folder() / "whole.mp4").First("video").frames, 90);
    EXPECT_EQ(ThreadCount(), threadsBefore);
}

TEST_F(TranscodePipelineTest, HeldProgressReportHoldsEveryStage) {
    auto source = m_media.Video("long.mp4", 12.0, 320, 240, 30);
    SVHelperRequest request = Request(source, 25);
    request.settings.videoWidth = 176;
    request.settings.videoHeight = 144;
    request.settings.frameRate = 15;
    auto path = m_media.Folder() / "held.3gp";
    auto output = Create("held.3gp");

    // The report is held once the conversion is a second in (as when the report's reader
    // does not read): the stages may finish what is queued, then they must stand still.
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    SVPipelineObserver holding{[&](int64_t position, int64_t, int64_t) {
                                   if (position >= 1'000'000 && !held.exchange(true)) {
                                       while (!release) {
                                           std::this_thread::sleep_for(10ms);
                                       }
                                   }
                               },
                               {}};
    std::thread conversion([&] { EXPECT_EQ(Run(request, output.Get(), holding), 0); });
    auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!held && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(held) << "the conversion never came a second in";
    auto size = [&] {
        struct stat status {};
        fstat(output.Get(), &status);
        return status.st_size;
    };
    // What the queues held is written out (the file grows by whole buffers); after that
    // nothing moves.
    off_t settled = size();
    auto stableSince = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - stableSince < 1s &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
        if (off_t now = size(); now != settled) {
            settled = now;
            stableSince = std::chrono::steady_clock::now();
        }
    }
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(size(), settled) << "a stage ran on while the conversion was held";
    release = true;
    conversion.join();
    EXPECT_LT(settled, size() / 2) << "the stages ran far ahead of the reading";
    EXPECT_EQ(CVTestMedia::Inspect(path).First("video").frames, 180);
}
