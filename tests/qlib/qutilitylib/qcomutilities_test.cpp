// CQCOMUtils::CreateObject and CQCOMClassFactory: objects of registered classes, the context of
// a failed creation ("ClassID", "ProgID", the component's own exception first), and the kept
// class object that only Clear lets go.

#include "qlib/qutilitylib/qcomutilities.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <vector>

#include "qlib/qcom/comclassregistration.h"
#include "qlib/qcom/errorinfo.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qcomclassfactory.h"
#include "tests/qlib/qutilitylib/filetestsupport.h"

using qutilitylib::test::Raised;
using qutilitylib::test::RealEntries;

namespace {

constexpr CLSID k_clsidThing = MakeGuid("{5A6B7C8D-0001-4000-8000-0000000C0DE5}");
constexpr CLSID k_clsidNobody = MakeGuid("{5A6B7C8D-0002-4000-8000-0000000C0DE5}");
constexpr const wchar_t* k_clsidThingText = L"{5A6B7C8D-0001-4000-8000-0000000C0DE5}";
constexpr const wchar_t* k_clsidNobodyText = L"{5A6B7C8D-0002-4000-8000-0000000C0DE5}";

std::atomic<int> s_liveThings{0};

class IThing : public IUnknown {
public:
    static constexpr IID k_iid = MakeGuid("{5A6B7C8D-0101-4000-8000-0000000C0DE5}");
    virtual HRESULT GetKind(LONG* kind) = 0;
};

// An interface no test object has.
class IOther : public IUnknown {
public:
    static constexpr IID k_iid = MakeGuid("{5A6B7C8D-0102-4000-8000-0000000C0DE5}");
};

template <LONG Kind>
class CThing final : public CComObjectBase<IThing> {
public:
    CThing() { ++s_liveThings; }
    ~CThing() { --s_liveThings; }
    HRESULT GetKind(LONG* kind) override {
        *kind = Kind;
        return S_OK;
    }
};

LONG KindOf(const CComPtr<IThing>& thing) {
    LONG kind = 0;
    EXPECT_EQ(thing->GetKind(&kind), S_OK);
    return kind;
}

// A class object whose creation fails the way one of our components fails: with a CQException
// handed over as the thread's error information.
class CFailingFactory final : public CComObjectBase<IClassFactory> {
public:
    HRESULT CreateInstance(IUnknown*, REFIID, void** object) override {
        *object = nullptr;
        return CQCatch::Interface(IThing::k_iid, k_clsidThing, [] {
            throw CQException(L"The data store folder is unusable.", 51009);
        });
    }
};

class CreateObjectTest : public testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(s_liveThings.load(), 0); }
};

}  // namespace

TEST_F(CreateObjectTest, CreatesAnObjectOfARegisteredClass) {
    const auto registration = RegisterComClass<CThing<1>>(k_clsidThing, L"Test::Thing");
    const CComPtr<IUnknown> object = CQCOMUtils::CreateObject(k_clsidThing, L"Test::Thing");
    CComPtr<IThing> thing;
    ASSERT_EQ(object.QueryInterface(&thing), S_OK);
    EXPECT_EQ(KindOf(thing), 1);
    EXPECT_EQ(KindOf(CQCOMUtils::CreateObject<IThing>(k_clsidThing)), 1);
}

TEST_F(CreateObjectTest, AMissingClassNamesItsClassIdAndProgId) {
    // Left over from some earlier failure on this thread: not part of this one.
    SetErrorInfo({L"stale", IThing::k_iid, L"Test::Stale"});
    const auto error = Raised([] { CQCOMUtils::CreateObject(k_clsidNobody, L"Test::Nobody"); });
    ASSERT_TRUE(error.has_value());
    const auto entries = RealEntries(*error);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].code, REGDB_E_CLASSNOTREG);
    EXPECT_EQ(entries[0].description, L"Class not registered");
    EXPECT_EQ(entries[0].function, L"CQCOMUtils::CreateObject");
    EXPECT_EQ(entries[0].values.at(L"ClassID"), k_clsidNobodyText);
    EXPECT_EQ(entries[0].values.at(L"ProgID"), L"Test::Nobody");
    EXPECT_EQ(error->GetHResult(), REGDB_E_CLASSNOTREG);

    const auto anonymous = Raised([] { CQCOMUtils::CreateObject(k_clsidNobody); });
    ASSERT_TRUE(anonymous.has_value());
    EXPECT_EQ(RealEntries(*anonymous)[0].values.count(L"ProgID"), 0u)
        << "no ProgID value without a display name";
}

TEST_F(CreateObjectTest, AnObjectWithoutTheAskedInterfaceIsACreationFailure) {
    const auto registration = RegisterComClass<CThing<2>>(k_clsidThing, L"Test::Thing");
    const auto error =
        Raised([] { CQCOMUtils::CreateObject<IOther>(k_clsidThing, L"Test::Thing"); });
    ASSERT_TRUE(error.has_value());
    const auto entries = RealEntries(*error);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].code, E_NOINTERFACE);
    EXPECT_EQ(entries[0].values.at(L"ClassID"), k_clsidThingText);
}

TEST_F(CreateObjectTest, TheComponentsOwnFailureComesFirst) {
    CComPtr<CFailingFactory> factory;
    ASSERT_EQ(CreateComObject(&factory), S_OK);
    const CComClassRegistration registration(k_clsidThing, L"Test::Failing", factory);

    for (const auto& create : std::vector<std::function<void()>>{
             [] { CQCOMUtils::CreateObject(k_clsidThing, L"Test::Failing"); },
             [] { CQCOMClassFactory(k_clsidThing, L"Test::Failing").CreateObject(); }}) {
        const auto error = Raised(create);
        ASSERT_TRUE(error.has_value());
        const auto entries = RealEntries(*error);
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[0].code, 51009);
        EXPECT_EQ(entries[0].description, L"The data store folder is unusable.");
        EXPECT_EQ(entries[1].code, E_QEXCEPTION);
        EXPECT_EQ(entries[1].values.at(L"ClassID"), k_clsidThingText);
        EXPECT_EQ(entries[1].values.at(L"ProgID"), L"Test::Failing");
        EXPECT_TRUE(error->HasErrorCode(51009));
    }
}

TEST_F(CreateObjectTest, TheClassFactoryKeepsItsClassObjectUntilClear) {
    CQCOMClassFactory things(k_clsidThing, L"Test::Thing");
    const auto error = Raised([&] { things.CreateObject(); });
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(RealEntries(*error)[0].code, REGDB_E_CLASSNOTREG);
    EXPECT_EQ(RealEntries(*error)[0].values.at(L"ProgID"), L"Test::Thing");

    const auto first = RegisterComClass<CThing<1>>(k_clsidThing, L"Test::Thing");
    EXPECT_EQ(KindOf(things.CreateObject<IThing>()), 1);
    {
        const auto second = RegisterComClass<CThing<2>>(k_clsidThing, L"Test::Thing");
        EXPECT_EQ(KindOf(things.CreateObject<IThing>()), 1) << "the kept class object answers";
        things.Clear();
        EXPECT_EQ(KindOf(things.CreateObject<IThing>()), 2) << "Clear let it go";
    }
    // The kept class object of the revoked registration still makes objects until Clear.
    EXPECT_EQ(KindOf(things.CreateObject<IThing>()), 2);
    things.Clear();
    EXPECT_EQ(KindOf(things.CreateObject<IThing>()), 1);
}
