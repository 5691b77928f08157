// The datastore beside bare SQLite: Add of 1,000 items of eight properties (in one transaction,
// and each in its own), Query by GUID in a store of 10,000 items, and Count. Each benchmark
// times the datastore object and, alternately in blocks, the same statements on a bare SQLite
// connection to a database of the same tables and settings as often, and reports "bare_us" (per
// iteration), "ratio" (datastore / bare, wall time) and "cpu_ratio" (the same in CPU time). The
// bare side binds values encoded beforehand: the ratio is what reading items, encoding values and
// making result items costs on top of SQLite. Target: a ratio of at most 1.5 for the query by GUID.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "components/vdatastorelib/vdatastorelib.h"
#include "components/vdatastorelib/vdsitemconverter.h"
#include "components/vdatastorelib/vdsstore.h"
#include "components/vdatastorelib/vdsvaluecodec.h"
#include "components/vitemslib/vitemslib.h"
#include "qlib/qcom/comcall.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qcomutilities.h"

namespace {

constexpr int k_addedItems = 1000;
constexpr int k_storedItems = 10000;

// A folder for the run's databases, removed when the program ends.
const std::string& BenchFolder() {
    static const std::string s_folder = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vdatastore-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        std::atexit([] { std::filesystem::remove_all(BenchFolder()); });
        return pattern;
    }();
    return s_folder;
}

std::wstring Folder(const std::string& name) {
    return qsys::FromUtf8(BenchFolder() + "/" + name);
}

// An item of eight properties, as a media library would store it.
CComPtr<IVItem> MakeItem(int index) {
    CComPtr<IVItem> item = CQCOMUtils::CreateObject<IVItem>(CLSID_VItem);
    ComCall(item.Get(), &IVItem::SetClassName, BSTR(L"Video"));
    CComPtr<IVProperties> properties = ComCall(item.Get(), &IVItem::GetProperties);
    auto set = [&](const wchar_t* name, const wchar_t* uri, const VARIANT& value) {
        ComCall(properties.Get(), &IVProperties::SetValue, BSTR(name), BSTR(uri), value);
    };
    const std::wstring number = std::to_wstring(index);
    set(L"URI", L"", VARIANT((L"/home/user/Videos/clip" + number + L".mp4").c_str()));
    set(L"ItemType", L"", VARIANT(L"video/mp4"));
    set(L"Title", L"", VARIANT((L"Holiday clip " + number).c_str()));
    set(L"Width", k_metadataNamespace, VARIANT(1280));
    set(L"Height", k_metadataNamespace, VARIANT(720));
    set(L"Framerate", k_metadataNamespace, VARIANT(29.97));
    set(L"Bitrate", k_metadataNamespace, VARIANT(4000000));
    set(L"Duration", k_metadataNamespace, VARIANT(int64_t{95000} + index));
    return item;
}

CComPtr<IVDataStore> OpenStore(const std::wstring& folder) {
    CComPtr<IVDataStore> store = CQCOMUtils::CreateObject<IVDataStore>(CLSID_VDataStore);
    ComCall(store.Get(), &IVDataStore::Open, VARIANT(folder.c_str()), VARIANT::Missing(),
            VARIANT::Missing());
    return store;
}

// One property row as the bare side binds it.
struct SBareProperty {
    std::string name;
    std::string uri;
    int kind;
    int vt;
    std::string value;
    std::optional<std::string> text;
    std::optional<int64_t> integer;
};

struct SBareItem {
    std::string guid;
    std::string className;
    std::vector<SBareProperty> properties;
};

SBareItem BareItemOf(IVItem* item) {
    const SVDSItemRecord record = CVDSItemConverter::FromItem(item);
    SBareItem bare{qsys::ToUtf8(record.guid), qsys::ToUtf8(record.className), {}};
    for (const SVDSProperty& property : record.properties) {
        SBareProperty row{qsys::ToUtf8(property.name),
                          qsys::ToUtf8(property.uri),
                          property.kind,
                          property.value.Vt(),
                          CVDSValueCodec::Encode(property.value),
                          std::nullopt,
                          std::nullopt};
        if (property.value.Vt() == VT_BSTR) {
            row.text = qsys::ToUtf8(property.value.Get<BSTR>());
        } else if (property.value.Vt() == VT_I4) {
            row.integer = property.value.Get<int32_t>();
        } else if (property.value.Vt() == VT_I8) {
            row.integer = property.value.Get<int64_t>();
        }
        bare.properties.push_back(std::move(row));
    }
    return bare;
}

// A plain SQLite connection to a datastore's database, with the statements the datastore runs.
class BareStore {
public:
    explicit BareStore(const std::wstring& folder) {
        { CVDSStore created(folder); }  // the same tables and file settings
        const std::string path = qsys::ToUtf8(folder) + "/datastore.db";
        sqlite3_open_v2(path.c_str(), &m_database, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                        nullptr);
        sqlite3_exec(m_database, "PRAGMA foreign_keys=ON; PRAGMA synchronous=NORMAL", nullptr,
                     nullptr, nullptr);
        m_begin = Prepare("BEGIN IMMEDIATE");
        m_commit = Prepare("COMMIT");
        m_delete = Prepare("DELETE FROM items WHERE guid = ?");
        m_insertItem = Prepare("INSERT INTO items(guid, class_name) VALUES(?, ?)");
        m_insertProperty = Prepare(
            "INSERT INTO properties(item_id, position, name, namespace, kind, vt, value, "
            "text_value, int_value) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)");
        m_query = Prepare(
            "SELECT items.id, guid, class_name, prop.name, prop.namespace, prop.kind, "
            "prop.value FROM items LEFT JOIN properties prop ON prop.item_id = items.id WHERE 1 "
            "AND 1 AND guid = ? ORDER BY items.id, prop.position");
        m_count = Prepare("SELECT count(*) FROM items WHERE 1");
    }
    ~BareStore() {
        for (sqlite3_stmt* statement :
             {m_begin, m_commit, m_delete, m_insertItem, m_insertProperty, m_query, m_count}) {
            sqlite3_finalize(statement);
        }
        sqlite3_close_v2(m_database);
    }

    void Begin() { Run(m_begin); }
    void Commit() { Run(m_commit); }

    void Add(const SBareItem& item) {
        Bind(m_delete, 1, item.guid);
        Run(m_delete);
        Bind(m_insertItem, 1, item.guid);
        Bind(m_insertItem, 2, item.className);
        Run(m_insertItem);
        const sqlite3_int64 id = sqlite3_last_insert_rowid(m_database);
        int position = 0;
        for (const SBareProperty& property : item.properties) {
            sqlite3_bind_int64(m_insertProperty, 1, id);
            sqlite3_bind_int(m_insertProperty, 2, position++);
            Bind(m_insertProperty, 3, property.name);
            Bind(m_insertProperty, 4, property.uri);
            sqlite3_bind_int(m_insertProperty, 5, property.kind);
            sqlite3_bind_int(m_insertProperty, 6, property.vt);
            sqlite3_bind_blob64(m_insertProperty, 7, property.value.data(), property.value.size(),
                                SQLITE_STATIC);
            if (property.text) {
                Bind(m_insertProperty, 8, *property.text);
            }
            if (property.integer) {
                sqlite3_bind_int64(m_insertProperty, 9, *property.integer);
            }
            Run(m_insertProperty);
        }
    }

    // Reads every column of every row, as the datastore does before it makes items.
    size_t QueryByGuid(const std::string& guid) {
        Bind(m_query, 1, guid);
        size_t bytes = 0;
        while (sqlite3_step(m_query) == SQLITE_ROW) {
            for (int column = 1; column < 7; ++column) {
                bytes += static_cast<size_t>(sqlite3_column_bytes(m_query, column));
            }
        }
        sqlite3_reset(m_query);
        return bytes;
    }

    int64_t Count() {
        sqlite3_step(m_count);
        const int64_t count = sqlite3_column_int64(m_count, 0);
        sqlite3_reset(m_count);
        return count;
    }

private:
    sqlite3_stmt* Prepare(const char* sql) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v3(m_database, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
        return statement;
    }
    static void Bind(sqlite3_stmt* statement, int index, const std::string& text) {
        sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8);
    }
    static void Run(sqlite3_stmt* statement) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
        }
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    }

    sqlite3* m_database = nullptr;
    sqlite3_stmt* m_begin = nullptr;
    sqlite3_stmt* m_commit = nullptr;
    sqlite3_stmt* m_delete = nullptr;
    sqlite3_stmt* m_insertItem = nullptr;
    sqlite3_stmt* m_insertProperty = nullptr;
    sqlite3_stmt* m_query = nullptr;
    sqlite3_stmt* m_count = nullptr;
};

// Wall time and this thread's CPU time since a start.
class Stopwatch {
public:
    Stopwatch() : m_wall(std::chrono::steady_clock::now()), m_cpu(ThreadCpu()) {}
    double WallSeconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_wall).count();
    }
    double CpuSeconds() const { return ThreadCpu() - m_cpu; }

private:
    static double ThreadCpu() {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
    }

    std::chrono::steady_clock::time_point m_wall;
    double m_cpu;
};

// Runs the bare statements beside the datastore's loop: after every `block` iterations of the
// loop, timing paused, the bare side runs as many times, so that both sides meet the machine in
// the same state (run one after the other, the two halves drifted apart by up to a third on an
// idle machine). Finish reports "bare_us" (per iteration), "ratio" (datastore / bare in wall
// time) and "cpu_ratio" (in this thread's CPU time) over the same number of iterations.
class BesideBare {
public:
    BesideBare(benchmark::State& state, benchmark::IterationCount block, std::function<void()> bare)
        : m_state(state), m_block(block), m_bare(std::move(bare)) {}

    // After each iteration of the datastore's loop.
    void Next() {
        if (++m_inBlock == m_block) {
            m_state.PauseTiming();
            RunBare();
            m_state.ResumeTiming();
        }
    }

    void Finish() {
        RunBare();
        const double iterations = static_cast<double>(m_state.iterations());
        m_state.counters["bare_us"] = m_bareWall * 1e6 / iterations;
        m_state.counters["ratio"] = m_oursWall / m_bareWall;
        m_state.counters["cpu_ratio"] = m_oursCpu / m_bareCpu;
    }

private:
    void RunBare() {
        m_oursWall += m_ours.WallSeconds();
        m_oursCpu += m_ours.CpuSeconds();
        const Stopwatch bare;
        for (benchmark::IterationCount index = 0; index < m_inBlock; ++index) {
            m_bare();
        }
        m_bareWall += bare.WallSeconds();
        m_bareCpu += bare.CpuSeconds();
        m_inBlock = 0;
        m_ours = Stopwatch();
    }

    benchmark::State& m_state;
    const benchmark::IterationCount m_block;
    const std::function<void()> m_bare;
    benchmark::IterationCount m_inBlock = 0;
    Stopwatch m_ours;
    double m_oursWall = 0;
    double m_oursCpu = 0;
    double m_bareWall = 0;
    double m_bareCpu = 0;
};

struct SAddedItems {
    std::vector<CComPtr<IVItem>> items;
    std::vector<SBareItem> bare;
};

const SAddedItems& AddedItems() {
    static const SAddedItems s_items = [] {
        SAddedItems made;
        for (int index = 0; index < k_addedItems; ++index) {
            made.items.push_back(MakeItem(index));
            made.bare.push_back(BareItemOf(made.items.back()));
        }
        return made;
    }();
    return s_items;
}

// state.range(0): 1 = all items in one transaction, 0 = each item in its own.
void BM_Add(benchmark::State& state) {
    const bool oneTransaction = state.range(0) == 1;
    const SAddedItems& added = AddedItems();
    const std::string name = oneTransaction ? "add-one" : "add-each";
    CComPtr<IVDataStore> store = OpenStore(Folder(name));
    CComPtr<IVDSTransaction> transaction;
    ThrowIfFailed(store.QueryInterface(&transaction));
    BareStore bare(Folder(name + "-bare"));
    BesideBare beside(state, 1, [&] {
        if (oneTransaction) {
            bare.Begin();
        }
        for (const SBareItem& item : added.bare) {
            if (!oneTransaction) {
                bare.Begin();
            }
            bare.Add(item);
            if (!oneTransaction) {
                bare.Commit();
            }
        }
        if (oneTransaction) {
            bare.Commit();
        }
    });
    for (auto _ : state) {
        if (oneTransaction) {
            ComCall(transaction.Get(), &IVDSTransaction::BeginTransaction);
        }
        for (const CComPtr<IVItem>& item : added.items) {
            ComCall(store.Get(), &IVDataStore::Add, VARIANT::Missing(), item.Get());
        }
        if (oneTransaction) {
            ComCall(transaction.Get(), &IVDSTransaction::CommitTransaction);
        }
        beside.Next();
    }
    beside.Finish();
    state.SetItemsProcessed(state.iterations() * k_addedItems);
}
BENCHMARK(BM_Add)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// A store of k_storedItems items, made once, with the GUIDs of its items.
struct SStoredItems {
    CComPtr<IVDataStore> store;
    std::unique_ptr<BareStore> bare;
    std::vector<std::wstring> guids;
};

std::unique_ptr<SStoredItems> s_stored;

SStoredItems& StoredItems() {
    if (!s_stored) {
        auto made = std::make_unique<SStoredItems>();
        made->store = OpenStore(Folder("stored"));
        CComPtr<IVDSTransaction> transaction;
        ThrowIfFailed(made->store.QueryInterface(&transaction));
        ComCall(transaction.Get(), &IVDSTransaction::BeginTransaction);
        for (int index = 0; index < k_storedItems; ++index) {
            CComPtr<IVItem> item = MakeItem(index);
            ComCall(made->store.Get(), &IVDataStore::Add, VARIANT::Missing(), item.Get());
            made->guids.push_back(ComCall(item.Get(), &IVItem::GetGUID));
        }
        ComCall(transaction.Get(), &IVDSTransaction::CommitTransaction);
        made->bare = std::make_unique<BareStore>(Folder("stored"));
        s_stored = std::move(made);
    }
    return *s_stored;
}

void BM_QueryByGuid(benchmark::State& state) {
    SStoredItems& stored = StoredItems();
    std::vector<std::string> guids;
    for (const std::wstring& guid : stored.guids) {
        guids.push_back(qsys::ToUtf8(guid));
    }
    size_t nextBare = 0;
    BesideBare beside(state, 4096, [&] {
        benchmark::DoNotOptimize(stored.bare->QueryByGuid(guids[nextBare++ % guids.size()]));
    });
    size_t next = 0;
    for (auto _ : state) {
        const std::wstring& guid = stored.guids[next++ % stored.guids.size()];
        CComPtr<IVEnum> found = ComCall(stored.store.Get(), &IVDataStore::Query, VARIANT::Missing(),
                                        BSTR(L"Item"), L"Item.GUID = \"" + guid + L"\"");
        benchmark::DoNotOptimize(found);
        found = nullptr;
        beside.Next();
    }
    beside.Finish();
}
BENCHMARK(BM_QueryByGuid)->Unit(benchmark::kMicrosecond);

void BM_Count(benchmark::State& state) {
    SStoredItems& stored = StoredItems();
    BesideBare beside(state, 8, [&] { benchmark::DoNotOptimize(stored.bare->Count()); });
    for (auto _ : state) {
        benchmark::DoNotOptimize(ComCall(stored.store.Get(), &IVDataStore::Count, BSTR(L"Item")));
        beside.Next();
    }
    beside.Finish();
}
BENCHMARK(BM_Count)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    CVItemsLib::RegisterClasses();
    CVDataStoreLib::RegisterClasses();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The stored items' objects go before the class table does.
    s_stored.reset();
    return 0;
}
