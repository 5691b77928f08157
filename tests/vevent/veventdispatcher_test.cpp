#include <gtest/gtest.h>

#include <thread>

#include "components/veventlib/veventlib.h"
#include "qlib/qcom/comclassregistration.h"
#include "qlib/qcom/comdispatchimpl.h"
#include "tests/components/veventlib/veventtestsupport.h"
#include "vevent/veventdispatcher.h"

namespace {

// Stands in for the event library's dispatcher: records what reaches it and answers as told.
class CScriptedDispatcher final : public CComObjectBase<CComDispatchImpl<IVEventDispatcher>> {
public:
    CScriptedDispatcher() { ++s_created; }

    HRESULT Advise(IUnknown* /*sink*/, ULONG cookie) override {
        m_advised.push_back(cookie);
        return s_adviseAnswer;
    }
    HRESULT Unadvise(ULONG /*cookie*/) override { return s_unadviseAnswer; }
    HRESULT DispatchEvent(const VARIANT& /*event*/) override { return s_dispatchAnswer; }

    static inline std::atomic<int> s_created{0};
    static inline HRESULT s_adviseAnswer = S_OK;
    static inline HRESULT s_unadviseAnswer = S_OK;
    static inline HRESULT s_dispatchAnswer = S_OK;
    std::vector<ULONG> m_advised;  // used by the test's thread only
};

class EventDispatcherTemplateTest : public ::testing::Test {
protected:
    void SetUp() override {
        CVEventLib::RegisterClasses();
        ThrowIfFailed(CreateComObject(&m_source));
        ThrowIfFailed(m_source->FindConnectionPoint(DIID_IVEventListener, &m_point));
    }

    CComPtr<CTestSource> m_source;
    CComPtr<IConnectionPoint> m_point;
};

// With a scripted dispatcher registered in place of the event library's for the test.
class ScriptedDispatcherTest : public EventDispatcherTemplateTest {
protected:
    void SetUp() override {
        CVEventLib::RegisterClasses();  // first: the double must be the newest registration
        CScriptedDispatcher::s_created = 0;
        CScriptedDispatcher::s_adviseAnswer = S_OK;
        CScriptedDispatcher::s_unadviseAnswer = S_OK;
        CScriptedDispatcher::s_dispatchAnswer = S_OK;
        m_registration = RegisterComClass<CScriptedDispatcher>(CLSID_VEventDispatcher,
                                                               k_eventDispatcherDisplayName);
        EventDispatcherTemplateTest::SetUp();
    }

    CScriptedDispatcher& Scripted() {
        return static_cast<CScriptedDispatcher&>(*m_source->GetEventDispatcher());
    }

    std::size_t Connections() {
        std::vector<CONNECTDATA> connections;
        ThrowIfFailed(m_point->EnumConnections(&connections));
        return connections.size();
    }

    CComClassRegistration m_registration;
};

TEST_F(EventDispatcherTemplateTest, ClientsReceiveEventsThroughTheEventLibrary) {
    auto first = CRecordingSink::Make();
    auto second = CRecordingSink::Make();
    DWORD firstCookie = 0;
    DWORD secondCookie = 0;
    ASSERT_EQ(m_point->Advise(first->GetUnknown(), &firstCookie), S_OK);
    ASSERT_EQ(m_point->Advise(second->GetUnknown(), &secondCookie), S_OK);
    m_source->DispatchEvent(CTestEvent::Make(k_completedType, 1));
    ASSERT_TRUE(first->WaitForSequence(1));
    ASSERT_EQ(m_point->Unadvise(firstCookie), S_OK);
    m_source->DispatchEvent(CTestEvent::Make(k_completedType, 2));
    ASSERT_TRUE(second->WaitForSequence(2));
    ASSERT_EQ(first->Received().size(), 1u);
    EXPECT_EQ(first->Received()[0].sequence, 1);
}

TEST_F(ScriptedDispatcherTest, SinkWithoutTheDispinterfaceNeverReachesTheDispatcher) {
    DWORD cookie = 0;
    EXPECT_EQ(m_point->Advise(CTestEvent::Make(1, 1), &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(CScriptedDispatcher::s_created, 0);
    EXPECT_EQ(Connections(), 0u);
}

TEST_F(ScriptedDispatcherTest, FailedMirrorLeavesTheSinkArrayAsItWasAndAnswersItsHResult) {
    auto kept = CRecordingSink::Make();
    DWORD keptCookie = 0;
    ASSERT_EQ(m_point->Advise(kept->GetUnknown(), &keptCookie), S_OK);
    EXPECT_EQ(Scripted().m_advised, std::vector<ULONG>{keptCookie});
    CScriptedDispatcher::s_adviseAnswer = E_OUTOFMEMORY;
    DWORD cookie = 0;
    EXPECT_EQ(m_point->Advise(CRecordingSink::Make()->GetUnknown(), &cookie), E_OUTOFMEMORY);
    EXPECT_EQ(cookie, 0u);
    std::vector<CONNECTDATA> connections;
    ASSERT_EQ(m_point->EnumConnections(&connections), S_OK);
    ASSERT_EQ(connections.size(), 1u);
    EXPECT_EQ(connections[0].dwCookie, keptCookie);
}

TEST_F(ScriptedDispatcherTest, UnadviseAnswersThePointsFailureFirstThenTheMirrors) {
    EXPECT_EQ(m_point->Unadvise(12345), CONNECT_E_NOCONNECTION);
    DWORD cookie = 0;
    ASSERT_EQ(m_point->Advise(CRecordingSink::Make()->GetUnknown(), &cookie), S_OK);
    EXPECT_EQ(m_point->Unadvise(12345), CONNECT_E_NOCONNECTION);  // the mirror accepts it
    CScriptedDispatcher::s_unadviseAnswer = E_ACCESSDENIED;
    EXPECT_EQ(m_point->Unadvise(cookie), E_ACCESSDENIED);
    EXPECT_EQ(Connections(), 0u);
}

TEST_F(ScriptedDispatcherTest, RefusedEventRaisesWithTheDispatchersHResult) {
    CScriptedDispatcher::s_dispatchAnswer = E_OUTOFMEMORY;
    try {
        m_source->DispatchEvent(CTestEvent::Make(k_completedType, 1));
        FAIL() << "no exception";
    } catch (const CQException& error) {
        EXPECT_EQ(error.GetHResult(), E_OUTOFMEMORY);
    }
}

TEST_F(ScriptedDispatcherTest, ThreadsRacingForTheFirstUseCreateOneDispatcher) {
    std::vector<std::thread> threads;
    std::vector<IVEventDispatcher*> seen(4);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&, i] { seen[i] = m_source->GetEventDispatcher().Get(); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(CScriptedDispatcher::s_created, 1);
    for (IVEventDispatcher* dispatcher : seen) {
        EXPECT_EQ(dispatcher, seen[0]);
    }
}

}  // namespace
