#include "vtranscodeserver/vtranscodeserviceobj.h"

#include <algorithm>
#include <cwctype>
#include <utility>

#include "qlib/qcom/comcall.h"
#include "qlib/qsys/event.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qcomutilities.h"
#include "qlib/qutilitylib/qfileutilities.h"
#include "qlib/qutilitylib/qlock.h"
#include "qlib/qutilitylib/qlockholder.h"
#include "qlib/qutilitylib/qstring.h"
#include "qlib/qutilitylib/qvariant.h"
#include "vtranscodeserver/vmediainformation.h"
#include "vtranscodeserver/vtranscodeserviceevent.h"

namespace {

constexpr LONG k_noJob = -1;
// How often Clear repeats its abort while it waits for the worker to end.
constexpr uint32_t k_abortRepeat = 100;

std::mutex s_moduleLockMutex;
CVTranscodeService::ModuleLock s_moduleLock;  // guarded by s_moduleLockMutex

void HoldModule(bool held) {
    CVTranscodeService::ModuleLock lock;
    {
        const std::lock_guard guard(s_moduleLockMutex);
        lock = s_moduleLock;
    }
    if (lock) {
        lock(held);
    }
}

bool EqualsIgnoringCase(const std::wstring& left, const std::wstring& right) {
    return std::equal(left.begin(), left.end(), right.begin(), right.end(),
                      [](wchar_t a, wchar_t b) { return std::towlower(a) == std::towlower(b); });
}

// The media category of a profile-based output format (0 for a concrete format).
LONG CategoryOf(LONG format) {
    if (format >= 6 && format <= 8) {
        return CVAVProfileConfig::k_categoryVideo;
    }
    if (format >= 19 && format <= 21) {
        return CVAVProfileConfig::k_categoryImage;
    }
    if (format >= 22 && format <= 24) {
        return CVAVProfileConfig::k_categoryAudio;
    }
    return 0;
}

// The concrete format of a profile's MIME type, 0 when the category has none for it.
LONG FormatOfProfile(LONG category, const AVProfile& profile) {
    const std::wstring& mime = profile.mime;
    if (category == CVAVProfileConfig::k_categoryVideo) {
        if (mime == L"video/mp4" || mime == L"video/m4v") {
            return EqualsIgnoringCase(profile.codec, L"avc") ? 10 : 9;
        }
        return mime == L"video/3gpp" ? 25 : 0;
    }
    if (category == CVAVProfileConfig::k_categoryImage) {
        return mime == L"image/jpeg"  ? 15
               : mime == L"image/bmp" ? 16
               : mime == L"image/png" ? 17
               : mime == L"image/gif" ? 18
                                      : 0;
    }
    return mime == L"audio/mp4" || mime == L"audio/m4a" ? 11 : 0;
}

template <class Interface>
CComPtr<Interface> Query(IUnknown* object) {
    CComPtr<Interface> result;
    if (object == nullptr) {
        throw CQException(QERR_INVALID_PARAMETER);
    }
    ThrowIfFailed(object->QueryInterface(Interface::k_iid, result.Put()));
    return result;
}

template <class T>
T& Out(T* pointer) {
    if (pointer == nullptr) {
        throw CQException(L"Invalid pointer.", E_POINTER);
    }
    return *pointer;
}

// The value of Init's flags: any integer type, otherwise 0.
LONG FlagsOf(const VARIANT& flags) {
    switch (flags.Vt()) {
        case VT_I1:
        case VT_UI1:
        case VT_I2:
        case VT_UI2:
        case VT_I4:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
        case VT_INT:
        case VT_UINT: {
            VARIANT value = flags;
            ThrowIfFailed(value.ChangeType(VT_I8));
            return static_cast<LONG>(value.Get<int64_t>());
        }
        default:
            return 0;
    }
}

}  // namespace

// --- Class, construction, destruction ---

void CVTranscodeService::SetModuleLock(ModuleLock lock) {
    const std::lock_guard guard(s_moduleLockMutex);
    s_moduleLock = std::move(lock);
}

CComClassRegistration CVTranscodeService::RegisterClass(
    CComSingletonFactory<CVTranscodeService>** factory) {
    return RegisterComSingleton<CVTranscodeService>(CLSID_VTranscodeService, k_displayName,
                                                    factory);
}

CVTranscodeService::CVTranscodeService() : m_decisions(m_profiles), m_worker(*this) {}

CVTranscodeService::~CVTranscodeService() {
    CQCatch::LogAndSwallow([&] {
        CVEventListener::Clear();
        StopWorker();
    });
}

HRESULT CVTranscodeService::FinalConstruct() {
    return CQCatch::Interface(IID_IVTranscodeService, CLSID_VTranscodeService, [&] {
        const std::wstring folder = CQFileUtilities::SHGetFolder();
        const std::wstring saveFile = folder.empty()
                                          ? std::wstring()
                                          : CQFileUtilities::ConcatPathname(folder, k_saveFileName);
        std::wstring profileFile;
        try {
            profileFile = CVAVProfileConfig::ReadConfiguredFileName();
        } catch (...) {
            // no configured database: the embedded one serves
        }
        const CQLockHolder holder(m_serviceLock);
        m_initialized = InitImpl(saveFile, EVTranscodeServiceFlags_AutoSave, profileFile);
    });
}

void CVTranscodeService::FinalRelease() noexcept {
    CQCatch::LogAndSwallow([&] {
        Clear();
        DispatchTranscodeEvent(EVTranscodeServiceEvent_Closed, 0, nullptr);
        CVEventListener::Clear();
    });
}

// --- IVTranscodeServiceAdmin ---

HRESULT CVTranscodeService::Init(BSTR strProfileConfigFilename, BSTR strQueueSaveFilename,
                                 const VARIANT& nFlags) {
    return CQCatch::Interface(IID_IVTranscodeServiceAdmin, CLSID_VTranscodeService, [&] {
        const CQLockHolder holder(m_serviceLock);
        m_initialized = InitImpl(strQueueSaveFilename, FlagsOf(nFlags), strProfileConfigFilename);
    });
}

bool CVTranscodeService::InitImpl(const std::wstring& queueSaveFile, LONG flags,
                                  const std::wstring& profileFile) {
    return CQCatch::Internal([&] {
        const CQLockHolder holder(m_serviceLock);
        m_profiles.Load(profileFile);
        CComPtr<IVTranscoder> transcoder = CreateTranscoder();
        {
            const std::lock_guard state(m_stateMutex);
            std::swap(m_transcoder, transcoder);
        }
        transcoder = nullptr;  // the previous one; a running job holds its own reference
        if (m_queue.Init(queueSaveFile, flags) > 0) {
            DispatchTranscodeEvent(EVTranscodeServiceEvent_QueueLoaded, 0, nullptr);
            EnsureWorker();
        }
        return true;
    });
}

HRESULT CVTranscodeService::Close(VARIANT_BOOL bSave) {
    return CQCatch::Interface(IID_IVTranscodeServiceAdmin, CLSID_VTranscodeService, [&] {
        const CQLockHolder holder(m_serviceLock);
        // A save that fails leaves the service as it was: the caller decides what to do.
        if (bSave == VARIANT_TRUE) {
            m_queue.Save(std::wstring(), true);
        }
        m_initialized = false;
        m_queue.Close();
        Clear();
    });
}

void CVTranscodeService::Clear() {
    CQCatch::Internal([&] {
        const CQLockHolder holder(m_serviceLock);
        m_busy = false;
        m_paused = false;
        m_initialized = false;
        StopWorker();
        CComPtr<IVTranscoder> transcoder;
        {
            const std::lock_guard state(m_stateMutex);
            std::swap(m_transcoder, transcoder);
        }
        transcoder = nullptr;
        DispatchTranscodeEvent(EVTranscodeServiceEvent_Cleared, 0, nullptr);
        m_currentJobId = k_noJob;
    });
}

HRESULT CVTranscodeService::SaveQueue(BSTR strFilename, VARIANT_BOOL* pbRetVal) {
    return CQCatch::Interface(IID_IVTranscodeServiceAdmin, CLSID_VTranscodeService, [&] {
        VARIANT_BOOL& result = Out(pbRetVal);
        const CQLockHolder holder(m_serviceLock);
        result = VARIANT_FALSE;
        if (strFilename.empty()) {
            return;
        }
        bool saved = false;
        CQCatch::LogAndSwallow([&] { saved = m_queue.Save(strFilename, false); });
        if (saved) {
            DispatchTranscodeEvent(EVTranscodeServiceEvent_QueueSaved, 0, nullptr);
            result = VARIANT_TRUE;
        }
    });
}

HRESULT CVTranscodeService::LoadQueue(BSTR strFilename, VARIANT_BOOL bAppend,
                                      VARIANT_BOOL* pbRetVal) {
    return CQCatch::Interface(IID_IVTranscodeServiceAdmin, CLSID_VTranscodeService, [&] {
        VARIANT_BOOL& result = Out(pbRetVal);
        const CQLockHolder holder(m_serviceLock);
        result =
            LoadQueueImpl(strFilename, bAppend != VARIANT_FALSE) ? VARIANT_TRUE : VARIANT_FALSE;
    });
}

bool CVTranscodeService::LoadQueueImpl(const std::wstring& file, bool append) {
    return CQCatch::Internal([&] {
        int32_t loaded = CVTranscodeQueue::k_loadNoFile;
        CQCatch::LogAndSwallow([&] { loaded = m_queue.Load(file, append, false); });
        if (loaded < 0) {
            return false;
        }
        DispatchTranscodeEvent(EVTranscodeServiceEvent_QueueLoaded, 0, nullptr);
        EnsureWorker();
        return true;
    });
}

// --- IVTranscodeService ---

HRESULT CVTranscodeService::Add(IVTranscodeItem* piTCItem, LONG nPriority, LONG* pnRetVal) {
    return CQCatch::Interface(IID_IVTranscodeService, CLSID_VTranscodeService, [&] {
        LONG& result = Out(pnRetVal);
        const CQLockHolder holder(m_serviceLock);
        if (piTCItem == nullptr) {
            throw CQException(QERR_INVALID_PARAMETER);
        }
        // The caller's object is never queued: a copy of its data is.
        CComPtr<IVTranscodeItem> item = CQCOMUtils::CreateObject<IVTranscodeItem>(
            CLSID_VTranscodeItem, k_transcodeItemDisplayName);
        ComCall(Query<IVTranscodeItemData>(item.Get()).Get(), &IVTranscodeItemData::CopyFrom,
                Query<IVTranscodeItemData>(piTCItem).Get());
        result = AddImpl(item.Get(), nPriority);
    });
}

HRESULT CVTranscodeService::AddFile(BSTR strSrcURL, BSTR strDestURL, LONG nPriority,
                                    ULONG nOutFormat, const VARIANT& varMCProductCode,
                                    LONG* pnRetVal) {
    return CQCatch::Interface(IID_IVTranscodeService, CLSID_VTranscodeService, [&] {
        LONG& result = Out(pnRetVal);
        const CQLockHolder holder(m_serviceLock);
        const LONG format = static_cast<LONG>(nOutFormat);
        std::wstring productCode;
        if (CategoryOf(format) != 0) {
            if (varMCProductCode.Vt() != VT_BSTR) {
                throw CQException(QERR_INVALID_PARAMETER);
            }
            productCode = varMCProductCode.Get<BSTR>();
        }
        CComPtr<IVTranscodeItem> item = CQCOMUtils::CreateObject<IVTranscodeItem>(
            CLSID_VTranscodeItem, k_transcodeItemDisplayName);
        const SHORT initialized = ComCall(item.Get(), &IVTranscodeItem::Initialize, strSrcURL,
                                          strDestURL, format, VARIANT(BSTR(productCode)));
        result = initialized == 0 ? AddImpl(item.Get(), nPriority) : k_noJob;
    });
}

LONG CVTranscodeService::AddImpl(IVTranscodeItem* item, LONG priority) {
    return CQCatch::Internal([&] {
        const CQLockHolder holder(m_serviceLock);
        if (!m_initialized) {
            throw CQException(VERR_SERVICE_NOT_INITIALIZED);
        }
        if (item == nullptr) {
            throw CQException(QERR_INVALID_PARAMETER);
        }
        const CComPtr<IVTranscodeItemData> data = Query<IVTranscodeItemData>(item);
        if (!ResolveOutputFormat(data.Get())) {
            return k_noJob;
        }
        CQFileUtilities::CheckFileExists(ComCall(data.Get(), &IVTranscodeItemData::GetSourcePath));
        const CComPtr<IVTranscoder> checker =
            CQCOMUtils::CreateObject<IVTranscoder>(CLSID_VTranscoder, k_transcoderDisplayName);
        ComCall(checker.Get(), &IVTranscoder::SetItem, data.Get());
        if (ComCall(checker.Get(), &IVTranscoder::CanTranscode) == VARIANT_FALSE) {
            return k_noJob;
        }
        const LONG jobId = m_queue.Add(-1, CComPtr<IVTranscodeItem>(item), priority);
        if (jobId < 1) {
            throw CQException(VERR_ADD_TO_QUEUE_FAILED);
        }
        // The job is queued: it runs even if telling the listeners fails.
        try {
            DispatchTranscodeEvent(EVTranscodeServiceEvent_Added, jobId, item);
        } catch (const CQException&) {
            EnsureWorker();
            throw;
        }
        EnsureWorker();
        return jobId;
    });
}

bool CVTranscodeService::ResolveOutputFormat(IVTranscodeItemData* data) {
    const LONG category = CategoryOf(ComCall(data, &IVTranscodeItemData::GetOutputFormat));
    if (category == 0) {
        return true;
    }
    const std::wstring productCode = ComCall(data, &IVTranscodeItemData::GetProductCode);
    AVProfile profile;
    if (productCode.empty() ||
        !m_profiles.GetAVProfile(productCode, category,
                                 ComCall(data, &IVTranscodeItemData::GetOutputFormat), profile)) {
        return false;
    }
    const LONG format = FormatOfProfile(category, profile);
    if (format == 0) {
        return false;
    }
    ComCall(data, &IVTranscodeItemData::SetOutputFormat, format);
    const auto bitRate = static_cast<LONG>(profile.bitrate);
    const auto width = static_cast<LONG>(profile.width);
    const auto height = static_cast<LONG>(profile.height);
    if (category == CVAVProfileConfig::k_categoryImage) {
        ComCall(data, &IVTranscodeItemData::SetImageSize, width, height);
        return true;
    }
    if (category == CVAVProfileConfig::k_categoryVideo) {
        ComCall(data, &IVTranscodeItemData::SetVideoSettings, width, height, profile.framerate,
                bitRate);
    }
    ComCall(data, &IVTranscodeItemData::SetAudioSettings, bitRate,
            VARIANT::UInt(profile.audioStreams));
    return true;
}

HRESULT CVTranscodeService::Remove(LONG nId, VARIANT_BOOL* pbRetVal) {
    return CQCatch::Interface(IID_IVTranscodeService, CLSID_VTranscodeService, [&] {
        VARIANT_BOOL& result = Out(pbRetVal);
        const CQLockHolder holder(m_serviceLock);
        result = VARIANT_FALSE;
        if (m_queue.Remove(nId)) {
            result = VARIANT_TRUE;
            DispatchTranscodeEvent(EVTranscodeServiceEvent_Removed, nId, nullptr);
        }
    });
}

HRESULT CVTranscodeService::GetCount(LONG* pnRetVal) {
    return CQCatch::Interface(IID_IVTranscodeService, CLSID_VTranscodeService, [&] {
        LONG& result = Out(pnRetVal);
        const CQLockHolder holder(m_serviceLock);
        result = m_queue.Length();
    });
}

HRESULT CVTranscodeService::GetState(LONG* pnRetVal) {
    return CQCatch::Interface(IID_IVTranscodeService, CLSID_VTranscodeService, [&] {
        LONG& result = Out(pnRetVal);
        const CQLockHolder holder(m_serviceLock);
        if (!m_initialized) {
            result = EVTranscodeServiceState_Uninitialized;
        } else if (!m_busy && !m_queue.HasJobs()) {
            result = EVTranscodeServiceState_Idle;
        } else if (m_busy && m_paused) {
            result = EVTranscodeServiceState_Paused;
        } else {
            result = EVTranscodeServiceState_Running;
        }
    });
}

HRESULT CVTranscodeService::GetContent(BSTR* pstrXML) {
    return CQCatch::Interface(IID_IVTranscodeService, CLSID_VTranscodeService, [&] {
        BSTR& result = Out(pstrXML);
        const CQLockHolder holder(m_serviceLock);
        result = m_queue.GetItemsXML(true);
    });
}

HRESULT CVTranscodeService::GetCurrent(LONG* pnRetVal) {
    if (pnRetVal == nullptr) {
        return E_POINTER;
    }
    const CQLockHolder holder(m_serviceLock);
    *pnRetVal = m_currentJobId;
    return S_OK;
}

HRESULT CVTranscodeService::GetNext(LONG* pnRetVal) {
    return CQCatch::Interface(IID_IVTranscodeService, CLSID_VTranscodeService, [&] {
        LONG& result = Out(pnRetVal);
        const CQLockHolder holder(m_serviceLock);
        int32_t jobId = k_noJob;
        result = m_queue.Peek(&jobId) != nullptr ? jobId : k_noJob;
    });
}

// --- IVTranscodeServiceCtrl ---

HRESULT CVTranscodeService::Pause(VARIANT_BOOL* pbRetVal) {
    return CQCatch::Interface(IID_IVTranscodeServiceCtrl, CLSID_VTranscodeService, [&] {
        VARIANT_BOOL& result = Out(pbRetVal);
        const CQLockHolder holder(m_serviceLock);
        result = VARIANT_FALSE;
        const CComPtr<IVTranscoder> transcoder = RunningTranscoder();
        if (!m_busy || transcoder == nullptr ||
            ComCall(transcoder.Get(), &IVTranscoder::Pause) == VARIANT_FALSE) {
            return;
        }
        m_paused = true;
        result = VARIANT_TRUE;
        DispatchTranscodeEvent(EVTranscodeServiceEvent_Paused, m_currentJobId,
                               CurrentItemOf(transcoder).Get());
    });
}

HRESULT CVTranscodeService::Continue(VARIANT_BOOL* pbRetVal) {
    return CQCatch::Interface(IID_IVTranscodeServiceCtrl, CLSID_VTranscodeService, [&] {
        VARIANT_BOOL& result = Out(pbRetVal);
        const CQLockHolder holder(m_serviceLock);
        result = VARIANT_FALSE;
        const CComPtr<IVTranscoder> transcoder = RunningTranscoder();
        if (m_paused && transcoder != nullptr &&
            ComCall(transcoder.Get(), &IVTranscoder::Continue) != VARIANT_FALSE) {
            m_paused = false;
            result = VARIANT_TRUE;
        }
    });
}

HRESULT CVTranscodeService::Abort(VARIANT_BOOL* pbRetVal) {
    return CQCatch::Interface(IID_IVTranscodeServiceCtrl, CLSID_VTranscodeService, [&] {
        VARIANT_BOOL& result = Out(pbRetVal);
        const CQLockHolder holder(m_serviceLock);
        result = VARIANT_FALSE;
        const CComPtr<IVTranscoder> transcoder = RunningTranscoder();
        if (m_busy && transcoder != nullptr &&
            ComCall(transcoder.Get(), &IVTranscoder::Abort) != VARIANT_FALSE) {
            m_paused = false;
            result = VARIANT_TRUE;
        }
    });
}

// --- IVTranscodeInfo ---

HRESULT CVTranscodeService::GetOutputFormatsForFile(BSTR strMCProductCode, BSTR strFilePath,
                                                    VARIANT_BOOL* pbMustBeTranscoded,
                                                    VARIANT* pvarRetVal) {
    return CQCatch::Interface(IID_IVTranscodeService, CLSID_VTranscodeService, [&] {
        VARIANT_BOOL& mustBeTranscoded = Out(pbMustBeTranscoded);
        VARIANT& result = Out(pvarRetVal);
        const CQLockHolder holder(m_serviceLock);
        mustBeTranscoded = VARIANT_FALSE;
        const SVFormatDecision decision =
            m_decisions.GetOutputFormatsForFile(strMCProductCode, strFilePath);
        mustBeTranscoded = decision.supported ? VARIANT_FALSE : VARIANT_TRUE;
        result = CQVariant::IntVectorToVariant(decision.formats);
    });
}

HRESULT CVTranscodeService::GetOutputFormatInfo(BSTR strMCProductCode, LONG eOutputFormat,
                                                LONG eFormatInfo, VARIANT* pvarInfo) {
    return CQCatch::Interface(IID_IVTranscodeService, CLSID_VTranscodeService, [&] {
        VARIANT& result = Out(pvarInfo);
        const CQLockHolder holder(m_serviceLock);
        result = m_decisions.GetOutputFormatInfo(strMCProductCode, eOutputFormat, eFormatInfo);
    });
}

HRESULT CVTranscodeService::GetFileInfo(BSTR strFilePath, IVItem** ppiRetVal) {
    return CQCatch::Interface(IID_IVTranscodeInfo, CLSID_VTranscodeService, [&] {
        IVItem*& result = Out(ppiRetVal);
        result = nullptr;
        const CQLockHolder holder(m_serviceLock);
        result = CVMediaInformation::GetFileInfo(strFilePath).Detach();
    });
}

HRESULT CVTranscodeService::IsDRM(BSTR strFilePath, VARIANT_BOOL* pbRetVal) {
    return CQCatch::Interface(IID_IVTranscodeInfo, CLSID_VTranscodeService, [&] {
        VARIANT_BOOL& result = Out(pbRetVal);
        const CQLockHolder holder(m_serviceLock);
        result = CVMediaInformation::IsDRM(strFilePath) ? VARIANT_TRUE : VARIANT_FALSE;
    });
}

HRESULT CVTranscodeService::GetMIME(BSTR strFilePath, BSTR* pstrXML) {
    return CQCatch::Interface(IID_IVTranscodeInfo, CLSID_VTranscodeService, [&] {
        BSTR& result = Out(pstrXML);
        const CQLockHolder holder(m_serviceLock);
        result = CVMediaInformation::GetMIME(strFilePath);
    });
}

HRESULT CVTranscodeService::GetOutputFormatsForItem(BSTR strMCProductCode, IVItem* piItem,
                                                    VARIANT_BOOL* pbMustBeTranscoded,
                                                    VARIANT* pvarRetVal) {
    return CQCatch::Interface(IID_IVTranscodeInfo, CLSID_VTranscodeService, [&] {
        VARIANT_BOOL& mustBeTranscoded = Out(pbMustBeTranscoded);
        VARIANT& result = Out(pvarRetVal);
        const CQLockHolder holder(m_serviceLock);
        mustBeTranscoded = VARIANT_FALSE;
        const SVFormatDecision decision =
            m_decisions.GetOutputFormatsForItem(strMCProductCode, piItem);
        mustBeTranscoded = decision.supported ? VARIANT_FALSE : VARIANT_TRUE;
        result = CQVariant::IntVectorToVariant(decision.formats);
    });
}

HRESULT CVTranscodeService::GetOutputFormatsForItem2(BSTR strMCProductCode, IVItem* piItem,
                                                     LONG* eIsTranscoding, VARIANT* pvarRetVal) {
    return CQCatch::Interface(IID_IVTranscodeInfo, CLSID_VTranscodeService, [&] {
        LONG& state = Out(eIsTranscoding);
        VARIANT& result = Out(pvarRetVal);
        const CQLockHolder holder(m_serviceLock);
        const SVFormatDecision decision =
            m_decisions.GetOutputFormatsForItem2(strMCProductCode, piItem);
        state = decision.GetTranscodingState();
        result = CQVariant::IntVectorToVariant(decision.formats);
    });
}

// --- Events ---

void CVTranscodeService::DispatchTranscodeEvent(LONG code, LONG jobId, IUnknown* item) {
    CQCatch::Internal([&] {
        DispatchEvent(CVTranscodeServiceEvent::Create(code, jobId, item, std::wstring()).Get());
    });
}

void CVTranscodeService::DispatchErrorEvent(LONG jobId, IUnknown* item, const std::wstring& text) {
    CQCatch::Internal([&] {
        DispatchEvent(
            CVTranscodeServiceEvent::Create(EVTranscodeServiceEvent_Error, jobId, item, text)
                .Get());
    });
}

void CVTranscodeService::OnEvent(IUnknown* event) {
    CQCatch::LogAndSwallow([&] {
        CComPtr<IVItem> item;
        if (event == nullptr || FAILED(event->QueryInterface(IVItem::k_iid, item.Put()))) {
            return;
        }
        const CComPtr<IVProperties> properties = ComCall(item.Get(), &IVItem::GetProperties);
        if (ComCall(properties.Get(), &IVProperties::HasValueByName,
                    CVTranscodeServiceEvent::k_type) == VARIANT_FALSE) {
            return;
        }
        VARIANT type = ComCall(properties.Get(), &IVProperties::GetValueByName,
                               CVTranscodeServiceEvent::k_type, EVPropertyKind_Transcode);
        if (FAILED(type.ChangeType(VT_I4))) {
            return;
        }
        const LONG code = type.Get<int32_t>();
        if (code != EVTranscodeServiceEvent_Started && code != EVTranscodeServiceEvent_Progress &&
            code != EVTranscodeServiceEvent_Continued) {
            return;
        }
        CVTranscodeServiceEvent::Stamp(properties.Get(), code, m_currentJobId);
        DispatchEvent(event);
    });
}

// --- Worker ---

CVTranscodeService::CWorker::CWorker(CVTranscodeService& service)
    : CQWorkerThreadHost(L"CVTranscodeService::CVTranscodeService"), m_service(service) {}

CVTranscodeService::CWorker::~CWorker() {
    CQCatch::LogAndSwallow([&] { StopWorkerThread(k_infiniteTimeout); });
}

void CVTranscodeService::CWorker::WorkerProc(void*) {
    m_service.WorkerProc();
}

void CVTranscodeService::WorkerProc() {
    try {
        RunWorkerLoop();
    } catch (...) {
        // A worker that fails still ends as a worker: the next job starts a new one.
        const std::lock_guard worker(m_workerMutex);
        m_workerActive = false;
        throw;
    }
}

void CVTranscodeService::RunWorkerLoop() {
    HoldModule(true);
    struct ModuleRelease {
        ~ModuleRelease() { HoldModule(false); }
    } release;
    if (qsys::Event* stop = m_worker.GetStopEvent()) {
        (void)stop->Wait(std::chrono::milliseconds(k_workerStartDelay));
    }
    for (;;) {
        const EJobOutcome outcome =
            m_worker.IsStopRequested() ? EJobOutcome::NotStarted : TakeAndRunJob();
        if (outcome == EJobOutcome::Ran) {
            continue;
        }
        // Ending: a job added meanwhile must find a worker, so the decision is taken where
        // EnsureWorker looks.
        const std::lock_guard worker(m_workerMutex);
        if (outcome == EJobOutcome::NotStarted || m_worker.IsStopRequested() ||
            m_queue.Length() == 0) {
            m_workerActive = false;
            return;
        }
    }
}

// Takes the next job and runs it. A job that cannot start (a stop was requested, or there is
// no transcoder) goes back into the queue, unstarted and without an event.
CVTranscodeService::EJobOutcome CVTranscodeService::TakeAndRunJob() {
    int32_t jobId = k_noJob;
    int32_t priority = 0;
    const CComPtr<IVTranscodeItem> item = m_queue.TakeNext(&jobId, &priority);
    if (item == nullptr) {
        return EJobOutcome::NoJob;
    }
    m_currentJobId = jobId;
    m_currentPriority = priority;
    const CComPtr<IVTranscoder> transcoder = BeginJob();
    if (transcoder == nullptr) {
        CQCatch::LogAndSwallow([&] { m_queue.Add(jobId, item, priority); });
        CQCatch::LogAndSwallow([&] { m_queue.SetCurrentItem(nullptr, 0, k_noJob); });
        m_currentJobId = k_noJob;
        return EJobOutcome::NotStarted;
    }
    RunJob(transcoder, item, jobId, priority);
    EndJob();
    m_currentJobId = k_noJob;
    return EJobOutcome::Ran;
}

// The transcoder for the job about to start; empty when a stop was requested or there is none.
CComPtr<IVTranscoder> CVTranscodeService::BeginJob() {
    const std::lock_guard state(m_stateMutex);
    if (m_worker.IsStopRequested()) {
        return nullptr;
    }
    m_runningTranscoder = m_transcoder;
    return m_runningTranscoder;
}

void CVTranscodeService::EndJob() {
    CComPtr<IVTranscoder> transcoder;
    const std::lock_guard state(m_stateMutex);
    std::swap(m_runningTranscoder, transcoder);
}

void CVTranscodeService::RunJob(const CComPtr<IVTranscoder>& transcoder,
                                const CComPtr<IVTranscodeItem>& item, int32_t jobId,
                                int32_t priority) {
    CQCatch::Boundary(
        [&] {
            const LONG result = Transcode(transcoder, item, priority);
            FinishJob(transcoder, jobId, result);
        },
        [&](CQException& error) {
            CQCatch::LogAndSwallow([&] { m_queue.SetCurrentItem(nullptr, 0, k_noJob); });
            CQCatch::LogAndSwallow([&] {
                DispatchErrorEvent(jobId, CurrentItemOf(transcoder).Get(), error.GetXML());
            });
        });
    m_busy = false;
    m_paused = false;
}

// Hands the item to the transcoder and waits for the job's end, with the transcoder's
// notifications forwarded meanwhile; they stop before this returns.
LONG CVTranscodeService::Transcode(const CComPtr<IVTranscoder>& transcoder,
                                   const CComPtr<IVTranscodeItem>& item, int32_t priority) {
    ComCall(transcoder.Get(), &IVTranscoder::SetItem, Query<IVTranscodeItemData>(item.Get()).Get());
    const CVAdviseHolder notifications(transcoder.Get(), this);
    m_busy = true;
    const bool lowOrNormal =
        priority == EVTranscodePriority_Low || priority == EVTranscodePriority_Normal;
    return ComCall(transcoder.Get(), &IVTranscoder::Transcode,
                   VARIANT(static_cast<SHORT>(lowOrNormal ? -1 : 0)));
}

void CVTranscodeService::FinishJob(const CComPtr<IVTranscoder>& transcoder, int32_t jobId,
                                   LONG result) {
    // A failed save leaves the job shown as running in the file; its end is still announced.
    CQCatch::LogAndSwallow([&] { m_queue.SetCurrentItem(nullptr, 0, k_noJob); });
    const CComPtr<IVTranscodeItemData> current = CurrentItemOf(transcoder);
    if (result == k_transcodeCompleted) {
        DispatchTranscodeEvent(EVTranscodeServiceEvent_Completed, jobId, current.Get());
    } else if (result == k_transcodeAborted) {
        DispatchTranscodeEvent(EVTranscodeServiceEvent_Aborted, jobId, current.Get());
    } else {
        DispatchErrorEvent(jobId, current.Get(), std::wstring());
    }
}

void CVTranscodeService::EnsureWorker() {
    const std::lock_guard worker(m_workerMutex);
    if (m_workerActive) {
        return;
    }
    m_workerActive = true;
    try {
        m_worker.StartWorkerThread();
    } catch (...) {
        m_workerActive = false;
        throw;
    }
}

// Asks the worker to stop and aborts the running job until the worker has ended: an abort
// that reaches a job just starting may be refused, so it is repeated.
void CVTranscodeService::StopWorker() {
    m_worker.StopWorkerThread(0);
    while (m_worker.IsRunning()) {
        if (const CComPtr<IVTranscoder> running = RunningTranscoder()) {
            VARIANT_BOOL aborted = VARIANT_FALSE;
            (void)running->Abort(&aborted);
        }
        m_worker.StopWorkerThread(k_abortRepeat);
    }
    m_worker.StopWorkerThread(0);
    const std::lock_guard worker(m_workerMutex);
    m_workerActive = false;
}

CComPtr<IVTranscoder> CVTranscodeService::CreateTranscoder() {
    const CComPtr<IUnknown> created =
        CQCOMUtils::CreateObject(CLSID_VTranscoder, k_transcoderDisplayName);
    CComPtr<IVTranscoder> transcoder;
    (void)created.QueryInterface(&transcoder);
    return transcoder;
}

CComPtr<IVTranscoder> CVTranscodeService::RunningTranscoder() {
    const std::lock_guard state(m_stateMutex);
    return m_runningTranscoder;
}

CComPtr<IVTranscodeItemData> CVTranscodeService::CurrentItemOf(
    const CComPtr<IVTranscoder>& transcoder) {
    CComPtr<IVTranscodeItemData> item;
    if (transcoder != nullptr) {
        ThrowIfFailed(transcoder->GetItem(&item));
    }
    return item;
}
