#include <gtest/gtest.h>

#include "qlib/qcom/progid.h"
#include "qlib/qsys/registrykey.h"
#include "tests/qlib/qsys/testsupport.h"

namespace {

constexpr CLSID k_clsidService = MakeGuid("{2B1E3C4D-0401-4000-8000-00000000C0DE}");

// Classes registered the way registration writes them, in a registry of the test's own.
class ProgIdTest : public testing::Test {
protected:
    void SetUp() override {
        SetDefault(L"VTranscodeServer.VTranscodeServiceOb.1\\CLSID", GuidToString(k_clsidService));
        SetDefault(L"VTranscodeServer.VTranscodeServiceObj\\CLSID", GuidToString(k_clsidService));
        SetDefault(L"VTranscodeServer.VTranscodeServiceObj\\CurVer",
                   L"VTranscodeServer.VTranscodeServiceOb.1");
    }

    static void SetDefault(const std::wstring& key, const std::wstring& value) {
        qsys::RegistryKey::Open(L"HKEY_CLASSES_ROOT\\" + key,
                                qsys::RegistryDisposition::CreateIfMissing,
                                qsys::RegistryAccess::ReadWrite)
            .SetValue(L"", qsys::RegistryValue::FromString(value));
    }

    qsys::test::TemporaryFolder m_folder;
    qsys::test::ScopedEnvironment m_registry{"ZELTO_REGISTRY_DIR", m_folder.Path()};
};

TEST_F(ProgIdTest, VersionedAndVersionIndependentProgIdsResolve) {
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(L"VTranscodeServer.VTranscodeServiceOb.1", &clsid), S_OK);
    EXPECT_EQ(clsid, k_clsidService);
    ASSERT_EQ(CLSIDFromProgID(L"vtranscodeserver.vtranscodeserviceobj", &clsid), S_OK)
        << "key names are matched ignoring case";
    EXPECT_EQ(clsid, k_clsidService);
    EXPECT_EQ(CLSIDFromProgID(L"VTranscodeServer.VTranscodeServiceObj.1", &clsid), CO_E_CLASSSTRING)
        << "only the name registration writes is registered";
    EXPECT_EQ(clsid, GUID_NULL);
}

TEST_F(ProgIdTest, VersionIndependentProgIdFollowsCurVer) {
    SetDefault(L"Sample.Class.2\\CLSID", L"{2B1E3C4D-0402-4000-8000-00000000C0DE}");
    SetDefault(L"Sample.Class\\CurVer", L"Sample.Class.2");
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(L"Sample.Class", &clsid), S_OK);
    EXPECT_EQ(clsid, MakeGuid("{2B1E3C4D-0402-4000-8000-00000000C0DE}"));

    SetDefault(L"Loop.A\\CurVer", L"Loop.B");
    SetDefault(L"Loop.B\\CurVer", L"Loop.A");
    EXPECT_EQ(CLSIDFromProgID(L"Loop.A", &clsid), CO_E_CLASSSTRING) << "a loop ends";
}

TEST_F(ProgIdTest, TheUsersOwnRegistrationComesBeforeTheMachines) {
    qsys::RegistryKey::Open(L"HKEY_CURRENT_USER\\Software\\Classes\\Own.Class\\CLSID",
                            qsys::RegistryDisposition::CreateIfMissing,
                            qsys::RegistryAccess::ReadWrite)
        .SetValue(L"", qsys::RegistryValue::FromString(L"{2B1E3C4D-0402-4000-8000-0000000000AA}"));
    SetDefault(L"Own.Class\\CLSID", L"{2B1E3C4D-0402-4000-8000-0000000000BB}");
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(L"Own.Class", &clsid), S_OK);
    EXPECT_EQ(clsid, MakeGuid("{2B1E3C4D-0402-4000-8000-0000000000AA}"));
}

TEST_F(ProgIdTest, BadNamesAndBadValuesAreNoClass) {
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(L"", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(L"VTranscodeServer.VTranscodeServiceOb.1\\CLSID", &clsid),
              CO_E_CLASSSTRING)
        << "a ProgID is one key";
    SetDefault(L"Broken.Class\\CLSID", L"not a guid");
    EXPECT_EQ(CLSIDFromProgID(L"Broken.Class", &clsid), CO_E_CLASSSTRING);
}

TEST_F(ProgIdTest, UnreadableRegistryIsReportedAsSuch) {
    qsys::test::WriteFile(m_folder.Path() + "/HKEY_CLASSES_ROOT.reg", "this is no hive\n");
    CLSID clsid;
    const HRESULT hr = CLSIDFromProgID(L"VTranscodeServer.VTranscodeServiceOb.1", &clsid);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_NE(hr, CO_E_CLASSSTRING) << "a broken hive is not an unknown class";
}

TEST_F(ProgIdTest, ClassStringsAreRegistryFormOrProgIds) {
    CLSID clsid;
    ASSERT_EQ(CLSIDFromString(L"{2b1e3c4d-0401-4000-8000-00000000c0de}", &clsid), S_OK);
    EXPECT_EQ(clsid, k_clsidService);
    ASSERT_EQ(CLSIDFromString(L"VTranscodeServer.VTranscodeServiceObj", &clsid), S_OK);
    EXPECT_EQ(clsid, k_clsidService);
    EXPECT_EQ(CLSIDFromString(L"{2B1E3C4D-0401-4000-8000-00000000C0DE", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromString(L"{not-a-guid}", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromString(L"Nobody.Registered", &clsid), CO_E_CLASSSTRING);
}

}  // namespace
