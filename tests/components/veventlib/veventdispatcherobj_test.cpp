#include <gtest/gtest.h>

#include <future>
#include <map>
#include <thread>

#include "components/veventlib/veventbacklog.h"
#include "components/veventlib/veventlib.h"
#include "components/veventlib/veventsinkchannel.h"
#include "qlib/qcom/comclasstable.h"
#include "tests/components/veventlib/veventtestsupport.h"

namespace {

class EventDispatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        CVEventLib::RegisterClasses();
        ASSERT_EQ(CoCreateInstance(CLSID_VEventDispatcher, nullptr, CLSCTX_INPROC_SERVER,
                                   IVEventDispatcher::k_iid, m_dispatcher.Put()),
                  S_OK);
    }

    ULONG Advise(const CComPtr<CRecordingSink>& sink) {
        const ULONG cookie = ++m_lastCookie;
        EXPECT_EQ(m_dispatcher->Advise(sink->GetUnknown(), cookie), S_OK);
        return cookie;
    }

    void Send(LONG type, LONG sequence) {
        ASSERT_EQ(m_dispatcher->DispatchEvent(VARIANT(CTestEvent::Make(type, sequence))), S_OK);
    }

    CComPtr<IVEventDispatcher> m_dispatcher;
    ULONG m_lastCookie = 0;
};

TEST_F(EventDispatcherTest, EverySinkSeesTheEventsOfFourSendersInOneOrder) {
    constexpr LONG k_senders = 4;
    constexpr LONG k_perSender = 2000;
    std::vector<CComPtr<CRecordingSink>> sinks;
    for (int i = 0; i < 3; ++i) {
        sinks.push_back(CRecordingSink::Make());
        Advise(sinks.back());
    }
    std::vector<std::thread> senders;
    for (LONG sender = 0; sender < k_senders; ++sender) {
        senders.emplace_back([&, sender] {
            for (LONG i = 0; i < k_perSender; ++i) {
                Send(k_completedType, sender * k_perSender + i);
            }
        });
    }
    for (std::thread& sender : senders) {
        sender.join();
    }
    for (const CComPtr<CRecordingSink>& sink : sinks) {
        ASSERT_TRUE(sink->WaitForCount(k_senders * k_perSender));
    }
    const auto order = sinks[0]->Received();
    std::map<LONG, LONG> lastOfSender;
    for (const auto& event : order) {
        const LONG sender = event.sequence / k_perSender;
        EXPECT_LT(lastOfSender.contains(sender) ? lastOfSender[sender] : -1, event.sequence);
        lastOfSender[sender] = event.sequence;
    }
    for (const CComPtr<CRecordingSink>& sink : sinks) {
        const auto received = sink->Received();
        ASSERT_EQ(received.size(), order.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            ASSERT_EQ(received[i].sequence, order[i].sequence) << "at " << i;
        }
    }
}

TEST_F(EventDispatcherTest, BlockedSinkHoldsUpNeitherTheSenderNorOtherSinks) {
    CGate gate;
    auto blocked = CRecordingSink::Make([&](const auto&) {
        gate.Wait();
        return S_OK;
    });
    auto other = CRecordingSink::Make();
    Advise(blocked);
    Advise(other);
    for (LONG i = 0; i < 50; ++i) {
        Send(k_completedType, i);
    }
    ASSERT_TRUE(other->WaitForCount(50));
    EXPECT_TRUE(blocked->Received().empty());
    gate.Open();
    ASSERT_TRUE(blocked->WaitForCount(50));
}

TEST_F(EventDispatcherTest, SinkWhoseClientIsGoneOrThatThrowsIsDroppedAndOthersGoOn) {
    auto gone = CRecordingSink::Make([](const auto&) { return RPC_E_DISCONNECTED; });
    auto throwing = CRecordingSink::Make([](const auto&) -> HRESULT { throw 42; });
    auto refusing = CRecordingSink::Make([](const auto&) { return E_FAIL; });
    auto healthy = CRecordingSink::Make();
    const ULONG goneCookie = Advise(gone);
    Advise(throwing);
    Advise(refusing);
    Advise(healthy);
    for (LONG i = 0; i < 20; ++i) {
        Send(k_completedType, i);
    }
    ASSERT_TRUE(healthy->WaitForCount(20));
    ASSERT_TRUE(refusing->WaitForCount(20));  // an ordinary failure keeps the sink
    EXPECT_EQ(gone->Received().size(), 1u);
    EXPECT_TRUE(throwing->Received().empty());
    // The dropped sink's cookie stays until the caller unadvises it.
    EXPECT_EQ(m_dispatcher->Unadvise(goneCookie), S_OK);
    EXPECT_EQ(m_dispatcher->Unadvise(goneCookie), CONNECT_E_NOCONNECTION);
}

TEST_F(EventDispatcherTest, ProgressToSlowSinkIsBoundedWhileEveryOtherEventArrives) {
    constexpr LONG k_events = 100000;
    constexpr LONG k_otherEvery = 1000;
    auto slow = CRecordingSink::Make([](const auto&) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        return S_OK;
    });
    Advise(slow);
    CTestEvent::ResetPeak();
    const int aliveBefore = CTestEvent::Alive();
    for (LONG i = 0; i < k_events; ++i) {
        Send(i % k_otherEvery == 0 ? k_completedType : k_progressType, i);
    }
    Send(k_completedType, k_events);
    const std::size_t others = k_events / k_otherEvery + 1;
    // Progress waits in at most two backlogs: before the fan-out and before the sink.
    EXPECT_LE(CTestEvent::Peak() - aliveBefore,
              static_cast<int>(2 * CVEventBacklog::k_progressPressure + others + 2));
    ASSERT_TRUE(slow->WaitForSequence(k_events));
    std::vector<LONG> otherSequences;
    LONG last = -1;
    for (const auto& event : slow->Received()) {
        EXPECT_LT(last, event.sequence);
        last = event.sequence;
        if (event.type == k_completedType) {
            otherSequences.push_back(event.sequence);
        }
    }
    ASSERT_EQ(otherSequences.size(), others);
    for (std::size_t i = 0; i < others; ++i) {
        EXPECT_EQ(otherSequences[i], static_cast<LONG>(i) * k_otherEvery);
    }
}

TEST_F(EventDispatcherTest, SinkThatLetsTooManyEventsPileUpIsDropped) {
    CGate inCall;
    CGate gate;
    auto stuck = CRecordingSink::Make([&](const auto&) {
        inCall.Open();
        gate.Wait();
        return S_OK;
    });
    Advise(stuck);
    // One event in the call, a full backlog, and one more.
    const LONG events = CVEventSinkChannel::k_maxBacklog + 2;
    Send(k_completedType, 0);
    ASSERT_TRUE(inCall.Wait());
    const VARIANT same(CTestEvent::Make(k_completedType, 1));
    for (LONG i = 1; i < events; ++i) {
        ASSERT_EQ(m_dispatcher->DispatchEvent(same), S_OK);
    }
    auto healthy = CRecordingSink::Make();
    Advise(healthy);
    Send(k_completedType, events);
    ASSERT_TRUE(healthy->WaitForSequence(events));
    gate.Open();
    ASSERT_TRUE(stuck->WaitForCount(1));
    Send(k_completedType, events + 1);
    ASSERT_TRUE(healthy->WaitForSequence(events + 1));
    EXPECT_EQ(stuck->Received().size(), 1u);
}

TEST_F(EventDispatcherTest, UnadviseWaitsForTheCallInFlightUnlessCalledFromIt) {
    CGate inCall;
    CGate release;
    std::atomic<bool> callEnded{false};
    auto sink = CRecordingSink::Make([&](const auto&) {
        inCall.Open();
        release.Wait();
        callEnded = true;
        return S_OK;
    });
    const ULONG cookie = Advise(sink);
    Send(k_completedType, 1);
    ASSERT_TRUE(inCall.Wait());
    std::atomic<bool> unadvised{false};
    std::thread unadvising([&] {
        EXPECT_EQ(m_dispatcher->Unadvise(cookie), S_OK);
        EXPECT_TRUE(callEnded);
        unadvised = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(unadvised);
    release.Open();
    unadvising.join();

    CComPtr<IVEventDispatcher> dispatcher = m_dispatcher;
    ULONG selfCookie = 0;
    auto leaving = CRecordingSink::Make([&](const auto&) {
        EXPECT_EQ(dispatcher->Unadvise(selfCookie), S_OK);
        return S_OK;
    });
    selfCookie = Advise(leaving);
    Send(k_completedType, 2);
    Send(k_completedType, 3);
    ASSERT_TRUE(leaving->WaitForCount(1));
    m_dispatcher = nullptr;  // releasing the dispatcher ends delivery
    dispatcher = nullptr;
    EXPECT_EQ(leaving->Received().size(), 1u);
}

TEST_F(EventDispatcherTest, SinkMayReleaseTheLastReferenceToTheDispatcher) {
    CComPtr<IVEventDispatcher> held = std::move(m_dispatcher);
    // The caller keeps its own reference for the length of its call (callers must) and drops
    // it after; only then does the sink drop the last one.
    std::promise<void> callerReleased;
    std::shared_future<void> callerGone = callerReleased.get_future().share();
    auto releasing = CRecordingSink::Make([&](const auto&) {
        callerGone.wait();
        held = nullptr;  // the dispatcher goes inside this call, on its delivery thread
        return S_OK;
    });
    auto other = CRecordingSink::Make();
    ASSERT_EQ(held->Advise(releasing->GetUnknown(), 1), S_OK);
    ASSERT_EQ(held->Advise(other->GetUnknown(), 2), S_OK);
    CComPtr<IVEventDispatcher> caller = held;
    ASSERT_EQ(caller->DispatchEvent(VARIANT(CTestEvent::Make(k_completedType, 1))), S_OK);
    caller = nullptr;
    callerReleased.set_value();
    ASSERT_TRUE(releasing->WaitForCount(1));
    EXPECT_EQ(held, nullptr);
}

TEST_F(EventDispatcherTest, RefusesBadConnectionsAndEvents) {
    auto sink = CRecordingSink::Make();
    EXPECT_EQ(m_dispatcher->Advise(sink->GetUnknown(), 0), E_INVALIDARG);
    EXPECT_EQ(m_dispatcher->Advise(nullptr, 7), E_POINTER);
    EXPECT_EQ(m_dispatcher->Advise(CTestEvent::Make(1, 1), 7), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(m_dispatcher->Advise(sink->GetUnknown(), 7), S_OK);
    EXPECT_EQ(m_dispatcher->Advise(sink->GetUnknown(), 7), E_INVALIDARG);
    EXPECT_EQ(m_dispatcher->Unadvise(8), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(m_dispatcher->DispatchEvent(VARIANT(42)), E_INVALIDARG);
    EXPECT_EQ(m_dispatcher->DispatchEvent(VARIANT()), E_INVALIDARG);
}

}  // namespace
