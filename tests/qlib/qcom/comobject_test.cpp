#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "qlib/qcom/comclassfactory.h"
#include "qlib/qcom/comsingletonfactory.h"
#include "qlib/qcom/comsupporterrorinfoimpl.h"
#include "tests/qlib/qcom/testinterfaces.h"

namespace {

class ComObjectTest : public testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(LiveObjects::Count(), 0) << "an object leaked"; }
};

using ComPtrTest = ComObjectTest;
using ClassFactoryTest = ComObjectTest;

TEST_F(ComPtrTest, CopiesAddMovesHandOverAndResetDrops) {
    CComPtr<CCounter> counter = MakeCounter();
    ASSERT_EQ(References(counter), 1u);
    {
        CComPtr<ICounter> copy = counter;
        CComPtr<IUnknown> upcast(copy);
        EXPECT_EQ(References(counter), 3u);
        CComPtr<ICounter> moved = std::move(copy);
        EXPECT_EQ(copy, nullptr);
        EXPECT_EQ(References(counter), 3u);
        moved = moved;  // self-assignment keeps the reference
        EXPECT_EQ(References(counter), 3u);
        upcast.Reset();
        EXPECT_EQ(References(counter), 2u);
    }
    EXPECT_EQ(References(counter), 1u);
    counter = nullptr;
    EXPECT_EQ(LiveObjects::Count(), 0);
}

TEST_F(ComPtrTest, AttachTakesOverAndDetachGivesAway) {
    CComPtr<CCounter> counter = MakeCounter();
    ICounter* raw = nullptr;
    ASSERT_EQ(CComPtr<ICounter>(counter).CopyTo(&raw), S_OK);
    EXPECT_EQ(References(counter), 2u);

    CComPtr<ICounter> owner;
    owner.Attach(raw);
    EXPECT_EQ(References(counter), 2u) << "Attach adds nothing";
    ICounter* detached = owner.Detach();
    EXPECT_EQ(owner, nullptr);
    EXPECT_EQ(detached->Release(), 1u);
}

TEST_F(ComPtrTest, OutPointerDropsWhatWasHeld) {
    CComPtr<CCounter> first = MakeCounter();
    CComPtr<CCounter> second = MakeCounter();
    CComPtr<ICounter> target = first.Get();
    ASSERT_EQ(second.QueryInterface(&target), S_OK);
    EXPECT_EQ(References(first), 1u) << "the earlier reference was released";
    EXPECT_EQ(References(second), 2u);
    ASSERT_EQ(first->QueryInterface(ICounter::k_iid, target.Put()), S_OK);
    EXPECT_EQ(References(second), 1u);
    EXPECT_EQ(References(first), 2u);
}

TEST_F(ComPtrTest, QueryInterfaceReachesOtherInterfacesOfTheObject) {
    CComPtr<CCounter> counter = MakeCounter();
    CComPtr<INamed> named;
    ASSERT_EQ(counter.QueryInterface(&named), S_OK);
    BSTR name;
    ASSERT_EQ(named->GetName(&name), S_OK);
    EXPECT_EQ(name, L"counter");

    CComPtr<INobody> nobody;
    EXPECT_EQ(counter.QueryInterface(&nobody), E_NOINTERFACE);
    EXPECT_EQ(nobody, nullptr);
    CComPtr<ICounter> empty;
    EXPECT_EQ(empty.QueryInterface(&named), E_POINTER);
    EXPECT_EQ(named, nullptr);
}

TEST_F(ComObjectTest, AnswersItsInterfaceMapAndNullsTheOutPointerOtherwise) {
    CComPtr<CCounter> counter = MakeCounter();
    void* answer = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(counter->QueryInterface(INobody::k_iid, &answer), E_NOINTERFACE);
    EXPECT_EQ(answer, nullptr);
    EXPECT_EQ(counter->QueryInterface(IID_IDispatch, &answer), E_NOINTERFACE)
        << "no entry derives from IDispatch";
    EXPECT_EQ(counter->QueryInterface(ICounter::k_iid, nullptr), E_POINTER);
    EXPECT_EQ(References(counter), 1u) << "failed queries add nothing";
}

TEST_F(ComObjectTest, IdentityIsTheSameFromEveryInterface) {
    CComPtr<CCounter> counter = MakeCounter();
    CComPtr<ICounter> asCounter;
    CComPtr<INamed> asNamed;
    ASSERT_EQ(counter.QueryInterface(&asCounter), S_OK);
    ASSERT_EQ(asCounter.QueryInterface(&asNamed), S_OK);
    CComPtr<IUnknown> fromCounter;
    CComPtr<IUnknown> fromNamed;
    ASSERT_EQ(asCounter.QueryInterface(&fromCounter), S_OK);
    ASSERT_EQ(asNamed.QueryInterface(&fromNamed), S_OK);
    EXPECT_EQ(fromCounter, fromNamed);
    EXPECT_TRUE(IsSameObject(asCounter, asNamed));
    EXPECT_FALSE(IsSameObject(asCounter, MakeCounter()->GetUnknown()));
}

class CFailingConstruct final : public CComObjectBase<ICounter> {
public:
    static inline int s_finalReleases = 0;
    HRESULT FinalConstruct() override { return E_ACCESSDENIED; }
    void FinalRelease() noexcept override { ++s_finalReleases; }
    HRESULT Increment(LONG*) override { return E_UNEXPECTED; }

private:
    LiveObjects m_live;
};

TEST_F(ComObjectTest, FailingFinalConstructFailsTheCreationAndFreesTheObject) {
    CComPtr<CFailingConstruct> object;
    EXPECT_EQ(CreateComObject(&object), E_ACCESSDENIED);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(CFailingConstruct::s_finalReleases, 1);

    void* raw = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CComObjectBaseImpl::CreateInstance<CFailingConstruct>(nullptr, ICounter::k_iid, &raw),
              E_ACCESSDENIED);
    EXPECT_EQ(raw, nullptr);
}

class CThrowingConstruct final : public CComObjectBase<ICounter> {
public:
    HRESULT FinalConstruct() override { throw std::runtime_error("no disk"); }
    HRESULT Increment(LONG*) override { return E_UNEXPECTED; }

private:
    LiveObjects m_live;
};

TEST_F(ComObjectTest, ExceptionFromFinalConstructBecomesAnHResultWithItsText) {
    CComPtr<CThrowingConstruct> object;
    EXPECT_EQ(CreateComObject(&object), E_FAIL);
    const auto info = GetErrorInfo();
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->description, L"no disk");
}

// FinalRelease that lends itself out (a reference added and dropped again) must not bring the
// count to zero a second time.
class CSelfReferencing final : public CComObjectBase<ICounter> {
public:
    static inline int s_finalReleases = 0;
    void FinalRelease() noexcept override {
        ++s_finalReleases;
        CComPtr<ICounter> self(this);
    }
    HRESULT Increment(LONG*) override { return S_OK; }

private:
    LiveObjects m_live;
};

TEST_F(ComObjectTest, FinalReleaseRunsOnceEvenWhenItTakesAReference) {
    {
        CComPtr<CSelfReferencing> object;
        ASSERT_EQ(CreateComObject(&object), S_OK);
    }
    EXPECT_EQ(CSelfReferencing::s_finalReleases, 1);
}

TEST_F(ComObjectTest, ReferencesFromManyThreadsBalance) {
    CComPtr<CCounter> counter = MakeCounter();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([shared = CComPtr<ICounter>(counter)] {
            for (int i = 0; i < 10000; ++i) {
                CComPtr<ICounter> copy = shared;
                CComPtr<INamed> named;
                EXPECT_EQ(copy.QueryInterface(&named), S_OK);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(References(counter), 1u);
}

TEST_F(ClassFactoryTest, OrdinaryFactoryMakesANewObjectEachTime) {
    CComPtr<CComClassFactory<CCounter>> factory;
    ASSERT_EQ(CreateComObject(&factory), S_OK);
    CComPtr<ICounter> first;
    CComPtr<ICounter> second;
    ASSERT_EQ(factory->CreateInstance(nullptr, ICounter::k_iid, first.Put()), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, ICounter::k_iid, second.Put()), S_OK);
    EXPECT_FALSE(IsSameObject(first, second));
    EXPECT_EQ(References(first), 1u);

    CComPtr<INobody> none;
    EXPECT_EQ(factory->CreateInstance(nullptr, INobody::k_iid, none.Put()), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(LiveObjects::Count(), 2) << "the object that did not answer is gone";
}

class CShared final : public CComObjectBase<ICounter> {
public:
    static inline std::atomic<int> s_constructions{0};
    CShared() { ++s_constructions; }
    HRESULT Increment(LONG* value) override {
        *value = ++m_value;
        return S_OK;
    }

private:
    LiveObjects m_live;
    std::atomic<LONG> m_value{0};
};

TEST_F(ClassFactoryTest, SingletonFactoryHandsOutOneIdentityEvenToRacingFirstRequests) {
    CComPtr<CComSingletonFactory<CShared>> factory;
    ASSERT_EQ(CreateComObject(&factory), S_OK);
    EXPECT_EQ(factory->Instance(), nullptr) << "nothing is made before it is asked for";

    std::vector<CComPtr<IUnknown>> instances(6);
    std::vector<std::thread> threads;
    for (auto& instance : instances) {
        threads.emplace_back([&factory, &instance] {
            EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, instance.Put()), S_OK);
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(CShared::s_constructions, 1);
    for (const auto& instance : instances) {
        EXPECT_EQ(instance, instances.front());
    }
    EXPECT_EQ(factory->Instance(), instances.front());

    instances.clear();
    EXPECT_EQ(LiveObjects::Count(), 1) << "the factory keeps the instance";
    factory.Reset();
}

class CNotAggregatable final : public CComObjectBase<ICounter> {
public:
    static constexpr ComAggregation k_aggregation = ComAggregation::Refused;
    HRESULT Increment(LONG*) override { return S_OK; }

private:
    LiveObjects m_live;
};

TEST_F(ClassFactoryTest, AggregationIsRefusedWhereTheClassSaysSo) {
    CComPtr<CCounter> outer = MakeCounter();
    CComPtr<CComClassFactory<CNotAggregatable>> refusing;
    ASSERT_EQ(CreateComObject(&refusing), S_OK);
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(refusing->CreateInstance(outer->GetUnknown(), IID_IUnknown, &object),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);

    CComPtr<CComSingletonFactory<CCounter>> singleton;
    ASSERT_EQ(CreateComObject(&singleton), S_OK);
    EXPECT_EQ(singleton->CreateInstance(outer->GetUnknown(), IID_IUnknown, &object),
              CLASS_E_NOAGGREGATION);

    CComPtr<CComClassFactory<CCounter>> ordinary;
    ASSERT_EQ(CreateComObject(&ordinary), S_OK);
    EXPECT_EQ(ordinary->CreateInstance(outer->GetUnknown(), ICounter::k_iid, &object),
              CLASS_E_NOAGGREGATION)
        << "an aggregated object must be asked for IUnknown";
    EXPECT_EQ(LiveObjects::Count(), 1);
}

// An outer object that exposes the ICounter of an aggregated CCounter as its own.
class COuter final : public CComObjectBase<INamed> {
public:
    HRESULT FinalConstruct() override {
        return CComObjectBaseImpl::CreateInstance<CCounter>(GetUnknown(), IID_IUnknown,
                                                            m_inner.Put());
    }
    HRESULT GetName(BSTR* name) override {
        *name = L"outer";
        return S_OK;
    }

protected:
    void* QueryAdditionalInterface(REFIID iid) override {
        void* found = nullptr;
        if (iid == ICounter::k_iid && SUCCEEDED(m_inner->QueryInterface(iid, &found))) {
            static_cast<ICounter*>(found)->Release();  // the base adds the reference it hands out
            return found;
        }
        return nullptr;
    }

private:
    LiveObjects m_live;
    CComPtr<IUnknown> m_inner;  // the inner object's own IUnknown
};

TEST_F(ComObjectTest, AggregatedObjectSpeaksForItsOuterObject) {
    CComPtr<COuter> outer;
    ASSERT_EQ(CreateComObject(&outer), S_OK);
    CComPtr<ICounter> counter;
    ASSERT_EQ(outer.QueryInterface(&counter), S_OK);
    LONG value = 0;
    ASSERT_EQ(counter->Increment(&value), S_OK);
    EXPECT_EQ(value, 1);

    EXPECT_TRUE(IsSameObject(counter, outer->GetUnknown())) << "the inner has the outer's identity";
    CComPtr<INamed> named;
    ASSERT_EQ(counter.QueryInterface(&named), S_OK) << "queries go to the outer object";
    BSTR name;
    ASSERT_EQ(named->GetName(&name), S_OK);
    EXPECT_EQ(name, L"outer");
    EXPECT_EQ(References(outer), 3u) << "references on the inner's interfaces count for the outer";

    counter.Reset();
    named.Reset();
    EXPECT_EQ(LiveObjects::Count(), 2);
    outer.Reset();
    EXPECT_EQ(LiveObjects::Count(), 0) << "the outer released its inner object";
}

class CReporting final : public CComObjectBase<ICounter, CComSupportErrorInfoImpl<ICounter>> {
public:
    HRESULT Increment(LONG*) override { return S_OK; }
};

TEST_F(ComObjectTest, ObjectSaysWhichInterfacesLeaveErrorInformation) {
    CComPtr<CReporting> object;
    ASSERT_EQ(CreateComObject(&object), S_OK);
    CComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(object.QueryInterface(&support), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(ICounter::k_iid), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(INamed::k_iid), S_FALSE);
}

}  // namespace
