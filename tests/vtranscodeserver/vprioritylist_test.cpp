#include "vtranscodeserver/vprioritylist.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <iterator>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "qlib/qcom/comobjectbase.h"

namespace {

// The element type of the tests: a counted object that knows how many of its kind are alive,
// so that every test can check that the list neither leaks nor drops a reference too many.
class ITestJob : public IUnknown {
public:
    static constexpr IID k_iid = MakeGuid("{7C1D2E3F-0001-4000-8000-0000000A11CE}");
    virtual HRESULT GetName(BSTR* name) = 0;
};

std::atomic<int> s_liveJobs{0};

class CTestJob final : public CComObjectBase<ITestJob> {
public:
    explicit CTestJob(std::wstring name) : m_name(std::move(name)) { ++s_liveJobs; }
    ~CTestJob() { --s_liveJobs; }

    HRESULT GetName(BSTR* name) override {
        *name = m_name;
        return S_OK;
    }

private:
    std::wstring m_name;
};

using Job = CComPtr<ITestJob>;
using JobList = CVPriorityList<Job>;
using JobEntry = SVPriorityEntry<Job>;

Job MakeJob(const std::wstring& name) {
    CComPtr<CTestJob> job;
    if (FAILED(CreateComObject(&job, name))) {
        throw std::runtime_error("cannot create a test job");
    }
    return Job(job.Get());
}

std::wstring NameOf(const Job& job) {
    if (job == nullptr) {
        return L"<none>";
    }
    BSTR name;
    job->GetName(&name);
    return name;
}

// A list that counts its Changed calls and can be told to fail them, as a queue whose save
// fails would.
class CCountingList : public JobList {
public:
    int m_changedCalls = 0;
    bool m_failChanged = false;
    // What GetEntries showed from inside Changed (the lock is re-entrant).
    size_t m_entriesSeenByChanged = 0;

protected:
    void Changed() override {
        ++m_changedCalls;
        std::vector<JobEntry> entries;
        GetEntries(entries);
        m_entriesSeenByChanged = entries.size();
        if (m_failChanged) {
            throw CQException(L"Saving the queue failed.", E_FAIL);
        }
    }
};

// Whether the thread sleeps in the kernel (state "S"), as a Get waiting for a count does.
bool IsSleeping(pid_t thread) {
    std::ifstream stat("/proc/self/task/" + std::to_string(thread) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)),
                           std::istreambuf_iterator<char>());
    const size_t nameEnd = text.rfind(')');
    return nameEnd != std::string::npos && nameEnd + 2 < text.size() && text[nameEnd + 2] == 'S';
}

// Calls Get on another thread and returns once that thread waits inside Get (or once Get has
// returned, which a Get that wrongly does not block does at once, with nothing).
class CBlockedGet {
public:
    explicit CBlockedGet(JobList& list) {
        std::future<pid_t> running = m_started.get_future();
        m_result = std::async(std::launch::async, [this, &list] {
            m_started.set_value(::gettid());
            return list.Get();
        });
        const pid_t thread = running.get();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!IsSleeping(thread) &&
               m_result.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready &&
               std::chrono::steady_clock::now() < deadline) {
        }
    }

    Job Result() { return m_result.get(); }

private:
    std::promise<pid_t> m_started;
    std::future<Job> m_result;  // its destructor waits for the thread
};

class PriorityListTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(s_liveJobs.load(), 0) << "a job object leaked"; }
};

std::vector<std::wstring> TakeAll(JobList& list) {
    std::vector<std::wstring> names;
    while (list.Length() > 0) {
        names.push_back(NameOf(list.Get()));
    }
    return names;
}

std::vector<int32_t> EntryIds(JobList& list) {
    std::vector<JobEntry> entries;
    list.GetEntries(entries);
    std::vector<int32_t> ids;
    for (const JobEntry& entry : entries) {
        ids.push_back(entry.jobId);
    }
    return ids;
}

TEST_F(PriorityListTest, ServesHigherPrioritiesFirstAndEqualOnesInOrder) {
    JobList list;
    list.Put(1, 2, MakeJob(L"a"));
    list.Put(2, 3, MakeJob(L"b"));
    list.Put(3, 2, MakeJob(L"c"));
    list.Put(4, 1, MakeJob(L"d"));
    list.Put(5, 3, MakeJob(L"e"));

    int32_t jobId = 0;
    int32_t priority = 0;
    EXPECT_EQ(NameOf(list.Get(&jobId, &priority)), L"b");
    EXPECT_EQ(jobId, 2);
    EXPECT_EQ(priority, 3);
    EXPECT_EQ(TakeAll(list), (std::vector<std::wstring>{L"e", L"a", L"c", L"d"}));
}

TEST_F(PriorityListTest, ComparesPrioritiesAsSignedNumbers) {
    JobList list;
    list.Put(1, 0, MakeJob(L"zero"));
    list.Put(2, -1, MakeJob(L"minus one"));
    list.Put(3, std::numeric_limits<int32_t>::min(), MakeJob(L"lowest"));
    list.Put(4, 1, MakeJob(L"one"));
    list.Put(5, std::numeric_limits<int32_t>::max(), MakeJob(L"highest"));
    list.Put(6, -5, MakeJob(L"minus five"));

    EXPECT_EQ(TakeAll(list), (std::vector<std::wstring>{L"highest", L"one", L"zero", L"minus one",
                                                        L"minus five", L"lowest"}));
}

TEST_F(PriorityListTest, RemoveLeavesACountSoTheNextGetFindsNothingAtOnce) {
    JobList list;
    list.Put(7, 1, MakeJob(L"only"));
    EXPECT_TRUE(list.Remove(7));
    EXPECT_EQ(list.Length(), 0);

    int32_t jobId = 99;
    int32_t priority = 99;
    EXPECT_EQ(list.Get(&jobId, &priority), nullptr);
    EXPECT_EQ(jobId, 99) << "an empty Get writes no job id";
    EXPECT_EQ(priority, 99);

    // Now the count is used up: the next Get waits for the next Put.
    CBlockedGet waiting(list);
    list.Put(8, 1, MakeJob(L"next"));
    EXPECT_EQ(NameOf(waiting.Result()), L"next");
}

TEST_F(PriorityListTest, RemoveTakesTheFrontmostOfEqualIdsAndReportsAMissingId) {
    CCountingList list;
    list.Put(1, 1, MakeJob(L"first"));
    list.Put(1, 1, MakeJob(L"second"));
    list.m_changedCalls = 0;

    EXPECT_FALSE(list.Remove(2));
    EXPECT_EQ(list.m_changedCalls, 0);
    EXPECT_TRUE(list.Remove(1));
    EXPECT_EQ(list.m_changedCalls, 1);
    EXPECT_EQ(list.m_entriesSeenByChanged, 1u);
    EXPECT_EQ(NameOf(list.Peek()), L"second");
}

TEST_F(PriorityListTest, GetWaitsAfterEmptyUntilAPut) {
    JobList list;
    list.Put(1, 1, MakeJob(L"dropped"));
    list.Put(2, 1, MakeJob(L"dropped too"));
    list.Empty();
    EXPECT_EQ(list.Length(), 0);

    CBlockedGet waiting(list);
    list.Put(3, 1, MakeJob(L"after empty"));
    EXPECT_EQ(NameOf(waiting.Result()), L"after empty");
}

TEST_F(PriorityListTest, GetWaitsAfterClearUntilSetEntriesAndTheListStaysUsable) {
    JobList list;
    list.Put(1, 1, MakeJob(L"dropped"));
    EXPECT_TRUE(list.Remove(1));  // leaves a count that Clear must drop as well
    list.Clear();

    CBlockedGet waiting(list);
    EXPECT_EQ(list.SetEntries({JobEntry{4, 0, MakeJob(L"after clear")}}, true), 1);
    EXPECT_EQ(NameOf(waiting.Result()), L"after clear");

    list.Put(5, 0, MakeJob(L"still usable"));
    EXPECT_EQ(NameOf(list.TryGet()), L"still usable");
}

TEST_F(PriorityListTest, PeekAndTryGetNeverWaitAndPeekKeepsTheCount) {
    JobList list;
    EXPECT_EQ(list.Peek(), nullptr);
    EXPECT_EQ(list.TryGet(), nullptr);

    list.Put(3, 2, MakeJob(L"front"));
    int32_t jobId = 0;
    int32_t priority = 0;
    EXPECT_EQ(NameOf(list.Peek(&jobId, &priority)), L"front");
    EXPECT_EQ(jobId, 3);
    EXPECT_EQ(priority, 2);
    EXPECT_EQ(NameOf(list.Peek()), L"front");
    EXPECT_EQ(list.Length(), 1);

    // Had Peek used up the count, TryGet would find none.
    EXPECT_EQ(NameOf(list.TryGet()), L"front");
    EXPECT_EQ(list.TryGet(), nullptr);
}

TEST_F(PriorityListTest, ChangedRunsOncePerChangeOfTheContentOnly) {
    CCountingList list;
    list.Empty();
    list.Clear();
    EXPECT_EQ(list.m_changedCalls, 0) << "emptying an empty list changes nothing";

    list.Put(1, 1, MakeJob(L"a"));
    EXPECT_EQ(list.m_changedCalls, 1);
    EXPECT_EQ(list.m_entriesSeenByChanged, 1u) << "Changed sees the entry it reports";

    list.Peek();
    list.Length();
    std::vector<JobEntry> entries;
    list.GetEntries(entries);
    EXPECT_EQ(list.m_changedCalls, 1);

    list.Get();
    EXPECT_EQ(list.m_changedCalls, 2);
    EXPECT_EQ(list.m_entriesSeenByChanged, 0u);

    list.Put(2, 1, MakeJob(L"b"));
    list.Put(3, 1, MakeJob(L"c"));
    list.m_changedCalls = 0;
    list.Empty();
    EXPECT_EQ(list.m_changedCalls, 1);
    EXPECT_EQ(list.m_entriesSeenByChanged, 0u);
}

TEST_F(PriorityListTest, SetEntriesAppendsBehindEqualPrioritiesOrReplacesWithOneChange) {
    CCountingList list;
    list.Put(1, 2, MakeJob(L"A"));
    list.Put(2, 1, MakeJob(L"B"));
    list.m_changedCalls = 0;

    EXPECT_EQ(list.SetEntries({JobEntry{3, 2, MakeJob(L"C")}, JobEntry{4, 1, MakeJob(L"D")},
                               JobEntry{5, 3, MakeJob(L"E")}},
                              true),
              3);
    EXPECT_EQ(list.m_changedCalls, 0) << "inserted entries call no Changed";
    EXPECT_EQ(EntryIds(list), (std::vector<int32_t>{5, 1, 3, 2, 4}));

    EXPECT_EQ(list.SetEntries({JobEntry{6, 0, MakeJob(L"F")}}, false), 1);
    EXPECT_EQ(list.m_changedCalls, 1) << "replacing a non-empty list empties it once";
    EXPECT_EQ(EntryIds(list), (std::vector<int32_t>{6}));
    EXPECT_EQ(NameOf(list.TryGet()), L"F");
    EXPECT_EQ(list.TryGet(), nullptr) << "replacing dropped the counts of the old entries";

    list.m_changedCalls = 0;
    EXPECT_EQ(list.SetEntries({JobEntry{7, 0, MakeJob(L"G")}}, false), 1);
    EXPECT_EQ(list.m_changedCalls, 0) << "replacing an empty list empties nothing";
}

TEST_F(PriorityListTest, EntriesTakenOutAndGivenBackKeepTheirOrder) {
    JobList list;
    list.Put(1, 1, MakeJob(L"a"));
    list.Put(2, 5, MakeJob(L"b"));
    list.Put(3, 1, MakeJob(L"c"));
    list.Put(4, 5, MakeJob(L"d"));

    std::vector<JobEntry> entries{JobEntry{0, 0, MakeJob(L"kept")}};
    list.GetEntries(entries);
    ASSERT_EQ(entries.size(), 5u) << "GetEntries appends to what the vector held";
    EXPECT_EQ(NameOf(entries.front().element), L"kept");
    entries.erase(entries.begin());

    JobList copy;
    EXPECT_EQ(copy.SetEntries(entries, false), 4);
    EXPECT_EQ(EntryIds(copy), EntryIds(list));
    EXPECT_EQ(EntryIds(copy), (std::vector<int32_t>{2, 4, 1, 3}));
}

TEST_F(PriorityListTest, AFailingChangedLeavesPutAndRemoveDoneAndGetUndone) {
    CCountingList list;
    list.m_failChanged = true;

    EXPECT_THROW(list.Put(1, 1, MakeJob(L"kept")), CQException);
    EXPECT_EQ(list.Length(), 1) << "the entry stays queued";

    EXPECT_THROW(list.Get(), CQException);
    EXPECT_EQ(list.Length(), 1) << "Get put the entry back";

    list.m_failChanged = false;
    EXPECT_EQ(NameOf(list.TryGet()), L"kept") << "the entry's count survived both failures";
    EXPECT_EQ(list.TryGet(), nullptr) << "and no count more";

    list.Put(2, 1, MakeJob(L"removed"));
    list.m_failChanged = true;
    EXPECT_THROW(list.Remove(2), CQException);
    EXPECT_EQ(list.Length(), 0) << "Remove's entry stays removed";

    list.m_failChanged = false;
    list.Put(3, 1, MakeJob(L"emptied"));
    list.m_failChanged = true;
    EXPECT_THROW(list.Clear(), CQException);
    EXPECT_EQ(list.Length(), 0);
    list.m_failChanged = false;
    EXPECT_EQ(list.TryGet(), nullptr) << "Clear dropped every count although Changed failed";
}

TEST_F(PriorityListTest, AFailureNamesTheMethodAsTheCompilerSpellsTheTemplate) {
    CCountingList list;
    list.m_failChanged = true;
    try {
        list.Put(1, 1, MakeJob(L"a"));
        FAIL() << "Put did not raise";
    } catch (const CQException& error) {
        EXPECT_TRUE(error.HasErrorCode(E_FAIL));
        const std::wstring xml = error.GetXML();
        EXPECT_NE(xml.find(L"<sourcefunction>CVPriorityList&lt;"), std::wstring::npos) << xml;
        EXPECT_NE(xml.find(L"ITestJob"), std::wstring::npos) << xml;
        EXPECT_NE(xml.find(L"&gt;::Put</sourcefunction>"), std::wstring::npos) << xml;
    }
    list.m_failChanged = false;
}

TEST_F(PriorityListTest, ReleasesEveryReferenceItTook) {
    Job job = MakeJob(L"shared");
    {
        JobList list;
        list.Put(1, 1, job);
        list.Put(2, 1, job);
        list.SetEntries({JobEntry{3, 1, job}}, true);
        EXPECT_EQ(list.Peek(), job);
        std::vector<JobEntry> entries;
        list.GetEntries(entries);
        EXPECT_EQ(list.Get(), job);
        EXPECT_TRUE(list.Remove(2));
        // One entry is still queued when the list goes.
    }
    EXPECT_EQ(job->AddRef(), 2u) << "only the test's own reference is left";
    job->Release();
    job.Reset();
    EXPECT_EQ(s_liveJobs.load(), 0);
}

// Several producers, a thread that removes some jobs and one consumer that takes exactly as
// many times as jobs were put: since the count never falls below the number of entries, every
// job that was not removed reaches the consumer, and none twice.
TEST_F(PriorityListTest, ProducersAndOneConsumerLoseAndDuplicateNothing) {
    constexpr int k_producers = 4;
    constexpr int k_jobsEach = 500;
    constexpr int k_total = k_producers * k_jobsEach;
    JobList list;
    Job job = MakeJob(L"job");

    std::vector<int32_t> received;
    std::thread consumer([&] {
        for (int taken = 0; taken < k_total; ++taken) {
            int32_t jobId = 0;
            if (list.Get(&jobId) != nullptr) {
                received.push_back(jobId);
            }
        }
    });
    std::vector<int32_t> removed;
    std::thread remover([&] {
        for (int32_t jobId = 1; jobId <= k_total; jobId += 7) {
            if (list.Remove(jobId)) {
                removed.push_back(jobId);
            }
        }
    });
    std::vector<std::thread> producers;
    for (int producer = 0; producer < k_producers; ++producer) {
        producers.emplace_back([&, producer] {
            for (int index = 0; index < k_jobsEach; ++index) {
                list.Put(producer * k_jobsEach + index + 1, index % 3 - 1, job);
                if (index % 50 == 0) {
                    list.Peek();
                }
            }
        });
    }
    for (std::thread& producer : producers) {
        producer.join();
    }
    remover.join();
    consumer.join();

    EXPECT_EQ(list.Length(), 0);
    std::set<int32_t> all(received.begin(), received.end());
    EXPECT_EQ(all.size(), received.size()) << "a job was served twice";
    for (int32_t jobId : removed) {
        EXPECT_TRUE(all.insert(jobId).second) << "job " << jobId << " was removed and served";
    }
    EXPECT_EQ(all.size(), static_cast<size_t>(k_total)) << "jobs were lost";
    EXPECT_EQ(list.TryGet(), nullptr);
}

}  // namespace
