#include "qlib/qsys/registryfileformat.h"

#include <gtest/gtest.h>

#include "qlib/qsys/registryformaterror.h"

namespace qsys {
namespace {

RegistryKeyNode Parse(std::string_view text) {
    return RegistryFileFormat::Parse(text, L"HKEY_CURRENT_USER", "test.reg");
}

RegistryKeyNode SampleTree() {
    RegistryKeyNode root(L"HKEY_CURRENT_USER");
    RegistryKeyNode& key = *root.Create(std::vector<std::wstring>{L"Software", L"Zelto"}).first;
    key.SetValue(L"", RegistryValue::FromString(L"default"));
    key.SetValue(L"Quote \"and\" back\\slash", RegistryValue::FromString(L"C:\\Temp\\\"x\""));
    key.SetValue(L"Level", RegistryValue::FromDWord(0xA0B0C0D));
    key.SetValue(L"Path", RegistryValue::FromString(L"%TMP%", RegistryType::ExpandString));
    key.SetValue(L"List", RegistryValue::FromMultiString({L"a", L"b"}));
    key.SetValue(L"Blob", RegistryValue::FromBinary(std::vector<uint8_t>(100, 0xAB)));
    key.SetValue(L"Wide \u00e9\U0001F600", RegistryValue::FromString(L"\u4e2d\u6587"));
    key.SetValue(L"Two lines", RegistryValue::FromString(L"one\ntwo"));
    key.SetValue(L"Quad", RegistryValue(RegistryType::QWord, {1, 2, 3, 4, 5, 6, 7, 8}));
    key.SetValue(L"Short dword", RegistryValue(RegistryType::DWord, {1, 2}));
    root.Create(std::vector<std::wstring>{L"Empty key"});
    return root;
}

void ExpectSameTree(const RegistryKeyNode& expected, const RegistryKeyNode& actual) {
    EXPECT_EQ(expected.Name(), actual.Name());
    ASSERT_EQ(expected.Values().size(), actual.Values().size()) << "in " << actual.Name().size();
    for (size_t i = 0; i < expected.Values().size(); ++i) {
        EXPECT_EQ(expected.Values()[i].name, actual.Values()[i].name);
        EXPECT_EQ(expected.Values()[i].value, actual.Values()[i].value);
    }
    ASSERT_EQ(expected.SubKeys().size(), actual.SubKeys().size());
    for (size_t i = 0; i < expected.SubKeys().size(); ++i) {
        ExpectSameTree(*expected.SubKeys()[i], *actual.SubKeys()[i]);
    }
}

TEST(RegistryFileFormat, EveryValueTypeSurvivesARoundTrip) {
    const RegistryKeyNode tree = SampleTree();
    const std::string text = RegistryFileFormat::Write(tree);
    ExpectSameTree(tree, Parse(text));
    EXPECT_EQ(RegistryFileFormat::Write(Parse(text)), text);
}

TEST(RegistryFileFormat, WritesTheFormTheRegistryEditorWrites) {
    const std::string text = RegistryFileFormat::Write(SampleTree());
    EXPECT_TRUE(
        text.starts_with("REGEDIT4\n\n[HKEY_CURRENT_USER]\n\n[HKEY_CURRENT_USER\\Empty key]\n"));
    EXPECT_NE(text.find("\n[HKEY_CURRENT_USER\\Software\\Zelto]\n@=\"default\"\n"),
              std::string::npos);
    EXPECT_NE(text.find("\n\"Quote \\\"and\\\" back\\\\slash\"=\"C:\\\\Temp\\\\\\\"x\\\"\"\n"),
              std::string::npos);
    EXPECT_NE(text.find("\n\"Level\"=dword:0a0b0c0d\n"), std::string::npos);
    EXPECT_NE(text.find("\n\"Path\"=hex(2):25,00,54,00,4d,00,50,00,25,00,00,00\n"),
              std::string::npos);
    EXPECT_NE(text.find("\n\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"), std::string::npos);
    EXPECT_NE(text.find("\n\"Two lines\"=hex(1):6f,00,6e,00,65,00,0a,00,74,00,77,00,6f,00,00,00\n"),
              std::string::npos);
    EXPECT_NE(text.find("\n\"Quad\"=hex(b):01,02,03,04,05,06,07,08\n"), std::string::npos);
    EXPECT_NE(text.find("\n\"Short dword\"=hex(4):01,02\n"), std::string::npos);
    EXPECT_NE(text.find("\n\"Wide \xC3\xA9\xF0\x9F\x98\x80\"=\"\xE4\xB8\xAD\xE6\x96\x87\"\n"),
              std::string::npos);
    EXPECT_NE(text.find("\"Blob\"=hex:ab,ab,"), std::string::npos);
    size_t lineStart = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', lineStart)) {
        EXPECT_LE(end - lineStart, 80u) << text.substr(lineStart, end - lineStart);
        lineStart = end + 1;
    }
}

TEST(RegistryFileFormat, ReadsEditorFilesWithMarksCommentsContinuationsAndMixedCase) {
    const RegistryKeyNode tree = Parse(
        "\xEF\xBB\xBFREGEDIT4\r\n"
        "; exported by hand\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Zelto]\r\n"
        "\"Name\"=\"first\"\r\n"
        "\"Data\" = hex:01,02,\\\r\n"
        "  03,04\r\n"
        "\r\n"
        "[hkey_current_user\\SOFTWARE\\zelto\\Sub]\r\n"
        "\"Count\"=dword:1f\r\n"
        "[HKEY_CURRENT_USER\\software\\ZELTO]\r\n"
        "\"NAME\"=\"second\"\r\n");
    const RegistryKeyNode* key = tree.Find(std::vector<std::wstring>{L"software", L"zelto"});
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->Name(), L"Zelto") << "the first spelling is kept";
    ASSERT_EQ(key->Values().size(), 2u);
    EXPECT_EQ(key->Values()[0].name, L"Name");
    EXPECT_EQ(key->Values()[0].value.AsString(), L"second");
    EXPECT_EQ(key->Values()[1].value, RegistryValue::FromBinary({1, 2, 3, 4}));
    const RegistryKeyNode* sub = key->Find(std::vector<std::wstring>{L"SUB"});
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->FindValue(L"count")->AsDWord(), 0x1Fu);
}

TEST(RegistryFileFormat, AnEmptyFileIsAnEmptyHive) {
    const RegistryKeyNode tree = Parse("\n  \n");
    EXPECT_TRUE(tree.Values().empty());
    EXPECT_TRUE(tree.SubKeys().empty());
}

TEST(RegistryFileFormat, MalformedLinesAreReportedWithTheirLineNumber) {
    struct Case {
        const char* text;
        int line;
    };
    const Case cases[] = {
        {"Windows Registry Editor Version 5.00\n", 1},
        {"REGEDIT4\n\n\"a\"=\"b\"\n", 3},
        {"REGEDIT4\n[HKEY_CURRENT_USER]\n\"a\"=\"b\\n\"\n", 3},
        {"REGEDIT4\n[HKEY_CURRENT_USER]\n\"a\"=\"b\n", 3},
        {"REGEDIT4\n[HKEY_CURRENT_USER]\n\"a\"=\"b\" x\n", 3},
        {"REGEDIT4\n[HKEY_CURRENT_USER]\n\"a\" \"b\"\n", 3},
        {"REGEDIT4\n[HKEY_CURRENT_USER]\na=\"b\"\n", 3},
        {"REGEDIT4\n[HKEY_CURRENT_USER]\n\"a\"=dword:123456789\n", 3},
        {"REGEDIT4\n[HKEY_CURRENT_USER]\n\"a\"=dword:\n", 3},
        {"REGEDIT4\n[HKEY_CURRENT_USER]\n\"a\"=hex:01,zz\n", 3},
        {"REGEDIT4\n[HKEY_CURRENT_USER]\n\"a\"=hex:01,,02\n", 3},
        {"REGEDIT4\n[HKEY_CURRENT_USER]\n\"a\"=hex:100\n", 3},
        {"REGEDIT4\n[HKEY_CURRENT_USER]\n\"a\"=hex(q):00\n", 3},
        {"REGEDIT4\n[HKEY_CURRENT_USER]\n\"a\"=hex:01,\\\n", 3},
        {"REGEDIT4\n[HKEY_CURRENT_USER]\n\"a\"=hex:01,\\\n  02,\\\n  0g\n", 5},
        {"REGEDIT4\n[HKEY_CURRENT_USER]\n\"a\"=-\n", 3},
        {"REGEDIT4\n[HKEY_CURRENT_USER]\n\"a\"=unknown\n", 3},
        {"REGEDIT4\n[-HKEY_CURRENT_USER\\X]\n", 2},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n", 2},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\X\n", 2},
        {"REGEDIT4\n\n[HKEY_CURRENT_USER]\n\"\xC3\x28\"=\"b\"\n", 4},
    };
    for (const Case& c : cases) {
        try {
            Parse(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const RegistryFormatError& error) {
            EXPECT_EQ(error.Line(), c.line) << c.text << "\n" << error.what();
            EXPECT_EQ(error.File(), "test.reg");
            EXPECT_EQ(error.code().value(), EBADMSG);
            EXPECT_TRUE(
                std::string(error.what()).starts_with("test.reg:" + std::to_string(c.line) + ": "));
        }
    }
}

TEST(RegistryFileFormat, NamesThatCannotBeWrittenAreRecognised) {
    EXPECT_TRUE(RegistryFileFormat::IsValidValueName(L"a\\b/c \"d\" ]"));
    EXPECT_FALSE(RegistryFileFormat::IsValidValueName(L"a\nb"));
    EXPECT_FALSE(RegistryFileFormat::IsValidValueName(std::wstring(L"a\0b", 3)));
    EXPECT_TRUE(RegistryFileFormat::IsValidKeyName(L"a]b"));
    EXPECT_FALSE(RegistryFileFormat::IsValidKeyName(L"a/b"));
    EXPECT_FALSE(RegistryFileFormat::IsValidKeyName(L""));
}

}  // namespace
}  // namespace qsys
