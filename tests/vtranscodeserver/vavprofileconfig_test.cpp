// Profile lookups on the embedded database as a golden table (device x category x output format
// -> profile record or none), and the life of a configured database file: registry value,
// edits picked up by the next lookup, a broken edit, a file that appears later.

#include "vtranscodeserver/vavprofileconfig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "components/vitemslib/vitemslib.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qexception.h"
#include "qlib/qutilitylib/qfileutilities.h"
#include "qlib/qutilitylib/qregistry.h"
#include "tests/qlib/qsys/testsupport.h"
#include "tests/qlib/qutilitylib/filetestsupport.h"
#include "tests/vtranscodeserver/vmediatestobjects.h"

namespace {

using qutilitylib::test::Raised;
using qutilitylib::test::RealEntries;
using vprofiles::test::RaisedCode;

constexpr LONG k_video = CVAVProfileConfig::k_categoryVideo;
constexpr LONG k_audio = CVAVProfileConfig::k_categoryAudio;
constexpr LONG k_image = CVAVProfileConfig::k_categoryImage;

AVProfile Video(uint32_t width, uint32_t height, double framerate, uint32_t bitrate,
                const wchar_t* codec) {
    return AVProfile{L"video/mp4", width, height, framerate, bitrate, codec, 1};
}
AVProfile Audio(uint32_t bitrate) {
    return AVProfile{L"audio/mp4", 0, 0, 0.0, bitrate, L"", 1};
}
AVProfile Image(uint32_t width, uint32_t height) {
    return AVProfile{L"image/jpeg", width, height, 0.0, 0, L"", 1};
}

struct SProfileCase {
    const wchar_t* productCode;
    LONG category;
    LONG outputFormat;
    std::optional<AVProfile> expected;
};

TEST(CVAVProfileConfig, EmbeddedDatabaseLookups) {
    const SProfileCase cases[] = {
        // Known device, each level; the product code compares ignoring case.
        {L"KA-320", k_video, 6, Video(176, 144, 15, 64000, L"avc")},
        {L"ka-320", k_video, 7, Video(320, 240, 30, 4000000, L"avc")},
        {L"Ka-320", k_video, 8, Video(1280, 720, 30, 5000000, L"avc")},
        {L"KC-07A", k_video, 8, Video(128, 96, 15, 128000, L"avc")},
        // The category comes from the argument, the level from the code alone.
        {L"KA-320", k_video, 21, Video(1280, 720, 30, 5000000, L"avc")},
        {L"KA-320", k_image, 19, Image(320, 240)},
        {L"KA-320", k_image, 21, Image(0, 0)},
        {L"KA-320", k_image, 8, Image(0, 0)},
        // Known device without the category or the level: no fall-back to the default map.
        {L"KA-320", k_audio, 23, std::nullopt},
        {L"KC-07a", k_audio, 22, std::nullopt},
        {L"KC-07a", k_image, 19, std::nullopt},
        {L"KB-41", k_image, 19, std::nullopt},
        {L"KB-41", k_image, 20, std::nullopt},
        {L"KB-41", k_image, 21, std::nullopt},
        // A code listed twice: the first entry wins (its high profile is 5, the second's 18).
        {L"KD-100", k_video, 8, Video(640, 480, 30, 1500000, L"avc")},
        {L"KA-320", k_video, 6, Video(176, 144, 15, 64000, L"avc")},
        // Unknown devices get the default map's profile of the category at every level.
        {L"ZZ-999", k_video, 6, Video(176, 144, 15, 192000, L"mpeg-4")},
        {L"", k_video, 8, Video(176, 144, 15, 192000, L"mpeg-4")},
        {L"KA-32", k_audio, 24, Audio(64000)},
        {L"ZZ-999", k_image, 20, Image(320, 240)},
        // Output formats that are not profile-based.
        {L"KA-320", k_video, 9, std::nullopt},
        {L"ZZ-999", k_video, 1, std::nullopt},
        {L"ZZ-999", k_audio, 25, std::nullopt},
        {L"ZZ-999", 7, 9, std::nullopt},
    };
    CVAVProfileConfig config;
    config.Load(L"");
    for (const SProfileCase& entry : cases) {
        AVProfile profile;
        const bool found =
            config.GetAVProfile(entry.productCode, entry.category, entry.outputFormat, profile);
        SCOPED_TRACE(testing::Message() << qsys::ToUtf8(entry.productCode) << " category "
                                        << entry.category << " format " << entry.outputFormat);
        EXPECT_EQ(found, entry.expected.has_value());
        EXPECT_EQ(profile, entry.expected.value_or(AVProfile{}));
    }
}

TEST(CVAVProfileConfig, RaisesForAnUnknownCategoryAndWithoutDocument) {
    CVAVProfileConfig config;
    AVProfile profile;
    EXPECT_EQ(RaisedCode([&] { config.GetAVProfile(L"KA-320", k_video, 6, profile); }),
              QERR_UNDEFINED);
    EXPECT_EQ(RaisedCode([&] { config.GetMCInfoElem(L"KA-320"); }), QERR_UNDEFINED);
    EXPECT_EQ(RaisedCode([&] { config.GetProfile(SVProfileNode{}, "/profiles"); }), QERR_UNDEFINED);
    EXPECT_FALSE(config.GetProfile(L"video/mp4", L"1"));

    config.Load(L"");
    EXPECT_EQ(RaisedCode([&] { config.GetAVProfile(L"KA-320", 0, 6, profile); }),
              QERR_INVALID_PARAMETER);
    EXPECT_EQ(RaisedCode([&] { config.GetAVProfile(L"ZZ-999", 4, 24, profile); }),
              QERR_INVALID_PARAMETER);
}

TEST(CVAVProfileConfig, ProfileRowsMatchMimeAndIdExactly) {
    CVAVProfileConfig config;
    config.Load(L"");
    const SVProfileNode row = config.GetProfile(L"video/mp4", L"17");
    ASSERT_TRUE(row);
    EXPECT_STREQ(row.node.attribute("width").value(), "800");
    EXPECT_FALSE(config.GetProfile(L"VIDEO/MP4", L"17"));
    EXPECT_FALSE(config.GetProfile(L"video/mp4", L"017"));
    EXPECT_FALSE(config.GetProfile(L"video/mp4", L""));
    EXPECT_FALSE(config.GetProfile(L"", L"1"));
    EXPECT_FALSE(config.GetProfile(L"audio/mp4", L"4"));

    // A reference missing "profileid" gives no profile.
    const SVProfileNode device = config.GetMCInfoElem(L"kb-41");
    ASSERT_TRUE(device);
    EXPECT_STREQ(device.node.attribute("productcode").value(), "KB-41");
    EXPECT_TRUE(config.GetProfile(device, "image"));
    EXPECT_FALSE(config.GetProfile(device, "image/low"));
    EXPECT_FALSE(config.GetMCInfoElem(L"KB-4"));
}

// A small database written to a file: video/mp4 profile 1 at the given width; a device "AB-10"
// whose low video profile is that one.
std::wstring SmallDatabase(int width) {
    return L"<?xml version=\"1.0\"?><profiles><profiletable>"
           L"<profileset mime=\"video/mp4\"><profile id=\"1\" width=\"" +
           std::to_wstring(width) +
           L"\" height=\"96\" framerate=\"29.97\" bitrate=\"9\" codec=\"avc\" "
           L"audiostreams=\"2\"/></profileset></profiletable><profilemap><default/>"
           L"<mcinfo productcode=\"AB-10\"><video><low><profile mime=\"video/mp4\" "
           L"profileid=\"1\"/></low></video></mcinfo></profilemap></profiles>";
}

class ConfiguredFile : public ::testing::Test {
protected:
    uint32_t LowWidth() {
        AVProfile profile;
        EXPECT_TRUE(m_config.GetAVProfile(L"AB-10", k_video, 6, profile));
        return profile.width;
    }
    void Write(const std::wstring& text, EQTextEncoding encoding = EQTextEncoding_Utf8) {
        CQFileUtilities::WriteTextFile(m_file, text, false, encoding);
    }

    qutilitylib::test::FileTestFolder m_folder;
    qsys::test::ScopedEnvironment m_registry{"ZELTO_REGISTRY_DIR", m_folder.Native(L"registry")};
    std::wstring m_file = m_folder.Wide(L"profiles.xml");
    CVAVProfileConfig m_config;
};

TEST_F(ConfiguredFile, NameComesFromTheMachineRegistryValue) {
    EXPECT_EQ(CVAVProfileConfig::ReadConfiguredFileName(), L"");
    CQRegistry::SetValue(CVAVProfileConfig::k_registryKey, L"AVConfigFile", m_file);
    EXPECT_EQ(CVAVProfileConfig::ReadConfiguredFileName(), m_file);

    Write(SmallDatabase(100), EQTextEncoding_Utf16LE);
    m_config.Load(CVAVProfileConfig::ReadConfiguredFileName());
    EXPECT_EQ(m_config.GetFileName(), m_file);
    AVProfile profile;
    ASSERT_TRUE(m_config.GetAVProfile(L"ab-10", k_video, 6, profile));
    EXPECT_EQ(profile, (AVProfile{L"video/mp4", 100, 96, 29.97, 9, L"avc", 2}));
}

TEST_F(ConfiguredFile, EditsAreLoadedByTheNextLookup) {
    Write(SmallDatabase(100));
    m_config.Load(m_file);
    EXPECT_EQ(LowWidth(), 100u);

    // Rewritten within the same second: still seen.
    Write(SmallDatabase(200));
    EXPECT_EQ(LowWidth(), 200u);

    // A broken edit raises, leaves no document, and keeps raising until it is mended.
    Write(L"<profiles><profiletable>");
    AVProfile profile;
    const std::optional<CQException> broken =
        Raised([&] { m_config.GetAVProfile(L"AB-10", k_video, 6, profile); });
    ASSERT_TRUE(broken);
    EXPECT_EQ(RealEntries(*broken).back().code, QERR_INVALID_STRING_FORMAT);
    EXPECT_EQ(RealEntries(*broken).back().description, L"Invalid string format.");
    EXPECT_FALSE(m_config.IsLoaded());
    EXPECT_EQ(RaisedCode([&] { m_config.GetMCInfoElem(L"AB-10"); }), QERR_UNDEFINED);
    EXPECT_EQ(RaisedCode([&] { m_config.GetAVProfile(L"AB-10", k_video, 6, profile); }),
              QERR_INVALID_STRING_FORMAT);

    Write(SmallDatabase(300));
    EXPECT_EQ(LowWidth(), 300u);
    // Lookups other than GetAVProfile do not refresh.
    Write(L"not xml");
    EXPECT_TRUE(m_config.GetMCInfoElem(L"AB-10"));
}

TEST_F(ConfiguredFile, NodesHandedOutOutliveAReplacedDocument) {
    Write(SmallDatabase(100));
    m_config.Load(m_file);
    const SVProfileNode row = m_config.GetProfile(L"video/mp4", L"1");
    Write(SmallDatabase(200));
    EXPECT_EQ(LowWidth(), 200u);
    m_config.LoadAVProfileXML(L"<profiles/>");
    ASSERT_TRUE(row);
    EXPECT_STREQ(row.node.attribute("width").value(), "100");
}

TEST_F(ConfiguredFile, AMissingFileKeepsTheDocumentUntilItAppears) {
    m_config.Load(L"");
    m_config.Load(m_file);
    EXPECT_EQ(m_config.GetFileName(), m_file);
    AVProfile profile;
    ASSERT_TRUE(m_config.GetAVProfile(L"KA-320", k_video, 6, profile));
    EXPECT_EQ(profile.bitrate, 64000u);

    Write(SmallDatabase(400));
    EXPECT_EQ(LowWidth(), 400u);
    // Without any document, a missing file leaves none.
    CVAVProfileConfig fresh;
    fresh.Load(m_folder.Wide(L"absent.xml"));
    EXPECT_FALSE(fresh.IsLoaded());
}

TEST_F(ConfiguredFile, LookupsOnOtherThreadsSeeWholeDocumentsWhileTheFileChanges) {
    Write(SmallDatabase(100));
    m_config.Load(m_file);
    std::atomic<bool> stop{false};
    std::atomic<int> lookups{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&] {
            while (!stop) {
                AVProfile profile;
                if (!m_config.GetAVProfile(L"AB-10", k_video, 6, profile) ||
                    (profile.width != 100 && profile.width != 200)) {
                    ADD_FAILURE() << "width " << profile.width;
                }
                ++lookups;
            }
        });
    }
    for (int edit = 0; edit < 60; ++edit) {
        Write(SmallDatabase(edit % 2 == 0 ? 200 : 100));
        if (edit % 10 == 0) {
            m_config.LoadAVProfileXML(SmallDatabase(100));
        }
    }
    stop = true;
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_GT(lookups.load(), 0);
    EXPECT_EQ(LowWidth(), 100u);
}

TEST(CVAVProfileConfig, ProfileItemCarriesTheRowsAttributes) {
    CVItemsLib::RegisterClasses();
    CQCOMClassFactory items(CLSID_VItem, k_itemDisplayName);
    CVAVProfileConfig config;
    config.Load(L"");
    const CComPtr<IVItem> item = config.GetProfileItem(L"video/mp4", L"17", items);
    ASSERT_NE(item, nullptr);
    CComPtr<IVProperties> properties;
    ASSERT_EQ(item->GetProperties(&properties), S_OK);
    LONG count = 0;
    ASSERT_EQ(properties->GetCount(&count), S_OK);
    EXPECT_EQ(count, 7);
    const std::pair<const wchar_t*, const wchar_t*> expected[] = {
        {L"mime", L"video/mp4"}, {L"id", L"17"},           {L"width", L"800"}, {L"height", L"480"},
        {L"framerate", L"30"},   {L"bitrate", L"5000000"}, {L"codec", L"avc"}};
    for (auto [name, text] : expected) {
        VARIANT value;
        ASSERT_EQ(properties->GetValue(name, k_transcodeNamespace, &value), S_OK);
        EXPECT_EQ(value, VARIANT(text)) << qsys::ToUtf8(name);
    }
    EXPECT_EQ(config.GetProfileItem(L"video/mp4", L"25", items), nullptr);
    EXPECT_EQ(config.GetProfileItem(L"Video/mp4", L"17", items), nullptr);
}

TEST(CVProfileValue, ReadsAttributeNumbersLeniently) {
    CVAVProfileConfig config;
    config.LoadAVProfileXML(
        L"<profiles><profiletable><profileset mime=\"video/mp4\">"
        L"<profile id=\"1\" width=\" +320px\" height=\"-5\" framerate=\"abc\" "
        L"bitrate=\"99999999999\" codec=\"\"/></profileset></profiletable>"
        L"<profilemap><default><video><profile mime=\"video/mp4\" profileid=\"1\"/></video>"
        L"</default></profilemap></profiles>");
    AVProfile profile;
    profile.codec = L"kept?";
    ASSERT_TRUE(config.GetAVProfile(L"X", k_video, 7, profile));
    EXPECT_EQ(profile, (AVProfile{L"video/mp4", 320, 0, 0.0, 0xFFFFFFFFu, L"", 1}));
}

}  // namespace
