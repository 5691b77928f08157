#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "qlib/qcom/comclassregistration.h"
#include "tests/qlib/qcom/testinterfaces.h"

namespace {

constexpr CLSID k_clsidCounter = MakeGuid("{2B1E3C4D-0301-4000-8000-00000000C0DE}");

class CDouble final : public CComObjectBase<ICounter> {
public:
    static constexpr ComAggregation k_aggregation = ComAggregation::Refused;
    HRESULT Increment(LONG* value) override {
        *value = -1;
        return S_OK;
    }

private:
    LiveObjects m_live;
};

LONG FirstIncrement(DWORD context = CLSCTX_ALL) {
    CComPtr<ICounter> counter;
    const HRESULT hr =
        CoCreateInstance(k_clsidCounter, nullptr, context, ICounter::k_iid, counter.Put());
    if (FAILED(hr)) {
        return hr;
    }
    LONG value = 0;
    EXPECT_EQ(counter->Increment(&value), S_OK);
    return value;
}

class ClassTableTest : public testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(LiveObjects::Count(), 0); }
};

TEST_F(ClassTableTest, UnregisteredClassIsNotRegistered) {
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CoCreateInstance(k_clsidCounter, nullptr, CLSCTX_ALL, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CoGetClassObject(k_clsidCounter, CLSCTX_ALL, IID_IClassFactory, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    std::wstring name;
    EXPECT_EQ(CComClassTable::Instance().GetDisplayName(k_clsidCounter, &name),
              REGDB_E_CLASSNOTREG);
}

TEST_F(ClassTableTest, RegisteredClassIsCreatedUntilItsRegistrationGoes) {
    {
        const auto registration = RegisterComClass<CCounter>(k_clsidCounter, L"Test::Counter");
        EXPECT_EQ(FirstIncrement(), 1);
        std::wstring name;
        ASSERT_EQ(CComClassTable::Instance().GetDisplayName(k_clsidCounter, &name), S_OK);
        EXPECT_EQ(name, L"Test::Counter");

        CComPtr<IClassFactory> factory;
        ASSERT_EQ(CoGetClassObject(k_clsidCounter, CLSCTX_INPROC_SERVER, IID_IClassFactory,
                                   factory.Put()),
                  S_OK);
        CComPtr<INamed> named;
        ASSERT_EQ(factory->CreateInstance(nullptr, INamed::k_iid, named.Put()), S_OK);
    }
    EXPECT_EQ(FirstIncrement(), REGDB_E_CLASSNOTREG);
}

TEST_F(ClassTableTest, OverrideReplacesAClassForItsLifetime) {
    const auto real = RegisterComClass<CCounter>(k_clsidCounter, L"Test::Counter");
    {
        const auto fake = RegisterComClass<CDouble>(k_clsidCounter, L"Test::Double");
        EXPECT_EQ(FirstIncrement(), -1);
        std::wstring name;
        ASSERT_EQ(CComClassTable::Instance().GetDisplayName(k_clsidCounter, &name), S_OK);
        EXPECT_EQ(name, L"Test::Double");
    }
    EXPECT_EQ(FirstIncrement(), 1) << "the replaced class answers again";
}

TEST_F(ClassTableTest, RegistrationsAnswerOnlyInTheirContext) {
    CComPtr<CComClassFactory<CCounter>> factory;
    ASSERT_EQ(CreateComObject(&factory), S_OK);
    const CComClassRegistration proxy(k_clsidCounter, L"Test::Remote", factory,
                                      CLSCTX_LOCAL_SERVER);
    EXPECT_EQ(FirstIncrement(CLSCTX_INPROC_SERVER), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(FirstIncrement(CLSCTX_LOCAL_SERVER), 1);
    EXPECT_EQ(FirstIncrement(CLSCTX_ALL), 1);
}

TEST_F(ClassTableTest, TableRefusesBadRegistrationsAndUnknownCookies) {
    CComClassTable& table = CComClassTable::Instance();
    DWORD cookie = 5;
    EXPECT_EQ(table.Register(k_clsidCounter, L"x", nullptr, CLSCTX_INPROC_SERVER, &cookie),
              E_POINTER);
    CComPtr<CComClassFactory<CCounter>> factory;
    ASSERT_EQ(CreateComObject(&factory), S_OK);
    EXPECT_EQ(table.Register(k_clsidCounter, L"x", factory, 0, &cookie), E_INVALIDARG);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(table.Revoke(0), CO_E_OBJNOTREG);
    EXPECT_THROW(CComClassRegistration(k_clsidCounter, L"x", nullptr), _com_error);

    CComClassRegistration moved = RegisterComClass<CCounter>(k_clsidCounter, L"Test::Counter");
    const DWORD movedCookie = moved.Cookie();
    CComClassRegistration target = std::move(moved);
    EXPECT_EQ(moved.Cookie(), 0u);
    target = RegisterComClass<CDouble>(k_clsidCounter, L"Test::Double");
    EXPECT_EQ(table.Revoke(movedCookie), CO_E_OBJNOTREG) << "assignment revoked the old one";
    EXPECT_EQ(FirstIncrement(), -1);
}

TEST_F(ClassTableTest, AggregationRefusalReachesTheCaller) {
    const auto registration = RegisterComClass<CDouble>(k_clsidCounter, L"Test::Double");
    CComPtr<CCounter> outer;
    ASSERT_EQ(CreateComObject(&outer), S_OK);
    void* object = nullptr;
    EXPECT_EQ(
        CoCreateInstance(k_clsidCounter, outer->GetUnknown(), CLSCTX_ALL, IID_IUnknown, &object),
        CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
}

TEST_F(ClassTableTest, SingletonClassGivesEveryClientTheSameObject) {
    CComPtr<CComSingletonFactory<CCounter>> factory;
    {
        const auto registration =
            RegisterComSingleton<CCounter>(k_clsidCounter, L"Test::Shared", &factory);
        EXPECT_EQ(FirstIncrement(), 1);
        EXPECT_EQ(FirstIncrement(), 2) << "the second client talks to the first one's object";
        EXPECT_NE(factory->Instance(), nullptr);
    }
    factory.Reset();
}

TEST_F(ClassTableTest, CreationAndRegistrationMayRaceAcrossThreads) {
    const auto base = RegisterComClass<CCounter>(k_clsidCounter, L"Test::Counter");
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 300; ++i) {
                const LONG value = FirstIncrement();
                EXPECT_TRUE(value == 1 || value == -1) << value;
            }
        });
    }
    threads.emplace_back([] {
        for (int i = 0; i < 300; ++i) {
            const auto fake = RegisterComClass<CDouble>(k_clsidCounter, L"Test::Double");
        }
    });
    for (auto& thread : threads) {
        thread.join();
    }
}

}  // namespace
