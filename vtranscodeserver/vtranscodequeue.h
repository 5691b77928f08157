#pragma once
// CVTranscodeQueue: the service's job queue. The priority list of pending jobs, plus the job
// the worker is running now (the current item), job id assignment, and persistence: with
// automatic saving on, every change of the list or of the current item writes the whole queue
// to the save file, so that pending jobs and the running one survive a crash or a restart.
//
//     queue.Init(savePath, EVTranscodeServiceFlags_AutoSave);
//     int32_t id = queue.Add(-1, item, EVTranscodePriority_Normal);   // saved
//     CComPtr<IVTranscodeItem> job = queue.TakeNext(&id, &priority);  // worker: now "current"
//     ... run it ...
//     queue.SetCurrentItem(nullptr, 0, -1);                           // saved without it
//
// The save file (UTF-8 with byte-order mark, no indentation):
//     <?xml version="1.0" encoding="utf-8"?><items>
//       <current id="17" priority="2"><item's own element/></current>   (only while one runs)
//       <queue><entry id="12" priority="3"><item's own element/></entry>...</queue></items>
// Each item writes and reads its own element (IVTranscodeItemData::GetItemXML/LoadItemXML);
// the queue parses it and embeds it, so characters such as "&" and "<" in paths are escaped.
//
// Decisions:
// - Job ids come from a counter that starts above every id loaded or given, so no two queued,
//   loaded or running jobs share an id (ids stay within 1..2147483647; after the counter wraps,
//   ids in use are skipped). Loading a file renumbers entries whose ids are taken.
// - Priority 0 and negative priorities are valid, written and read back signed; an entry needs
//   a positive id and a priority attribute. Reading the own save file again (include-current)
//   while a job runs does not queue that job a second time: an entry with the running job's id
//   is the running job.
// - Saving goes through CVSaveFile (".bak", fsync, rename, fsync of the folder). Snapshots are
//   numbered when they are taken; a snapshot older than one already written to the save file
//   is not written, so the file never goes back in time.
// - TakeNext takes the front job and makes it the current item as one step: the save file shows
//   the job queued until it shows it running, never neither.
// - A failed save never loses a job: the list operation that triggered it completes and the
//   failure propagates to its caller (Add withdraws the job it could not save and raises).
//
// Threads: any thread may call any operation. Lock order: m_takeMutex -> m_idMutex -> list lock
// (base) -> m_currentMutex -> m_elementsMutex -> m_saveMutex; m_settingsMutex is a leaf.
// m_takeMutex makes TakeNext and Load exclusive; m_currentMutex guards m_current; m_saveMutex
// guards m_writtenSnapshot and the writing of files; m_settingsMutex guards m_saveFilePath;
// m_idMutex guards m_nextId and m_idsWrapped; m_elementsMutex guards m_savedElements (the
// elements of the last document, so that a save parses again only the items that changed; an
// item with a revision is not even asked for its XML while its revision stays the same).

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "qlib/qcom/comptr.h"
#include "vtranscoder/vtranscoderinterfaces.h"
#include "vtranscodeserver/vprioritylist.h"

class CVTranscodeQueue : public CVPriorityList<CComPtr<IVTranscodeItem>> {
public:
    using Item = CComPtr<IVTranscodeItem>;

    // Flags of Init (EVTranscodeServiceFlags).
    static constexpr int32_t k_flagAutoSave = 1;
    static constexpr int32_t k_flagAutoLoad = 2;
    // Results of Load besides the count.
    static constexpr int32_t k_loadNoFile = -4;
    static constexpr int32_t k_loadInvalidEntry = -3;

    CVTranscodeQueue() = default;
    ~CVTranscodeQueue() override;

    // Remembers the save file, sets automatic saving (flag 1) and, with flag 2 and a save file,
    // loads it (include-current, not appending) and answers Load's result; otherwise 0.
    int32_t Init(const std::wstring& saveFilePath, int32_t flags);
    // Forgets the save file and empties the queue without saving.
    void Close();
    bool IsInitialized() const { return m_initialized.load(); }

    // Queues the item under jobId (-1: a new id); answers the id, or -1 when refused (not
    // initialised, no item, an id below -1 or 0).
    int32_t Add(int32_t jobId, const Item& item, int32_t priority);
    // The next job, waiting while there is none; empty when not initialised.
    Item Get(int32_t* jobId, int32_t* priority);
    // The worker's take: the front job, now the current item; empty at once when there is none.
    Item TakeNext(int32_t* jobId, int32_t* priority);
    // Records the running job (an empty item: none) and saves.
    void SetCurrentItem(const Item& item, int32_t priority, int32_t jobId);
    // The running job's id, -1 when none.
    int32_t GetCurrentJobId();
    // Whether a job is queued, being taken or running (never false in between).
    bool HasJobs();

    // The save document; with includeCurrent, the running job as "current".
    std::wstring GetItemsXML(bool includeCurrent);
    // Writes the document to path (empty: the save file); false when not initialised or there
    // is no file name.
    bool Save(const std::wstring& path, bool includeCurrent);
    // Appends the document's jobs to entries (the current one first); false, with nothing
    // appended, when an entry is invalid. Text that does not parse raises 2003.
    bool ReadItemsXML(const std::wstring& text, bool includeCurrent, std::vector<Entry>& entries);
    // Loads path (empty: the save file; its ".bak" when it is missing): the number of jobs
    // queued, 0 when appending nothing, k_loadNoFile or k_loadInvalidEntry.
    int32_t Load(const std::wstring& path, bool append, bool includeCurrent);

protected:
    void Changed() override;

private:
    std::wstring GetSaveFilePath();
    int32_t NewJobId();
    void ReserveJobId(int32_t jobId);
    bool IsJobIdInUse(int32_t jobId);
    void PrepareLoadedEntries(std::vector<Entry>& entries, bool append, bool includeCurrent);
    bool WriteSnapshot(const std::wstring& target, const std::string& text, uint64_t snapshot);

    // A job's item as the last document held it: the item's revision (0 for an item without
    // one, whose XML is kept instead to compare), the element written for it, and the number of
    // the document that last held it.
    struct SavedElement {
        ULONGLONG revision = 0;
        std::wstring itemXml;
        std::string element;
        uint64_t document = 0;
    };
    // The save document in UTF-8; items unchanged since the last document reuse their element.
    std::string ItemsDocument(bool includeCurrent);
    void AppendJob(std::string& text, const char* name, const Entry& entry);
    // The element for the job's item, from the last document while the item did not change.
    const std::string& ElementOf(const Entry& entry);

    std::atomic<bool> m_initialized = false;
    std::atomic<bool> m_autoSave = false;
    std::atomic<uint64_t> m_changeCount = 0;

    std::mutex m_settingsMutex;
    std::wstring m_saveFilePath;  // guarded by m_settingsMutex

    std::mutex m_currentMutex;
    Entry m_current{-1, 0, {}};  // guarded by m_currentMutex

    std::mutex m_elementsMutex;
    std::unordered_map<int32_t, SavedElement> m_savedElements;  // guarded by m_elementsMutex
    uint64_t m_documents = 0;                                   // guarded by m_elementsMutex
    size_t m_documentSize = 0;                                  // guarded by m_elementsMutex

    std::mutex m_saveMutex;
    uint64_t m_writtenSnapshot = 0;  // guarded by m_saveMutex

    std::mutex m_idMutex;
    int32_t m_nextId = 1;       // guarded by m_idMutex
    bool m_idsWrapped = false;  // guarded by m_idMutex

    std::mutex m_takeMutex;
    std::atomic<int> m_taking = 0;  // TakeNext calls between their take and SetCurrentItem
};
