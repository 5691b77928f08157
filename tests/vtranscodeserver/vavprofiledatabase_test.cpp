// The embedded profile database (resource 201): the fixed tables exactly, and the counts and
// shapes of the generated device entries, read from the bytes built into this program.

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <pugixml.hpp>

#include "qlib/qsys/resourcetable.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qresource.h"

namespace {

class EmbeddedDatabase : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string text =
            qsys::ToUtf8(CQResource::LoadTextResource(qsys::ResourceTable::Process(), 201));
        ASSERT_TRUE(m_document.load_string(text.c_str()));
        for (pugi::xpath_node device : m_document.select_nodes("/profiles/profilemap/mcinfo")) {
            m_devices.push_back(device.node());
        }
    }

    size_t CountDevices(const char* xpath) const {
        size_t count = 0;
        for (pugi::xml_node device : m_devices) {
            count += device.select_node(xpath) ? 1 : 0;
        }
        return count;
    }

    std::set<int> LevelIds(const char* level) const {
        std::set<int> ids;
        for (pugi::xml_node device : m_devices) {
            const std::string path = std::string("video/") + level + "/profile";
            const pugi::xml_node reference = device.select_node(path.c_str()).node();
            EXPECT_STREQ(reference.attribute("mime").value(), "video/mp4");
            ids.insert(reference.attribute("profileid").as_int());
        }
        return ids;
    }

    pugi::xml_document m_document;
    std::vector<pugi::xml_node> m_devices;
};

TEST_F(EmbeddedDatabase, ProfileTableAndDefaultMapAreTheFixedOnes) {
    using Row = std::tuple<int, int, int, int, int, std::string>;
    const std::vector<Row> expected{
        {1, 176, 144, 15, 192000, "mpeg-4"},   {2, 320, 240, 15, 384000, "mpeg-4"},
        {3, 320, 240, 15, 384000, "avc"},      {4, 320, 240, 30, 768000, "avc"},
        {5, 640, 480, 30, 1500000, "avc"},     {6, 320, 240, 15, 192000, "avc"},
        {7, 640, 480, 30, 3000000, "mpeg-4"},  {8, 176, 144, 15, 64000, "avc"},
        {9, 176, 144, 15, 128000, "avc"},      {10, 320, 240, 15, 192000, "mpeg-4"},
        {11, 320, 240, 15, 768000, "avc"},     {12, 320, 240, 30, 4000000, "avc"},
        {13, 640, 480, 30, 8000000, "mpeg-4"}, {14, 320, 240, 30, 3000000, "avc"},
        {15, 640, 480, 30, 6000000, "mpeg-4"}, {16, 320, 240, 30, 2500000, "avc"},
        {17, 800, 480, 30, 5000000, "avc"},    {18, 1280, 720, 30, 8000000, "mpeg-4"},
        {19, 1280, 720, 30, 5000000, "avc"},   {20, 320, 240, 30, 384000, "avc"},
        {21, 176, 144, 15, 96000, "avc"},      {22, 128, 96, 15, 64000, "avc"},
        {23, 128, 96, 15, 96000, "avc"},       {24, 128, 96, 15, 128000, "avc"}};
    std::vector<Row> video;
    for (pugi::xpath_node row :
         m_document.select_nodes("/profiles/profiletable/profileset[@mime='video/mp4']/profile")) {
        const pugi::xml_node p = row.node();
        video.emplace_back(p.attribute("id").as_int(), p.attribute("width").as_int(),
                           p.attribute("height").as_int(), p.attribute("framerate").as_int(),
                           p.attribute("bitrate").as_int(), p.attribute("codec").value());
    }
    EXPECT_EQ(video, expected);

    std::map<int, std::string> audio, image;
    for (pugi::xpath_node row :
         m_document.select_nodes("/profiles/profiletable/profileset[@mime='audio/mp4']/profile")) {
        audio[row.node().attribute("id").as_int()] = row.node().attribute("bitrate").value();
        EXPECT_FALSE(row.node().attribute("audiostreams"));
    }
    for (pugi::xpath_node row :
         m_document.select_nodes("/profiles/profiletable/profileset[@mime='image/jpeg']/profile")) {
        image[row.node().attribute("id").as_int()] =
            std::string(row.node().attribute("width").value()) + "x" +
            row.node().attribute("height").value();
    }
    EXPECT_EQ(audio, (std::map<int, std::string>{{1, "64000"}, {2, "128000"}, {3, "192000"}}));
    EXPECT_EQ(image, (std::map<int, std::string>{{1, "320x240"}, {2, "640x480"}, {3, "0x0"}}));
    EXPECT_EQ(m_document.select_nodes("/profiles/profiletable/profileset").size(), 3u);

    const pugi::xml_node defaults = m_document.select_node("/profiles/profilemap/default").node();
    EXPECT_EQ(defaults, m_document.select_node("/profiles/profilemap/*[1]").node());
    for (auto [category, mime] :
         {std::pair{"video", "video/mp4"}, {"audio", "audio/mp4"}, {"image", "image/jpeg"}}) {
        const pugi::xml_node reference = defaults.child(category).child("profile");
        EXPECT_STREQ(reference.attribute("mime").value(), mime);
        EXPECT_STREQ(reference.attribute("profileid").value(), "1");
    }
}

TEST_F(EmbeddedDatabase, DeviceEntriesHaveTheStatedCountsAndShapes) {
    EXPECT_EQ(m_devices.size(), 239u);
    const std::regex codeForm("[A-Z]{2}-[0-9]{2,3}[a-z]?");
    std::map<std::string, int> occurrences;
    for (pugi::xml_node device : m_devices) {
        const std::string code = device.attribute("productcode").value();
        EXPECT_TRUE(std::regex_match(code, codeForm)) << code;
        ++occurrences[code];
    }
    EXPECT_EQ(occurrences.size(), 237u);
    EXPECT_EQ(std::count_if(occurrences.begin(), occurrences.end(),
                            [](const auto& entry) { return entry.second == 2; }),
              2);

    EXPECT_EQ(CountDevices("video[low and medium and high and support]"), 239u);
    EXPECT_EQ(CountDevices("audio[support and not(low|medium|high)]"), 209u);
    EXPECT_EQ(CountDevices("image[low and medium and high and support]"), 146u);
    EXPECT_EQ(CountDevices("image[count(*) = 1 and profile]"), 63u);
    EXPECT_EQ(CountDevices("self::*[count(*) = 1 and video]"), 30u);
    EXPECT_EQ(CountDevices("*[not(self::video or self::audio or self::image)]"), 0u);
    EXPECT_EQ(CountDevices("audio[not(support/type[@mime='audio/mp4'])]"), 0u);
    EXPECT_EQ(CountDevices(".//equal | .//min"), 0u);
    EXPECT_EQ(CountDevices("video/support/type[@mime='video/x-ms-wmv']"), 163u);
    EXPECT_EQ(CountDevices("video/support[not(type[@mime='video/mp4']) or "
                           "not(type[@mime='video/3gpp']) or "
                           "not(type[@mime='video/vnd.rn-realvideo'])]"),
              0u);
    EXPECT_EQ(CountDevices("video/support/type[@mime='video/vnd.rn-realvideo' and *]"), 0u);
    EXPECT_EQ(CountDevices(".//max[@width=640 and @height=640]"), 2u);
}

TEST_F(EmbeddedDatabase, LimitsAndLevelsUseTheStatedValues) {
    std::set<std::string> sizes, framerates;
    for (pugi::xpath_node type : m_document.select_nodes("//video/support/type")) {
        const std::string mime = type.node().attribute("mime").value();
        for (pugi::xml_node limit : type.node().children()) {
            ASSERT_STREQ(limit.name(), "limit");
            const pugi::xml_node max = limit.child("max");
            ASSERT_EQ(std::distance(limit.begin(), limit.end()), 1);
            const std::string codec = limit.attribute("codec").value();
            sizes.insert(std::string(max.attribute("width").value()) + "x" +
                         max.attribute("height").value());
            framerates.insert(max.attribute("framerate").value());
            if (mime == "video/x-ms-wmv") {
                EXPECT_EQ(codec, "WMV3");
                EXPECT_STREQ(max.attribute("width").value(), "320");
                EXPECT_STREQ(max.attribute("height").value(), "240");
                EXPECT_STREQ(max.attribute("framerate").value(), "30");
                EXPECT_FALSE(max.attribute("audiostreams"));
            } else {
                EXPECT_TRUE(mime == "video/mp4" || mime == "video/3gpp") << mime;
                EXPECT_TRUE(codec == "mpeg-4" || codec == "avc") << codec;
                EXPECT_STREQ(max.attribute("audiostreams").value(), "1");
            }
        }
    }
    EXPECT_EQ(sizes, (std::set<std::string>{"128x96", "176x144", "320x240", "352x288", "640x480",
                                            "640x640", "1280x720"}));
    EXPECT_EQ(framerates, (std::set<std::string>{"15", "20", "30"}));

    EXPECT_EQ(LevelIds("low"), (std::set<int>{1, 3, 4, 6, 8, 9, 11, 20, 22}));
    EXPECT_EQ(LevelIds("medium"), (std::set<int>{1, 3, 4, 6, 9, 11, 12, 14, 16, 23}));
    EXPECT_EQ(LevelIds("high"), (std::set<int>{1, 2, 3, 4, 5, 7, 9, 10, 15, 18, 19, 20, 24}));
    for (pugi::xpath_node image : m_document.select_nodes("//mcinfo/image[low]")) {
        int expectedId = 1;
        for (const char* level : {"low", "medium", "high"}) {
            const pugi::xml_node reference = image.node().child(level).child("profile");
            EXPECT_STREQ(reference.attribute("mime").value(), "image/jpeg");
            EXPECT_EQ(reference.attribute("profileid").as_int(), expectedId++);
        }
    }

    const std::set<std::string> audioTypes{
        "audio/mpeg",           "audio/aac", "audio/mp4",     "audio/amr",
        "audio/x-pn-realaudio", "audio/wav", "audio/x-ms-wma"};
    for (pugi::xpath_node type : m_document.select_nodes("//mcinfo/audio/support/type")) {
        EXPECT_EQ(audioTypes.count(type.node().attribute("mime").value()), 1u);
    }
    const std::set<std::string> imageTypes{"image/jpeg", "image/gif", "image/bmp", "image/png"};
    for (pugi::xpath_node type : m_document.select_nodes("//mcinfo/image/support/type")) {
        EXPECT_EQ(imageTypes.count(type.node().attribute("mime").value()), 1u);
    }
}

TEST_F(EmbeddedDatabase, HoldsTheEntryDescribedInFull) {
    const char* described =
        "video[low/profile[@mime='video/mp4' and @profileid=1] and "
        "medium/profile[@mime='video/mp4' and @profileid=1] and "
        "high/profile[@mime='video/mp4' and @profileid=1] and count(support/type) = 3 and "
        "support/type[1][@mime='video/mp4' and count(limit) = 1 and "
        "limit[@codec='mpeg-4']/max[@width=352 and @height=288 and @framerate=15 and "
        "@audiostreams=1]] and support/type[2][@mime='video/3gpp' and not(*)] and "
        "support/type[3][@mime='video/vnd.rn-realvideo' and not(*)]] and "
        "audio[count(support/type) = 6 and support/type[1]/@mime='audio/mpeg' and "
        "support/type[2]/@mime='audio/aac' and support/type[3]/@mime='audio/mp4' and "
        "support/type[4]/@mime='audio/amr' and support/type[5]/@mime='audio/x-pn-realaudio' and "
        "support/type[6]/@mime='audio/wav'] and "
        "image[count(support/type) = 4 and support/type[1]/@mime='image/jpeg' and "
        "support/type[2]/@mime='image/gif' and support/type[3]/@mime='image/bmp' and "
        "support/type[4]/@mime='image/png' and low/profile/@profileid=1 and "
        "medium/profile/@profileid=2 and high/profile/@profileid=3]";
    EXPECT_EQ(CountDevices((std::string("self::*[") + described + "]").c_str()), 1u);
}

}  // namespace
