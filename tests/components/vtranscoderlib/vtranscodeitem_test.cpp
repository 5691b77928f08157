// The transcode item: what the setters take and refuse, CopyFrom, and the XML the queue's save
// file keeps: every setting comes back, whatever characters the paths hold, and text that is
// not one item element is refused without changing the item.

#include "components/vtranscoderlib/vtranscodeitem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "components/vtranscoderlib/vtranscodercomponent.h"
#include "qlib/qcom/comdispatchdriver.h"
#include "qlib/qutilitylib/qcomutilities.h"

namespace {

class TranscodeItemTest : public testing::Test {
protected:
    void SetUp() override { CVTranscoderComponent::RegisterClasses(); }

    static CComPtr<IVTranscodeItemData> NewItem() {
        return CQCOMUtils::CreateObject<IVTranscodeItemData>(CLSID_VTranscodeItem,
                                                             k_transcodeItemDisplayName);
    }

    // An item with every setting away from its default.
    static CComPtr<IVTranscodeItemData> FullItem(const std::wstring& source,
                                                 const std::wstring& destination) {
        CComPtr<IVTranscodeItemData> data = NewItem();
        CComPtr<IVTranscodeItem> item;
        EXPECT_EQ(data.QueryInterface(&item), S_OK);
        SHORT result = -7;
        EXPECT_EQ(item->Initialize(source, destination, 10, VARIANT(L"ZX-1 <&>"), &result), S_OK);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(data->SetVideoSettings(320, 240, 29.97002997002997, 384000, &result), S_OK);
        EXPECT_EQ(result, CVTranscodeItem::k_settingsTaken);
        EXPECT_EQ(data->SetAudioSettings(96000, VARIANT::UInt(2), &result), S_OK);
        EXPECT_EQ(result, CVTranscodeItem::k_settingsTaken);
        EXPECT_EQ(data->SetImageSize(1024, 768, &result), S_OK);
        EXPECT_EQ(result, CVTranscodeItem::k_settingsTaken);
        return data;
    }
};

std::wstring XmlOf(IVTranscodeItemData* item) {
    BSTR xml;
    EXPECT_EQ(item->GetItemXML(&xml), S_OK);
    return xml;
}

bool Load(IVTranscodeItemData* item, const std::wstring& xml) {
    VARIANT_BOOL loaded = VARIANT_TRUE;
    EXPECT_EQ(item->LoadItemXML(xml, &loaded), S_OK);
    return loaded == VARIANT_TRUE;
}

void ExpectSameState(IVTranscodeItemData* left, IVTranscodeItemData* right) {
    const SVTranscodeItemState a = CVTranscodeItem::ReadState(left);
    const SVTranscodeItemState b = CVTranscodeItem::ReadState(right);
    EXPECT_EQ(a.job.source, b.job.source);
    EXPECT_EQ(a.job.destination, b.job.destination);
    EXPECT_EQ(a.job.outputFormat, b.job.outputFormat);
    EXPECT_EQ(a.productCode, b.productCode);
    EXPECT_EQ(a.job.settings, b.job.settings);
}

}  // namespace

TEST_F(TranscodeItemTest, TheXmlKeepsEverySettingWhateverThePathsHold) {
    for (const auto& [source, destination] : std::vector<std::pair<std::wstring, std::wstring>>{
             {L"/music/Tom & Jerry <live>.mp4", L"/out/\"quoted\" 'single' & more.mp4"},
             {L" leading and trailing space ", L"/out/line\nbreak\tand\rreturn.mp4"},
             {L"/m\u00fcsic/\u4e2d\u6587/\U0001F3B5.mp4", L"/out/&amp; already escaped.mp4"},
             {L"", L""}}) {
        const CComPtr<IVTranscodeItemData> original = FullItem(source, destination);
        const std::wstring xml = XmlOf(original);
        EXPECT_EQ(xml.find(L'\n'), std::wstring::npos) << "line breaks are written escaped";

        const CComPtr<IVTranscodeItemData> loaded = NewItem();
        ASSERT_TRUE(Load(loaded, xml)) << xml;
        ExpectSameState(original, loaded);
        EXPECT_EQ(XmlOf(loaded), xml);
    }
    const std::wstring xml = XmlOf(FullItem(L"/a & b <c>.mp4", L"/o.mp4"));
    EXPECT_NE(xml.find(L"&amp; b &lt;c"), std::wstring::npos) << xml;

    // Every change shows in the next XML, however often it was asked for before.
    const CComPtr<IVTranscodeItemData> item = FullItem(L"/in.mp4", L"/out.mp4");
    const std::wstring first = XmlOf(item);
    ASSERT_EQ(XmlOf(item), first);
    ASSERT_TRUE(SUCCEEDED(item->SetDestinationPath(BSTR(L"/other.mp4"))));
    EXPECT_NE(XmlOf(item).find(L"/other.mp4"), std::wstring::npos);
    SHORT refused = 0;
    ASSERT_TRUE(SUCCEEDED(item->SetImageSize(-1, 10, &refused)));
    EXPECT_EQ(refused, 1);
    EXPECT_NE(XmlOf(item).find(L"/other.mp4"), std::wstring::npos);
    ASSERT_TRUE(Load(item, first));
    EXPECT_EQ(XmlOf(item), first);
}

TEST_F(TranscodeItemTest, TextThatIsNotOneItemElementIsRefusedAndChangesNothing) {
    const CComPtr<IVTranscodeItemData> item = FullItem(L"/in.mp4", L"/out.mp4");
    const std::wstring before = XmlOf(item);
    const std::wstring good =
        L"<TranscodeItem SourcePath=\"/s.mp4\" DestinationPath=\"/d.mp4\" OutputFormat=\"9\"/>";
    ASSERT_TRUE(Load(NewItem(), good));
    ASSERT_TRUE(Load(NewItem(), L"<?xml version=\"1.0\"?>\n<!-- saved -->\n" + good + L"\n"));

    for (const std::wstring& text : std::vector<std::wstring>{
             L"",
             L"   ",
             L"not xml at all",
             L"<TranscodeItem SourcePath=\"/s.mp4\" DestinationPath=\"/d.mp4\" OutputFormat=\"9\">",
             L"<Other SourcePath=\"/s.mp4\" DestinationPath=\"/d.mp4\" OutputFormat=\"9\"/>",
             good + good,
             good + L"trailing text",
             L"leading text" + good,
             L"<TranscodeItem DestinationPath=\"/d.mp4\" OutputFormat=\"9\"/>",
             L"<TranscodeItem SourcePath=\"/s.mp4\" OutputFormat=\"9\"/>",
             L"<TranscodeItem SourcePath=\"/s.mp4\" DestinationPath=\"/d.mp4\"/>",
             L"<TranscodeItem SourcePath=\"/s.mp4\" DestinationPath=\"/d.mp4\" "
             L"OutputFormat=\"ten\"/>",
             L"<TranscodeItem SourcePath=\"/s.mp4\" DestinationPath=\"/d.mp4\" "
             L"OutputFormat=\"9x\"/>",
             L"<TranscodeItem SourcePath=\"/s.mp4\" DestinationPath=\"/d.mp4\" "
             L"OutputFormat=\"99999999999\"/>",
             L"<TranscodeItem SourcePath=\"/s.mp4\" DestinationPath=\"/d.mp4\" OutputFormat=\"9\" "
             L"VideoWidth=\"-5\"/>",
             L"<TranscodeItem SourcePath=\"/s.mp4\" DestinationPath=\"/d.mp4\" OutputFormat=\"9\" "
             L"FrameRate=\"nan\"/>",
             L"<TranscodeItem SourcePath=\"/s.mp4\" DestinationPath=\"/d.mp4\" OutputFormat=\"9\" "
             L"AudioStreams=\"-1\"/>",
             L"<TranscodeItem SourcePath=\"/s.mp4\" DestinationPath=\"/d.mp4\" OutputFormat=\"9\" "
             L"ImageWidth=\"\"/>",
             L"<TranscodeItem SourcePath=\"/s.mp4\" DestinationPath=\"/d.mp4\" OutputFormat=\"9\" "
             L"ProductCode=\"" +
                 std::wstring(CVTranscodeItem::k_maxXmlLength, L'x') + L"\"/>",
         }) {
        EXPECT_FALSE(Load(item, text)) << text.substr(0, 200);
        EXPECT_EQ(XmlOf(item), before) << text.substr(0, 200);
    }
}

TEST_F(TranscodeItemTest, SettersRefuseUnusableValuesAndCopyFromTakesEverything) {
    const CComPtr<IVTranscodeItemData> item = FullItem(L"/in.mp4", L"/out.mp4");
    const std::wstring before = XmlOf(item);
    SHORT result = 0;
    EXPECT_EQ(item->SetVideoSettings(-320, 240, 25.0, 1, &result), S_OK);
    EXPECT_EQ(result, CVTranscodeItem::k_settingsRefused);
    EXPECT_EQ(item->SetVideoSettings(320, 240, std::nan(""), 1, &result), S_OK);
    EXPECT_EQ(result, CVTranscodeItem::k_settingsRefused);
    EXPECT_EQ(item->SetImageSize(-1, 5, &result), S_OK);
    EXPECT_EQ(result, CVTranscodeItem::k_settingsRefused);
    EXPECT_EQ(item->SetAudioSettings(96000, VARIANT(-2), &result), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(item->SetAudioSettings(96000, VARIANT(L"2"), &result), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(XmlOf(item), before);

    const CComPtr<IVTranscodeItemData> copy = NewItem();
    ASSERT_EQ(copy->CopyFrom(item), S_OK);
    ExpectSameState(copy, item);

    // Late-bound callers initialise it through the item's own dispatch interface.
    CComPtr<IVTranscodeItem> dual;
    ASSERT_EQ(copy.QueryInterface(&dual), S_OK);
    CComDispatchDriver driver(CComPtr<IDispatch>(dual.Get()));
    EXPECT_EQ(driver.Call(L"Initialize", L"/x.wav", L"/y.m4a", 11, L"P1"), VARIANT(int16_t{0}));
    const SVTranscodeItemState state = CVTranscodeItem::ReadState(copy);
    EXPECT_EQ(state.job.source, L"/x.wav");
    EXPECT_EQ(state.job.outputFormat, 11);
    EXPECT_EQ(state.productCode, L"P1");
    EXPECT_EQ(state.job.settings, CVTranscodeItem::ReadState(item).job.settings)
        << "Initialize leaves the settings";
}

// The queue keeps each job's saved element while the item's revision stays the same: every
// change must give a new revision that no other item has, and nothing else may.
TEST_F(TranscodeItemTest, EveryChangeAndOnlyAChangeGivesANewRevision) {
    const CComPtr<IVTranscodeItemData> item = FullItem(L"/in.mp4", L"/out.mp4");
    CComPtr<IVTranscodeItemRevision> counter;
    ASSERT_EQ(item.QueryInterface(&counter), S_OK);
    std::vector<ULONGLONG> seen;
    const auto revision = [&] {
        ULONGLONG value = 0;
        EXPECT_EQ(counter->GetRevision(&value), S_OK);
        return value;
    };
    const auto expectNew = [&](const char* change) {
        const ULONGLONG value = revision();
        EXPECT_EQ(std::count(seen.begin(), seen.end(), value), 0) << change;
        seen.push_back(value);
    };
    expectNew("created");

    SHORT result = 0;
    XmlOf(item);
    CVTranscodeItem::ReadState(item);
    EXPECT_EQ(item->SetImageSize(-1, 5, &result), S_OK);  // refused
    EXPECT_EQ(revision(), seen.back()) << "reading or a refused setting changed the revision";

    const CComPtr<IVTranscodeItemData> other = FullItem(L"/in.mp4", L"/out.mp4");
    CComPtr<IVTranscodeItemRevision> otherCounter;
    ASSERT_EQ(other.QueryInterface(&otherCounter), S_OK);
    ULONGLONG otherRevision = 0;
    ASSERT_EQ(otherCounter->GetRevision(&otherRevision), S_OK);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), otherRevision), 0) << "two items share one";
    seen.push_back(otherRevision);

    EXPECT_EQ(item->SetSourcePath(L"/a.mp4"), S_OK);
    expectNew("SetSourcePath");
    EXPECT_EQ(item->SetDestinationPath(L"/b.mp4"), S_OK);
    expectNew("SetDestinationPath");
    EXPECT_EQ(item->SetOutputFormat(9), S_OK);
    expectNew("SetOutputFormat");
    EXPECT_EQ(item->SetProductCode(L"P2"), S_OK);
    expectNew("SetProductCode");
    EXPECT_EQ(item->SetVideoSettings(176, 144, 15.0, 192000, &result), S_OK);
    expectNew("SetVideoSettings");
    EXPECT_EQ(item->SetAudioSettings(64000, VARIANT::UInt(1), &result), S_OK);
    expectNew("SetAudioSettings");
    EXPECT_EQ(item->SetImageSize(640, 480, &result), S_OK);
    expectNew("SetImageSize");
    EXPECT_TRUE(Load(item, XmlOf(other)));
    expectNew("LoadItemXML");
    EXPECT_EQ(item->CopyFrom(other), S_OK);
    expectNew("CopyFrom");
    CComPtr<IVTranscodeItem> dual;
    ASSERT_EQ(item.QueryInterface(&dual), S_OK);
    EXPECT_EQ(dual->Initialize(L"/x.wav", L"/y.m4a", 11, VARIANT(L"P1"), &result), S_OK);
    expectNew("Initialize");
}
