#include "components/vtranscoderlib/voutputformats.h"

#include <cmath>

#include <gtest/gtest.h>

#include "components/vtranscoderlib/vtranscodeerror.h"
#include "qlib/qutilitylib/qexception.h"

TEST(OutputFormats, CatalogueHoldsTheFixedCodesAndNoProfileCodes) {
    for (int32_t code : {1, 9, 10, 11, 13, 14, 15, 16, 17, 18, 25}) {
        EXPECT_NE(CVOutputFormats::Find(code), nullptr) << code;
    }
    for (int32_t code : {0, 2, 6, 7, 8, 12, 19, 20, 21, 22, 23, 24, 26, -1}) {
        EXPECT_EQ(CVOutputFormats::Find(code), nullptr) << code;
    }
}

TEST(OutputFormats, CodesCarryTheMeaningsTheServiceReliesOn) {
    struct Expected {
        int32_t code;
        EVMediaKind kind;
        const wchar_t* codec;
        const wchar_t* extension;
        const wchar_t* mime;
    };
    for (const Expected& expected : {
             Expected{1, EVMediaKind_Video, L"avc", L".mp4", L"video/mp4"},
             Expected{9, EVMediaKind_Video, L"mpeg-4", L".mp4", L"video/mp4"},
             Expected{10, EVMediaKind_Video, L"avc", L".mp4", L"video/mp4"},
             Expected{25, EVMediaKind_Video, L"h263", L".3gp", L"video/3gpp"},
             Expected{11, EVMediaKind_Audio, L"aac", L".m4a", L"audio/mp4"},
             Expected{15, EVMediaKind_Image, L"jpeg", L".jpg", L"image/jpeg"},
             Expected{16, EVMediaKind_Image, L"bmp", L".bmp", L"image/bmp"},
             Expected{17, EVMediaKind_Image, L"png", L".png", L"image/png"},
             Expected{18, EVMediaKind_Image, L"gif", L".gif", L"image/gif"},
         }) {
        const SVOutputFormat& format = CVOutputFormats::Get(expected.code);
        EXPECT_EQ(format.kind, expected.kind) << expected.code;
        EXPECT_STREQ(format.codec, expected.codec) << expected.code;
        EXPECT_STREQ(format.extension, expected.extension) << expected.code;
        EXPECT_STREQ(format.mimeType, expected.mime) << expected.code;
    }
    EXPECT_EQ(CVOutputFormats::Get(13).defaults.audioBitRate, 128'000);
    EXPECT_EQ(CVOutputFormats::Get(14).defaults.audioBitRate, 192'000);
}

TEST(OutputFormats, UnknownCodeRaisesWithTheUnsupportedSettingsCode) {
    try {
        CVOutputFormats::Get(7);
        FAIL() << "no exception";
    } catch (const CQException& error) {
        EXPECT_TRUE(error.HasErrorCode(TranscodeErrorCode(EVTranscodeResult_UnsupportedSettings)));
        EXPECT_NE(error.GetDescription().find(L"output format 7"), std::wstring::npos)
            << error.GetDescription();
    }
}

TEST(OutputFormats, EffectiveSettingsFillZerosFromTheFormat) {
    const SVOutputFormat& mpeg4 = CVOutputFormats::Get(9);
    SVTranscodeSettings effective = CVOutputFormats::Effective(mpeg4, {});
    EXPECT_EQ(effective.videoWidth, 176);
    EXPECT_EQ(effective.videoHeight, 144);
    EXPECT_EQ(effective.frameRate, 15.0);
    EXPECT_EQ(effective.videoBitRate, 192'000);

    SVTranscodeSettings given;
    given.videoWidth = 640;  // one side given: the box is the caller's, height unbounded
    given.frameRate = 25.0;
    given.audioBitRate = 64'000;
    effective = CVOutputFormats::Effective(mpeg4, given);
    EXPECT_EQ(effective.videoWidth, 640);
    EXPECT_EQ(effective.videoHeight, 0);
    EXPECT_EQ(effective.frameRate, 25.0);
    EXPECT_EQ(effective.audioBitRate, 64'000);

    SVTranscodeSettings noAudio;
    noAudio.audioStreams = 0;
    EXPECT_EQ(CVOutputFormats::Effective(CVOutputFormats::Get(11), noAudio).audioStreams, 1u)
        << "an audio format keeps at least one stream";
    EXPECT_EQ(CVOutputFormats::Effective(mpeg4, noAudio).audioStreams, 0u);
}

TEST(TranscodeSettings, ProblemsAreFoundAndNamed) {
    EXPECT_EQ(FindSettingsProblem({}), std::nullopt);
    auto problemOf = [](auto change) {
        SVTranscodeSettings settings;
        change(settings);
        return FindSettingsProblem(settings).value_or(L"");
    };
    EXPECT_NE(problemOf([](auto& s) { s.videoWidth = -320; }).find(L"video size"),
              std::wstring::npos);
    EXPECT_NE(problemOf([](auto& s) { s.imageHeight = 100000; }).find(L"image size"),
              std::wstring::npos);
    EXPECT_NE(problemOf([](auto& s) { s.frameRate = std::nan(""); }).find(L"frame rate"),
              std::wstring::npos);
    EXPECT_NE(problemOf([](auto& s) { s.frameRate = -1; }).find(L"frame rate"), std::wstring::npos);
    EXPECT_NE(problemOf([](auto& s) { s.videoBitRate = -5; }).find(L"video bit rate"),
              std::wstring::npos);
    EXPECT_NE(problemOf([](auto& s) { s.audioBitRate = 10'000'000; }).find(L"audio bit rate"),
              std::wstring::npos);
    EXPECT_NE(problemOf([](auto& s) { s.audioStreams = 1000; }).find(L"audio streams"),
              std::wstring::npos);
}
