#include "vtranscodeserver/vtranscodequeue.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "qlib/qutilitylib/qfileutilities.h"
#include "qlib/qutilitylib/qstring.h"
#include "tests/qlib/qsys/testsupport.h"
#include "tests/vtranscodeserver/vtesttranscodeitem.h"
#include "vtranscodeserver/vsavefile.h"

namespace {

using qsys::test::ReadFile;
using qsys::test::WriteFile;
using Entry = CVTranscodeQueue::Entry;

constexpr int32_t k_autoSave = CVTranscodeQueue::k_flagAutoSave;
constexpr int32_t k_autoLoad = CVTranscodeQueue::k_flagAutoLoad;

// Fails every save-file write with the errno given, while it lives.
class ScopedWriteFailure {
public:
    explicit ScopedWriteFailure(int error)
        : m_previous(CVSaveFile::SetWriteFailure([error](const std::wstring&) { return error; })) {}
    ~ScopedWriteFailure() { CVSaveFile::SetWriteFailure(m_previous); }

private:
    CVSaveFile::WriteFailure m_previous;
};

struct SavedJob {
    int id;
    int priority;
    std::string source;
};

struct SavedQueue {
    bool hasCurrent = false;
    SavedJob current{};
    std::vector<SavedJob> queue;
};

SavedJob ReadJob(const pugi::xml_node& node) {
    return {node.attribute("id").as_int(), node.attribute("priority").as_int(),
            node.child("testitem").attribute("src").value()};
}

class TranscodeQueueTest : public ::testing::Test {
protected:
    std::wstring Path(const std::string& name) const {
        return CQStringHelper::MultiByteToString(m_folder.Path() + "/" + name);
    }
    static std::string Narrow(const std::wstring& path) {
        return CQStringHelper::StringToMultiByte(path);
    }

    // The save file as the tests read it: any standard XML reader must take it.
    static SavedQueue ReadSaved(const std::wstring& path) {
        const std::string bytes = ReadFile(Narrow(path));
        pugi::xml_document document;
        EXPECT_TRUE(document.load_buffer(bytes.data(), bytes.size())) << bytes;
        SavedQueue saved;
        const pugi::xml_node items = document.child("items");
        if (const pugi::xml_node current = items.child("current")) {
            saved.hasCurrent = true;
            saved.current = ReadJob(current);
        }
        for (const pugi::xml_node entry : items.child("queue").children("entry")) {
            saved.queue.push_back(ReadJob(entry));
        }
        return saved;
    }

    static std::vector<Entry> EntriesOf(CVTranscodeQueue& queue) {
        std::vector<Entry> entries;
        queue.GetEntries(entries);
        return entries;
    }

    static std::vector<std::wstring> SourcesOf(CVTranscodeQueue& queue) {
        std::vector<std::wstring> sources;
        for (const Entry& entry : EntriesOf(queue)) {
            sources.push_back(CTestTranscodeItem::SourceOf(entry.element.Get()));
        }
        return sources;
    }

    static CComPtr<IVTranscodeItem> Item(const std::wstring& source) {
        return CTestTranscodeItem::Make(source, source + L".mp4");
    }

    qsys::test::TemporaryFolder m_folder;
    CTestTranscodeItemClass m_itemClass;
    CVTranscodeQueue m_queue;
};

TEST_F(TranscodeQueueTest, SaveFileFollowsTheQueueAndTheRunningJob) {
    const std::wstring path = Path("sub/TranscodeQueue.sav");
    ASSERT_EQ(m_queue.Init(path, k_autoSave), 0);
    const int32_t id = m_queue.Add(-1, Item(L"/media/a.avi"), 2);
    ASSERT_GT(id, 0);

    const std::string bytes = ReadFile(Narrow(path));
    EXPECT_EQ(bytes.rfind("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><items>", 0), 0u)
        << bytes;
    SavedQueue saved = ReadSaved(path);
    EXPECT_FALSE(saved.hasCurrent);
    ASSERT_EQ(saved.queue.size(), 1u);
    EXPECT_EQ(saved.queue[0].id, id);
    EXPECT_EQ(saved.queue[0].priority, 2);
    EXPECT_EQ(saved.queue[0].source, "/media/a.avi");

    int32_t takenId = 0;
    int32_t takenPriority = 0;
    ASSERT_NE(m_queue.TakeNext(&takenId, &takenPriority), nullptr);
    EXPECT_EQ(takenId, id);
    EXPECT_EQ(m_queue.GetCurrentJobId(), id);
    saved = ReadSaved(path);
    ASSERT_TRUE(saved.hasCurrent);
    EXPECT_EQ(saved.current.id, id);
    EXPECT_EQ(saved.current.priority, 2);
    EXPECT_TRUE(saved.queue.empty());

    m_queue.SetCurrentItem(nullptr, 0, -1);
    saved = ReadSaved(path);
    EXPECT_FALSE(saved.hasCurrent);
    EXPECT_TRUE(saved.queue.empty());
    EXPECT_EQ(m_queue.TakeNext(&takenId, &takenPriority), nullptr);  // nothing, and no wait

    // Without automatic saving nothing is written; an explicit file leaves the own one alone.
    CVTranscodeQueue quiet;
    const std::wstring quietPath = Path("quiet.sav");
    quiet.Init(quietPath, 0);
    quiet.Add(-1, Item(L"/media/b.avi"), 1);
    EXPECT_FALSE(CQFileUtilities::FileExists(quietPath));
    EXPECT_TRUE(quiet.Save(Path("other.sav"), false));
    EXPECT_EQ(ReadSaved(Path("other.sav")).queue.size(), 1u);
    EXPECT_FALSE(CQFileUtilities::FileExists(quietPath));
    CVTranscodeQueue unnamed;
    unnamed.Init(L"", k_autoSave);
    unnamed.Add(-1, Item(L"/m/c.avi"), 1);
    EXPECT_FALSE(unnamed.Save(L"", true));
}

// Saves reuse the element of an item that has not changed (told by its revision, or by its XML
// for an item without one); an item changed while queued is saved as it is now, and a finished
// job's element is not kept for a later job of its id.
TEST_F(TranscodeQueueTest, SaveFileFollowsItemsChangedWhileQueued) {
    for (const bool revised : {false, true}) {
        SCOPED_TRACE(revised ? "items with a revision" : "items without a revision");
        const auto item = [&](const std::wstring& source) {
            return CTestTranscodeItem::Make(source, source + L".mp4", 9, revised);
        };
        const std::wstring path = Path(revised ? "Revised.sav" : "Plain.sav");
        CVTranscodeQueue queue;
        queue.Init(path, k_autoSave);
        const CComPtr<IVTranscodeItem> first = item(L"/m/first.avi");
        const int32_t firstId = queue.Add(-1, first, 1);
        queue.Add(-1, item(L"/m/second.avi"), 1);
        CComPtr<IVTranscodeItemData> data;
        ASSERT_TRUE(SUCCEEDED(first.QueryInterface(&data)));
        ASSERT_TRUE(SUCCEEDED(data->SetSourcePath(L"/m/renamed & moved.avi")));
        queue.Add(-1, item(L"/m/third.avi"), 1);
        SavedQueue saved = ReadSaved(path);
        ASSERT_EQ(saved.queue.size(), 3u);
        EXPECT_EQ(saved.queue[0].source, "/m/renamed & moved.avi");
        EXPECT_EQ(saved.queue[1].source, "/m/second.avi");
        ASSERT_TRUE(SUCCEEDED(data->SetSourcePath(L"/m/first.avi")));
        EXPECT_TRUE(queue.Save(L"", true));
        EXPECT_EQ(ReadSaved(path).queue[0].source, "/m/first.avi") << "changed back";

        ASSERT_TRUE(queue.Remove(firstId));
        queue.Add(firstId, item(L"/m/again.avi"), 9);
        saved = ReadSaved(path);
        ASSERT_EQ(saved.queue.size(), 3u);
        EXPECT_EQ(saved.queue[0].id, firstId);
        EXPECT_EQ(saved.queue[0].source, "/m/again.avi");
    }
}

TEST_F(TranscodeQueueTest, LoadRestoresOrderPrioritiesAndEscapedPaths) {
    const std::wstring path = Path("TranscodeQueue.sav");
    m_queue.Init(path, k_autoSave);
    m_queue.Add(-1, Item(L"/m/low & <odd> \"name\".avi"), -5);
    m_queue.Add(-1, Item(L"/m/unspecified.avi"), 0);
    m_queue.Add(-1, Item(L"/m/first.avi"), 2);
    m_queue.Add(-1, Item(L"/m/second.avi"), 2);
    int32_t runningId = 0;
    m_queue.TakeNext(&runningId, nullptr);  // first.avi runs, priority 2

    // A restart: the running job comes back first among the jobs of its priority.
    CVTranscodeQueue restarted;
    EXPECT_EQ(restarted.Init(path, k_autoSave | k_autoLoad), 4);
    EXPECT_EQ(SourcesOf(restarted),
              (std::vector<std::wstring>{L"/m/first.avi", L"/m/second.avi", L"/m/unspecified.avi",
                                         L"/m/low & <odd> \"name\".avi"}));
    const std::vector<Entry> entries = EntriesOf(restarted);
    EXPECT_EQ(entries[0].jobId, runningId);
    EXPECT_EQ(entries[2].priority, 0);
    EXPECT_EQ(entries[3].priority, -5);

    // Loading without the current job, and appending.
    CVTranscodeQueue other;
    other.Init(Path("other.sav"), 0);
    EXPECT_EQ(other.Load(path, false, false), 3);
    EXPECT_EQ(other.Load(path, true, true), 4);
    EXPECT_EQ(other.Length(), 7);
}

TEST_F(TranscodeQueueTest, LoadRefusesBrokenFilesAndKeepsTheQueue) {
    m_queue.Init(Path("own.sav"), 0);
    m_queue.Add(-1, Item(L"/m/kept.avi"), 1);
    const auto load = [&](const std::string& body, bool append = false) {
        WriteFile(m_folder.Path() + "/in.sav",
                  "<?xml version=\"1.0\"?><items>" + body + "</items>");
        return m_queue.Load(Path("in.sav"), append, true);
    };
    const std::string item = "<testitem src=\"/m/x.avi\"/>";

    EXPECT_EQ(m_queue.Load(Path("missing.sav"), false, true), CVTranscodeQueue::k_loadNoFile);
    EXPECT_EQ(load("<queue><entry id=\"0\" priority=\"1\">" + item + "</entry></queue>"),
              CVTranscodeQueue::k_loadInvalidEntry);
    EXPECT_EQ(load("<queue><entry id=\"3\">" + item + "</entry></queue>"),
              CVTranscodeQueue::k_loadInvalidEntry);
    EXPECT_EQ(load("<queue><entry id=\"3\" priority=\"x1\">" + item + "</entry></queue>"),
              CVTranscodeQueue::k_loadInvalidEntry);
    EXPECT_EQ(load("<queue><entry id=\"3\" priority=\"1\"><unknown/></entry></queue>"),
              CVTranscodeQueue::k_loadInvalidEntry);
    EXPECT_EQ(load("<queue></queue>", true), 0);
    EXPECT_THROW(load("<queue><entry"), CQException);
    EXPECT_EQ(SourcesOf(m_queue), std::vector<std::wstring>{L"/m/kept.avi"});

    // A current job without a usable id is skipped; one with priority 0 is kept.
    EXPECT_EQ(load("<current id=\"x\" priority=\"1\">" + item + "</current><queue/>"), 0);
    EXPECT_EQ(load("<current id=\"8\" priority=\"0\">" + item + "</current><queue/>"), 1);
}

TEST_F(TranscodeQueueTest, BackupIsLoadedWhenTheSaveFileIsMissing) {
    const std::wstring path = Path("TranscodeQueue.sav");
    m_queue.Init(path, k_autoSave);
    m_queue.Add(-1, Item(L"/m/a.avi"), 1);
    ASSERT_EQ(::rename(Narrow(path).c_str(), (Narrow(path) + ".bak").c_str()), 0);

    CVTranscodeQueue restarted;
    EXPECT_EQ(restarted.Init(path, k_autoLoad), 1);

    WriteFile(Narrow(path) + ".bak", "\xEF\xBB\xBF<?xml version=\"1.0\"?><items><queue><ent");
    CVTranscodeQueue torn;
    EXPECT_EQ(torn.Init(path, k_autoLoad), CVTranscodeQueue::k_loadNoFile);
}

TEST_F(TranscodeQueueTest, JobIdsAreUniqueAmongQueuedLoadedAndRunningJobs) {
    m_queue.Init(Path("own.sav"), 0);
    std::set<int32_t> ids;
    for (int i = 0; i < 2000; ++i) {  // far more than one per millisecond
        ids.insert(m_queue.Add(-1, Item(L"/m/" + std::to_wstring(i)), 1));
    }
    EXPECT_EQ(ids.size(), 2000u);
    EXPECT_GT(*ids.begin(), 0);

    // Loaded ids are kept, and new ids start above them.
    WriteFile(m_folder.Path() + "/in.sav",
              "<items><queue><entry id=\"70000\" priority=\"1\"><testitem src=\"/m/l\"/></entry>"
              "</queue></items>");
    CVTranscodeQueue loaded;
    loaded.Init(Path("loaded.sav"), 0);
    EXPECT_EQ(loaded.Load(Path("in.sav"), false, false), 1);
    EXPECT_EQ(loaded.Add(-1, Item(L"/m/new"), 1), 70001);

    // Appending a file whose ids are taken renumbers its jobs.
    EXPECT_EQ(loaded.Load(Path("in.sav"), true, false), 1);
    std::set<int32_t> loadedIds;
    for (const Entry& entry : EntriesOf(loaded)) {
        loadedIds.insert(entry.jobId);
    }
    EXPECT_EQ(loadedIds.size(), 3u);
}

TEST_F(TranscodeQueueTest, ReloadingTheOwnFileWhileAJobRunsDoesNotQueueItTwice) {
    const std::wstring path = Path("TranscodeQueue.sav");
    m_queue.Init(path, k_autoSave);
    m_queue.Add(-1, Item(L"/m/running.avi"), 3);
    m_queue.Add(-1, Item(L"/m/waiting.avi"), 1);
    ASSERT_NE(m_queue.TakeNext(nullptr, nullptr), nullptr);

    EXPECT_EQ(m_queue.Init(path, k_autoSave | k_autoLoad), 1);
    EXPECT_EQ(SourcesOf(m_queue), std::vector<std::wstring>{L"/m/waiting.avi"});
    EXPECT_TRUE(ReadSaved(path).hasCurrent);
}

TEST_F(TranscodeQueueTest, CloseRefusesNewJobsAndLeavesTheSaveFileAlone) {
    const std::wstring path = Path("TranscodeQueue.sav");
    m_queue.Init(path, k_autoSave);
    m_queue.Add(-1, Item(L"/m/a.avi"), 1);
    m_queue.Close();
    EXPECT_EQ(m_queue.Length(), 0);
    EXPECT_EQ(m_queue.Add(-1, Item(L"/m/b.avi"), 1), -1);
    EXPECT_FALSE(m_queue.Save(Path("x.sav"), true));
    EXPECT_EQ(ReadSaved(path).queue.size(), 1u);
}

TEST_F(TranscodeQueueTest, FailedSavesLoseNoJob) {
    const std::wstring path = Path("TranscodeQueue.sav");
    m_queue.Init(path, k_autoSave);
    const int32_t first = m_queue.Add(-1, Item(L"/m/a.avi"), 1);
    {
        const ScopedWriteFailure fullDisk(ENOSPC);
        try {
            m_queue.Add(-1, Item(L"/m/b.avi"), 1);
            ADD_FAILURE() << "a save on a full disk succeeded";
        } catch (const CQException& error) {
            EXPECT_NE(error.GetDescription().find(L"No space left on device"), std::wstring::npos)
                << error.GetDescription();
        }
        EXPECT_EQ(SourcesOf(m_queue), std::vector<std::wstring>{L"/m/a.avi"});

        // The worker still gets its job; the file keeps showing it queued.
        int32_t id = 0;
        EXPECT_NE(m_queue.TakeNext(&id, nullptr), nullptr);
        EXPECT_EQ(id, first);
        EXPECT_EQ(m_queue.GetCurrentJobId(), first);
    }
    const SavedQueue saved = ReadSaved(path);
    ASSERT_EQ(saved.queue.size(), 1u);
    EXPECT_EQ(saved.queue[0].id, first);

    // A folder that cannot be made (a file is in its place).
    WriteFile(m_folder.Path() + "/file", "x");
    CVTranscodeQueue blocked;
    blocked.Init(Path("file/TranscodeQueue.sav"), k_autoSave);
    EXPECT_THROW(blocked.Add(-1, Item(L"/m/c.avi"), 1), CQException);
    EXPECT_EQ(blocked.Length(), 0);
}

// A save in progress is killed at random moments: what is on disk must always be one whole
// snapshot, the last one or a later one.
TEST_F(TranscodeQueueTest, SaveFileSurvivesSigkillAtAnyMoment) {
    constexpr int k_kills = 200;
    constexpr int k_jobsPerSnapshot = 20;
    const std::wstring path = Path("TranscodeQueue.sav");
    const auto writeGenerations = [&](int first) {
        CVTranscodeQueue writer;
        writer.Init(path, 0);
        for (int generation = first;; ++generation) {
            std::vector<Entry> entries;
            for (int k = 0; k < k_jobsPerSnapshot; ++k) {
                entries.push_back(Entry{generation * 100 + k + 1, generation,
                                        Item(L"/m/" + std::to_wstring(generation))});
            }
            writer.SetEntries(entries, false);
            writer.Save(L"", false);
        }
    };
    const auto generationOnDisk = [&]() -> int {
        CVTranscodeQueue reader;
        EXPECT_EQ(reader.Load(path, false, false), k_jobsPerSnapshot);
        const std::vector<Entry> entries = EntriesOf(reader);
        for (const Entry& entry : entries) {
            EXPECT_EQ(entry.priority, entries.front().priority) << "a mix of two snapshots";
        }
        return entries.empty() ? -1 : entries.front().priority;
    };

    {
        CVTranscodeQueue initial;
        initial.Init(path, 0);
        for (int k = 0; k < k_jobsPerSnapshot; ++k) {
            initial.Add(k + 1, Item(L"/m/0"), 0);
        }
        ASSERT_TRUE(initial.Save(L"", false));
    }
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> delay(0, 15000);
    int generation = 0;
    for (int kill = 0; kill < k_kills && !HasFailure(); ++kill) {
        const int first = generation + 1;
        const pid_t child = qsys::test::StartChild([&] {
            writeGenerations(first);
            return 0;
        });
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ::kill(child, SIGKILL);
        EXPECT_EQ(qsys::test::WaitChild(child), 128 + SIGKILL);
        const int found = generationOnDisk();
        EXPECT_GE(found, generation) << "the save file went back in time";
        generation = std::max(found, generation);
    }
    EXPECT_GT(generation, 0) << "no save completed in any child";
}

}  // namespace
