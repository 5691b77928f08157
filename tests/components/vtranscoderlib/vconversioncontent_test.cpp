// The output holds the source's whole content, upright, whatever its timestamps and picture
// sizes do along the way; a result that holds far less is not called complete.

#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "components/vtranscoderlib/vconversion.h"
#include "qlib/qsys/textcodec.h"
#include "vtestmedia.h"

namespace {

class ConversionContentTest : public ::testing::Test {
protected:
    SVTranscodeOutcome Convert(const std::string& source, const std::string& destination,
                               int32_t format, int width, int height, double rate = 15.0) {
        SVTranscodeSettings settings;
        settings.videoWidth = settings.imageWidth = width;
        settings.videoHeight = settings.imageHeight = height;
        settings.frameRate = rate;
        settings.videoBitRate = 256'000;
        return CVConversion({m_media.Path(source), m_media.Path(destination), format, settings})
            .Wait();
    }

    // Two seconds of H.264 and AAC in MPEG-TS, starting at the same timestamps every time.
    void Recording(const std::string& name, const std::string& size) {
        m_media.Make(name, {"-f", "lavfi", "-i", "testsrc2=size=" + size + ":rate=30:duration=2",
                            "-f", "lavfi", "-i", "sine=frequency=440:duration=2", "-c:v", "libx264",
                            "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac"});
    }

    // The files' bytes one after the other, as a recorder that restarts writes them.
    void Join(const std::string& name, const std::vector<std::string>& parts) {
        std::ofstream joined(m_media.Folder() / name, std::ios::binary);
        for (const std::string& part : parts) {
            std::ifstream in(m_media.Folder() / part, std::ios::binary);
            joined << in.rdbuf();
        }
    }

    // A picture white in its upper half and black in its lower half.
    std::vector<std::string> TopWhite(const std::string& size, const std::string& duration) {
        return {"-f", "lavfi", "-i",
                "color=white:size=" + size + ":rate=10:duration=" + duration +
                    "[a];color=black:size=" + size + ":rate=10:duration=" + duration +
                    "[b];[a][b]vstack[out0]"};
    }

    CVTestMedia m_media;
};

}  // namespace

TEST_F(ConversionContentTest, RestartedTimestampsAndSizeChangesKeepTheWholeContent) {
    Recording("a.ts", "320x240");
    Recording("b.ts", "320x240");
    Recording("portrait.ts", "240x320");
    Join("restarted.ts", {"a.ts", "b.ts"});
    Join("turned.ts", {"a.ts", "portrait.ts"});
    for (const char* name : {"restarted", "turned"}) {
        SCOPED_TRACE(name);
        std::string output = std::string(name) + ".mp4";
        SVTranscodeOutcome outcome = Convert(std::string(name) + ".ts", output, 10, 320, 240);
        ASSERT_EQ(outcome.result, EVTranscodeResult_Completed) << qsys::ToUtf8(outcome.message);
        SVInspection inspection = CVTestMedia::Inspect(m_media.Folder() / output);
        EXPECT_NEAR(inspection.durationSeconds, 4.0, 0.3);
        EXPECT_NEAR(inspection.First("video").frames, 60, 3);
        EXPECT_EQ(inspection.First("video").width, 320);
        EXPECT_EQ(inspection.First("video").height, 240);
        ASSERT_EQ(inspection.Count("audio"), 1);
    }
    // The portrait half keeps its shape: fitted into the frame between black bars.
    EXPECT_LT(CVTestMedia::MeanLuma(m_media.Folder() / "turned.mp4", 3.0, 0.0, 0.0, 0.15, 1.0),
              30.0);
    EXPECT_GT(CVTestMedia::MeanLuma(m_media.Folder() / "turned.mp4", 3.0, 0.4, 0.0, 0.6, 1.0),
              30.0);
}

TEST_F(ConversionContentTest, AGapInTimestampsIsNotFilledWithAnHourOfFrames) {
    m_media.Make("gap.mkv", {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=10:duration=4", "-vf",
                             "setpts='if(gte(T,2),PTS+3600/TB,PTS)'", "-fps_mode", "passthrough",
                             "-c:v", "libx264", "-preset", "ultrafast"});
    SVTranscodeOutcome outcome = Convert("gap.mkv", "gap.mp4", 10, 160, 120, 10.0);
    ASSERT_EQ(outcome.result, EVTranscodeResult_Completed) << qsys::ToUtf8(outcome.message);
    SVInspection inspection = CVTestMedia::Inspect(m_media.Folder() / "gap.mp4");
    EXPECT_LT(inspection.durationSeconds, 10.0);
    EXPECT_NEAR(inspection.First("video").frames, 40, 3);
}

TEST_F(ConversionContentTest, PortraitClipsAndPhotosComeOutUpright) {
    // Stored sideways (320 x 240) with a display matrix that turns it a quarter clockwise, as
    // a phone writes it: the track's identity matrix (the file's last) replaced.
    std::vector<std::string> clip = TopWhite("320x120", "1");
    clip.insert(clip.end(), {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"});
    std::string stored = CVTestMedia::Contents(m_media.Make("stored.mp4", clip));
    const std::string identity(
        "\0\1\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x40\0\0\0", 36);
    const std::string quarter(
        "\0\0\0\0\0\1\0\0\0\0\0\0\xFF\xFF\0\0\0\0\0\0\0\0\0\0\0\xF0\0\0\0\0\0\0\x40\0\0\0", 36);
    size_t matrix = stored.rfind(identity);
    ASSERT_NE(matrix, std::string::npos);
    m_media.Text("portrait.mp4", stored.replace(matrix, identity.size(), quarter));
    // A photo stored sideways with EXIF orientation 6 (turn a quarter clockwise to view).
    std::vector<std::string> photo = TopWhite("320x120", "0.1");
    photo.insert(photo.end(), {"-frames:v", "1"});
    m_media.Make("plain.jpg", photo);
    std::string jpeg = CVTestMedia::Contents(m_media.Folder() / "plain.jpg");
    const std::string exif(
        "\xFF\xE1\x00\x22"
        "Exif\0\0"
        "MM\x00\x2A\x00\x00\x00\x08"
        "\x00\x01\x01\x12\x00\x03\x00\x00\x00\x01\x00\x06\x00\x00"
        "\x00\x00\x00\x00",
        36);
    m_media.Text("sideways.jpg", jpeg.substr(0, 2) + exif + jpeg.substr(2));

    struct Case {
        const char* source;
        const char* output;
        int32_t format;
        int width;
        int height;
    };
    for (const Case& test : {Case{"portrait.mp4", "upright.mp4", 10, 240, 320},
                             Case{"portrait.mp4", "still.jpg", 15, 240, 320},
                             Case{"sideways.jpg", "photo.png", 17, 240, 320}}) {
        SCOPED_TRACE(test.output);
        SVTranscodeOutcome outcome = Convert(test.source, test.output, test.format, 320, 320);
        ASSERT_EQ(outcome.result, EVTranscodeResult_Completed) << qsys::ToUtf8(outcome.message);
        std::filesystem::path output = m_media.Folder() / test.output;
        SVInspection inspection = CVTestMedia::Inspect(output);
        EXPECT_EQ(inspection.First("video").width, test.width);
        EXPECT_EQ(inspection.First("video").height, test.height);
        // The upper half, turned clockwise, is now the right half.
        EXPECT_GT(CVTestMedia::MeanLuma(output, 0.0, 0.6, 0.1, 0.9, 0.9), 200.0);
        EXPECT_LT(CVTestMedia::MeanLuma(output, 0.0, 0.1, 0.1, 0.4, 0.9), 50.0);
    }
}
