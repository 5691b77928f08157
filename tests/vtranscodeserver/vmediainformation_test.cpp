// The extension and MIME table and the three questions about a file: MIME type by name, the
// transcoder's description, copy protection.

#include "vtranscodeserver/vmediainformation.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "qlib/qutilitylib/qexception.h"
#include "tests/qlib/qutilitylib/filetestsupport.h"
#include "tests/vtranscodeserver/vmediatestobjects.h"
#include "vtranscoder/vtranscodeutils.h"

namespace {

using vprofiles::test::CScriptedTranscoder;
using vprofiles::test::MakeItem;

TEST(CVTranscodeUtils, TableAnswersTheFirstMatchIgnoringCase) {
    const std::pair<const wchar_t*, const wchar_t*> byExtension[] = {
        {L".MP4", L"video/mp4"},
        {L".m4a", L"audio/mp4"},
        {L".Ogg", L"audio/ogg"},
        {L".oga", L"audio/ogg"},
        {L".ogv", L"video/ogg"},
        {L".dvr-ms", L"video/x-ms-dvr"},
        {L".tiff", L"image/tiff"},
        {L".gz", L"application/octet-stream"},
        {L"", L"application/octet-stream"},
        {L"mp4", L"application/octet-stream"},
    };
    for (auto [extension, mime] : byExtension) {
        EXPECT_EQ(CVTranscodeUtils::GetMIMETypeFromExtension(extension), mime);
    }
    const std::pair<const wchar_t*, const wchar_t*> byMime[] = {
        {L"AUDIO/WAV", L".wav"},   {L"audio/m4a", L".m4a"},           {L"audio/mp4", L".m4a"},
        {L"video/mpeg", L".mpg"},  {L"video/3gpp", L".3gp"},          {L"audio/x-ogg", L".ogg"},
        {L"video/x-ogg", L".ogv"}, {L"audio/x-pn-realaudio", L".rm"}, {L"image/jpeg", L".jpg"},
        {L"image/tiff", L".tif"},  {L"video/unknown", L""},           {L"", L""},
    };
    for (auto [mime, extension] : byMime) {
        EXPECT_EQ(CVTranscodeUtils::GetExtensionFromMIMEType(mime), extension);
    }
    // 48 rows, 44 distinct extensions: four of them stand twice.
    const auto table = CVTranscodeUtils::GetMIMETable();
    std::set<std::wstring> extensions;
    for (const SVMimeTypeEntry& entry : table) {
        extensions.insert(std::wstring(entry.extension));
    }
    EXPECT_EQ(table.size(), 48u);
    EXPECT_EQ(extensions.size(), 44u);
}

TEST(CVMediaInformation, MimeTypeComesFromTheFileNameAlone) {
    EXPECT_EQ(CVMediaInformation::GetMIME(L"/no/such/folder/clip.MP4"), L"video/mp4");
    EXPECT_EQ(CVMediaInformation::GetMIME(L"C:\\music\\song.m4a"), L"audio/mp4");
    EXPECT_EQ(CVMediaInformation::GetMIME(L"/data/archive.tar.gz"), L"application/octet-stream");
    EXPECT_EQ(CVMediaInformation::GetMIME(L"/media/clips.mp4/readme"), L"application/octet-stream");
    EXPECT_EQ(CVMediaInformation::GetMIME(L"C:\\a.mp3\\noextension"), L"application/octet-stream");
    EXPECT_EQ(CVMediaInformation::GetMIME(L"/home/u/.png"), L"application/octet-stream");
}

TEST(CVMediaInformation, FileInfoComesFromAFreshTranscoder) {
    const CComClassRegistration transcoder = CScriptedTranscoder::Register();
    const CComPtr<IVItem> described = MakeItem(L"Video", {});
    CScriptedTranscoder::Script().fileInfo[L"/media/a.mp4"] = described;
    EXPECT_EQ(CVMediaInformation::GetFileInfo(L"/media/a.mp4").Get(), described.Get());
    EXPECT_EQ(CVMediaInformation::GetFileInfo(L"/media/a.mp4").Get(), described.Get());
    EXPECT_EQ(CScriptedTranscoder::Script().created, 2);
    const std::optional<CQException> failed =
        qutilitylib::test::Raised([] { CVMediaInformation::GetFileInfo(L"/media/b.mp4"); });
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->GetHResult(), E_FAIL);
}

TEST(CVMediaInformation, MissingFilesAreNotProtected) {
    EXPECT_FALSE(CVMediaInformation::IsDRM(L"/no/such/file.wmv"));
    EXPECT_FALSE(CVMediaInformation::IsDRM(L""));
}

}  // namespace
