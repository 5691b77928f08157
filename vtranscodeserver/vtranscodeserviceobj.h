#pragma once
// CVTranscodeService: the transcode service, the one object through which clients queue and
// control jobs. One shared instance per process (RegisterClass installs the singleton class
// object). It owns the persistent queue (CVTranscodeQueue), the long-lived transcoder, the
// profile database (CVAVProfileConfig, with the format decisions over it) and the worker thread
// that runs the jobs one at a time through the transcoder, forwarding the transcoder's
// notifications to the service's listeners as service events (CVTranscodeServiceEvent, delivered by
// CVEventDispatcher).
//
//     CComPtr<IVTranscodeService> service;   // CoCreateInstance(CLSID_VTranscodeService, ...)
//     LONG id = ComCall(service, &IVTranscodeService::AddFile, L"/in/clip.avi", L"/out/clip.mp4",
//                       EVTranscodePriority_Normal, 9UL, VARIANT::Missing());
//     // listeners see Added, Started, Progress..., Completed (or Aborted / Error)
//
// Decisions (sound forms where the plain algorithm could lose work or hang):
// - The worker takes its own references to the transcoder and to the job's item for the
//   duration of a job; Init or Clear replacing the service's transcoder never releases an
//   object in use. Pause, Continue and Abort act on the transcoder that runs the job.
// - The worker never blocks on the queue: it takes jobs without waiting and ends when none is
//   left, re-checking under m_workerMutex so that a job added while it ends starts a new worker.
//   A stop request is checked right before each job starts (under m_stateMutex, where Clear
//   finds the running transcoder to abort); a job taken after a stop request goes back into the
//   queue, unstarted and without an event. Clear asks for the stop first and repeats its abort
//   until the worker has ended, so an abort that met a job just starting is not lost.
// - After every job busy and paused are cleared, also when an event fails.
// - Each job's notifications reach OnEvent only while that job runs: the listener is
//   disconnected (which waits for a notification being forwarded) before the job's final
//   event is dispatched and before the next job's id is set, so no notification follows its
//   job's final event and none is stamped with another job's id.
// - Init while a job runs neither waits for it nor queues it again (see CVTranscodeQueue).
// - A failed automatic save reaches the caller of the operation that triggered it as its
//   error; the queue loses no job, and the worker logs the failure and goes on.
//
// Threads: interface methods run on the callers' threads and are serialised by m_serviceLock
// (held for their whole duration, events included). The worker thread does not take it.
// Lock order: m_serviceLock -> m_workerMutex -> m_stateMutex -> queue locks -> profile lock.
// m_stateMutex guards m_transcoder and m_runningTranscoder; m_workerMutex guards
// m_workerActive; the flags and the current job id are atomics (written by the worker and by
// Clear, read by anyone).

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "qlib/qcom/comclassregistration.h"
#include "qlib/qcom/comdispatchimpl.h"
#include "qlib/qcom/comobjectbase.h"
#include "qlib/qcom/comsupporterrorinfoimpl.h"
#include "qlib/qutilitylib/qcomlock.h"
#include "qlib/qutilitylib/qexception.h"
#include "qlib/qutilitylib/qworkerthreadhost.h"
#include "vevent/veventdispatcher.h"
#include "vevent/veventlistener.h"
#include "vtranscoder/vtranscoderinterfaces.h"
#include "vtranscodeserver/vavprofileconfig.h"
#include "vtranscodeserver/vmediadecisions.h"
#include "vtranscodeserver/vtranscodequeue.h"
#include "vtranscodeserver/vtranscodeserverlib.h"

class CVTranscodeService final
    : public CComObjectBase<CComDispatchImpl<IVTranscodeService>, IVTranscodeServiceAdmin,
                            IVTranscodeServiceCtrl, IVTranscodeInfo,
                            CVEventDispatcher<CVTranscodeService>,
                            CComSupportErrorInfoImpl<IVTranscodeService, IVTranscodeServiceAdmin,
                                                     IVTranscodeServiceCtrl, IVTranscodeInfo>>,
      public CVEventListener {
public:
    static constexpr ComAggregation k_aggregation = ComAggregation::Refused;
    static constexpr const wchar_t* k_displayName = L"VTranscodeServer.VTranscodeServiceObj";
    // The queue save file under the local application-data folder.
    static constexpr const wchar_t* k_saveFileName = L"Zelto/VPlatform/TranscodeQueue.sav";
    // How long a new worker waits before it looks at the queue.
    static constexpr uint32_t k_workerStartDelay = 500;

    // Called with true when a worker starts and false when it ends, so that the process stays
    // alive while jobs run (the server module's Lock and Unlock).
    using ModuleLock = std::function<void(bool held)>;
    static void SetModuleLock(ModuleLock lock);

    // Installs the singleton class object under CLSID_VTranscodeService; `factory` (optional)
    // receives it, whose Instance() answers the service only when it exists.
    static CComClassRegistration RegisterClass(
        CComSingletonFactory<CVTranscodeService>** factory = nullptr);

    CVTranscodeService();
    ~CVTranscodeService() override;

    HRESULT FinalConstruct() override;
    void FinalRelease() noexcept override;

    // IVTranscodeService
    HRESULT Add(IVTranscodeItem* piTCItem, LONG nPriority, LONG* pnRetVal) override;
    HRESULT AddFile(BSTR strSrcURL, BSTR strDestURL, LONG nPriority, ULONG nOutFormat,
                    const VARIANT& varMCProductCode, LONG* pnRetVal) override;
    HRESULT Remove(LONG nId, VARIANT_BOOL* pbRetVal) override;
    HRESULT GetCount(LONG* pnRetVal) override;
    HRESULT GetState(LONG* pnRetVal) override;
    HRESULT GetContent(BSTR* pstrXML) override;
    HRESULT GetCurrent(LONG* pnRetVal) override;
    HRESULT GetNext(LONG* pnRetVal) override;

    // IVTranscodeServiceAdmin
    HRESULT Init(BSTR strProfileConfigFilename, BSTR strQueueSaveFilename,
                 const VARIANT& nFlags) override;
    HRESULT Close(VARIANT_BOOL bSave) override;
    HRESULT SaveQueue(BSTR strFilename, VARIANT_BOOL* pbRetVal) override;
    HRESULT LoadQueue(BSTR strFilename, VARIANT_BOOL bAppend, VARIANT_BOOL* pbRetVal) override;

    // IVTranscodeServiceCtrl
    HRESULT Pause(VARIANT_BOOL* pbRetVal) override;
    HRESULT Continue(VARIANT_BOOL* pbRetVal) override;
    HRESULT Abort(VARIANT_BOOL* pbRetVal) override;

    // IVTranscodeInfo (and the two format queries of IVTranscodeService): media information
    // (CVMediaInformation) and output-format decisions (CVMediaDecisions), under the service
    // lock.
    HRESULT GetOutputFormatsForFile(BSTR strMCProductCode, BSTR strFilePath,
                                    VARIANT_BOOL* pbMustBeTranscoded, VARIANT* pvarRetVal) override;
    HRESULT GetOutputFormatInfo(BSTR strMCProductCode, LONG eOutputFormat, LONG eFormatInfo,
                                VARIANT* pvarInfo) override;
    HRESULT GetFileInfo(BSTR strFilePath, IVItem** ppiRetVal) override;
    HRESULT IsDRM(BSTR strFilePath, VARIANT_BOOL* pbRetVal) override;
    HRESULT GetMIME(BSTR strFilePath, BSTR* pstrXML) override;
    HRESULT GetOutputFormatsForItem(BSTR strMCProductCode, IVItem* piItem,
                                    VARIANT_BOOL* pbMustBeTranscoded, VARIANT* pvarRetVal) override;
    HRESULT GetOutputFormatsForItem2(BSTR strMCProductCode, IVItem* piItem, LONG* eIsTranscoding,
                                     VARIANT* pvarRetVal) override;

    // Internal halves (raise CQException).
    bool InitImpl(const std::wstring& queueSaveFile, LONG flags, const std::wstring& profileFile);
    LONG AddImpl(IVTranscodeItem* item, LONG priority);
    bool LoadQueueImpl(const std::wstring& file, bool append);
    // Stops the worker (aborting the running job), forgets the transcoder and the profile
    // database; fires Cleared.
    void Clear();

    // Service events: build the event item and hand it to the listeners.
    void DispatchTranscodeEvent(LONG code, LONG jobId, IUnknown* item);
    void DispatchErrorEvent(LONG jobId, IUnknown* item, const std::wstring& text);

    // The transcoder's notifications during a job (CVEventListener).
    void OnEvent(IUnknown* event) override;

private:
    // The worker thread of the service.
    class CWorker final : public CQWorkerThreadHost {
    public:
        explicit CWorker(CVTranscodeService& service);
        ~CWorker() override;

    protected:
        void WorkerProc(void* argument) override;

    private:
        CVTranscodeService& m_service;
    };

    enum class EJobOutcome { Ran, NoJob, NotStarted };

    void WorkerProc();
    void RunWorkerLoop();
    EJobOutcome TakeAndRunJob();
    void RunJob(const CComPtr<IVTranscoder>& transcoder, const CComPtr<IVTranscodeItem>& item,
                int32_t jobId, int32_t priority);
    LONG Transcode(const CComPtr<IVTranscoder>& transcoder, const CComPtr<IVTranscodeItem>& item,
                   int32_t priority);
    void FinishJob(const CComPtr<IVTranscoder>& transcoder, int32_t jobId, LONG result);
    CComPtr<IVTranscoder> BeginJob();
    void EndJob();
    void EnsureWorker();
    void StopWorker();
    bool ResolveOutputFormat(IVTranscodeItemData* data);
    CComPtr<IVTranscoder> CreateTranscoder();
    CComPtr<IVTranscoder> RunningTranscoder();
    static CComPtr<IVTranscodeItemData> CurrentItemOf(const CComPtr<IVTranscoder>& transcoder);

    CQCOMLock m_serviceLock;
    CVTranscodeQueue m_queue;
    CVAVProfileConfig m_profiles;
    CVMediaDecisions m_decisions;  // over m_profiles

    std::atomic<bool> m_initialized = false;
    std::atomic<bool> m_busy = false;
    std::atomic<bool> m_paused = false;
    std::atomic<int32_t> m_currentJobId = -1;
    std::atomic<int32_t> m_currentPriority = 0;

    std::mutex m_stateMutex;
    CComPtr<IVTranscoder> m_transcoder;         // guarded by m_stateMutex
    CComPtr<IVTranscoder> m_runningTranscoder;  // guarded by m_stateMutex

    std::mutex m_workerMutex;
    bool m_workerActive = false;  // guarded by m_workerMutex
    CWorker m_worker;
};
