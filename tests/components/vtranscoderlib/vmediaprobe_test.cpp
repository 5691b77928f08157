#include "components/vtranscoderlib/vmediaprobe.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

#include <gtest/gtest.h>

#include "components/vtranscoderlib/helper/vmediaanalyzer.h"
#include "components/vtranscoderlib/vtranscodeerror.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qexception.h"
#include "vtestmedia.h"

namespace {

class MediaProbeTest : public ::testing::Test {
protected:
    SVMediaInfo Probe(const std::string& name) { return CVMediaProbe().Probe(m_media.Path(name)); }

    CVTestMedia m_media;
};

}  // namespace

TEST_F(MediaProbeTest, VideoIsDescribedInTheProfileVocabulary) {
    m_media.Video("clip.mp4", 1.0, 320, 240, 30, 2);
    SVMediaInfo info = Probe("clip.mp4");
    EXPECT_EQ(info.mimeType, L"video/mp4");
    EXPECT_EQ(info.className, L"Video");
    EXPECT_EQ(info.codec, L"avc");
    EXPECT_EQ(info.width, 320);
    EXPECT_EQ(info.height, 240);
    EXPECT_DOUBLE_EQ(info.frameRate, 30.0);
    EXPECT_GT(info.bitRate, 0);
    EXPECT_EQ(info.audioStreamCount, 2);
    EXPECT_NEAR(info.durationSeconds, 1.0, 0.1);

    m_media.Make("clip.3gp", {"-i", (m_media.Folder() / "clip.mp4").string(), "-map", "0:v", "-map",
                              "0:a:0", "-s", "176x144", "-c:v", "h263", "-c:a", "aac"});
    info = Probe("clip.3gp");
    EXPECT_EQ(info.mimeType, L"video/3gpp");
    EXPECT_EQ(info.codec, L"h263");
    EXPECT_EQ(info.audioStreamCount, 1);

    m_media.Make("clip.avi",
                 {"-i", (m_media.Folder() / "clip.mp4").string(), "-c:v", "mpeg4", "-an"});
    info = Probe("clip.avi");
    EXPECT_EQ(info.mimeType, L"video/avi");
    EXPECT_EQ(info.codec, L"mpeg-4");
    EXPECT_EQ(info.audioStreamCount, 0);
}

TEST_F(MediaProbeTest, AudioIsAudioEvenWithCoverArt) {
    m_media.Tone("tone.m4a", 1.0);
    SVMediaInfo info = Probe("tone.m4a");
    EXPECT_EQ(info.mimeType, L"audio/mp4");
    EXPECT_EQ(info.className, L"Audio");
    EXPECT_EQ(info.codec, L"aac");
    EXPECT_EQ(info.audioStreamCount, 1);
    EXPECT_EQ(info.width, 0);

    m_media.Still("cover.jpg", 64, 64);
    m_media.Make("song.mp3", {"-f", "lavfi", "-i", "sine=duration=1", "-i",
                              (m_media.Folder() / "cover.jpg").string(), "-map", "0", "-map", "1",
                              "-c:v", "copy", "-disposition:v", "attached_pic"});
    info = Probe("song.mp3");
    EXPECT_EQ(info.mimeType, L"audio/mpeg");
    EXPECT_EQ(info.className, L"Audio");
    EXPECT_EQ(info.codec, L"mp3");
}

TEST_F(MediaProbeTest, PicturesAreImagesWithTheirSize) {
    for (auto [name, mime, codec] : {std::tuple{"p.jpg", L"image/jpeg", L"jpeg"},
                                     {"p.png", L"image/png", L"png"},
                                     {"p.bmp", L"image/bmp", L"bmp"},
                                     {"p.gif", L"image/gif", L"gif"}}) {
        SCOPED_TRACE(name);
        m_media.Still(name, 120, 90);
        SVMediaInfo info = Probe(name);
        EXPECT_EQ(info.mimeType, mime);
        EXPECT_EQ(info.className, L"Image");
        EXPECT_EQ(info.codec, codec);
        EXPECT_EQ(info.width, 120);
        EXPECT_EQ(info.height, 90);
        EXPECT_EQ(info.frameRate, 0.0);
        EXPECT_EQ(info.durationSeconds, 0.0);
    }
}

TEST_F(MediaProbeTest, WhatIsNotMediaRaisesInputUnreadable) {
    m_media.Text("notes.txt", "Dear diary,\n");
    m_media.Text("fake.jpg", "not a picture at all");
    m_media.Text("empty.mp4", "");
    for (const char* name : {"notes.txt", "fake.jpg", "empty.mp4", "absent.mkv"}) {
        SCOPED_TRACE(name);
        try {
            Probe(name);
            ADD_FAILURE() << "no exception";
        } catch (const CQException& error) {
            EXPECT_TRUE(error.HasErrorCode(TranscodeErrorCode(EVTranscodeResult_InputUnreadable)))
                << qsys::ToUtf8(error.GetDescription());
            EXPECT_NE(error.GetDescription().find(L"source"), std::wstring::npos);
        }
    }
}

TEST(MediaAnalyzer, CodecNamesFollowTheProfileVocabulary) {
    EXPECT_EQ(CVMediaAnalyzer::CodecName(AV_CODEC_ID_H264), L"avc");
    EXPECT_EQ(CVMediaAnalyzer::CodecName(AV_CODEC_ID_MPEG4), L"mpeg-4");
    EXPECT_EQ(CVMediaAnalyzer::CodecName(AV_CODEC_ID_H263P), L"h263");
    EXPECT_EQ(CVMediaAnalyzer::CodecName(AV_CODEC_ID_WMV3), L"WMV3");
    EXPECT_EQ(CVMediaAnalyzer::CodecName(AV_CODEC_ID_AAC), L"aac");
    EXPECT_EQ(CVMediaAnalyzer::CodecName(AV_CODEC_ID_HEVC), L"hevc");
}
