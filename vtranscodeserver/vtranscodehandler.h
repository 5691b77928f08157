#pragma once
// CVTranscodeHandler: transcodes items of a client's datastore on demand. For each item it
// either queues a job at the transcode service (the item names a target format) and records the
// item in its queue datastore, or writes onto the item whether and into what it must be
// transcoded for a device. When a job of this handler completes, the converted file is stored
// as a new item in the result datastore, related to its original both ways, the queue entry goes,
// and the service's event is forwarded to the handler's own listeners with the items involved.
//
// Decisions (sound forms where the plain algorithm could lose results or hang):
// - A job's queue entry is recorded before the job's events are handled: every handler's
//   OnEvent waits on a process-wide record lock, which a request holds from before AddFile
//   until the job is claimed and its entry is in the queue datastore, so a job that ends at
//   once still finds its entry and is never taken for another handler's leftover.
// - Each handler acts only on the jobs it queued (m_jobs), and on entries left by a handler
//   that is gone (no live handler of this process claims their job id); the result of another
//   live handler's job is never stored here.
// - Completion means that no job of this handler is outstanding: the event is reset before
//   AddFile, and signalled when m_jobs is empty and no request is between AddFile and its
//   record. The worker only notices jobs the service lost without an event (the service idle
//   for k_lostJobGrace while jobs remain): those end as failed, so a waiter never hangs.
// - Output names are reserved by an exclusive empty placeholder file, in a private per-user
//   results folder (mode 0700, never a link); a failed job's placeholder is removed.
// - The queue datastore lives in a private per-user folder too; its filters are made only
//   from valid GUIDs and job ids.
// - Storing a result commits the result store first (source and result may be one datastore,
//   whose transactions nest), then the source and queue stores; a failure there aborts all three
//   and the event is still forwarded.
// - Init keeps the completion state: jobs queued before a new Init still count.
//
// Threads: requests run on the callers' threads; OnEvent on the event library's thread; the
// worker on its own. m_initLock guards the datastores; m_setupLock serialises the first
// creation of the service connection and of the queue datastore (m_service, m_queueStore);
// m_jobsLock guards m_jobs and m_pendingRecords.

#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "qlib/qcom/comclassregistration.h"
#include "qlib/qcom/comdispatchimpl.h"
#include "qlib/qcom/comobjectbase.h"
#include "qlib/qcom/comsupporterrorinfoimpl.h"
#include "qlib/qutilitylib/qcomlock.h"
#include "qlib/qutilitylib/qevent.h"
#include "qlib/qutilitylib/qworkerthreadhost.h"
#include "vevent/veventdispatcher.h"
#include "vevent/veventlistener.h"
#include "vtranscoder/vdatastoreinterfaces.h"
#include "vtranscodeserver/vtranscodeserverlib.h"

class CVTranscodeHandler final
    : public CComObjectBase<CComDispatchImpl<IVTranscodeHandler>,
                            CVEventDispatcher<CVTranscodeHandler>,
                            CComSupportErrorInfoImpl<IVTranscodeHandler>>,
      public CVEventListener,
      private CQWorkerThreadHost {
public:
    static constexpr ComAggregation k_aggregation = ComAggregation::Refused;
    static constexpr const wchar_t* k_displayName = L"VTranscodeServer.VTranscodeHandler";
    // Below the local application-data folder.
    static constexpr const wchar_t* k_queueFolder = L"Zelto/VTranscodeHandler/QueueDS";
    static constexpr const wchar_t* k_resultsFolder = L"Zelto/VTranscodeHandler/Results";
    static constexpr uint32_t k_queueSchemaResource = 202;
    static constexpr std::chrono::milliseconds k_pollInterval{500};
    static constexpr std::chrono::milliseconds k_lostJobGrace{5000};

    static CComClassRegistration RegisterClass();

    CVTranscodeHandler();
    ~CVTranscodeHandler() override;

    HRESULT FinalConstruct() override;
    void FinalRelease() noexcept override;

    // IVTranscodeHandler
    HRESULT Init(BSTR strSourceDatastore, BSTR strResultDatastore) override;
    HRESULT TranscodeItemIfNeeded(IDispatch* piItemOrEnum, BSTR strDeviceProductCode,
                                  LONG nPriority, LONG dwFlags, IDispatch** ppiRetVal) override;
    HRESULT WaitForCompletion() override;

    // The service's events (CVEventListener).
    void OnEvent(IUnknown* event) override;

private:
    struct SJob {
        std::wstring outputPath;  // the reserved placeholder until the job completes
    };

    void CheckInitialized();
    CComPtr<IVDataStore> GetQueueDS();
    CComPtr<IVTranscodeService> GetTranscodeService();
    CComPtr<IVItem> TranscodeItemImpl(IVItem* item, const std::wstring& device, LONG priority);
    void QueueJob(IVItem* item, const std::wstring& sourcePath, const std::wstring& device,
                  LONG format, LONG priority);
    void RecordEntry(IVItem* item);
    void Decide(IVItem* item, const std::wstring& sourcePath, const std::wstring& device);
    CComPtr<IVItem> StoreCompletedItem(IVItem* entry);
    CComPtr<IVItem> FindEntry(LONG jobId);
    void RemoveEntry(IVItem* entry);
    // The job is over: forgets it and signals completion when nothing is outstanding.
    void EndJob(LONG jobId, bool completed);
    void SignalIfIdle();
    bool ActsOn(LONG jobId);
    void WorkerProc(void* argument) override;
    void EndLostJobs();

    CQCOMLock m_initLock;
    CComPtr<IVDataStore> m_sourceStore;  // guarded by m_initLock
    CComPtr<IVDataStore> m_resultStore;  // guarded by m_initLock

    std::mutex m_setupLock;
    CComPtr<IVTranscodeService> m_service;  // guarded by m_setupLock
    CComPtr<IVDataStore> m_queueStore;      // guarded by m_setupLock

    CQEvent m_completion;  // manual reset; signalled while nothing is outstanding

    std::mutex m_workerStartLock;  // serialises starting the worker
    std::mutex m_jobsLock;
    std::map<LONG, SJob> m_jobs;  // by job id; guarded by m_jobsLock
    int m_pendingRecords = 0;     // guarded by m_jobsLock
};
