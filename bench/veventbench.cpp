// The event library's dispatcher from the sender's side: events per second from one sender to
// one and to eight sinks that keep up, and the sender's cost per DispatchEvent (target: under
// 5 microseconds, the sender never waiting for a sink). Events are items of the items library
// ("Type" 2, a completion: never coalesced), one item sent again and again.

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "components/veventlib/veventlib.h"
#include "components/veventlib/veventsinkdispatch.h"
#include "components/vitemslib/vitemslib.h"
#include "qlib/qcom/comclasstable.h"
#include "qlib/qcom/comobjectbase.h"
#include "qlib/qutilitylib/qcomutilities.h"
#include "vtranscoder/vitemsinterfaces.h"

namespace {

constexpr int k_batch = 1000;  // events sent before the sender waits for the sinks to catch up

// Counts events and wakes the sender when a count it waits for is reached.
class CCountingSink final : public CComObjectBase<CVEventSinkDispatch> {
public:
    void WaitFor(long count) {
        std::unique_lock lock(m_lock);
        m_reached.wait(lock, [&] { return m_count >= count; });
    }

protected:
    void* QueryAdditionalInterface(REFIID iid) override { return SinkFor(iid); }
    HRESULT HandleEvent(IUnknown* /*event*/) override {
        {
            std::lock_guard lock(m_lock);
            ++m_count;
        }
        m_reached.notify_one();
        return S_OK;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_reached;
    long m_count = 0;  // guarded by m_lock
};

struct SFixture {
    explicit SFixture(int sinkCount) {
        CVEventLib::RegisterClasses();
        CVItemsLib::RegisterClasses();
        dispatcher = CQCOMUtils::CreateObject<IVEventDispatcher>(CLSID_VEventDispatcher);
        const CComPtr<IVItem> item = CQCOMUtils::CreateObject<IVItem>(CLSID_VItem);
        CComPtr<IVProperties> properties;
        ThrowIfFailed(item->GetProperties(&properties));
        ThrowIfFailed(
            properties->SetValueByName(L"Type", VARIANT(LONG{2}), EVPropertyKind_Transcode));
        event = VARIANT(CComPtr<IUnknown>(item));
        for (int i = 0; i < sinkCount; ++i) {
            CComPtr<CCountingSink> sink;
            ThrowIfFailed(CreateComObject(&sink));
            ThrowIfFailed(dispatcher->Advise(sink->GetUnknown(), static_cast<ULONG>(i + 1)));
            sinks.push_back(sink);
        }
    }
    ~SFixture() { dispatcher = nullptr; }

    void Send() { ThrowIfFailed(dispatcher->DispatchEvent(event)); }
    void WaitForSinks() {
        for (const auto& sink : sinks) {
            sink->WaitFor(sent);
        }
    }

    CComPtr<IVEventDispatcher> dispatcher;
    VARIANT event;
    std::vector<CComPtr<CCountingSink>> sinks;
    long sent = 0;
};

// Sent and delivered: each iteration sends one batch and waits until every sink has it.
void BM_EventsPerSecond(benchmark::State& state) {
    SFixture fixture(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        for (int i = 0; i < k_batch; ++i) {
            fixture.Send();
        }
        fixture.sent += k_batch;
        fixture.WaitForSinks();
    }
    state.SetItemsProcessed(state.iterations() * k_batch);
    state.counters["deliveries/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * k_batch * static_cast<double>(state.range(0)),
        benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EventsPerSecond)->Arg(1)->Arg(8)->UseRealTime()->Unit(benchmark::kMillisecond);

// The sender's time in DispatchEvent alone; the catching up of the sinks is not timed.
void BM_DispatchEventCost(benchmark::State& state) {
    SFixture fixture(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        fixture.Send();
        if (++fixture.sent % k_batch == 0) {
            state.PauseTiming();
            fixture.WaitForSinks();
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_DispatchEventCost)->Arg(1)->Arg(8)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
