// Output-format decisions as a golden table (device x media description -> supported, device
// known, offered codes) on the embedded database, the limit comparisons on a database of our
// own, format information, and the item and file forms through a scripted transcoder.

#include "vtranscodeserver/vmediadecisions.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qexception.h"
#include "tests/qlib/qutilitylib/filetestsupport.h"
#include "tests/vtranscodeserver/vmediatestobjects.h"
#include "vtranscodeserver/vmediavalues.h"

namespace {

using qutilitylib::test::Raised;
using qutilitylib::test::RealEntries;
using vprofiles::test::CScriptedTranscoder;
using vprofiles::test::MakeItem;
using vprofiles::test::RaisedCode;

// A media description: class, MIME type ("" for none), then the properties; a VT_EMPTY value
// leaves the property out.
CVMediaValues Media(const wchar_t* className, const wchar_t* mime, const wchar_t* codec = nullptr,
                    VARIANT width = {}, VARIANT height = {}, VARIANT framerate = {},
                    VARIANT audioStreams = {}) {
    CVMediaValues media(className);
    if (*mime != L'\0') {
        media.SetMIMEType(mime);
    }
    if (codec != nullptr) {
        media.SetValue(L"Codec", k_transcodeNamespace, codec);
    }
    for (auto [name, value] : {std::pair{L"Width", &width}, std::pair{L"Height", &height},
                               std::pair{L"Framerate", &framerate}}) {
        if (value->Vt() != VT_EMPTY) {
            media.SetValue(name, k_metadataNamespace, *value);
        }
    }
    if (audioStreams.Vt() != VT_EMPTY) {
        media.SetValue(L"AudioStreamCount", k_transcodeNamespace, audioStreams);
    }
    return media;
}

// KA-320 plays video/mp4 with codec avc up to 320 x 240 at 30 frames a second, one audio stream.
CVMediaValues Avc(VARIANT width, VARIANT framerate = 30.0, VARIANT streams = 1) {
    return Media(L"Video", L"video/mp4", L"avc", width, 240, framerate, streams);
}

struct SDecisionCase {
    const wchar_t* device;
    CVMediaValues media;
    bool supported;
    bool known;
    std::vector<int32_t> formats;
};

class MediaDecisions : public ::testing::Test {
protected:
    void SetUp() override { m_profiles.Load(L""); }

    void Check(const std::vector<SDecisionCase>& cases) {
        int row = 0;
        for (const SDecisionCase& entry : cases) {
            SCOPED_TRACE(testing::Message()
                         << "row " << row++ << " " << qsys::ToUtf8(entry.device));
            const SVFormatDecision decision =
                m_decisions.GetPossibleFormats(entry.device, &entry.media);
            EXPECT_EQ(decision.supported, entry.supported);
            EXPECT_EQ(decision.deviceKnown, entry.known);
            EXPECT_EQ(decision.formats, entry.formats);
        }
    }

    CVAVProfileConfig m_profiles;
    CVMediaDecisions m_decisions{m_profiles};
};

TEST_F(MediaDecisions, EmbeddedDatabaseGoldenTable) {
    const std::vector<int32_t> video{6, 7, 8};
    Check({
        // Unknown devices: video offers 1 only; audio and image offer nothing.
        {L"ZZ-999", Avc(320), true, false, {1}},
        {L"ZZ-999", Media(L"Audio", L"audio/mpeg"), false, true, {}},
        {L"ZZ-999", Media(L"Image", L"image/jpeg"), false, true, {}},
        // Limits: the max passes at the bound, not above; floating frame rates are truncated.
        {L"KA-320", Avc(320), true, true, video},
        {L"ka-320", Avc(352), false, true, video},
        {L"KA-320", Avc(320, 30.9), true, true, video},
        {L"KA-320", Avc(320, 31.0), false, true, video},
        {L"KA-320", Avc(320, 30), true, true, video},
        {L"KA-320", Avc(320, 31), false, true, video},
        {L"KA-320", Avc(320, 30.0, 2), false, true, video},
        // Wider integers are compared in full; a negative one is above every limit.
        {L"KA-320", Avc(int64_t{4294967296} + 100), false, true, video},
        {L"KA-320", Avc(uint64_t{1} << 63), false, true, video},
        {L"KA-320", Avc(-1), false, true, video},
        // A property the media lacks, or holds as text, passes.
        {L"KA-320", Avc(VARIANT()), true, true, video},
        {L"KA-320", Avc(L"9999"), true, true, video},
        {L"KA-320", Media(L"Video", L"video/mp4", L"avc", 320, 240), true, true, video},
        // Codecs: the h263 shortcut only in lower case; limit codecs compare ignoring case; a
        // media without codec only meets limits without one.
        {L"KA-320", Media(L"Video", L"video/mp4", L"h263", 1280, 720, 60.0, 4), true, true, video},
        {L"KA-320", Media(L"Video", L"video/mp4", L"H263", 176, 144, 15.0, 1), false, true, video},
        {L"KA-320", Media(L"Video", L"video/mp4", L"AVC", 320, 240, 30.0, 1), true, true, video},
        {L"KA-320", Media(L"Video", L"video/mp4", nullptr, 176, 144, 15.0, 1), false, true, video},
        {L"KA-320", Media(L"Video", L"video/3gpp", L"mpeg-4", 176, 144, 15.0, 1), true, true,
         video},
        {L"KA-320", Media(L"Video", L"Video/3GPP", L"mpeg-4", 176, 144, 15.0, 1), false, true,
         video},
        // A listed type without limits plays whatever the properties; unlisted types do not.
        {L"KA-320", Media(L"Video", L"video/vnd.rn-realvideo", L"x", 4000, 4000), true, true,
         video},
        {L"TN-15", Media(L"Video", L"video/3gpp", L"avc", 1280, 720, 60.0), true, true, video},
        {L"KC-07a", Media(L"Video", L"video/x-ms-wmv", L"WMV3", 128, 96, 15.0), false, true, video},
        {L"KA-320", Media(L"Video", L"video/x-ms-wmv", L"wmv3", 320, 240, 29.97), true, true,
         video},
        // The first of two entries with one code decides.
        {L"KD-100", Media(L"Video", L"video/mp4", L"mpeg-4", 1280, 720, 30.0, 1), false, true,
         video},
        {L"KD-100", Media(L"Video", L"video/mp4", L"avc", 640, 640, 30.0, 1), true, true, video},
        // Class against MIME type: the MIME type picks image and video (video only for the
        // classes Video and Item), audio also by class; the support test reads the MIME type
        // exactly and the class only without one.
        {L"KA-320", Media(L"Video", L"audio/mp4"), true, true, {14}},
        {L"KA-320", Media(L"Video", L"VIDEO/MP4", L"avc", 320, 240, 30.0, 1), false, true, video},
        {L"KA-320", Media(L"Item", L"video/mp4", L"avc", 320, 240, 30.0, 1), true, true, video},
        {L"KA-320", Media(L"File", L"video/mp4", L"avc", 320, 240, 30.0, 1), true, true, {}},
        {L"ZZ-999", Media(L"Video", L""), true, true, {}},
        {L"KA-320", Media(L"Audio", L""), false, true, {14}},
        {L"KA-320", Media(L"Image", L"text/plain"), true, true, {}},
        // Audio: 14 for every device that plays audio/mp4; none for one without audio.
        {L"KA-320", Media(L"Audio", L"audio/aac"), true, true, {14}},
        {L"TN-15", Media(L"Audio", L"audio/x-ms-wma"), false, true, {14}},
        {L"KB-41", Media(L"Audio", L"audio/x-ms-wma"), true, true, {14}},
        {L"KC-07a", Media(L"Audio", L"audio/mp4"), false, true, {}},
        // Images: the formats the device plays, then its levels when it is known.
        {L"KA-320", Media(L"Image", L"image/png"), true, true, {15, 17, 19, 20, 21}},
        {L"KA-320", Media(L"Image", L"IMAGE/GIF"), false, true, {15, 17, 19, 20, 21}},
        {L"KD-100", Media(L"Image", L"image/bmp"), true, true, {16, 18, 19, 20, 21}},
        {L"TN-15", Media(L"Image", L"image/jpeg"), true, true, {15, 16, 17, 18, 19, 20, 21}},
        {L"KA-320", Media(L"Image", L"image/tiff"), false, true, {}},
        {L"KB-41", Media(L"Image", L"image/jpeg"), false, true, {19, 20, 21}},
    });
    EXPECT_EQ(RaisedCode([&] { m_decisions.GetPossibleFormats(L"KA-320", nullptr); }),
              QERR_INVALID_PARAMETER);
}

TEST_F(MediaDecisions, TranscodingStateFollowsTheFlags) {
    const CVMediaValues video = Avc(320);
    const CVMediaValues audio = Media(L"Audio", L"audio/mpeg");
    EXPECT_EQ(m_decisions.GetPossibleFormats(L"ZZ-999", &video).GetTranscodingState(),
              EVTranscoding_Unknown);
    EXPECT_EQ(m_decisions.GetPossibleFormats(L"ZZ-999", &audio).GetTranscodingState(),
              EVTranscoding_Required);
    EXPECT_EQ(m_decisions.GetPossibleFormats(L"KA-320", &video).GetTranscodingState(),
              EVTranscoding_NotRequired);
}

TEST_F(MediaDecisions, LimitModesOnADatabaseOfOurOwn) {
    m_profiles.LoadAVProfileXML(
        LR"(<profiles><profilemap>
        <mcinfo productcode="EQ-10">
          <video><support>
            <type mime="video/mp4">
              <limit codec="avc"><equal width="320" framerate="29.97"/></limit>
              <limit><min HEIGHT="200" unknown="1"/><max Height="300"/></limit>
            </type>
            <type mime="video/mp4"><limit codec="mpeg-4"><equal/></limit></type>
          </support></video>
          <audio><support><type mime="audio/mp4"><limit><max bitrate="128000"/></limit></type>
          </support></audio>
        </mcinfo></profilemap></profiles>)");
    const std::vector<int32_t> video{6, 7, 8};
    Check({
        {L"EQ-10", Media(L"Video", L"video/mp4", L"avc", 320, 10, 29.97), true, true, video},
        {L"EQ-10", Media(L"Video", L"video/mp4", L"avc", 321, 10, 29.97), false, true, video},
        {L"EQ-10", Media(L"Video", L"video/mp4", L"avc", 320, 10, 29.9), false, true, video},
        // The second limit has no codec: min and max of the height, names ignoring case.
        {L"EQ-10", Media(L"Video", L"video/mp4", L"vp8", 9999, 250), true, true, video},
        {L"EQ-10", Media(L"Video", L"video/mp4", L"vp8", 9999, 199), false, true, video},
        {L"EQ-10", Media(L"Video", L"video/mp4", L"vp8", 9999, 301), false, true, video},
        // A later type with the same MIME type gets its chance: an empty "equal" passes.
        {L"EQ-10", Media(L"Video", L"video/mp4", L"MPEG-4", 9999, 9999), true, true, video},
        // The audio probe at 192000 fails the max; the one at 128000 passes: code 13.
        {L"EQ-10", Media(L"Audio", L"audio/mp4"), true, true, {13}},
    });
    const SVProfileNode device = m_profiles.GetMCInfoElem(L"EQ-10");
    const pugi::xml_node limit = device.node.select_node(".//limit[@codec='avc']").node();
    const CVMediaValues exact = Media(L"Video", L"video/mp4", L"avc", 320, 10, 29.97);
    EXPECT_TRUE(CVMediaDecisions::CheckLimitMatch(limit.children("equal"), 1, exact));
    EXPECT_FALSE(CVMediaDecisions::CheckLimitMatch(limit.children("equal"), 4, exact));
    EXPECT_TRUE(CVMediaDecisions::CheckLimitMatch(limit.children("none"), 4, exact));
    EXPECT_EQ(CVMediaDecisions::GetNameFromXMLAttr("AudioStreams"), L"AudioStreamCount");
    EXPECT_EQ(CVMediaDecisions::GetNameSpaceFromXMLAttr("audiostreams"), k_transcodeNamespace);
    EXPECT_EQ(CVMediaDecisions::GetNameSpaceFromXMLAttr("FrameRate"), k_metadataNamespace);
    EXPECT_EQ(CVMediaDecisions::GetNameFromXMLAttr("codec"), L"");
}

TEST_F(MediaDecisions, WithoutDocumentTheDeviceLookupRaises) {
    const CVMediaValues video = Avc(320);
    m_profiles.LoadAVProfileXML(L"<profiles/>");
    EXPECT_EQ(m_decisions.GetPossibleFormats(L"KA-320", &video).formats, std::vector<int32_t>{1});
    EXPECT_THROW(m_profiles.LoadAVProfileXML(L"<broken"), CQException);
    EXPECT_EQ(RaisedCode([&] { m_decisions.GetPossibleFormats(L"KA-320", &video); }),
              QERR_UNDEFINED);
    EXPECT_EQ(RaisedCode([&] { m_decisions.IsSupported(L"KA-320", video); }), QERR_UNDEFINED);
}

struct SInfoCase {
    const wchar_t* device;
    LONG format;
    LONG info;
    VARIANT expected;
};

TEST_F(MediaDecisions, OutputFormatInfo) {
    const CComClassRegistration transcoder = CScriptedTranscoder::Register();
    const SInfoCase cases[] = {
        {L"KA-320", 7, 1, L"video/mp4"},       {L"KA-320", 7, 0, L".mp4"},
        {L"KA-320", 8, 2, VARIANT()},          {L"ZZ-999", 21, 0, L".jpg"},
        {L"ZZ-999", 22, 1, L"audio/mp4"},      {L"ZZ-999", 24, 0, L".m4a"},
        {L"KB-41", 20, 1, VARIANT()},          {L"KA-320", 23, 0, VARIANT()},
        {L"KA-320", 9, 1, L"format 9 info 1"}, {L"ZZ-999", 15, 0, L"format 15 info 0"},
    };
    for (const SInfoCase& entry : cases) {
        SCOPED_TRACE(testing::Message() << entry.format << " " << entry.info);
        EXPECT_EQ(m_decisions.GetOutputFormatInfo(entry.device, entry.format, entry.info),
                  entry.expected);
    }
    EXPECT_EQ(CScriptedTranscoder::Script().created, 2);
}

// A video item of KA-320's size that names its file; the codec only comes from the file
// information.
CComPtr<IVItem> VideoItem(const wchar_t* mime, const wchar_t* className = L"Video") {
    return MakeItem(className, {{L"ItemType", k_metadataNamespace, mime},
                                {L"URI", k_metadataNamespace, L"/media/clip"},
                                {L"Width", k_metadataNamespace, 320},
                                {L"Height", k_metadataNamespace, 240},
                                {L"Framerate", k_metadataNamespace, 25.0},
                                {L"AudioStreamCount", k_transcodeNamespace, 1}});
}

class ItemDecisions : public MediaDecisions {
protected:
    void SetUp() override {
        MediaDecisions::SetUp();
        CScriptedTranscoder::Script().fileInfo[L"/media/clip"] =
            MakeItem(L"Video", {{L"Codec", k_transcodeNamespace, L"avc"}});
    }

    VARIANT CodecOf(IVItem* item) {
        CComPtr<IVProperties> properties;
        EXPECT_EQ(item->GetProperties(&properties), S_OK);
        VARIANT codec;
        EXPECT_EQ(properties->GetValue(L"Codec", k_transcodeNamespace, &codec), S_OK);
        return codec;
    }

    CComClassRegistration m_transcoder = CScriptedTranscoder::Register();
};

TEST_F(ItemDecisions, CodecIsFilledFromTheFileInformationForVideoTypes) {
    const CComPtr<IVItem> mp4 = VideoItem(L"video/mp4");
    const SVFormatDecision decision = m_decisions.GetOutputFormatsForItem(L"KA-320", mp4.Get());
    EXPECT_TRUE(decision.supported);
    EXPECT_EQ(decision.formats, (std::vector<int32_t>{6, 7, 8}));
    EXPECT_EQ(CodecOf(mp4.Get()), VARIANT(L"avc"));
    EXPECT_EQ(CScriptedTranscoder::Script().fileInfoCalls,
              std::vector<std::wstring>{L"/media/clip"});

    // The first form fills only four exact MIME types; the second every "video..." type.
    const CComPtr<IVItem> capitals = VideoItem(L"VIDEO/MP4", L"Item");
    EXPECT_FALSE(m_decisions.GetOutputFormatsForItem(L"KA-320", capitals.Get()).supported);
    EXPECT_EQ(CodecOf(capitals.Get()).Vt(), VT_EMPTY);
    const CComPtr<IVItem> avi = VideoItem(L"video/avi");
    EXPECT_FALSE(m_decisions.GetOutputFormatsForItem(L"KA-320", avi.Get()).supported);
    EXPECT_EQ(CodecOf(avi.Get()).Vt(), VT_EMPTY);
    EXPECT_EQ(m_decisions.GetOutputFormatsForItem2(L"KA-320", avi.Get()).GetTranscodingState(),
              EVTranscoding_Required);
    EXPECT_EQ(CodecOf(avi.Get()), VARIANT(L"avc"));
    const CComPtr<IVItem> threeGpp = VideoItem(L"video/3gpp");
    EXPECT_EQ(m_decisions.GetOutputFormatsForItem2(L"KA-320", threeGpp.Get()).GetTranscodingState(),
              EVTranscoding_Required);
    EXPECT_EQ(m_decisions.GetOutputFormatsForItem2(L"KA-320", mp4.Get()).GetTranscodingState(),
              EVTranscoding_NotRequired);
    EXPECT_EQ(CScriptedTranscoder::Script().fileInfoCalls.size(), 4u);

    // An item without "URI" is decided as it is.
    const CComPtr<IVItem> bare = MakeItem(L"Video", {{L"ItemType", L"", L"video/mp4"}});
    EXPECT_FALSE(m_decisions.GetOutputFormatsForItem(L"KA-320", bare.Get()).supported);
    EXPECT_EQ(CScriptedTranscoder::Script().fileInfoCalls.size(), 4u);
}

TEST_F(ItemDecisions, FailuresOfTheItemAndOfTheFileInformation) {
    EXPECT_EQ(RaisedCode([&] { m_decisions.GetOutputFormatsForItem(L"KA-320", nullptr); }),
              QERR_INVALID_PARAMETER);
    CComPtr<CScriptedTranscoder> notAnItem;
    ASSERT_EQ(CreateComObject(&notAnItem), S_OK);
    EXPECT_EQ(RaisedCode([&] { m_decisions.GetOutputFormatsForItem2(L"KA-320", notAnItem.Get()); }),
              QERR_INVALID_PARAMETER);

    // File information that succeeds without an item: E_POINTER for the item forms.
    CScriptedTranscoder::Script().fileInfo[L"/media/clip"] = nullptr;
    const std::optional<CQException> noInfo = Raised(
        [&] { m_decisions.GetOutputFormatsForItem(L"KA-320", VideoItem(L"video/mp4").Get()); });
    ASSERT_TRUE(noInfo);
    EXPECT_EQ(noInfo->GetHResult(), E_POINTER);
    // A failing file information call propagates its HRESULT.
    CScriptedTranscoder::Script().fileInfo.clear();
    const std::optional<CQException> failed = Raised(
        [&] { m_decisions.GetOutputFormatsForItem(L"KA-320", VideoItem(L"video/mp4").Get()); });
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->GetHResult(), E_FAIL);
}

TEST_F(ItemDecisions, FilesAreDescribedByTheTranscoder) {
    CScriptedTranscoder::Script().fileInfo[L"/media/song.m4a"] =
        MakeItem(L"Audio", {{L"ItemType", k_metadataNamespace, L"audio/mp4"}});
    CScriptedTranscoder::Script().fileInfo[L"/media/empty"] = nullptr;
    const SVFormatDecision song =
        m_decisions.GetOutputFormatsForFile(L"KC-07a", L"/media/song.m4a");
    EXPECT_EQ(song.formats, std::vector<int32_t>{});
    EXPECT_FALSE(song.supported);
    EXPECT_TRUE(m_decisions.GetOutputFormatsForFile(L"KB-41", L"/media/song.m4a").supported);
    EXPECT_EQ(RaisedCode([&] { m_decisions.GetOutputFormatsForFile(L"KB-41", L"/media/empty"); }),
              QERR_INVALID_PARAMETER);
    EXPECT_EQ(CScriptedTranscoder::Script().created, 3);
}

}  // namespace
