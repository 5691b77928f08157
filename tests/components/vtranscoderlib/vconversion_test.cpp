#include "components/vtranscoderlib/vconversion.h"

#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "components/vtranscoderlib/helper/vprogressreporter.h"
#include "components/vtranscoderlib/vtranscodeerror.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qexception.h"
#include "vtestmedia.h"

namespace {

using namespace std::chrono_literals;

SVTranscodeSettings VideoBox(int width, int height, double rate, int bitRate,
                             uint32_t audioStreams = 1) {
    SVTranscodeSettings settings;
    settings.videoWidth = width;
    settings.videoHeight = height;
    settings.frameRate = rate;
    settings.videoBitRate = bitRate;
    settings.audioStreams = audioStreams;
    return settings;
}

SVTranscodeSettings ImageBox(int width, int height) {
    SVTranscodeSettings settings;
    settings.imageWidth = width;
    settings.imageHeight = height;
    return settings;
}

SVTranscodeOutcome Convert(const std::wstring& source, const std::wstring& destination,
                           int32_t format, const SVTranscodeSettings& settings = {},
                           SVConversionOptions options = {}) {
    CVConversion conversion({source, destination, format, settings}, std::move(options));
    return conversion.Wait();
}

// Records progress from the supervising thread and lets the test wait for it.
class CVProgressLog {
public:
    std::function<void(const SVConversionProgress&)> Callback() {
        return [this](const SVConversionProgress& progress) {
            std::lock_guard lock(m_mutex);
            m_reports.push_back(progress);
            m_changed.notify_all();
        };
    }
    // Waits until more than `count` reports arrived; false after a generous time.
    bool WaitForMoreThan(size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 60s, [&] { return m_reports.size() > count; });
    }
    // Waits until a report lies beyond the position; false after a generous time.
    bool WaitForPositionBeyond(double seconds) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 60s, [&] {
            return !m_reports.empty() && m_reports.back().positionSeconds > seconds;
        });
    }
    size_t Count() {
        std::lock_guard lock(m_mutex);
        return m_reports.size();
    }
    SVConversionProgress Last() {
        std::lock_guard lock(m_mutex);
        return m_reports.back();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<SVConversionProgress> m_reports;
};

class ConversionTest : public ::testing::Test {
protected:
    // A minute of video, quick to make, long enough to pause and abort a conversion of it.
    void MakeLongSource() {
        m_media.Make("long.mkv", {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30:duration=60",
                                  "-c:v", "mpeg4", "-q:v", "8"});
    }

    CVTestMedia m_media;
};

}  // namespace

TEST_F(ConversionTest, VideoFormatsFitTheBoxCapTheRateAndKeepTheFirstAudioStreams) {
    m_media.Video("wide.mkv", 2.0, 640, 360, 30, 2);
    struct Case {
        int32_t format;
        const char* name;
        const char* videoCodec;
        int width;
        int height;
    };
    for (const Case& test :
         {Case{1, "one.mp4", "h264", 320, 180}, Case{9, "nine.mp4", "mpeg4", 320, 180},
          Case{10, "ten.mp4", "h264", 320, 180}, Case{25, "phone.3gp", "h263", 176, 144}}) {
        SCOPED_TRACE(test.name);
        SVTranscodeOutcome outcome = Convert(m_media.Path("wide.mkv"), m_media.Path(test.name),
                                             test.format, VideoBox(320, 240, 15.0, 256'000, 1));
        ASSERT_EQ(outcome.result, EVTranscodeResult_Completed) << qsys::ToUtf8(outcome.message);
        SVInspection output = CVTestMedia::Inspect(m_media.Folder() / test.name);
        EXPECT_EQ(output.brand, test.format == 25 ? "3gp4" : "isom");
        ASSERT_EQ(output.Count("video"), 1);
        const SVInspectedStream& video = output.First("video");
        EXPECT_EQ(video.codec, test.videoCodec);
        EXPECT_EQ(video.width, test.width);
        EXPECT_EQ(video.height, test.height);
        EXPECT_NEAR(video.frameRate, 15.0, 0.01);
        EXPECT_EQ(video.frames, 30);
        ASSERT_EQ(output.Count("audio"), 1);
        EXPECT_EQ(output.First("audio").codec, "aac");
        EXPECT_EQ(output.First("audio").channels, 2);
        EXPECT_NEAR(output.durationSeconds, 2.0, 0.15);
    }
}

TEST_F(ConversionTest, H264IsConstrainedBaselineAtTheLevelItNeeds) {
    m_media.Video("source.mp4", 1.0, 320, 240, 30);
    ASSERT_EQ(Convert(m_media.Path("source.mp4"), m_media.Path("out.mp4"), 10,
                      VideoBox(320, 240, 30.0, 768'000))
                  .result,
              EVTranscodeResult_Completed);
    const SVInspectedStream video =
        CVTestMedia::Inspect(m_media.Folder() / "out.mp4").First("video");
    EXPECT_EQ(video.profile, 66 | 0x200) << "FF_PROFILE_H264_CONSTRAINED_BASELINE";
    EXPECT_EQ(video.level, 13);
    EXPECT_EQ(video.frames, 30) << "every frame kept, the last one too";
}

TEST_F(ConversionTest, FrameRateAndSizeAreNeverRaisedAndAudioStreamsAreKeptAsAsked) {
    m_media.Video("slow.mkv", 1.0, 160, 120, 10, 3);
    ASSERT_EQ(Convert(m_media.Path("slow.mkv"), m_media.Path("out.mp4"), 9,
                      VideoBox(640, 480, 30.0, 512'000, 2))
                  .result,
              EVTranscodeResult_Completed);
    SVInspection output = CVTestMedia::Inspect(m_media.Folder() / "out.mp4");
    EXPECT_EQ(output.First("video").width, 160);
    EXPECT_EQ(output.First("video").height, 120);
    EXPECT_NEAR(output.First("video").frameRate, 10.0, 0.01);
    EXPECT_EQ(output.Count("audio"), 2);

    SVTranscodeSettings silent = VideoBox(0, 0, 0, 0, 0);
    ASSERT_EQ(Convert(m_media.Path("slow.mkv"), m_media.Path("silent.mp4"), 10, silent).result,
              EVTranscodeResult_Completed);
    EXPECT_EQ(CVTestMedia::Inspect(m_media.Folder() / "silent.mp4").Count("audio"), 0);
}

TEST_F(ConversionTest, SurroundSoundBecomesStereo) {
    m_media.Tone("surround.wav", 1.0, 6, 48000);
    ASSERT_EQ(Convert(m_media.Path("surround.wav"), m_media.Path("out.m4a"), 11).result,
              EVTranscodeResult_Completed);
    SVInspection output = CVTestMedia::Inspect(m_media.Folder() / "out.m4a");
    EXPECT_EQ(output.First("audio").channels, 2);
    EXPECT_EQ(output.First("audio").sampleRate, 48000);
}

TEST_F(ConversionTest, AudioFormatsWriteAacInMp4AudioAtTheirBitRates) {
    m_media.Video("clip.mp4", 3.0, 160, 120, 15);
    for (auto [format, bitRate] : {std::pair{11, 128'000}, {13, 128'000}, {14, 192'000}}) {
        SCOPED_TRACE(format);
        std::string name = "audio" + std::to_string(format) + ".m4a";
        ASSERT_EQ(Convert(m_media.Path("clip.mp4"), m_media.Path(name), format).result,
                  EVTranscodeResult_Completed);
        SVInspection output = CVTestMedia::Inspect(m_media.Folder() / name);
        EXPECT_EQ(output.brand, "M4A ");
        EXPECT_EQ(output.Count("video"), 0);
        ASSERT_EQ(output.Count("audio"), 1);
        EXPECT_EQ(output.First("audio").codec, "aac");
        EXPECT_NEAR(static_cast<double>(output.First("audio").bitRate), bitRate, bitRate * 0.1);
    }
}

TEST_F(ConversionTest, ImagesFitTheBoxOrKeepTheirSize) {
    m_media.Still("picture.png", 640, 480);
    struct Case {
        int32_t format;
        const char* name;
        const char* codec;
    };
    for (const Case& test : {Case{15, "p.jpg", "mjpeg"}, Case{16, "p.bmp", "bmp"},
                             Case{17, "p.png", "png"}, Case{18, "p.gif", "gif"}}) {
        SCOPED_TRACE(test.name);
        ASSERT_EQ(Convert(m_media.Path("picture.png"), m_media.Path(std::string("s") + test.name),
                          test.format, ImageBox(320, 320))
                      .result,
                  EVTranscodeResult_Completed);
        SVInspection small =
            CVTestMedia::Inspect(m_media.Folder() / (std::string("s") + test.name));
        EXPECT_EQ(small.First("video").codec, test.codec);
        EXPECT_EQ(small.First("video").width, 320);
        EXPECT_EQ(small.First("video").height, 240);

        ASSERT_EQ(Convert(m_media.Path("picture.png"), m_media.Path(std::string("k") + test.name),
                          test.format, ImageBox(0, 0))
                      .result,
                  EVTranscodeResult_Completed);
        SVInspection kept = CVTestMedia::Inspect(m_media.Folder() / (std::string("k") + test.name));
        EXPECT_EQ(kept.First("video").width, 640);
        EXPECT_EQ(kept.First("video").height, 480);
    }
    // A larger box does not enlarge, and a video gives its first picture.
    m_media.Video("clip.mp4", 1.0, 200, 100, 10, 0);
    ASSERT_EQ(
        Convert(m_media.Path("clip.mp4"), m_media.Path("frame.jpg"), 15, ImageBox(800, 600)).result,
        EVTranscodeResult_Completed);
    EXPECT_EQ(CVTestMedia::Inspect(m_media.Folder() / "frame.jpg").First("video").width, 200);
}

TEST_F(ConversionTest, MissingDestinationFoldersAreCreatedAndOnlyTheOutputRemains) {
    m_media.Still("picture.png", 64, 48);
    ASSERT_EQ(Convert(m_media.Path("picture.png"), m_media.Path("a/b/c/out.png"), 17).result,
              EVTranscodeResult_Completed);
    EXPECT_EQ(m_media.Names(m_media.Folder() / "a/b/c"), std::vector<std::string>{"out.png"});
}

TEST_F(ConversionTest, FailuresGiveTheirCodeAMessageAndLeaveNothing) {
    m_media.Video("good.mp4", 1.0, 160, 120, 10);
    // The index of this MP4 is at its end: the first half of the file cannot be read.
    auto whole =
        m_media.Make("whole.mp4", {"-i", (m_media.Folder() / "good.mp4").string(), "-c", "copy"});
    std::filesystem::resize_file(whole, std::filesystem::file_size(whole) / 2);
    m_media.Text("notes.mp4", "These are not the frames you are looking for.\n");
    m_media.Text("blocker", "a file where a folder is needed");
    const std::vector<std::string> before = m_media.Names();

    struct Case {
        const char* what;
        std::wstring source;
        std::wstring destination;
        int32_t format;
        SVTranscodeSettings settings;
        EVTranscodeResult expected;
    };
    SVTranscodeSettings negative;
    negative.videoWidth = -5;
    for (const Case& test : {
             Case{"truncated",
                  m_media.Path("whole.mp4"),
                  m_media.Path("out/a.mp4"),
                  10,
                  {},
                  EVTranscodeResult_InputUnreadable},
             Case{"not media",
                  m_media.Path("notes.mp4"),
                  m_media.Path("out/b.mp4"),
                  10,
                  {},
                  EVTranscodeResult_InputUnreadable},
             Case{"missing",
                  m_media.Path("absent.mp4"),
                  m_media.Path("out/c.mp4"),
                  10,
                  {},
                  EVTranscodeResult_InputUnreadable},
             Case{"file as folder",
                  m_media.Path("good.mp4"),
                  m_media.Path("blocker/d.mp4"),
                  10,
                  {},
                  EVTranscodeResult_OutputUnwritable},
             Case{"folder as file",
                  m_media.Path("good.mp4"),
                  m_media.Path(""),
                  10,
                  {},
                  EVTranscodeResult_OutputUnwritable},
             Case{"bad settings", m_media.Path("good.mp4"), m_media.Path("out/e.mp4"), 10, negative,
                  EVTranscodeResult_UnsupportedSettings},
         }) {
        SCOPED_TRACE(test.what);
        SVTranscodeOutcome outcome =
            Convert(test.source, test.destination, test.format, test.settings);
        EXPECT_EQ(outcome.result, test.expected) << qsys::ToUtf8(outcome.message);
        EXPECT_FALSE(outcome.message.empty());
        EXPECT_EQ(m_media.Names(), before) << "nothing left behind, no folder created";
    }

    m_media.Video("mute.mkv", 1.0, 160, 120, 10, 0);
    SVTranscodeOutcome mute = Convert(m_media.Path("mute.mkv"), m_media.Path("out/g.m4a"), 11);
    EXPECT_EQ(mute.result, EVTranscodeResult_UnsupportedSettings);
    EXPECT_NE(mute.message.find(L"no sound"), std::wstring::npos) << qsys::ToUtf8(mute.message);
    EXPECT_FALSE(std::filesystem::exists(m_media.Folder() / "out"));

    try {
        CVConversion unknown({m_media.Path("good.mp4"), m_media.Path("x.mp4"), 42, {}});
        FAIL() << "an unknown format code is refused";
    } catch (const CQException& error) {
        EXPECT_TRUE(error.HasErrorCode(TranscodeErrorCode(EVTranscodeResult_UnsupportedSettings)));
        EXPECT_NE(error.GetDescription().find(L"42"), std::wstring::npos);
    }
}

TEST_F(ConversionTest, PauseHoldsProgressAndTheClockContinueResumesAbortLeavesNothing) {
    MakeLongSource();
    CVProgressLog log;
    SVConversionOptions options;
    options.onProgress = log.Callback();
    CVConversion conversion({m_media.Path("long.mkv"), m_media.Path("out/long.mp4"), 10,
                             VideoBox(320, 240, 30.0, 768'000)},
                            options);
    SVTranscodeOutcome outcome;
    std::jthread runner([&] { outcome = conversion.Wait(); });

    ASSERT_TRUE(log.WaitForPositionBeyond(0.0));
    ASSERT_TRUE(conversion.Pause());
    EXPECT_FALSE(conversion.Pause()) << "already paused";
    EXPECT_TRUE(conversion.IsPaused());
    // A running helper reports four times a second: watch a few of its intervals, failing at
    // the first sign of progress (beyond one report that was on its way when it stopped).
    size_t reportsAtPause = log.Count();
    double clockWhilePaused = conversion.ActiveSeconds();
    auto until = std::chrono::steady_clock::now() + 3 * CVProgressReporter::k_interval;
    while (std::chrono::steady_clock::now() < until && log.Count() <= reportsAtPause + 1 &&
           conversion.ActiveSeconds() == clockWhilePaused) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_LE(log.Count(), reportsAtPause + 1) << "no progress while paused";
    EXPECT_EQ(conversion.ActiveSeconds(), clockWhilePaused) << "the estimate's clock stands";

    double positionBefore = log.Last().positionSeconds;
    ASSERT_TRUE(conversion.Continue());
    EXPECT_FALSE(conversion.Continue()) << "not paused any more";
    ASSERT_TRUE(log.WaitForPositionBeyond(positionBefore));
    SVConversionProgress resumed = log.Last();
    EXPECT_GT(resumed.percent, 0.0);
    EXPECT_LT(resumed.percent, 100.0);
    EXPECT_NEAR(resumed.durationSeconds, 60.0, 0.1);
    EXPECT_GT(resumed.remainingSeconds, 0.0);
    EXPECT_GT(resumed.framesPerSecond, 0.0);

    ASSERT_TRUE(conversion.Abort());
    runner.join();
    EXPECT_EQ(outcome.result, EVTranscodeResult_Aborted);
    EXPECT_FALSE(conversion.Abort()) << "nothing left to abort";
    EXPECT_FALSE(std::filesystem::exists(m_media.Folder() / "out")) << "no file, no folder";
}

TEST_F(ConversionTest, AbortDuringAPauseEndsTheJob) {
    MakeLongSource();
    CVProgressLog log;
    SVConversionOptions options;
    options.onProgress = log.Callback();
    CVConversion conversion({m_media.Path("long.mkv"), m_media.Path("long.mp4"), 9, {}}, options);
    conversion.Start();
    SVTranscodeOutcome outcome;
    std::jthread runner([&] { outcome = conversion.Wait(); });
    ASSERT_TRUE(log.WaitForMoreThan(0));
    ASSERT_TRUE(conversion.Pause());
    ASSERT_TRUE(conversion.Abort());
    runner.join();
    EXPECT_EQ(outcome.result, EVTranscodeResult_Aborted);
    EXPECT_EQ(m_media.Names(), std::vector<std::string>{"long.mkv"});
}

TEST_F(ConversionTest, AbortBeforeStartRunsNothing) {
    CVConversion conversion({m_media.Path("absent.mp4"), m_media.Path("out.mp4"), 10, {}});
    EXPECT_TRUE(conversion.Abort());
    EXPECT_EQ(conversion.Wait().result, EVTranscodeResult_Aborted);
    EXPECT_FALSE(conversion.Pause());
    EXPECT_TRUE(m_media.Names().empty());
}

TEST_F(ConversionTest, ProgressReportsAdvanceToTheEnd) {
    m_media.Video("clip.mkv", 3.0, 160, 120, 30);
    CVProgressLog log;
    SVConversionOptions options;
    options.onProgress = log.Callback();
    ASSERT_EQ(Convert(m_media.Path("clip.mkv"), m_media.Path("clip.mp4"), 1, {}, options).result,
              EVTranscodeResult_Completed);
    ASSERT_GT(log.Count(), 0u);
    SVConversionProgress last = log.Last();
    EXPECT_LE(last.percent, 100.0);
    EXPECT_NEAR(last.durationSeconds, 3.0, 0.1);
}
