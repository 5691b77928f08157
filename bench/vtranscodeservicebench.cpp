// The transcode service's queue and worker:
// - BM_AddFileWithAutoSave/N: AddFile into a queue of N jobs with automatic saving on (each
//   call writes the whole queue: ".bak", fsync, rename, folder fsync), beside the bare cost of
//   writing, fsyncing and renaming a file of the same size in the same folder ("floor_ms",
//   "ratio" = AddFile / floor). Target: at most 2x that floor at 1,000 jobs.
// - BM_CompletedToStarted: the hand-off from one job's Completed event to the next job's
//   Started event, as a client sees them, with a transcoder that returns at once. Target: under
//   10 ms.
// The jobs use the transcoder component's own item; the transcoder is the tests' scripted one.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "components/veventlib/veventlib.h"
#include "components/veventlib/veventsinkdispatch.h"
#include "components/vitemslib/vitemslib.h"
#include "components/vtranscoderlib/vtranscodercomponent.h"
#include "qlib/qcom/comcall.h"
#include "qlib/qcom/connectionpoint.h"
#include "qlib/qutilitylib/qstring.h"
#include "tests/vtranscodeserver/vscriptedtranscoder.h"
#include "vtranscodeserver/vtranscodeserviceevent.h"
#include "vtranscodeserver/vtranscodeserviceobj.h"

namespace {

using Clock = std::chrono::steady_clock;

// A folder of its own, the environment pointing at it, and the classes registered.
class CBenchFolder {
public:
    CBenchFolder() {
        char pattern[] = "/tmp/vtranscodeservicebench-XXXXXX";
        m_path = ::mkdtemp(pattern);
        ::setenv("XDG_DATA_HOME", m_path.c_str(), 1);
        ::setenv("ZELTO_REGISTRY_DIR", (m_path / "registry").c_str(), 1);
        CVItemsLib::RegisterClasses();
        CVEventLib::RegisterClasses();
        CVTranscoderComponent::RegisterClasses();
        std::FILE* clip = std::fopen((m_path / "clip.avi").c_str(), "w");
        std::fclose(clip);
    }
    ~CBenchFolder() { std::filesystem::remove_all(m_path); }

    std::wstring Path(const std::string& name) const {
        return CQStringHelper::MultiByteToString((m_path / name).string());
    }
    const std::filesystem::path& Folder() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// Notes when each job's Started and Completed events reach a client.
class CTimingSink final : public CComObjectBase<CVEventSinkDispatch> {
public:
    struct SArrival {
        LONG type;
        LONG jobId;
        Clock::time_point at;
    };

    void WaitForCount(LONG type, size_t count) {
        std::unique_lock lock(m_lock);
        m_arrived.wait(lock, [&] { return Count(type) >= count; });
    }
    std::vector<SArrival> Arrivals() {
        const std::lock_guard lock(m_lock);
        return m_arrivals;
    }

protected:
    void* QueryAdditionalInterface(REFIID iid) override { return SinkFor(iid); }
    HRESULT HandleEvent(IUnknown* event) override {
        const Clock::time_point now = Clock::now();
        CComPtr<IVItem> item;
        event->QueryInterface(IVItem::k_iid, item.Put());
        const CComPtr<IVProperties> properties = ComCall(item.Get(), &IVItem::GetProperties);
        const VARIANT type = ComCall(properties.Get(), &IVProperties::GetValueByName,
                                     CVTranscodeServiceEvent::k_type, EVPropertyKind_Transcode);
        const VARIANT id = ComCall(properties.Get(), &IVProperties::GetValueByName,
                                   CVTranscodeServiceEvent::k_itemId, EVPropertyKind_Transcode);
        {
            const std::lock_guard lock(m_lock);
            m_arrivals.push_back(
                {type.Get<int32_t>(), id.Vt() == VT_I4 ? id.Get<int32_t>() : 0, now});
        }
        m_arrived.notify_all();
        return S_OK;
    }

private:
    size_t Count(LONG type) const {
        size_t count = 0;
        for (const SArrival& arrival : m_arrivals) {
            count += arrival.type == type ? 1 : 0;
        }
        return count;
    }

    std::mutex m_lock;
    std::condition_variable m_arrived;
    std::vector<SArrival> m_arrivals;  // guarded by m_lock
};

struct SServiceFixture {
    CBenchFolder folder;
    CScriptedTranscoderClass transcoders;
    CComPtr<CVTranscodeService> service;
    CComPtr<CTimingSink> sink;

    SServiceFixture() {
        CreateComObject(&service);
        CComPtr<IConnectionPointContainer> container;
        CComPtr<IConnectionPoint> point;
        DWORD cookie = 0;
        static_cast<IVTranscodeService*>(service.Get())
            ->QueryInterface(IConnectionPointContainer::k_iid, container.Put());
        container->FindConnectionPoint(DIID_IVEventListener, &point);
        CreateComObject(&sink);
        point->Advise(static_cast<IDispatch*>(sink.Get()), &cookie);
    }
    ~SServiceFixture() {
        CScriptedTranscoder::Release(k_transcodeCompleted);
        service = nullptr;
    }

    LONG AddFile() {
        return ComCall(static_cast<IVTranscodeService*>(service.Get()),
                       &IVTranscodeService::AddFile, folder.Path("clip.avi"),
                       folder.Path("out.mp4"), LONG{2}, ULONG{9}, VARIANT::Missing());
    }
    void Script(SJobScript job) {
        CScriptedTranscoder::SScript& script = CScriptedTranscoder::Script();
        const std::lock_guard lock(script.lock);
        script.jobs.push_back(std::move(job));
    }
};

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Writes `bytes` to `staging`, fsyncs it and renames it over `target`: the floor of a save.
void WriteFsyncRename(const std::string& bytes, const std::string& staging,
                      const std::string& target) {
    const int file = ::open(staging.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    benchmark::DoNotOptimize(::write(file, bytes.data(), bytes.size()));
    ::fsync(file);
    ::close(file);
    ::rename(staging.c_str(), target.c_str());
}

// Each AddFile (timed) is followed by one floor write of the save file as it stands, so that
// both meet the disk in the same state, and by the job's removal (not timed).
void BM_AddFileWithAutoSave(benchmark::State& state) {
    SServiceFixture fixture;
    fixture.Script({.hold = true});  // the worker keeps the first job; the rest wait
    fixture.AddFile();
    CScriptedTranscoder::WaitUntilHolding();
    for (int64_t i = 0; i < state.range(0); ++i) {
        fixture.AddFile();
    }
    const std::filesystem::path& folder = fixture.folder.Folder();
    const std::string saveFile = (folder / "Zelto/VPlatform/TranscodeQueue.sav").string();
    const std::string staging = (folder / "floor.tmp").string();
    const std::string target = (folder / "floor.sav").string();
    IVTranscodeService* service = fixture.service.Get();
    Clock::duration ours{};
    Clock::duration floor{};
    std::string bytes;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        const LONG id = fixture.AddFile();
        const Clock::time_point added = Clock::now();
        if (bytes.empty()) {
            bytes = ReadFile(saveFile);
        }
        WriteFsyncRename(bytes, staging, target);
        floor += Clock::now() - added;
        ours += added - start;
        state.SetIterationTime(std::chrono::duration<double>(added - start).count());
        ComCall(service, &IVTranscodeService::Remove, id);
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["floor_ms"] =
        std::chrono::duration<double, std::milli>(floor).count() / iterations;
    state.counters["ratio"] =
        std::chrono::duration<double>(ours) / std::chrono::duration<double>(floor);
    state.counters["saveFileBytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_AddFileWithAutoSave)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_CompletedToStarted(benchmark::State& state) {
    constexpr size_t k_jobs = 40;
    SServiceFixture fixture;
    fixture.Script({.hold = true});
    for (size_t started = 2; started <= k_jobs + 1; ++started) {
        // Each job returns once its Started has reached the client, so that it is not cut off.
        fixture.Script({.notifications = {EVTranscoderNotification_Started}, .hook = [&, started] {
                            fixture.sink->WaitForCount(EVTranscodeServiceEvent_Started,
                                                       started - 1);
                        }});
    }
    fixture.AddFile();
    CScriptedTranscoder::WaitUntilHolding();
    for (size_t i = 0; i < k_jobs; ++i) {
        fixture.AddFile();
    }
    CScriptedTranscoder::Release(k_transcodeCompleted);
    fixture.sink->WaitForCount(EVTranscodeServiceEvent_Completed, k_jobs + 1);

    std::vector<CTimingSink::SArrival> completed;
    std::vector<CTimingSink::SArrival> started;
    for (const CTimingSink::SArrival& arrival : fixture.sink->Arrivals()) {
        if (arrival.type == EVTranscodeServiceEvent_Completed) {
            completed.push_back(arrival);
        } else if (arrival.type == EVTranscodeServiceEvent_Started) {
            started.push_back(arrival);
        }
    }
    size_t next = 0;
    for (auto _ : state) {
        // Completed of job k, then Started of job k + 1 (the first job sent no Started).
        const auto gap = started.at(next).at - completed.at(next).at;
        state.SetIterationTime(std::chrono::duration<double>(gap).count());
        ++next;
    }
}
BENCHMARK(BM_CompletedToStarted)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
