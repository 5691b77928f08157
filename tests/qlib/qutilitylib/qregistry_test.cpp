// CQRegistry: roots, defaults for missing keys, missing values and wrong types, the errors of
// reads and writes with their context, and a hive file broken by hand.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "qlib/qcom/hresult.h"
#include "qlib/qsys/registrykey.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qregistry.h"
#include "tests/qlib/qutilitylib/filetestsupport.h"
#include "tests/qlib/qutilitylib/logtestsupport.h"

using qutilitylib::test::FileTestFolder;
using qutilitylib::test::Raised;
using qutilitylib::test::RealEntries;
using qutilitylib::test::ScopedEnvironment;

namespace {

constexpr const wchar_t* k_key = L"HKEY_CURRENT_USER\\Software\\Zelto\\RegistryTest";

// Every hive in a folder of the test's own.
class CQRegistryTest : public testing::Test {
protected:
    FileTestFolder m_folder;
    ScopedEnvironment m_registry{"ZELTO_REGISTRY_DIR", qsys::ToUtf8(m_folder.Path())};
};

}  // namespace

TEST_F(CQRegistryTest, RegOpenRegKeyOpensOnlyUnderARootKey) {
    EXPECT_FALSE(CQRegistry::RegOpenRegKey(L"HKEY_NOWHERE\\Software", false, true, true));
    EXPECT_FALSE(CQRegistry::RegOpenRegKey(L"Software\\Zelto", false, true, true));

    const auto missing = Raised([] { CQRegistry::RegOpenRegKey(k_key, true, false, false); });
    ASSERT_TRUE(missing.has_value());
    const auto entries = RealEntries(*missing);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].description, L"Failed to open registry key.");
    EXPECT_EQ(entries[0].code, static_cast<int>(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)));
    EXPECT_EQ(entries[0].values.at(L"Registrykey"), k_key);
    EXPECT_EQ(entries[0].values.at(L"bUse64bitHive"), L"1");

    const auto created = CQRegistry::RegOpenRegKey(k_key, false, true, true);
    ASSERT_TRUE(created.has_value());
    EXPECT_TRUE(qsys::RegistryKey::Exists(L"HKEY_CURRENT_USER/software/zelto/registrytest"));
}

TEST_F(CQRegistryTest, ReadsFallBackToTheirDefaults) {
    // A missing key: the default, or empty text without one.
    EXPECT_EQ(CQRegistry::GetStringValue(k_key, L"Name", L"fallback"), L"fallback");
    EXPECT_EQ(CQRegistry::GetStringValue(k_key, L"Name"), L"");
    EXPECT_EQ(CQRegistry::GetDWORDValue(k_key, L"Level", 7), 7u);

    CQRegistry::SetValue(k_key, L"Name", L"text");
    CQRegistry::SetValue(k_key, L"Level", 4u);
    EXPECT_EQ(CQRegistry::GetStringValue(k_key, L"name"), L"text");
    EXPECT_EQ(CQRegistry::GetDWORDValue(k_key, L"LEVEL", 7), 4u);

    // Wrong types and missing values of a key that exists.
    EXPECT_EQ(CQRegistry::GetDWORDValue(k_key, L"Name", 7), 7u);
    EXPECT_EQ(CQRegistry::GetStringValue(k_key, L"Level", L"fallback"), L"fallback");
    EXPECT_EQ(CQRegistry::GetStringValue(k_key, L"Other", L"fallback"), L"fallback");
    qsys::RegistryKey::Open(k_key, qsys::RegistryDisposition::OpenExisting,
                            qsys::RegistryAccess::ReadWrite)
        .SetValue(L"Short", qsys::RegistryValue(qsys::RegistryType::DWord, {1, 2}));
    EXPECT_EQ(CQRegistry::GetDWORDValue(k_key, L"Short", 7), 7u) << "not 4 bytes";

    // An expandable string is a string, read unexpanded.
    qsys::RegistryKey::Open(k_key, qsys::RegistryDisposition::OpenExisting,
                            qsys::RegistryAccess::ReadWrite)
        .SetValue(L"Path", qsys::RegistryValue::FromString(L"%TEMP%\\x.log",
                                                           qsys::RegistryType::ExpandString));
    EXPECT_EQ(CQRegistry::GetStringValue(k_key, L"Path"), L"%TEMP%\\x.log");
}

TEST_F(CQRegistryTest, AnUnreadableValueWithoutDefaultRaises) {
    CQRegistry::SetValue(k_key, L"Level", 4u);
    for (const wchar_t* name : {L"Level", L"Missing"}) {
        const auto raised = Raised([&] { CQRegistry::GetStringValue(k_key, name); });
        ASSERT_TRUE(raised.has_value()) << name;
        const auto entries = RealEntries(*raised);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].description, L"Failed to read registry value.");
        EXPECT_EQ(entries[0].values.at(L"Registrykey"), std::wstring(k_key) + L"\\" + name);
    }
}

TEST_F(CQRegistryTest, SetValueStoresTheValueAsTheSystemWould) {
    CQRegistry::SetValue(k_key, L"Name", L"abc");
    CQRegistry::SetValue(k_key, L"Level", 0xFFFFFFFFu);
    const qsys::RegistryKey key = qsys::RegistryKey::Open(k_key);
    const auto text = key.GetValue(L"Name");
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(text->Type(), qsys::RegistryType::String);
    EXPECT_EQ(text->Data().size(), (3u + 1u) * 2u);
    const auto number = key.GetValue(L"Level");
    ASSERT_TRUE(number.has_value());
    EXPECT_EQ(number->Type(), qsys::RegistryType::DWord);
    EXPECT_EQ(number->AsDWord(), 0xFFFFFFFFu);

    const auto noRoot = Raised([] { CQRegistry::SetValue(L"Software\\Zelto", L"Name", L"x"); });
    ASSERT_TRUE(noRoot.has_value());
    EXPECT_EQ(RealEntries(*noRoot).at(0).description, L"Failed to write registry value.");
    EXPECT_EQ(RealEntries(*noRoot).at(0).values.at(L"Registrykey"), L"Software\\Zelto\\Name");
}

TEST_F(CQRegistryTest, AHiveBrokenByHandIsReportedAndKept) {
    CQRegistry::SetValue(k_key, L"Level", 4u);
    const std::string hive = m_folder.Native(L"HKEY_CURRENT_USER.reg");
    const std::string broken = qutilitylib::test::ReadBytes(hive) + "\"Level\"=dword:zz\n";
    qutilitylib::test::WriteBytes(hive, broken);

    testing::internal::CaptureStderr();
    EXPECT_EQ(CQRegistry::GetDWORDValue(k_key, L"Level", 7), 7u);
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                testing::HasSubstr("HKEY_CURRENT_USER.reg:"));
    EXPECT_TRUE(Raised([] { CQRegistry::SetValue(k_key, L"Level", 5u); }).has_value());
    EXPECT_EQ(qutilitylib::test::ReadBytes(hive), broken);
}
