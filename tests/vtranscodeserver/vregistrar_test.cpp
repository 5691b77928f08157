// Registration of the server's classes in a registry store of the test's own: what the
// embedded scripts write, that unregistration takes it all back but the never-removed keys,
// the ProgID and CLSID lookups clients make, and scripts that must be refused.

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "qlib/qcom/progid.h"
#include "qlib/qsys/registryhive.h"
#include "qlib/qsys/registrykey.h"
#include "qlib/qutilitylib/qexception.h"
#include "tests/qlib/qsys/testsupport.h"
#include "vtranscodeserver/vregistrar.h"
#include "vtranscodeserver/vtranscodeserverlib.h"

namespace {

const std::wstring k_module = L"/opt/zelto/bin/ZeltoVTranscodeServer";

class RegistrarTest : public testing::Test {
protected:
    RegistrarTest() {
        m_registrar.AddReplacement(L"MODULE", k_module);
        m_registrar.AddReplacement(L"APPID", GuidToString(APPID_VTranscodeServer));
    }

    static std::string HiveText(qsys::RegistryRoot root) {
        std::ifstream file(qsys::RegistryHive::ForRoot(root).FilePath());
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }
    static std::wstring Value(const std::wstring& key, const std::wstring& name = L"") {
        const auto value = qsys::RegistryKey::Open(key).GetValue(name);
        return value ? value->AsString().value_or(L"(not a string)") : L"(missing)";
    }
    static std::wstring ClassKey(const CLSID& clsid) {
        return L"HKEY_CLASSES_ROOT\\CLSID\\" + GuidToString(clsid);
    }
    void RegisterServer() const {
        for (uint32_t id : CVRegistrar::k_serverScripts) {
            m_registrar.RegisterResource(qsys::ResourceTable::Process(), id);
        }
    }
    void UnregisterServer() const {
        for (uint32_t id : CVRegistrar::k_serverScripts) {
            m_registrar.UnregisterResource(qsys::ResourceTable::Process(), id);
        }
    }

    qsys::test::TemporaryFolder m_folder;
    qsys::test::ScopedEnvironment m_registry{"ZELTO_REGISTRY_DIR", m_folder.Path()};
    CVRegistrar m_registrar;
};

TEST_F(RegistrarTest, RegistrationWritesTheClassesAndTheApplication) {
    RegisterServer();

    const std::wstring service = ClassKey(CLSID_VTranscodeService);
    EXPECT_EQ(Value(service), L"VTranscodeServiceObj Class");
    EXPECT_EQ(Value(service + L"\\ProgID"), L"VTranscodeServer.VTranscodeServiceOb.1");
    EXPECT_EQ(Value(service + L"\\VersionIndependentProgID"),
              L"VTranscodeServer.VTranscodeServiceObj");
    EXPECT_EQ(Value(service + L"\\LocalServer32"), k_module);
    EXPECT_EQ(Value(service, L"AppID"), GuidToString(APPID_VTranscodeServer));
    EXPECT_EQ(Value(service + L"\\TypeLib"), GuidToString(LIBID_VTranscodeServerLib));
    EXPECT_TRUE(qsys::RegistryKey::Exists(service + L"\\Programmable"));

    const std::wstring handler = ClassKey(CLSID_VTranscodeHandler);
    EXPECT_EQ(Value(handler), L"VTranscodeHandler Class");
    EXPECT_EQ(Value(handler + L"\\ProgID"), L"VTranscodeServer.VTranscodeHandler.1");
    EXPECT_EQ(Value(handler + L"\\LocalServer32"), k_module);

    const std::wstring appId = L"HKEY_CLASSES_ROOT\\AppID\\" + GuidToString(APPID_VTranscodeServer);
    EXPECT_EQ(Value(appId), L"VTranscodeServer");
    EXPECT_EQ(Value(L"HKEY_CLASSES_ROOT\\AppID\\VTranscodeServer.EXE", L"AppID"),
              GuidToString(APPID_VTranscodeServer));
}

TEST_F(RegistrarTest, ProgIdsResolveAsRegistered) {
    RegisterServer();
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(L"VTranscodeServer.VTranscodeServiceOb.1", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_VTranscodeService);
    ASSERT_EQ(CLSIDFromProgID(L"VTranscodeServer.VTranscodeServiceObj", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_VTranscodeService);
    EXPECT_EQ(CLSIDFromProgID(L"VTranscodeServer.VTranscodeServiceObj.1", &clsid), CO_E_CLASSSTRING)
        << "the versioned name ends in ServiceOb.1";
    ASSERT_EQ(CLSIDFromProgID(L"VTranscodeServer.VTranscodeHandler.1", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_VTranscodeHandler);
    ASSERT_EQ(CLSIDFromString(L"VTranscodeServer.VTranscodeHandler", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_VTranscodeHandler);
    EXPECT_EQ(Value(L"HKEY_CLASSES_ROOT\\VTranscodeServer.VTranscodeServiceObj\\CurVer"),
              L"VTranscodeServer.VTranscodeServiceOb.1");

    UnregisterServer();
    EXPECT_EQ(CLSIDFromProgID(L"VTranscodeServer.VTranscodeServiceOb.1", &clsid), CO_E_CLASSSTRING);
}

TEST_F(RegistrarTest, UnregistrationLeavesTheStoreAsBeforeButTheNeverRemovedKeys) {
    // Another program's class and application live beside ours and must survive.
    const std::wstring otherClass =
        L"HKEY_CLASSES_ROOT\\CLSID\\{00000000-1111-2222-3333-444444444444}";
    qsys::RegistryKey::Open(otherClass + L"\\LocalServer32",
                            qsys::RegistryDisposition::CreateIfMissing,
                            qsys::RegistryAccess::ReadWrite)
        .SetValue(L"", qsys::RegistryValue::FromString(L"/usr/bin/other"));
    qsys::RegistryKey::Open(L"HKEY_CLASSES_ROOT\\AppID\\Other.EXE",
                            qsys::RegistryDisposition::CreateIfMissing,
                            qsys::RegistryAccess::ReadWrite)
        .SetValue(L"AppID", qsys::RegistryValue::FromString(L"{other}"));
    const std::string before = HiveText(qsys::RegistryRoot::ClassesRoot);

    RegisterServer();
    RegisterServer();  // a second registration replaces, it does not pile up
    UnregisterServer();

    EXPECT_EQ(HiveText(qsys::RegistryRoot::ClassesRoot), before);
}

TEST_F(RegistrarTest, NeverRemovedKeysCreatedByRegistrationStay) {
    RegisterServer();
    UnregisterServer();
    EXPECT_TRUE(qsys::RegistryKey::Exists(L"HKEY_CLASSES_ROOT\\CLSID"));
    EXPECT_TRUE(qsys::RegistryKey::Exists(L"HKEY_CLASSES_ROOT\\AppID"));
    EXPECT_TRUE(qsys::RegistryKey::Open(L"HKEY_CLASSES_ROOT\\CLSID").SubKeyNames().empty());
    EXPECT_TRUE(qsys::RegistryKey::Open(L"HKEY_CLASSES_ROOT\\AppID").SubKeyNames().empty());
    EXPECT_FALSE(
        qsys::RegistryKey::Exists(L"HKEY_CLASSES_ROOT\\VTranscodeServer.VTranscodeHandler"));
}

TEST_F(RegistrarTest, RecreatedKeysLoseWhatAnOlderRegistrationLeft) {
    const std::wstring service = ClassKey(CLSID_VTranscodeService);
    qsys::RegistryKey::Open(service + L"\\InprocServer32",
                            qsys::RegistryDisposition::CreateIfMissing,
                            qsys::RegistryAccess::ReadWrite)
        .SetValue(L"", qsys::RegistryValue::FromString(L"stale.so"));
    qsys::RegistryKey::Open(service + L"\\Programmable\\Stale",
                            qsys::RegistryDisposition::CreateIfMissing,
                            qsys::RegistryAccess::ReadWrite);
    RegisterServer();
    EXPECT_FALSE(qsys::RegistryKey::Exists(service + L"\\InprocServer32"));
    EXPECT_TRUE(qsys::RegistryKey::Open(service + L"\\Programmable").SubKeyNames().empty());
    EXPECT_EQ(Value(service + L"\\LocalServer32"), k_module);
}

TEST_F(RegistrarTest, PerUserRegistrationWritesUnderTheUsersClasses) {
    CVRegistrar perUser(EVRegistrationScope::PerUser);
    perUser.AddReplacement(L"MODULE", k_module);
    perUser.AddReplacement(L"APPID", GuidToString(APPID_VTranscodeServer));
    perUser.RegisterResource(qsys::ResourceTable::Process(), CVRegistrar::k_serviceScript);
    const std::wstring userClasses = L"HKEY_CURRENT_USER\\Software\\Classes\\";
    EXPECT_EQ(Value(userClasses + L"CLSID\\" + GuidToString(CLSID_VTranscodeService) +
                    L"\\LocalServer32"),
              k_module);
    EXPECT_FALSE(qsys::RegistryKey::Exists(ClassKey(CLSID_VTranscodeService)));
    perUser.UnregisterResource(qsys::ResourceTable::Process(), CVRegistrar::k_serviceScript);
    EXPECT_FALSE(qsys::RegistryKey::Exists(userClasses + L"VTranscodeServer.VTranscodeServiceObj"));
}

TEST_F(RegistrarTest, ScriptsThatDoNotParseAreRefusedAndWriteNothing) {
    const std::wstring broken[] = {
        L"HKCR { Key = s 'unterminated }",
        L"HKCR { Key = s '%UNKNOWN%' }",
        L"HKCR { Key = x 'type' }",
        L"HKCR { Key = d '4294967296' }",
        L"HKXX { Key }",
        L"HKCR { 'Two\\Levels' }",
        L"HKCR { Key { }",
        L"HKCR { " + std::wstring(40, L'{') + L" }",
    };
    for (const std::wstring& script : broken) {
        try {
            m_registrar.RegisterScript(script);
            ADD_FAILURE() << "accepted: " << std::string(script.begin(), script.end());
        } catch (const CQException& error) {
            EXPECT_TRUE(error.HasErrorCode(QERR_INVALID_STRING_FORMAT));
        }
    }
    EXPECT_FALSE(qsys::RegistryKey::Exists(L"HKEY_CLASSES_ROOT\\Key"));
}

TEST_F(RegistrarTest, ReplacementsQuotesAndNumbers) {
    m_registrar.RegisterScript(
        L"HKCU { NoRemove Software { Test { val Text = s 'it''s %MODULE% at 100%%'\n"
        L"val Count = d '0x10' val Plain = d 7 } } }");
    const auto key = qsys::RegistryKey::Open(L"HKEY_CURRENT_USER\\Software\\Test");
    EXPECT_EQ(key.GetValue(L"Text")->AsString(), L"it's " + k_module + L" at 100%");
    EXPECT_EQ(key.GetValue(L"Count")->AsDWord(), 16u);
    EXPECT_EQ(key.GetValue(L"Plain")->AsDWord(), 7u);
}

TEST_F(RegistrarTest, AMissingScriptIsTheSystemsResourceError) {
    try {
        m_registrar.RegisterResource(qsys::ResourceTable::Process(), 104);
        ADD_FAILURE() << "there is no script 104";
    } catch (const CQException& error) {
        EXPECT_EQ(error.GetHResult(), HRESULT_FROM_WIN32(1814));
    }
}

}  // namespace
