// Calls to the transcode server through the bus, on a private dbus-daemon the benchmark starts
// itself with the server activated by the bus, as a desktop client meets it:
// - BM_GetCountBesidePing: a round trip of the service's typed GetCount (through the client
//   library's table-driven call) and of org.freedesktop.DBus.Peer.Ping to the same peer on the
//   same connection, alternately in one run. The time is GetCount's; "ping_us" is Ping's mean,
//   "ratio" GetCount / Ping in mean times and "median_ratio" in median times (the steadier one
//   on a busy machine). The server's bus library answers Ping itself in its loop, so the
//   ratio is the price of our dispatch: arguments read, the call pool, the object's method and
//   the reply. Target: at most 1.3.
// - BM_InvokeBesideTyped: Invoke on com.zelto.Automation.IDispatch with GetCount's dispatch id
//   beside the typed GetCount, alternately; "typed_us", "ratio" and "median_ratio" as above
//   (Invoke / typed).
// Each pair runs in alternating order, so neither side always follows the other. After the
// timed run each pair also runs in alternating blocks of calls while the server's CPU time (all
// its threads) is read: "server_cpu_us" is the server's CPU time per call of ours and
// "server_cpu_ratio" ours / the other's, the steadier comparison on a busy machine.

#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "bench/vbusbenchsession.h"
#include "client/vbuscall.h"
#include "qlib/qbus/qbusserverobject.h"
#include "qlib/qbus/qbusvaluecodec.h"
#include "vtranscodeserver/vbusnames.h"
#include "vtranscodeserver/vtranscodeserverlib.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t k_callTimeoutMicroseconds = 30'000'000;

constexpr int k_cpuRounds = 10;
constexpr int k_cpuBlock = 100;

CVBusBenchSession* s_session = nullptr;
clockid_t s_serverClock = 0;  // the server's CPU-time clock

double ServerCpuSeconds() {
    timespec now{};
    if (::clock_gettime(s_serverClock, &now) != 0) {
        throw std::runtime_error("cannot read the server's CPU time");
    }
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The server's CPU time per call of `ours` and its ratio to the reference's, from alternating
// blocks of calls.
void CompareServerCpu(benchmark::State& state, const std::function<void()>& ours,
                      const std::function<void()>& reference) {
    double oursCpu = 0;
    double referenceCpu = 0;
    const auto block = [](const std::function<void()>& call) {
        const double start = ServerCpuSeconds();
        for (int index = 0; index < k_cpuBlock; ++index) {
            call();
        }
        return ServerCpuSeconds() - start;
    };
    for (int round = 0; round < k_cpuRounds; ++round) {
        if (round % 2 == 0) {
            oursCpu += block(ours);
            referenceCpu += block(reference);
        } else {
            referenceCpu += block(reference);
            oursCpu += block(ours);
        }
    }
    state.counters["server_cpu_us"] = oursCpu * 1e6 / (k_cpuRounds * k_cpuBlock);
    state.counters["server_cpu_ratio"] = oursCpu / referenceCpu;
}

double Median(std::vector<double> values) {
    std::ranges::sort(values);
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Runs `ours` and `reference` once per iteration, in alternating order, and reports ours as the
// iteration's time, the reference's mean in microseconds as `referenceName`, and the ratios.
void Beside(benchmark::State& state, const std::function<void()>& ours,
            const std::function<void()>& reference, const std::string& referenceName) {
    std::vector<double> oursSeconds;
    std::vector<double> referenceSeconds;
    const auto timed = [](const std::function<void()>& call) {
        const Clock::time_point start = Clock::now();
        call();
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    bool oursFirst = true;
    for (auto _ : state) {
        double referenceTime = 0;
        if (!oursFirst) {
            referenceTime = timed(reference);
        }
        const double oursTime = timed(ours);
        if (oursFirst) {
            referenceTime = timed(reference);
        }
        oursFirst = !oursFirst;
        state.SetIterationTime(oursTime);
        oursSeconds.push_back(oursTime);
        referenceSeconds.push_back(referenceTime);
    }
    const double oursTotal = std::accumulate(oursSeconds.begin(), oursSeconds.end(), 0.0);
    const double referenceTotal =
        std::accumulate(referenceSeconds.begin(), referenceSeconds.end(), 0.0);
    state.counters[referenceName] =
        referenceTotal * 1e6 / static_cast<double>(referenceSeconds.size());
    state.counters["ratio"] = oursTotal / referenceTotal;
    state.counters["median_ratio"] = Median(oursSeconds) / Median(referenceSeconds);
    CompareServerCpu(state, ours, reference);
}

const MethodInfo& GetCountMethod() {
    const MethodInfo* method = IVTranscodeService::TypeInfo().FindMethod(L"GetCount");
    if (method == nullptr) {
        throw std::logic_error("the service's table has no GetCount");
    }
    return *method;
}

// The typed call, as the client library makes it; checks the answer's type.
void TypedGetCount() {
    const std::vector<VARIANT> results =
        s_session->Service().Call(IVTranscodeService::TypeInfo(), GetCountMethod(), {});
    if (results.size() != 1 || results[0].Vt() != VT_I4) {
        throw std::logic_error("GetCount answered something else than a long");
    }
}

// A proxy of its own for the same object on the same connection.
std::unique_ptr<sdbus::IProxy> ServiceProxy() {
    return sdbus::createProxy(s_session->Client().Connection(), k_vBusName,
                              s_session->Service().Path());
}

void Ping(sdbus::IProxy& proxy) {
    sdbus::MethodCall call = proxy.createMethodCall("org.freedesktop.DBus.Peer", "Ping");
    CVBusCall::Send(proxy, call, std::chrono::microseconds(k_callTimeoutMicroseconds));
}

// Invoke(dispId, no arguments) as a late-bound client makes it; checks the answer's type.
void InvokeGetCount(sdbus::IProxy& proxy, int32_t dispId) {
    sdbus::MethodCall call =
        proxy.createMethodCall(CQBusServerObject::k_dispatchInterface, "Invoke");
    call << dispId;
    call.openContainer(CQBusValueCodec::k_variantSignature);
    call.closeContainer();
    sdbus::MethodReply reply =
        CVBusCall::Send(proxy, call, std::chrono::microseconds(k_callTimeoutMicroseconds));
    reply.enterContainer(CQBusValueCodec::k_variantSignature);
    const VARIANT count = CQBusValueCodec::ReadVariant(reply);
    reply.exitContainer();
    if (count.Vt() != VT_I4) {
        throw std::logic_error("Invoke of GetCount answered something else than a long");
    }
}

void BM_GetCountBesidePing(benchmark::State& state) {
    const std::unique_ptr<sdbus::IProxy> proxy = ServiceProxy();
    Beside(
        state, TypedGetCount, [&] { Ping(*proxy); }, "ping_us");
}
BENCHMARK(BM_GetCountBesidePing)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_InvokeBesideTyped(benchmark::State& state) {
    const std::unique_ptr<sdbus::IProxy> proxy = ServiceProxy();
    const int32_t dispId = GetCountMethod().dispId;
    Beside(
        state, [&] { InvokeGetCount(*proxy, dispId); }, TypedGetCount, "typed_us");
}
BENCHMARK(BM_InvokeBesideTyped)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    const int failed = CVBusBenchSession::ReportFailures("vbus_bench", [] {
        CVBusBenchSession session;
        s_session = &session;
        if (::clock_getcpuclockid(session.ServerPid(), &s_serverClock) != 0) {
            throw std::runtime_error("no CPU-time clock for the server");
        }
        benchmark::RunSpecifiedBenchmarks();
        s_session = nullptr;
    });
    benchmark::Shutdown();
    return failed;
}
