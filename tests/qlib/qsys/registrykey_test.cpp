#include "qlib/qsys/registrykey.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <system_error>

#include <gtest/gtest.h>

#include "qlib/qsys/registryformaterror.h"
#include "tests/qlib/qsys/testsupport.h"

namespace qsys {
namespace {

using test::ReadFile;
using test::RunInChild;
using test::WriteFile;

int ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::system_error& error) {
        return error.code().value();
    }
    return 0;
}

class RegistryKeyTest : public ::testing::Test {
protected:
    std::string HivePath(const char* root) const { return m_folder.Path() + "/" + root + ".reg"; }

    test::TemporaryFolder m_folder;
    test::ScopedEnvironment m_registryFolder{"ZELTO_REGISTRY_DIR", m_folder.Path()};
};

TEST_F(RegistryKeyTest, ValuesAreStoredAndReadBackByType) {
    const RegistryKey key =
        RegistryKey::Open(L"HKEY_CURRENT_USER\\Software\\Zelto\\Logging",
                          RegistryDisposition::CreateIfMissing, RegistryAccess::ReadWrite);
    key.SetValue(L"File", RegistryValue::FromString(L"%TMP%\\x.log", RegistryType::ExpandString));
    key.SetValue(L"FileLogLevel", RegistryValue::FromDWord(4));
    key.SetValue(L"", RegistryValue::FromString(L"default"));

    const RegistryKey reader = RegistryKey::Open(L"HKEY_CURRENT_USER\\Software\\Zelto\\Logging");
    EXPECT_EQ(reader.GetValue(L"File")->Type(), RegistryType::ExpandString);
    EXPECT_EQ(reader.GetValue(L"File")->AsString(), L"%TMP%\\x.log");
    EXPECT_EQ(reader.GetValue(L"FileLogLevel")->AsDWord(), 4u);
    EXPECT_EQ(reader.GetValue(L"")->AsString(), L"default");
    EXPECT_EQ(reader.GetValue(L"Missing"), std::nullopt);
    EXPECT_EQ(ReadFile(HivePath("HKEY_CURRENT_USER")).find("\"FileLogLevel\"=dword:00000004\n") !=
                  std::string::npos,
              true);
}

TEST_F(RegistryKeyTest, ValuesOfAnotherTypeAreNotReadAsTheAskedType) {
    const RegistryKey key = RegistryKey::Open(
        L"HKEY_CURRENT_USER\\T", RegistryDisposition::CreateIfMissing, RegistryAccess::ReadWrite);
    key.SetValue(L"Text", RegistryValue::FromString(L"4"));
    key.SetValue(L"Number", RegistryValue::FromDWord(4));
    key.SetValue(L"ThreeBytes", RegistryValue(RegistryType::DWord, {4, 0, 0}));
    key.SetValue(L"Binary", RegistryValue::FromBinary({4, 0, 0, 0}));
    key.SetValue(L"List", RegistryValue::FromMultiString({L"x", L"y"}));

    EXPECT_EQ(key.GetValue(L"Text")->AsDWord(), std::nullopt);
    EXPECT_EQ(key.GetValue(L"Number")->AsString(), std::nullopt);
    EXPECT_EQ(key.GetValue(L"ThreeBytes")->AsDWord(), std::nullopt);
    EXPECT_EQ(key.GetValue(L"Binary")->AsDWord(), std::nullopt);
    EXPECT_EQ(key.GetValue(L"List")->AsString(), std::nullopt);
    EXPECT_EQ(key.GetValue(L"List")->AsMultiString(), (std::vector<std::wstring>{L"x", L"y"}));
    EXPECT_EQ(key.GetValue(L"Text")->AsMultiString(), std::nullopt);
    EXPECT_EQ(ErrorOf([] { RegistryValue::FromString(L"x", RegistryType::DWord); }), EINVAL);
    EXPECT_EQ(ErrorOf([] { RegistryValue::FromMultiString({L"a", L""}); }), EINVAL);
}

TEST_F(RegistryKeyTest, NamesMatchIgnoringCaseAndKeepTheirFirstSpelling) {
    RegistryKey::Open(L"HKEY_CURRENT_USER\\Software\\Zelto", RegistryDisposition::CreateIfMissing,
                      RegistryAccess::ReadWrite)
        .SetValue(L"AVConfigFile", RegistryValue::FromString(L"one"));
    const RegistryKey key =
        RegistryKey::Open(L"hkey_current_user\\SOFTWARE\\zelto",
                          RegistryDisposition::CreateIfMissing, RegistryAccess::ReadWrite);
    key.SetValue(L"avconfigfile", RegistryValue::FromString(L"two"));
    key.SetValue(L"\u00c9t\u00e9", RegistryValue::FromDWord(1));

    EXPECT_EQ(key.GetValue(L"AVCONFIGFILE")->AsString(), L"two");
    EXPECT_EQ(key.GetValue(L"\u00e9T\u00c9")->AsDWord(), 1u);
    ASSERT_EQ(key.Values().size(), 2u);
    EXPECT_EQ(key.Values()[0].name, L"AVConfigFile");
    EXPECT_EQ(RegistryKey::Open(L"HKEY_CURRENT_USER").SubKeyNames(),
              std::vector<std::wstring>{L"Software"});
    const std::string text = ReadFile(HivePath("HKEY_CURRENT_USER"));
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Zelto]\n\"AVConfigFile\"=\"two\"\n"),
              std::string::npos);
}

TEST_F(RegistryKeyTest, ForwardSlashesSeparateLevelsLikeBackslashes) {
    const RegistryKey key =
        RegistryKey::Open(L"HKEY_CURRENT_USER/Software\\Zelto//Logging/",
                          RegistryDisposition::CreateIfMissing, RegistryAccess::ReadWrite);
    EXPECT_EQ(key.Path(), L"HKEY_CURRENT_USER\\Software\\Zelto\\Logging");
    key.SetValue(L"a/b", RegistryValue::FromDWord(7));
    EXPECT_TRUE(RegistryKey::Exists(L"HKEY_CURRENT_USER\\Software\\Zelto\\Logging"));
    EXPECT_EQ(RegistryKey::Open(L"HKEY_CURRENT_USER/Software")
                  .OpenSubKey(L"Zelto/Logging")
                  .GetValue(L"a/b")
                  ->AsDWord(),
              7u);
}

TEST_F(RegistryKeyTest, OpeningAndChangingFailWithTheSystemsErrors) {
    EXPECT_EQ(ErrorOf([] { RegistryKey::Open(L"HKEY_NOWHERE\\Software"); }), EINVAL);
    EXPECT_EQ(ErrorOf([] { RegistryKey::Open(L""); }), EINVAL);
    EXPECT_EQ(ErrorOf([] { RegistryKey::Open(L"HKEY_CURRENT_USER\\Missing"); }), ENOENT);
    EXPECT_EQ(ErrorOf([] { RegistryKey::DeleteTree(L"HKEY_CURRENT_USER"); }), EINVAL);
    EXPECT_EQ(ErrorOf([] {
                  RegistryKey::Open(L"HKEY_CURRENT_USER\\bad\nname",
                                    RegistryDisposition::CreateIfMissing);
              }),
              EINVAL);

    const RegistryKey writable = RegistryKey::Open(
        L"HKEY_CURRENT_USER\\K", RegistryDisposition::CreateIfMissing, RegistryAccess::ReadWrite);
    const RegistryKey readOnly = RegistryKey::Open(L"HKEY_CURRENT_USER\\K");
    EXPECT_EQ(ErrorOf([&] { readOnly.SetValue(L"x", RegistryValue::FromDWord(1)); }), EACCES);
    EXPECT_EQ(ErrorOf([&] { writable.SetValue(L"bad\rname", RegistryValue::FromDWord(1)); }),
              EINVAL);

    ASSERT_TRUE(RegistryKey::DeleteTree(L"HKEY_CURRENT_USER\\K"));
    EXPECT_EQ(ErrorOf([&] { writable.SetValue(L"x", RegistryValue::FromDWord(1)); }), ENOENT);
    EXPECT_EQ(ErrorOf([&] { writable.GetValue(L"x"); }), ENOENT);
    EXPECT_FALSE(RegistryKey::Exists(L"HKEY_CURRENT_USER\\K"));
}

TEST_F(RegistryKeyTest, KeysAndValuesAreEnumeratedAndDeletedWithEverythingBelow) {
    const RegistryKey base =
        RegistryKey::Open(L"HKEY_CLASSES_ROOT\\CLSID", RegistryDisposition::CreateIfMissing,
                          RegistryAccess::ReadWrite);
    for (const wchar_t* name : {L"b", L"C", L"a\\Deep\\Deeper"}) {
        base.OpenSubKey(name, RegistryDisposition::CreateIfMissing);
    }
    base.SetValue(L"z", RegistryValue::FromDWord(1));
    base.SetValue(L"y", RegistryValue::FromDWord(2));
    EXPECT_EQ(base.SubKeyNames(), (std::vector<std::wstring>{L"a", L"b", L"C"}));
    ASSERT_EQ(base.Values().size(), 2u);
    EXPECT_EQ(base.Values()[0].name, L"z") << "values keep their creation order";

    EXPECT_TRUE(base.DeleteValue(L"Z"));
    EXPECT_FALSE(base.DeleteValue(L"z"));
    EXPECT_TRUE(base.DeleteSubKey(L"A"));
    EXPECT_FALSE(base.DeleteSubKey(L"a"));
    EXPECT_FALSE(RegistryKey::Exists(L"HKEY_CLASSES_ROOT\\CLSID\\a\\Deep"));
    EXPECT_EQ(base.SubKeyNames(), (std::vector<std::wstring>{L"b", L"C"}));
    EXPECT_FALSE(RegistryKey::DeleteTree(L"HKEY_CLASSES_ROOT\\Nothing\\Here"));
    EXPECT_TRUE(std::filesystem::exists(HivePath("HKEY_CLASSES_ROOT")));
    EXPECT_FALSE(std::filesystem::exists(HivePath("HKEY_CURRENT_USER")));
}

TEST_F(RegistryKeyTest, AHiveWithASyntaxErrorIsReportedAndNeverOverwritten) {
    const std::string broken =
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\"Good\"=dword:00000001\n\"Bad\"=dword:xyz\n";
    WriteFile(HivePath("HKEY_CURRENT_USER"), broken);
    try {
        RegistryKey::Open(L"HKEY_CURRENT_USER\\Software");
        FAIL() << "a broken hive was read";
    } catch (const RegistryFormatError& error) {
        EXPECT_EQ(error.File(), HivePath("HKEY_CURRENT_USER"));
        EXPECT_EQ(error.Line(), 5);
        EXPECT_NE(std::string(error.what()).find("HKEY_CURRENT_USER.reg:5:"), std::string::npos);
    }
    EXPECT_EQ(ErrorOf([] {
                  RegistryKey::Open(L"HKEY_CURRENT_USER\\Other",
                                    RegistryDisposition::CreateIfMissing,
                                    RegistryAccess::ReadWrite);
              }),
              EBADMSG);
    EXPECT_EQ(ErrorOf([] { RegistryKey::DeleteTree(L"HKEY_CURRENT_USER\\Software"); }), EBADMSG);
    EXPECT_EQ(ReadFile(HivePath("HKEY_CURRENT_USER")), broken);
    EXPECT_NO_THROW(
        RegistryKey::Open(L"HKEY_LOCAL_MACHINE\\X", RegistryDisposition::CreateIfMissing))
        << "other hives are not affected";
}

TEST_F(RegistryKeyTest, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int k_valuesPerProcess = 200;
    RegistryKey::Open(L"HKEY_CURRENT_USER\\Shared", RegistryDisposition::CreateIfMissing);
    const auto writer = [](const wchar_t* prefix) {
        return [prefix] {
            const RegistryKey key =
                RegistryKey::Open(L"HKEY_CURRENT_USER\\Shared", RegistryDisposition::OpenExisting,
                                  RegistryAccess::ReadWrite);
            for (int i = 0; i < k_valuesPerProcess; ++i) {
                key.SetValue(prefix + std::to_wstring(i),
                             RegistryValue::FromDWord(static_cast<uint32_t>(i)));
            }
            return 0;
        };
    };
    const pid_t first = test::StartChild(writer(L"first"));
    const pid_t second = test::StartChild(writer(L"second"));
    ASSERT_EQ(test::WaitChild(first), 0);
    ASSERT_EQ(test::WaitChild(second), 0);

    const RegistryKey key = RegistryKey::Open(L"HKEY_CURRENT_USER\\Shared");
    EXPECT_EQ(key.Values().size(), 2u * k_valuesPerProcess);
    for (int i = 0; i < k_valuesPerProcess; ++i) {
        EXPECT_EQ(key.GetValue(L"first" + std::to_wstring(i))->AsDWord(), static_cast<uint32_t>(i));
        EXPECT_EQ(key.GetValue(L"second" + std::to_wstring(i))->AsDWord(),
                  static_cast<uint32_t>(i));
    }
    for (const auto& entry : std::filesystem::directory_iterator(m_folder.Path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "HKEY_CURRENT_USER.reg" || name == "HKEY_CURRENT_USER.reg.lock")
            << name;
    }
}

TEST_F(RegistryKeyTest, AFailedWriteLeavesTheHiveAsItWas) {
    const RegistryKey key = RegistryKey::Open(
        L"HKEY_CURRENT_USER\\K", RegistryDisposition::CreateIfMissing, RegistryAccess::ReadWrite);
    key.SetValue(L"Kept", RegistryValue::FromDWord(1));
    const std::string before = ReadFile(HivePath("HKEY_CURRENT_USER"));

    // A file size limit makes the write of the larger hive fail part way, as a full disk would.
    const int result = RunInChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{200, 200};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const int error = ErrorOf(
            [&] { key.SetValue(L"Big", RegistryValue::FromBinary(std::vector<uint8_t>(4096))); });
        return error == EFBIG ? 0 : 1;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadFile(HivePath("HKEY_CURRENT_USER")), before);
    EXPECT_EQ(key.GetValue(L"Big"), std::nullopt);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_folder.Path()), {}), 2)
        << "the temporary file is removed";
}

TEST_F(RegistryKeyTest, AHiveThatMayNotBeWrittenStillReads) {
    RegistryKey::Open(L"HKEY_LOCAL_MACHINE\\Software\\Zelto", RegistryDisposition::CreateIfMissing,
                      RegistryAccess::ReadWrite)
        .SetValue(L"AVConfigFile", RegistryValue::FromString(L"/x.xml"));
    ASSERT_EQ(::chmod(m_folder.Path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(HivePath("HKEY_LOCAL_MACHINE").c_str(), 0644), 0);
    ASSERT_EQ(::chmod((HivePath("HKEY_LOCAL_MACHINE") + ".lock").c_str(), 0644), 0);

    const auto asAnotherUser = [&] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            return 10;
        }
        if (::geteuid() != 0) {
            ::chmod(m_folder.Path().c_str(), 0555);  // a user can take away their own write right
        }
        const RegistryKey key = RegistryKey::Open(L"HKEY_LOCAL_MACHINE\\Software\\Zelto");
        if (key.GetValue(L"AVConfigFile")->AsString() != L"/x.xml") {
            return 11;
        }
        if (ErrorOf([&] {
                RegistryKey::Open(L"HKEY_LOCAL_MACHINE\\Software\\Zelto",
                                  RegistryDisposition::OpenExisting, RegistryAccess::ReadWrite);
            }) != EACCES) {
            return 12;
        }
        if (ErrorOf([] {
                RegistryKey::Open(L"HKEY_LOCAL_MACHINE\\Software\\Zelto",
                                  RegistryDisposition::CreateIfMissing);
            }) != 0) {
            return 15;  // an existing key opens for reading even when asked to create it
        }
        if (ErrorOf([] {
                RegistryKey::Open(L"HKEY_LOCAL_MACHINE\\Software\\New",
                                  RegistryDisposition::CreateIfMissing);
            }) != EACCES) {
            return 13;
        }
        return ErrorOf([] { RegistryKey::DeleteTree(L"HKEY_LOCAL_MACHINE\\Software"); }) == EACCES
                   ? 0
                   : 14;
    };
    EXPECT_EQ(RunInChild(asAnotherUser), 0);
    EXPECT_TRUE(RegistryKey::Exists(L"HKEY_LOCAL_MACHINE\\Software\\Zelto"));
}

TEST(RegistryHive, FoldersFollowTheEnvironment) {
    test::TemporaryFolder config;
    const test::ScopedEnvironment noOverride("ZELTO_REGISTRY_DIR", std::nullopt);
    const test::ScopedEnvironment configHome("XDG_CONFIG_HOME", config.Path());
    EXPECT_EQ(RegistryHive::ForRoot(RegistryRoot::CurrentUser).FilePath(),
              config.Path() + "/zelto/registry/HKEY_CURRENT_USER.reg");
    EXPECT_EQ(RegistryHive::ForRoot(RegistryRoot::ClassesRoot).FilePath(),
              config.Path() + "/zelto/registry/HKEY_CLASSES_ROOT.reg");
    EXPECT_EQ(RegistryHive::ForRoot(RegistryRoot::LocalMachine).FilePath(),
              "/etc/zelto/registry/HKEY_LOCAL_MACHINE.reg");

    RegistryKey::Open(L"HKEY_CURRENT_USER\\Software", RegistryDisposition::CreateIfMissing);
    struct stat status {};
    ASSERT_EQ(::stat((config.Path() + "/zelto/registry").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u) << "a user's registry is private";
}

}  // namespace
}  // namespace qsys
