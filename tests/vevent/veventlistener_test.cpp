#include <gtest/gtest.h>

#include <thread>

#include "components/veventlib/veventlib.h"
#include "tests/components/veventlib/veventtestsupport.h"
#include "vevent/veventlistener.h"

namespace {

// Records the sequence numbers of the events it receives; OnEvent runs `behaviour` first.
class CTestListener final : public CVEventListener {
public:
    using Behaviour = std::function<void(CTestListener&)>;
    explicit CTestListener(Behaviour behaviour = {}) : m_behaviour(std::move(behaviour)) {}
    ~CTestListener() override { Clear(); }

    void OnEvent(IUnknown* event) override {
        if (m_behaviour) {
            m_behaviour(*this);
        }
        std::lock_guard lock(m_lock);
        m_sequences.push_back(CTestEvent::SequenceOf(event));
        m_arrived.notify_all();
    }

    std::vector<LONG> Sequences() {
        std::lock_guard lock(m_lock);
        return m_sequences;
    }
    bool WaitForCount(std::size_t count) {
        std::unique_lock lock(m_lock);
        return m_arrived.wait_for(lock, k_patience, [&] { return m_sequences.size() >= count; });
    }

private:
    Behaviour m_behaviour;
    std::mutex m_lock;
    std::condition_variable m_arrived;
    std::vector<LONG> m_sequences;  // guarded by m_lock
};

class EventListenerTest : public ::testing::Test {
protected:
    void SetUp() override { CVEventLib::RegisterClasses(); }

    // Sends one event from `source` and waits until a sink advised after the listener saw it,
    // so that every earlier delivery of the source has ended.
    static void SendAndSettle(const CComPtr<CTestSource>& source, LONG sequence) {
        auto marker = CRecordingSink::Make();
        DWORD cookie = 0;
        CComPtr<IConnectionPoint> point;
        ThrowIfFailed(source->FindConnectionPoint(DIID_IVEventListener, &point));
        ThrowIfFailed(point->Advise(marker->GetUnknown(), &cookie));
        source->DispatchEvent(CTestEvent::Make(k_completedType, sequence));
        ASSERT_TRUE(marker->WaitForSequence(sequence));
        ThrowIfFailed(point->Unadvise(cookie));
    }
};

TEST_F(EventListenerTest, ReceivesEventsOfEverySourceUntilUnadvised) {
    auto first = CTestSource::Make();
    auto second = CTestSource::Make();
    CTestListener listener;
    listener.Advise(first);
    listener.Advise(second);
    listener.Advise(first);  // already connected: nothing changes
    first->DispatchEvent(CTestEvent::Make(k_completedType, 1));
    second->DispatchEvent(CTestEvent::Make(k_completedType, 2));
    ASSERT_TRUE(listener.WaitForCount(2));
    listener.Unadvise(first);
    SendAndSettle(first, 3);
    second->DispatchEvent(CTestEvent::Make(k_completedType, 4));
    ASSERT_TRUE(listener.WaitForCount(3));
    std::vector<LONG> sequences = listener.Sequences();
    std::sort(sequences.begin(), sequences.end());
    EXPECT_EQ(sequences, (std::vector<LONG>{1, 2, 4}));
}

TEST_F(EventListenerTest, LastUnadviseReleasesTheInnerListenerAndTheNextAdviseMakesANewOne) {
    auto source = CTestSource::Make();
    CTestListener listener;
    listener.Unadvise(source);  // never advised: nothing happens
    listener.Advise(source);
    const CComPtr<IVInnerEventListener> firstInner = listener.GetInnerListener();
    listener.Unadvise(source);
    listener.Advise(source);
    EXPECT_NE(listener.GetInnerListener(), firstInner);
    source->DispatchEvent(CTestEvent::Make(k_completedType, 1));
    ASSERT_TRUE(listener.WaitForCount(1));
}

TEST_F(EventListenerTest, AdviseOfSomethingThatSendsNoEventsRaisesTheConnectionsHResult) {
    CTestListener listener;
    try {
        listener.Advise(CTestEvent::Make(k_completedType, 1));
        FAIL() << "no exception";
    } catch (const CQException& error) {
        EXPECT_EQ(error.GetHResult(), E_NOINTERFACE);
    }
}

TEST_F(EventListenerTest, ClearWaitsForAnEventInFlightAndNoneFollows) {
    auto source = CTestSource::Make();
    CGate inEvent;
    CGate release;
    CTestListener listener([&](CTestListener&) {
        inEvent.Open();
        release.Wait();
    });
    listener.Advise(source);
    source->DispatchEvent(CTestEvent::Make(k_completedType, 1));
    ASSERT_TRUE(inEvent.Wait());
    std::atomic<bool> cleared{false};
    std::thread clearing([&] {
        listener.Clear();
        cleared = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(cleared);
    release.Open();
    clearing.join();
    EXPECT_EQ(listener.Sequences().size(), 1u);
    SendAndSettle(source, 2);
    EXPECT_EQ(listener.Sequences().size(), 1u);
}

TEST_F(EventListenerTest, OnEventMayUnadviseItsSource) {
    auto source = CTestSource::Make();
    IUnknown* const raw = source->GetUnknown();
    CTestListener listener([&](CTestListener& self) { self.Unadvise(raw); });
    listener.Advise(source);
    source->DispatchEvent(CTestEvent::Make(k_completedType, 1));
    source->DispatchEvent(CTestEvent::Make(k_completedType, 2));
    ASSERT_TRUE(listener.WaitForCount(1));
    SendAndSettle(source, 3);
    EXPECT_EQ(listener.Sequences(), std::vector<LONG>{1});
}

TEST_F(EventListenerTest, ThreadsRacingForTheFirstInnerListenerShareOne) {
    CTestListener listener;
    std::vector<CComPtr<IVInnerEventListener>> seen(4);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&, i] { seen[i] = listener.GetInnerListener(); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const auto& inner : seen) {
        EXPECT_EQ(inner, seen[0]);
    }
}

TEST_F(EventListenerTest, AdviseHolderConnectsForItsLifetime) {
    auto source = CTestSource::Make();
    CTestListener listener;
    {
        CVAdviseHolder holder(source->GetUnknown(), &listener);
        source->DispatchEvent(CTestEvent::Make(k_completedType, 1));
        ASSERT_TRUE(listener.WaitForCount(1));
    }
    SendAndSettle(source, 2);
    CVAdviseHolder failed(CTestEvent::Make(k_completedType, 3), &listener);  // logged, empty
    failed.Clear();
    EXPECT_EQ(listener.Sequences(), std::vector<LONG>{1});
}

}  // namespace
