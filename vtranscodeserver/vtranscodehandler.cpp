#include "vtranscodeserver/vtranscodehandler.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <thread>
#include <vector>

#include "qlib/qcom/comerror.h"
#include "qlib/qcom/guid.h"
#include "qlib/qsys/resourcetable.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qcomutilities.h"
#include "qlib/qutilitylib/qfileutilities.h"
#include "qlib/qutilitylib/qbufmalloc.h"
#include "qlib/qutilitylib/qlockholder.h"
#include "qlib/qutilitylib/qlogconfig.h"
#include "qlib/qutilitylib/qlogging.h"
#include "qlib/qutilitylib/qresource.h"
#include "qlib/qutilitylib/qstring.h"
#include "qlib/qutilitylib/qtimer.h"
#include "qlib/qutilitylib/qvariant.h"
#include "vdatastore/vdstransaction.h"

namespace {

constexpr const wchar_t* k_item = L"Item";
constexpr const wchar_t* k_queueClass = L"TranscodeQueueObj";

// Job ids claimed by the live handlers of this process: an entry whose job no live handler
// claims was left by a handler that is gone, and the next one to hear of it takes it over.
std::mutex s_claimsLock;
std::multiset<LONG> s_claimedJobs;  // guarded by s_claimsLock

void Claim(LONG jobId) {
    std::lock_guard lock(s_claimsLock);
    s_claimedJobs.insert(jobId);
}

void Unclaim(LONG jobId) {
    std::lock_guard lock(s_claimsLock);
    const auto found = s_claimedJobs.find(jobId);
    if (found != s_claimedJobs.end()) {
        s_claimedJobs.erase(found);
    }
}

// Held by a request from before it queues a job until the job is claimed and its entry
// recorded, and taken by every handler's event handling before it looks for an entry: a job
// that ends at once is neither lost by its handler nor taken over by another.
std::mutex s_recordLock;

bool IsClaimed(LONG jobId) {
    std::lock_guard lock(s_claimsLock);
    return s_claimedJobs.contains(jobId);
}

// A folder of this user's below the local application-data folder, mode 0700: created when
// missing; refused when it is a link, another user's, or open to others.
std::wstring PrivateFolder(const wchar_t* relative) {
    const std::wstring base = CQFileUtilities::SHGetFolder();
    if (base.empty()) {
        throw CQException(L"The local application-data folder is unknown.", QERR_INVALID_PARAMETER);
    }
    const std::wstring folder = base + L"/" + relative;
    CQFileUtilities::BuildDirectory(folder);
    const std::string path = qsys::ToUtf8(folder);
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        CQException::RaiseSystemError(errno, {{L"Path", folder}});
    }
    if (!S_ISDIR(status.st_mode) || status.st_uid != geteuid()) {
        CQException::RaiseSystemError(EACCES, {{L"Path", folder}});
    }
    if ((status.st_mode & 0077) != 0 && chmod(path.c_str(), 0700) != 0) {
        CQException::RaiseSystemError(errno, {{L"Path", folder}});
    }
    return folder;
}

// Creates an empty file at a name not in use in `folder`, starting from `name`; its path.
std::wstring ReserveOutputPath(const std::wstring& folder, const std::wstring& name) {
    std::wstring candidate = CQFileUtilities::ConcatPathname(folder, name);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const int fd = open(qsys::ToUtf8(candidate).c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            close(fd);
            return candidate;
        }
        if (errno != EEXIST) {
            CQException::RaiseSystemError(errno, {{L"Filename", candidate}});
        }
        CQFileUtilities::MakeFilenameUnique(candidate);
    }
    CQException::RaiseSystemError(EEXIST, {{L"Filename", candidate}});
}

// Removes a reserved output that never received content.
void DropPlaceholder(const std::wstring& path) {
    struct stat status {};
    const std::string name = qsys::ToUtf8(path);
    if (!path.empty() && lstat(name.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
        status.st_size == 0) {
        unlink(name.c_str());
    }
}

CComPtr<IVProperties> PropertiesOf(IVItem* item) {
    CComPtr<IVProperties> properties;
    ThrowIfFailed(item->GetProperties(&properties));
    return properties;
}

VARIANT ValueOf(IVItem* item, const wchar_t* name, const wchar_t* uri) {
    VARIANT value;
    ThrowIfFailed(PropertiesOf(item)->GetValue(name, uri, &value));
    return value;
}

VARIANT ValueByName(IVItem* item, const wchar_t* name, LONG kind) {
    VARIANT value;
    ThrowIfFailed(PropertiesOf(item)->GetValueByName(name, kind, &value));
    return value;
}

bool Has(IVItem* item, const wchar_t* name, const wchar_t* uri) {
    VARIANT_BOOL present = VARIANT_FALSE;
    ThrowIfFailed(PropertiesOf(item)->HasValue(name, uri, &present));
    return present != VARIANT_FALSE;
}

std::wstring TextOf(const VARIANT& value) {
    VARIANT text = value;
    return value.Vt() != VT_EMPTY && SUCCEEDED(text.ChangeType(VT_BSTR)) ? text.Get<BSTR>() : L"";
}

CComPtr<IVItem> NewItem() {
    return CQCOMUtils::CreateObject<IVItem>(CLSID_VItem, k_itemDisplayName);
}

CComPtr<IVEnum> NewEnum() {
    return CQCOMUtils::CreateObject<IVEnum>(CLSID_VEnum, k_enumDisplayName);
}

CComPtr<IVEnum> EnumOf(IVItem* item) {
    CComPtr<IVEnum> items = NewEnum();
    ThrowIfFailed(items->Append(VARIANT(static_cast<IUnknown*>(item)), VARIANT::Missing()));
    return items;
}

CComPtr<IVItem> RelationItem(const std::wstring& from, const std::wstring& to,
                             const wchar_t* relation) {
    CComPtr<IVItem> item = NewItem();
    const CComPtr<IVProperties> properties = PropertiesOf(item);
    ThrowIfFailed(properties->SetValue(L"FromGUID", L"", VARIANT(from)));
    ThrowIfFailed(properties->SetValue(L"ToGUID", L"", VARIANT(to)));
    ThrowIfFailed(properties->SetValue(L"Relation", L"", VARIANT(relation)));
    return item;
}

std::wstring GuidOf(IVItem* item) {
    BSTR guid;
    ThrowIfFailed(item->GetGUID(&guid));
    return guid;
}

CComPtr<IVItem> FirstItem(IVEnum* items) {
    LONG count = 0;
    ThrowIfFailed(items->GetCount(&count));
    if (count < 1) {
        return {};
    }
    VARIANT first;
    ThrowIfFailed(items->GetItem(VARIANT(LONG{0}), &first));
    CComPtr<IVItem> item;
    if (first.Unknown() != nullptr) {
        CComPtr<IUnknown>(first.Unknown()).QueryInterface(&item);
    }
    return item;
}

}  // namespace

CComClassRegistration CVTranscodeHandler::RegisterClass() {
    return RegisterComClass<CVTranscodeHandler>(CLSID_VTranscodeHandler, k_displayName);
}

CVTranscodeHandler::CVTranscodeHandler() : CQWorkerThreadHost(L"VTHandler") {}

CVTranscodeHandler::~CVTranscodeHandler() {
    CQCatch::LogAndSwallow([&] { StopWorkerThread(k_infiniteTimeout); });
}

HRESULT CVTranscodeHandler::FinalConstruct() {
    return CQCatch::Interface(IID_IVTranscodeHandler, CLSID_VTranscodeHandler,
                              [&] { m_completion.Init(true, true, L""); });
}

void CVTranscodeHandler::FinalRelease() noexcept {
    CQCatch::LogAndSwallow([&] {
        StopWorkerThread(k_infiniteTimeout);
        CVEventListener::Clear();  // waits for an event being handled
        std::map<LONG, SJob> jobs;
        {
            std::lock_guard lock(m_jobsLock);
            jobs.swap(m_jobs);
        }
        // The jobs go on at the service; their entries stay for the next handler.
        for (const auto& job : jobs) {
            Unclaim(job.first);
        }
        CQLockHolder init(m_initLock);
        std::lock_guard setup(m_setupLock);
        m_sourceStore.Reset();
        m_resultStore.Reset();
        m_queueStore.Reset();
        m_service.Reset();
    });
}

HRESULT CVTranscodeHandler::Init(BSTR strSourceDatastore, BSTR strResultDatastore) {
    return CQCatch::Interface(IID_IVTranscodeHandler, CLSID_VTranscodeHandler, [&] {
        CQLockHolder hold(m_initLock);
        const auto open = [](const std::wstring& name) {
            CComPtr<IVDataStore> store =
                CQCOMUtils::CreateObject<IVDataStore>(CLSID_VDataStore, k_dataStoreDisplayName);
            ThrowIfFailed(store->Open(VARIANT(name), VARIANT::Missing(), VARIANT::Missing()));
            return store;
        };
        CComPtr<IVDataStore> source = open(strSourceDatastore);
        CComPtr<IVDataStore> result = source;
        if (strSourceDatastore != strResultDatastore || strResultDatastore.empty()) {
            result = open(strResultDatastore);
        }
        m_sourceStore = source;
        m_resultStore = result;
    });
}

HRESULT CVTranscodeHandler::TranscodeItemIfNeeded(IDispatch* piItemOrEnum,
                                                  BSTR strDeviceProductCode, LONG nPriority,
                                                  LONG /*dwFlags*/, IDispatch** ppiRetVal) {
    return CQCatch::Interface(IID_IVTranscodeHandler, CLSID_VTranscodeHandler, [&] {
        if (ppiRetVal == nullptr) {
            throw CQException(QERR_INVALID_PARAMETER);
        }
        *ppiRetVal = nullptr;
        CComPtr<IUnknown> argument(piItemOrEnum);
        CComPtr<IVEnum> items;
        CComPtr<IVItem> item;
        if (argument && SUCCEEDED(argument.QueryInterface(&items))) {
            LONG count = 0;
            ThrowIfFailed(items->GetCount(&count));
            CComPtr<IVEnum> handled = NewEnum();
            CQTimer timer;
            timer.Start(L"CVDataStore::Add() NumOfItems:" + std::to_wstring(count));
            for (LONG index = 0; index < count; ++index) {
                VARIANT element;
                ThrowIfFailed(items->GetItem(VARIANT(index), &element));
                CComPtr<IVItem> elementItem;
                if (element.Unknown() == nullptr ||
                    FAILED(CComPtr<IUnknown>(element.Unknown()).QueryInterface(&elementItem))) {
                    continue;  // an element that is no item counts as absent
                }
                if (CComPtr<IVItem> result =
                        TranscodeItemImpl(elementItem, strDeviceProductCode, nPriority)) {
                    ThrowIfFailed(handled->Append(VARIANT(static_cast<IUnknown*>(result.Get())),
                                                  VARIANT::Missing()));
                }
            }
            timer.Stop();
            ThrowIfFailed(handled.QueryInterface(ppiRetVal));
        } else if (argument && SUCCEEDED(argument.QueryInterface(&item))) {
            CComPtr<IVItem> result = TranscodeItemImpl(item, strDeviceProductCode, nPriority);
            if (result) {
                ThrowIfFailed(result.QueryInterface(ppiRetVal));
            }
        } else {
            throw CQException(QERR_INVALID_PARAMETER);
        }
        std::lock_guard worker(m_workerStartLock);
        if (!IsRunning()) {
            StartWorkerThread();
        }
    });
}

HRESULT CVTranscodeHandler::WaitForCompletion() {
    return CQCatch::Interface(IID_IVTranscodeHandler, CLSID_VTranscodeHandler,
                              [&] { m_completion.WaitForEvent(); });
}

void CVTranscodeHandler::CheckInitialized() {
    CQLockHolder hold(m_initLock);
    if (!m_sourceStore || !m_resultStore) {
        throw CQException(QERR_NOT_INITIALIZED);
    }
}

CComPtr<IVDataStore> CVTranscodeHandler::GetQueueDS() {
    return CQCatch::Internal([&] {
        std::lock_guard setup(m_setupLock);
        if (m_queueStore) {
            return m_queueStore;
        }
        const std::wstring folder = PrivateFolder(k_queueFolder);
        CComPtr<IVDataStore> store =
            CQCOMUtils::CreateObject<IVDataStore>(CLSID_VDataStore, k_dataStoreDisplayName);
        for (int attempt = 1;; ++attempt) {
            try {
                ThrowIfFailed(store->Open(VARIANT(folder), VARIANT::Missing(), VARIANT::Missing()));
                break;
            } catch (const _com_error& error) {
                if (attempt > 1 ||
                    !CQException::FromComError(error).HasErrorCode(VDSERR_DATASTORE_UNUSABLE)) {
                    throw;
                }
                CQFileUtilities::DeleteDirectory(folder);
                PrivateFolder(k_queueFolder);
            }
        }
        CQBufMalloc schema;
        CQResource::LoadBinaryResource(qsys::ResourceTable::Process(), k_queueSchemaResource,
                                       schema);
        CComPtr<IVDSSchema> schemas;
        ThrowIfFailed(store->GetSchema(&schemas));
        ThrowIfFailed(schemas->RegisterSchema(VARIANT(CQFileUtilities::FileContentToString(schema))));
        ThrowIfFailed(schemas->RegisterSchema(CQVariant::StringVectorToVariant({k_transcodeNamespace})));
        m_queueStore = store;
        return m_queueStore;
    });
}

CComPtr<IVTranscodeService> CVTranscodeHandler::GetTranscodeService() {
    return CQCatch::Internal([&] {
        std::lock_guard setup(m_setupLock);
        if (!m_service) {
            CComPtr<IVTranscodeService> service = CQCOMUtils::CreateObject<IVTranscodeService>(
                CLSID_VTranscodeService, L"VTranscodeServerLib::VTranscodeService");
            CVEventListener::Advise(service);
            m_service = service;
        }
        return m_service;
    });
}

CComPtr<IVItem> CVTranscodeHandler::TranscodeItemImpl(IVItem* item, const std::wstring& device,
                                                      LONG priority) {
    return CQCatch::Internal([&]() -> CComPtr<IVItem> {
        CheckInitialized();
        GetQueueDS();
        std::wstring sourcePath;
        CComPtr<IVDSTypes> types;
        {
            CQLockHolder hold(m_initLock);
            ThrowIfFailed(m_sourceStore->GetTypes(&types));
        }
        VARIANT_BOOL isFile = VARIANT_FALSE;
        ThrowIfFailed(types->IsOfType(BSTR(L"File"), item, &isFile));
        if (isFile != VARIANT_FALSE) {
            sourcePath = TextOf(ValueByName(item, L"URI", EVPropertyKind_Metadata));
        }
        if (sourcePath.empty() || !CQFileUtilities::FileExists(sourcePath)) {
            return CComPtr<IVItem>(item);
        }
        CComPtr<IVItem> copy;
        ThrowIfFailed(item->Copy(VARIANT::Missing(), &copy));
        GetTranscodeService();
        VARIANT format = ValueOf(copy, TRANSCODE_SETTING_TRANSCODETOFORMAT, k_transcodeNamespace);
        if (format.Vt() != VT_EMPTY && SUCCEEDED(format.ChangeType(VT_I4))) {
            QueueJob(copy, sourcePath, device, format.Get<LONG>(), priority);
        } else {
            Decide(copy, sourcePath, device);
        }
        return copy;
    });
}

void CVTranscodeHandler::QueueJob(IVItem* item, const std::wstring& sourcePath,
                                  const std::wstring& device, LONG format, LONG priority) {
    CQCatch::Internal([&] {
        const CComPtr<IVTranscodeService> service = GetTranscodeService();
        VARIANT extension;
        ThrowIfFailed(service->GetOutputFormatInfo(BSTR(device), format, 0, &extension));
        const std::wstring name =
            CQFileUtilities::GetFilenameWithoutExtension(
                CQFileUtilities::GetFilenameFromPath(sourcePath)) +
            TextOf(extension);
        const std::wstring outputPath = ReserveOutputPath(PrivateFolder(k_resultsFolder), name);
        {
            std::lock_guard jobs(m_jobsLock);
            ++m_pendingRecords;
            m_completion.ResetEvent();
        }
        LONG jobId = -1;
        std::unique_lock record(s_recordLock);
        try {
            ThrowIfFailed(service->AddFile(BSTR(sourcePath), BSTR(outputPath), priority,
                                           static_cast<ULONG>(format),
                                           device.empty() ? VARIANT::Missing() : VARIANT(device),
                                           &jobId));
        } catch (...) {
            EndJob(-1, false);
            DropPlaceholder(outputPath);
            throw;
        }
        if (jobId < 1) {
            EndJob(-1, false);
            DropPlaceholder(outputPath);
            return;
        }
        {
            std::lock_guard jobs(m_jobsLock);
            m_jobs[jobId] = SJob{outputPath};
            --m_pendingRecords;
        }
        Claim(jobId);
        const CComPtr<IVProperties> properties = PropertiesOf(item);
        ThrowIfFailed(properties->SetValueByName(BSTR(TRANSCODE_STATE_TRANSCODINGJOBID),
                                                 VARIANT(jobId), EVPropertyKind_Store));
        ThrowIfFailed(properties->SetValueByName(BSTR(TRANSCODE_SETTING_TRANSCODETOPATH),
                                                 VARIANT(outputPath), EVPropertyKind_Store));
        ThrowIfFailed(properties->SetValue(L"DatastoreControlled", k_datastoreNamespace,
                                           VARIANT(VARIANT_FALSE)));
        RecordEntry(item);
    });
}

void CVTranscodeHandler::RecordEntry(IVItem* item) {
    CQCatch::Internal([&] {
        const CComPtr<IVDataStore> queue = GetQueueDS();
        const std::wstring guid = GuidOf(item);
        CVDSTransactionHolder transaction(queue);
        // Only a well-formed GUID makes a filter: an empty or odd one must never match others.
        if (GuidFromString(guid)) {
            CComPtr<IVEnum> previous;
            ThrowIfFailed(queue->Query(VARIANT::Missing(), BSTR(k_item),
                                       BSTR(CQStringHelper::Format(L"%s.%s = \"%s\"", k_item,
                                                                   L"GUID", guid)),
                                       &previous));
            LONG count = 0;
            ThrowIfFailed(previous->GetCount(&count));
            if (count > 0) {
                ThrowIfFailed(queue->Delete(previous));
            }
        }
        ThrowIfFailed(queue->Add(VARIANT::Missing(), item));
        transaction.CommitTransaction();
    });
}

void CVTranscodeHandler::Decide(IVItem* item, const std::wstring& sourcePath,
                                const std::wstring& device) {
    CQCatch::Internal([&] {
        CComPtr<IVTranscodeInfo> info;
        ThrowIfFailed(GetTranscodeService().QueryInterface(&info));
        BSTR className;
        ThrowIfFailed(item->GetClassName(&className));
        std::wstring mime = TextOf(ValueByName(item, L"ItemType", EVPropertyKind_Metadata));
        if (mime.empty()) {
            mime = className;
        }
        const auto is = [&](const wchar_t* prefix, const wchar_t* itemClass) {
            return mime.starts_with(prefix) || className == itemClass;
        };
        const auto hasAll = [&](std::initializer_list<const wchar_t*> names) {
            for (const wchar_t* name : names) {
                if (!Has(item, name, k_metadataNamespace)) {
                    return false;
                }
            }
            return true;
        };
        bool described = false;
        if (is(L"video/", L"Video")) {
            described = hasAll({L"Width", L"Height", L"Framerate"});
        } else if (is(L"audio/", L"Audio")) {
            described = true;
        } else if (is(L"image/", L"Image")) {
            described = hasAll({L"Width", L"Height"});
        }
        VARIANT_BOOL mustBeTranscoded = VARIANT_FALSE;
        VARIANT formats;
        if (described) {
            ThrowIfFailed(info->GetOutputFormatsForItem(BSTR(device), item, &mustBeTranscoded,
                                                        &formats));
        } else {
            ThrowIfFailed(info->GetOutputFormatsForFile(BSTR(device), BSTR(sourcePath),
                                                        &mustBeTranscoded, &formats));
        }
        const CComPtr<IVProperties> properties = PropertiesOf(item);
        ThrowIfFailed(properties->SetValue(BSTR(TRANSCODE_STATE_MUSTBETRANSCODED),
                                           BSTR(k_transcodeNamespace),
                                           VARIANT(ToVariantBool(mustBeTranscoded != VARIANT_FALSE))));
        ThrowIfFailed(properties->SetValue(
            BSTR(TRANSCODE_STATE_POSSIBLETARGETFORMATS), BSTR(k_transcodeNamespace),
            CQVariant::IntVectorToVariant(CQVariant::VariantToIntVector(formats))));
    });
}

void CVTranscodeHandler::OnEvent(IUnknown* event) {
    CQCatch::LogAndSwallow([&] {
        CComPtr<IVItem> item;
        if (event == nullptr || FAILED(CComPtr<IUnknown>(event).QueryInterface(&item))) {
            return;
        }
        if (CQLogging::IsDebuggingLevel()) {
            BSTR text;
            if (SUCCEEDED(item->GetText(VARIANT::Missing(), &text))) {
                CQLogging::Log(EQLogLevel_Debug, false, L"CVTranscodeHandler::OnEvent():\n%s\n",
                               text);
            }
        }
        if (Has(item, L"Type", k_transcodeNamespace)) {
            const VARIANT itemId = ValueByName(item, L"ItemID", EVPropertyKind_Transcode);
            const LONG jobId =
                itemId.Vt() == VT_EMPTY ? -1 : static_cast<LONG>(CQVariant::ToInt(itemId));
            const LONG type = static_cast<LONG>(
                CQVariant::ToInt(ValueOf(item, L"Type", k_transcodeNamespace)));
            // A request that is recording its entry finishes first.
            std::unique_lock record(s_recordLock);
            CComPtr<IVItem> entry = jobId > 0 && ActsOn(jobId) ? FindEntry(jobId) : nullptr;
            record.unlock();
            const CComPtr<IVProperties> properties = PropertiesOf(item);
            if (entry) {
                ThrowIfFailed(properties->SetValue(L"SourceItem", k_transcodeNamespace,
                                                   VARIANT(static_cast<IUnknown*>(entry.Get()))));
            }
            switch (type) {
            case EVTranscodeServiceEvent_Completed:
                if (entry) {
                    CQCatch::LogAndSwallow([&] {
                        const CComPtr<IVItem> stored = StoreCompletedItem(entry);
                        ThrowIfFailed(properties->SetValue(
                            L"TranscodedItem", k_transcodeNamespace,
                            VARIANT(static_cast<IUnknown*>(stored.Get()))));
                    });
                } else {
                    CQLogging::Log(EQLogLevel_Debug, false,
                                   L"Unknown item transcoding completed. ID = %d\n", jobId);
                }
                EndJob(jobId, true);
                break;
            case EVTranscodeServiceEvent_Error:
            case EVTranscodeServiceEvent_Aborted:
            case EVTranscodeServiceEvent_Removed:
                if (entry) {
                    RemoveEntry(entry);
                }
                EndJob(jobId, false);
                break;
            case EVTranscodeServiceEvent_Cleared:
            case EVTranscodeServiceEvent_Closed:
                EndLostJobs();
                break;
            default:
                break;
            }
        }
        DispatchEvent(item);
    });
}

bool CVTranscodeHandler::ActsOn(LONG jobId) {
    {
        std::lock_guard jobs(m_jobsLock);
        if (m_jobs.contains(jobId)) {
            return true;
        }
    }
    return !IsClaimed(jobId);
}

CComPtr<IVItem> CVTranscodeHandler::FindEntry(LONG jobId) {
    CComPtr<IVDataStore> queue;
    {
        std::lock_guard setup(m_setupLock);
        queue = m_queueStore;
    }
    if (!queue) {
        return {};
    }
    CComPtr<IVEnum> found;
    ThrowIfFailed(queue->Query(VARIANT::Missing(), BSTR(k_queueClass),
                               BSTR(CQStringHelper::Format(
                                   L"TranscodeQueueObj.TranscodingJobID=%d", jobId)),
                               &found));
    return FirstItem(found);
}

void CVTranscodeHandler::RemoveEntry(IVItem* entry) {
    try {
        ThrowIfFailed(GetQueueDS()->Delete(EnumOf(entry)));
    } catch (...) {
        CQLogging::Log(EQLogLevel_Debug, false, L"Failed to delete item from QueueDS\n");
    }
}

CComPtr<IVItem> CVTranscodeHandler::StoreCompletedItem(IVItem* entry) {
    return CQCatch::Internal([&] {
        CComPtr<IVItem> stored;
        ThrowIfFailed(entry->Copy(VARIANT::Missing(), &stored));
        ThrowIfFailed(stored->SetGUID(BSTR()));
        ThrowIfFailed(stored->SetDataStoreName(BSTR()));
        const CComPtr<IVProperties> properties = PropertiesOf(stored);
        ThrowIfFailed(properties->SetValueByName(
            L"URI", ValueByName(stored, TRANSCODE_SETTING_TRANSCODETOPATH, EVPropertyKind_Store),
            EVPropertyKind_Metadata));
        ThrowIfFailed(properties->SetValue(L"DatastoreControlled", k_datastoreNamespace,
                                           VARIANT(VARIANT_TRUE)));
        // The queue's and the events' own properties do not belong on the stored item.
        std::vector<std::pair<std::wstring, std::wstring>> stripped;
        CComPtr<IVPropertyEnumerator> enumerator;
        ThrowIfFailed(properties->GetEnumerator(&enumerator));
        CComPtr<IVProperty> property;
        while (enumerator->Next(&property) == S_OK) {
            LONG kind = 0;
            BSTR name, uri;
            ThrowIfFailed(property->GetKind(&kind));
            ThrowIfFailed(property->GetName(&name));
            ThrowIfFailed(property->GetNamespace(&uri));
            if (kind == EVPropertyKind_Transcode || kind == EVPropertyKind_Store) {
                stripped.emplace_back(name, uri);
            }
        }
        for (const auto& [name, uri] : stripped) {
            ThrowIfFailed(properties->SetValue(BSTR(name), BSTR(uri), VARIANT()));
        }
        ThrowIfFailed(properties->SetValue(BSTR(TRANSCODE_PROPERTY_TRANSCODED),
                                           BSTR(k_transcodeNamespace), VARIANT(VARIANT_TRUE)));

        CComPtr<IVDataStore> source, result;
        {
            CQLockHolder hold(m_initLock);
            source = m_sourceStore;
            result = m_resultStore;
        }
        const CComPtr<IVDataStore> queue = GetQueueDS();
        CVDSTransactionHolder sourceTransaction(source);
        CVDSTransactionHolder resultTransaction(result);
        CVDSTransactionHolder queueTransaction(queue);
        ThrowIfFailed(result->Add(VARIANT::Missing(), stored));
        const std::wstring entryGuid = GuidOf(entry);
        const std::wstring storedGuid = GuidOf(stored);
        ThrowIfFailed(source->Add(VARIANT::Missing(),
                                  RelationItem(entryGuid, storedGuid, L"transcoded")));
        ThrowIfFailed(result->Add(VARIANT::Missing(),
                                  RelationItem(storedGuid, entryGuid, L"original")));
        ThrowIfFailed(queue->Delete(EnumOf(entry)));
        // Innermost first: the result store's transaction nests in the source store's when
        // they are one datastore.
        resultTransaction.CommitTransaction();
        sourceTransaction.CommitTransaction();
        queueTransaction.CommitTransaction();
        return stored;
    });
}

void CVTranscodeHandler::EndJob(LONG jobId, bool completed) {
    std::wstring outputPath;
    {
        std::lock_guard jobs(m_jobsLock);
        if (jobId < 1) {
            --m_pendingRecords;  // a request that queued nothing
        } else {
            const auto found = m_jobs.find(jobId);
            if (found == m_jobs.end()) {
                return;
            }
            outputPath = found->second.outputPath;
            m_jobs.erase(found);
        }
    }
    if (jobId > 0) {
        Unclaim(jobId);
    }
    if (!completed) {
        DropPlaceholder(outputPath);
    }
    SignalIfIdle();
}

void CVTranscodeHandler::SignalIfIdle() {
    std::lock_guard jobs(m_jobsLock);
    if (m_jobs.empty() && m_pendingRecords == 0) {
        m_completion.SetEvent();
    }
}

void CVTranscodeHandler::EndLostJobs() {
    std::vector<LONG> lost;
    {
        std::lock_guard jobs(m_jobsLock);
        for (const auto& job : m_jobs) {
            lost.push_back(job.first);
        }
    }
    for (LONG jobId : lost) {
        if (CComPtr<IVItem> entry = FindEntry(jobId)) {
            RemoveEntry(entry);
        }
        EndJob(jobId, false);
    }
}

void CVTranscodeHandler::WorkerProc(void* /*argument*/) {
    CQCatch::LogAndSwallow([&] {
        const CComPtr<IVTranscodeService> service = GetTranscodeService();
        auto idleSince = std::chrono::steady_clock::now();
        while (!IsStopRequested()) {
            {
                std::lock_guard jobs(m_jobsLock);
                if (m_jobs.empty() && m_pendingRecords == 0) {
                    m_completion.SetEvent();
                    return;
                }
            }
            LONG count = 0;
            LONG current = -1;
            ThrowIfFailed(service->GetCount(&count));
            ThrowIfFailed(service->GetCurrent(&current));
            const auto now = std::chrono::steady_clock::now();
            if (count > 0 || current > 0) {
                idleSince = now;
            } else if (now - idleSince >= k_lostJobGrace) {
                CQLogging::Log(EQLogLevel_Warning, false,
                               L"The transcode service lost jobs of a handler; they end as failed\n");
                EndLostJobs();
                return;
            }
            GetStopEvent()->Wait(k_pollInterval);
        }
    });
}
