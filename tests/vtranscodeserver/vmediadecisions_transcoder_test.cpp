// The decisions and media information with the real transcoder component describing media that
// the test makes with the ffmpeg tool.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "components/vtranscoderlib/vtranscodercomponent.h"
#include "qlib/qcom/comcall.h"
#include "qlib/qsys/textcodec.h"
#include "tests/qlib/qsys/testsupport.h"
#include "tests/vtranscodeserver/vmediatestobjects.h"
#include "vtranscodeserver/vmediadecisions.h"
#include "vtranscodeserver/vmediainformation.h"

namespace {

using vprofiles::test::MakeItem;

class RealTranscoder : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        CVTranscoderComponent::RegisterClasses();
        s_folder = new qsys::test::TemporaryFolder();
        // MPEG-4 video with one mono AAC stream: KA-320 plays it up to 176 x 144 at 15 fps.
        for (const char* size : {"176x144", "352x288"}) {
            const std::string command =
                std::string("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=") + size +
                ":rate=15 -f lavfi -i sine=sample_rate=8000 -t 1 -c:v mpeg4 -c:a aac " +
                s_folder->Path() + "/clip" + size + ".mp4";
            ASSERT_EQ(std::system(command.c_str()), 0) << command;
        }
    }
    static void TearDownTestSuite() {
        delete s_folder;
        s_folder = nullptr;
    }
    static std::wstring Clip(const char* size) {
        return qsys::FromUtf8(s_folder->Path() + "/clip" + size + ".mp4");
    }

    static qsys::test::TemporaryFolder* s_folder;
    CVAVProfileConfig m_profiles;
    CVMediaDecisions m_decisions{m_profiles};
};

qsys::test::TemporaryFolder* RealTranscoder::s_folder = nullptr;

TEST_F(RealTranscoder, DecisionsFollowTheFilesDescription) {
    m_profiles.Load(L"");
    const CComPtr<IVItem> info = CVMediaInformation::GetFileInfo(Clip("176x144"));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(ComCall(info.Get(), &IVItem::GetClassName), L"Video");

    const SVFormatDecision small = m_decisions.GetOutputFormatsForFile(L"KA-320", Clip("176x144"));
    EXPECT_EQ(small.formats, (std::vector<int32_t>{6, 7, 8}));
    EXPECT_EQ(small.GetTranscodingState(), EVTranscoding_NotRequired);
    EXPECT_EQ(m_decisions.GetOutputFormatsForFile(L"KA-320", Clip("352x288")).GetTranscodingState(),
              EVTranscoding_Required);
    EXPECT_EQ(m_decisions.GetOutputFormatsForFile(L"ZZ-999", Clip("352x288")).formats,
              std::vector<int32_t>{1});

    // An item that names the file gets its codec from the file information.
    const CComPtr<IVItem> item =
        MakeItem(L"Video", {{L"ItemType", k_metadataNamespace, L"video/mp4"},
                            {L"URI", k_metadataNamespace, Clip("176x144")},
                            {L"Width", k_metadataNamespace, 176},
                            {L"Height", k_metadataNamespace, 144},
                            {L"Framerate", k_metadataNamespace, 15.0},
                            {L"AudioStreamCount", k_transcodeNamespace, 1}});
    EXPECT_TRUE(m_decisions.GetOutputFormatsForItem(L"KA-320", item.Get()).supported);
    const CComPtr<IVProperties> properties = ComCall(item.Get(), &IVItem::GetProperties);
    EXPECT_EQ(ComCall(properties.Get(), &IVProperties::GetValue, L"Codec", k_transcodeNamespace),
              VARIANT(L"mpeg-4"));

    // Formats that are not profile-based are the transcoder's to describe.
    const VARIANT extension = m_decisions.GetOutputFormatInfo(L"KA-320", 9, 0);
    ASSERT_EQ(extension.Vt(), VT_BSTR);
    EXPECT_TRUE(extension.Get<BSTR>().starts_with(L".")) << qsys::ToUtf8(extension.Get<BSTR>());
    EXPECT_FALSE(CVMediaInformation::IsDRM(Clip("176x144")));
}

}  // namespace
