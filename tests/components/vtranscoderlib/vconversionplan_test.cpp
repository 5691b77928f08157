#include "components/vtranscoderlib/helper/vconversionplan.h"
#include "components/vtranscoderlib/helper/vexiforientation.h"

#include <gtest/gtest.h>

#include "components/vtranscoderlib/vtranscodeerror.h"

namespace {

SVSourceVideo Source(int width, int height, AVRational rate = {30, 1}, AVRational aspect = {1, 1}) {
    SVSourceVideo source;
    source.width = width;
    source.height = height;
    source.frameRate = rate;
    source.sampleAspect = aspect;
    return source;
}

SVTranscodeSettings Box(int width, int height, double rate = 15.0, int bitRate = 384'000) {
    SVTranscodeSettings settings;
    settings.videoWidth = width;
    settings.videoHeight = height;
    settings.frameRate = rate;
    settings.videoBitRate = bitRate;
    settings.audioBitRate = 128'000;
    return settings;
}

}  // namespace

TEST(ConversionPlan, PictureFitsInsideTheBoxKeepingItsShape) {
    EXPECT_EQ(CVConversionPlan::FitInside(Source(1280, 720), 320, 240, true), (SVSize{320, 180}));
    EXPECT_EQ(CVConversionPlan::FitInside(Source(640, 480), 176, 144, true), (SVSize{176, 132}));
    EXPECT_EQ(CVConversionPlan::FitInside(Source(480, 640), 320, 240, true), (SVSize{180, 240}));
    // Anamorphic: 720x576 with 16:15 pixels shows as 768x576.
    EXPECT_EQ(CVConversionPlan::FitInside(Source(720, 576, {25, 1}, {16, 15}), 320, 240, true),
              (SVSize{320, 240}));
}

TEST(ConversionPlan, PictureIsNeverEnlargedAndOddSizesBecomeEven) {
    EXPECT_EQ(CVConversionPlan::FitInside(Source(160, 120), 320, 240, true), (SVSize{160, 120}));
    EXPECT_EQ(CVConversionPlan::FitInside(Source(161, 121), 0, 0, true), (SVSize{160, 120}));
    EXPECT_EQ(CVConversionPlan::FitInside(Source(161, 121), 0, 0, false), (SVSize{161, 121}))
        << "pictures keep odd sizes";
    EXPECT_EQ(CVConversionPlan::FitInside(Source(1920, 1080), 640, 0, false), (SVSize{640, 360}))
        << "a zero side does not limit";
}

TEST(ConversionPlan, FrameRateIsCappedButNeverRaised) {
    AVRational capped = CVConversionPlan::CapFrameRate({30, 1}, 15.0);
    EXPECT_EQ(capped.num, 15);
    EXPECT_EQ(capped.den, 1);
    AVRational kept = CVConversionPlan::CapFrameRate({10, 1}, 15.0);
    EXPECT_EQ(av_q2d(kept), 10.0);
    AVRational ntsc = CVConversionPlan::CapFrameRate({30000, 1001}, 30.0);
    EXPECT_EQ(ntsc.num, 30000);
    EXPECT_EQ(ntsc.den, 1001);
    AVRational unknown = CVConversionPlan::CapFrameRate({0, 1}, 15.0);
    EXPECT_EQ(av_q2d(unknown), 15.0);
    AVRational fine = CVConversionPlan::CapFrameRate({1000000, 33333}, 0.0);
    EXPECT_LE(fine.den, 65535) << "MPEG-4 Part 2 codes 16-bit time increments";
}

TEST(ConversionPlan, H263FrameIsTheLargestStandardSizeInsideTheBoxAndPadded) {
    const SVOutputFormat& h263 = CVOutputFormats::Get(25);
    SVVideoPlan plan = CVConversionPlan::PlanVideo(h263, Box(320, 240), Source(640, 360));
    EXPECT_EQ(plan.frameWidth, 176);
    EXPECT_EQ(plan.frameHeight, 144);
    EXPECT_EQ(plan.width, 176);
    EXPECT_EQ(plan.height, 98);
    EXPECT_NE(plan.filter.find("pad=176:144"), std::string::npos) << plan.filter;

    plan = CVConversionPlan::PlanVideo(h263, Box(400, 300), Source(320, 240));
    EXPECT_EQ(plan.frameWidth, 352);
    EXPECT_EQ(plan.width, 320) << "padded, not enlarged";

    EXPECT_THROW(CVConversionPlan::PlanVideo(h263, Box(100, 80), Source(640, 480)),
                 CVTranscodeError);
}

TEST(ConversionPlan, CodecLevelsHoldSizeRateAndBitRate) {
    EXPECT_EQ(CVConversionPlan::H264Level({320, 240}, 30.0, 768'000), 13);
    EXPECT_EQ(CVConversionPlan::H264Level({320, 240}, 15.0, 384'000), 12);
    EXPECT_EQ(CVConversionPlan::H264Level({640, 480}, 30.0, 1'500'000), 30);
    EXPECT_EQ(CVConversionPlan::H264Level({1280, 720}, 30.0, 5'000'000), 31);
    EXPECT_EQ(CVConversionPlan::Mpeg4SimpleLevel({176, 144}, 15.0, 64'000), 1);
    EXPECT_EQ(CVConversionPlan::Mpeg4SimpleLevel({176, 144}, 15.0, 192'000), 3);
    EXPECT_EQ(CVConversionPlan::Mpeg4SimpleLevel({640, 480}, 30.0, 3'000'000), 4);
    EXPECT_EQ(CVConversionPlan::Mpeg4SimpleLevel({1920, 1080}, 30.0, 8'000'000), -1);
}

TEST(ConversionPlan, VideoPlanDropsFramesBeforeScaling) {
    SVVideoPlan plan =
        CVConversionPlan::PlanVideo(CVOutputFormats::Get(10), Box(320, 240), Source(1280, 720));
    EXPECT_EQ(plan.filter, "fps=15/1,scale=320:180,setsar=1,format=yuv420p");
    EXPECT_EQ(plan.level, 12);
}

TEST(ConversionPlan, AudioIsStereoAtMostAtARateAacCodes) {
    const SVOutputFormat& aac = CVOutputFormats::Get(11);
    SVTranscodeSettings settings;
    settings.audioBitRate = 128'000;
    SVAudioPlan surround = CVConversionPlan::PlanAudio(aac, settings, {6, 48000});
    EXPECT_EQ(surround.channels, 2);
    EXPECT_EQ(surround.sampleRate, 48000);
    EXPECT_EQ(surround.bitRate, 128'000);
    EXPECT_EQ(CVConversionPlan::PlanAudio(aac, settings, {1, 44100}).channels, 1);
    EXPECT_EQ(CVConversionPlan::AacSampleRate(96000), 48000);
    EXPECT_EQ(CVConversionPlan::AacSampleRate(37800), 44100);
    EXPECT_EQ(CVConversionPlan::AacSampleRate(8000), 8000);
    // AAC codes at most 6144 bits per channel and 1024 samples: 48 kbit/s for 8 kHz mono.
    EXPECT_EQ(CVConversionPlan::PlanAudio(aac, settings, {1, 8000}).bitRate, 48'000);
}

TEST(ExifOrientation, ReadsEitherByteOrderAndSurvivesMalformedSegments) {
    auto jpeg = [](const std::string& tiff) {
        std::string segment = "Exif" + std::string(2, '\0') + tiff;
        size_t length = segment.size() + 2;
        return std::string("\xFF\xD8\xFF\xE1", 4) + static_cast<char>(length >> 8) +
               static_cast<char>(length & 0xFF) + segment;
    };
    const std::string big("MM\0\x2A\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0", 22);
    const std::string little("II\x2A\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x08\0\0\0", 22);
    EXPECT_EQ(CVExifOrientation::Read(jpeg(big)), 6);
    EXPECT_EQ(CVExifOrientation::Read(jpeg(little)), 8);
    for (size_t cut = 0; cut < 20; ++cut) {  // the value ends at byte 20
        EXPECT_EQ(CVExifOrientation::Read(jpeg(big.substr(0, cut))), 1) << cut;
    }
    std::string farDirectory = big;
    farDirectory[4] = '\x7F';  // the directory offset points far beyond the data
    EXPECT_EQ(CVExifOrientation::Read(jpeg(farDirectory)), 1);
    EXPECT_EQ(CVExifOrientation::Read(std::string("\xFF\xD8\xFF\xE1\x00\x01", 6)), 1);
    EXPECT_EQ(CVExifOrientation::Read("not a picture"), 1);
    EXPECT_EQ(SVOrientation::FromRotation(-90.0), SVOrientation::FromExif(8));
    EXPECT_EQ(SVOrientation::FromRotation(450.0), SVOrientation::FromExif(6));
    EXPECT_EQ(SVOrientation::FromRotation(45.0), SVOrientation{});
}
