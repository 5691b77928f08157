#include <gtest/gtest.h>

#include <thread>

#include "components/veventlib/veventlib.h"
#include "qlib/qcom/comclasstable.h"
#include "tests/components/veventlib/veventtestsupport.h"
#include "vevent/veventlistener.h"

namespace {

// Counts the events it receives; OnEvent runs `behaviour` first.
class CCountingListener final : public CVEventListener {
public:
    explicit CCountingListener(std::function<void()> behaviour = {})
        : m_behaviour(std::move(behaviour)) {}
    ~CCountingListener() override { Clear(); }
    void OnEvent(IUnknown* /*event*/) override {
        if (m_behaviour) {
            m_behaviour();
        }
        ++m_events;
    }
    int Events() const { return m_events; }

private:
    std::function<void()> m_behaviour;
    std::atomic<int> m_events{0};
};

class InnerEventListenerTest : public ::testing::Test {
protected:
    void SetUp() override {
        CVEventLib::RegisterClasses();
        ASSERT_EQ(CoCreateInstance(CLSID_VInnerEventListener, nullptr, CLSCTX_INPROC_SERVER,
                                   IVInnerEventListener::k_iid, m_inner.Put()),
                  S_OK);
        void* raw = nullptr;
        ASSERT_EQ(m_inner->QueryInterface(DIID_IVEventListener, &raw), S_OK);
        m_sink.Attach(static_cast<IDispatch*>(raw));
    }

    // One event through the listener dispinterface, as an event dispatcher sends it.
    HRESULT Send(VARIANT argument = VARIANT(CTestEvent::Make(k_completedType, 1))) {
        DISPPARAMS params;
        params.rgvarg = &argument;
        params.cArgs = 1;
        return m_sink->Invoke(k_eventMethodDispId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                              &params, nullptr, nullptr, nullptr);
    }

    CComPtr<IVInnerEventListener> m_inner;
    CComPtr<IDispatch> m_sink;
};

TEST_F(InnerEventListenerTest, ForwardsEventsOnlyWhileAttached) {
    CCountingListener listener;
    EXPECT_EQ(Send(), S_OK);
    ASSERT_EQ(m_inner->Attach(&listener), S_OK);
    EXPECT_EQ(Send(), S_OK);
    EXPECT_EQ(Send(), S_OK);
    ASSERT_EQ(m_inner->Attach(nullptr), S_OK);
    EXPECT_EQ(Send(), S_OK);
    EXPECT_EQ(listener.Events(), 2);
}

TEST_F(InnerEventListenerTest, RefusesCallsThatCarryNoEvent) {
    CCountingListener listener;
    ASSERT_EQ(m_inner->Attach(&listener), S_OK);
    EXPECT_EQ(Send(VARIANT(4)), DISP_E_TYPEMISMATCH);
    DISPPARAMS none;
    EXPECT_EQ(m_sink->Invoke(k_eventMethodDispId, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr,
                             nullptr, nullptr),
              DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(m_sink->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(listener.Events(), 0);
    ASSERT_EQ(m_inner->Attach(nullptr), S_OK);
}

TEST_F(InnerEventListenerTest, DetachWaitsForTheDeliveryInFlightUnlessCalledFromIt) {
    CGate inEvent;
    CGate release;
    CCountingListener blocking([&] {
        inEvent.Open();
        release.Wait();
    });
    ASSERT_EQ(m_inner->Attach(&blocking), S_OK);
    std::thread delivery([&] { EXPECT_EQ(Send(), S_OK); });
    ASSERT_TRUE(inEvent.Wait());
    std::atomic<bool> detached{false};
    std::thread detaching([&] {
        EXPECT_EQ(m_inner->Attach(nullptr), S_OK);
        EXPECT_EQ(blocking.Events(), 1);  // the delivery in flight has ended
        detached = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(detached);
    release.Open();
    detaching.join();
    delivery.join();

    IVInnerEventListener* inner = m_inner;
    CCountingListener leaving([&] { EXPECT_EQ(inner->Attach(nullptr), S_OK); });
    ASSERT_EQ(m_inner->Attach(&leaving), S_OK);
    EXPECT_EQ(Send(), S_OK);
    EXPECT_EQ(Send(), S_OK);
    EXPECT_EQ(leaving.Events(), 1);
}

TEST_F(InnerEventListenerTest, ExceptionFromOnEventIsSwallowed) {
    CCountingListener throwing([] { throw std::runtime_error("listener failed"); });
    ASSERT_EQ(m_inner->Attach(&throwing), S_OK);
    EXPECT_EQ(Send(), S_OK);
    ASSERT_EQ(m_inner->Attach(nullptr), S_OK);
}

}  // namespace
