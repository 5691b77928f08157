#include <gtest/gtest.h>

#include "qlib/qcom/comconnectionpointcontainer.h"
#include "qlib/qcom/comdispatchdriver.h"
#include "qlib/qcom/comdispatchimpl.h"
#include "qlib/qcom/typeinfobuilder.h"
#include "tests/qlib/qcom/testinterfaces.h"

namespace {

class IListener : public IUnknown {
public:
    static constexpr IID k_iid = MakeGuid("{2B1E3C4D-0201-4000-8000-00000000C0DE}");
    virtual HRESULT OnEvent(LONG code) = 0;
};

// An outgoing dispinterface: no C++ type, only its IID and dispatch id 1 taking a VARIANT.
constexpr IID k_diidEvents = MakeGuid("{2B1E3C4D-0202-4000-8000-00000000C0DE}");

class IEventSink : public IDispatch {
public:
    static constexpr IID k_iid = MakeGuid("{2B1E3C4D-0203-4000-8000-00000000C0DE}");
    static const InterfaceInfo& TypeInfo() {
        static const InterfaceInfo s_info = MakeInterfaceInfo<IEventSink>(
            L"IEventSink", {{L"OnEvent", 1, &IEventSink::OnEvent, {L"event"}}});
        return s_info;
    }
    virtual HRESULT OnEvent(const VARIANT& event) = 0;
};

class CSource final : public CComObjectBase<ICounter, CComConnectionPointContainer> {
public:
    CSource()
        : m_listeners(AddConnectionPoint<CComConnectionPoint<IListener>>()),
          m_events(AddConnectionPoint<CComConnectionPoint<IDispatch>>(k_diidEvents)) {}

    HRESULT Increment(LONG* value) override {
        *value = ++m_value;
        for (const CComPtr<IListener>& listener : m_listeners.Sinks()) {
            listener->OnEvent(m_value);
        }
        for (const CComPtr<IDispatch>& sink : m_events.Sinks()) {
            CComDispatchDriver(sink).Call(L"OnEvent", m_value);
        }
        return S_OK;
    }

    CComConnectionPoint<IListener>& Listeners() { return m_listeners; }

private:
    LiveObjects m_live;
    CComConnectionPoint<IListener>& m_listeners;
    CComConnectionPoint<IDispatch>& m_events;
    LONG m_value = 0;
};

class CListener final : public CComObjectBase<IListener> {
public:
    HRESULT OnEvent(LONG code) override {
        m_received.push_back(code);
        if (m_point != nullptr) {
            m_point->Unadvise(m_cookie);
        }
        return S_OK;
    }
    // Makes the listener leave the point from inside its first event.
    void LeaveOnEvent(IConnectionPoint* point, DWORD cookie) {
        m_point = point;
        m_cookie = cookie;
    }
    const std::vector<LONG>& Received() const { return m_received; }

private:
    LiveObjects m_live;
    std::vector<LONG> m_received;
    IConnectionPoint* m_point = nullptr;
    DWORD m_cookie = 0;
};

// A sink of the dispinterface: it answers the dispinterface's IID with its IDispatch.
class CEventSink final : public CComObjectBase<CComDispatchImpl<IEventSink>> {
public:
    HRESULT OnEvent(const VARIANT& event) override {
        m_received.push_back(event);
        return S_OK;
    }
    const std::vector<VARIANT>& Received() const { return m_received; }

protected:
    void* QueryAdditionalInterface(REFIID iid) override {
        return iid == k_diidEvents ? static_cast<void*>(static_cast<IDispatch*>(this)) : nullptr;
    }

private:
    LiveObjects m_live;
    std::vector<VARIANT> m_received;
};

class ConnectionPointTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CreateComObject(&m_source), S_OK);
        CComPtr<IConnectionPointContainer> container;
        ASSERT_EQ(m_source.QueryInterface(&container), S_OK);
        ASSERT_EQ(container->FindConnectionPoint(IListener::k_iid, &m_point), S_OK);
    }
    void TearDown() override {
        m_point.Reset();
        m_source.Reset();
        EXPECT_EQ(LiveObjects::Count(), 0) << "an object leaked";
    }

    CComPtr<CListener> MakeListener() {
        CComPtr<CListener> listener;
        EXPECT_EQ(CreateComObject(&listener), S_OK);
        return listener;
    }

    CComPtr<CSource> m_source;
    CComPtr<IConnectionPoint> m_point;
};

TEST_F(ConnectionPointTest, AdviseRefusesASinkWithoutTheInterface) {
    CComPtr<CCounter> stranger;
    ASSERT_EQ(CreateComObject(&stranger), S_OK);
    DWORD cookie = 77;
    EXPECT_EQ(m_point->Advise(stranger->GetUnknown(), &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(References(stranger), 1u) << "a refused sink is not kept";
    EXPECT_EQ(m_point->Advise(nullptr, &cookie), E_POINTER);
}

TEST_F(ConnectionPointTest, CookiesNameConnectionsUntilUnadvised) {
    CComPtr<CListener> first = MakeListener();
    CComPtr<CListener> second = MakeListener();
    DWORD firstCookie = 0;
    DWORD secondCookie = 0;
    ASSERT_EQ(m_point->Advise(first->GetUnknown(), &firstCookie), S_OK);
    ASSERT_EQ(m_point->Advise(second->GetUnknown(), &secondCookie), S_OK);
    EXPECT_NE(firstCookie, 0u);
    EXPECT_NE(firstCookie, secondCookie);
    EXPECT_EQ(References(first), 2u) << "the point holds the sink";

    EXPECT_EQ(m_point->Unadvise(firstCookie), S_OK);
    EXPECT_EQ(References(first), 1u);
    EXPECT_EQ(m_point->Unadvise(firstCookie), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(m_point->Unadvise(0), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(m_point->Unadvise(secondCookie + 1000), CONNECT_E_NOCONNECTION);

    std::vector<CONNECTDATA> connections;
    ASSERT_EQ(m_point->EnumConnections(&connections), S_OK);
    ASSERT_EQ(connections.size(), 1u);
    EXPECT_EQ(connections[0].dwCookie, secondCookie);
    EXPECT_TRUE(IsSameObject(connections[0].pUnk, second->GetUnknown()));
}

TEST_F(ConnectionPointTest, EventsReachEverySinkAndASinkMayLeaveWhileOneGoesOut) {
    CComPtr<CListener> leaving = MakeListener();
    CComPtr<CListener> staying = MakeListener();
    DWORD leavingCookie = 0;
    DWORD stayingCookie = 0;
    ASSERT_EQ(m_point->Advise(leaving->GetUnknown(), &leavingCookie), S_OK);
    ASSERT_EQ(m_point->Advise(staying->GetUnknown(), &stayingCookie), S_OK);
    leaving->LeaveOnEvent(m_point, leavingCookie);

    LONG value = 0;
    ASSERT_EQ(m_source->Increment(&value), S_OK);
    ASSERT_EQ(m_source->Increment(&value), S_OK);
    EXPECT_EQ(leaving->Received(), std::vector<LONG>{1});
    EXPECT_EQ(staying->Received(), (std::vector<LONG>{1, 2}));
    EXPECT_EQ(m_source->Listeners().Sinks().size(), 1u);
}

TEST_F(ConnectionPointTest, DispinterfaceSinksAreCalledThroughIDispatch) {
    CComPtr<CEventSink> sink;
    ASSERT_EQ(CreateComObject(&sink), S_OK);
    CComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(m_source.QueryInterface(&container), S_OK);
    CComPtr<IConnectionPoint> events;
    ASSERT_EQ(container->FindConnectionPoint(k_diidEvents, &events), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(events->Advise(sink->GetUnknown(), &cookie), S_OK);
    CComPtr<CListener> listener = MakeListener();
    EXPECT_EQ(events->Advise(listener->GetUnknown(), &cookie), CONNECT_E_CANNOTCONNECT);

    LONG value = 0;
    ASSERT_EQ(m_source->Increment(&value), S_OK);
    ASSERT_EQ(sink->Received().size(), 1u);
    EXPECT_EQ(sink->Received()[0], VARIANT(LONG{1}));
}

TEST_F(ConnectionPointTest, PointsBelongToTheirContainer) {
    CComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(m_source.QueryInterface(&container), S_OK);
    CComPtr<IConnectionPoint> none;
    EXPECT_EQ(container->FindConnectionPoint(ICounter::k_iid, &none), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(none, nullptr);
    std::vector<CComPtr<IConnectionPoint>> points;
    ASSERT_EQ(container->EnumConnectionPoints(&points), S_OK);
    EXPECT_EQ(points.size(), 2u);

    IID iid{};
    ASSERT_EQ(m_point->GetConnectionInterface(&iid), S_OK);
    EXPECT_EQ(iid, IListener::k_iid);
    CComPtr<IConnectionPointContainer> owner;
    ASSERT_EQ(m_point->GetConnectionPointContainer(&owner), S_OK);
    EXPECT_TRUE(IsSameObject(owner, m_source->GetUnknown()));
    EXPECT_FALSE(IsSameObject(m_point, m_source->GetUnknown()))
        << "a point is an object of its own";

    const ULONG before = References(m_source);
    CComPtr<IConnectionPoint> extra = m_point;
    EXPECT_EQ(References(m_source), before + 1) << "a reference to a point keeps its container";
}

TEST_F(ConnectionPointTest, SinksAreReleasedWithTheirSource) {
    CComPtr<CListener> listener = MakeListener();
    DWORD cookie = 0;
    ASSERT_EQ(m_point->Advise(listener->GetUnknown(), &cookie), S_OK);
    m_point.Reset();
    m_source.Reset();
    EXPECT_EQ(References(listener), 1u);
}

}  // namespace
