#include "vtranscodeserver/vtranscodequeue.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <utility>

#include <pugixml.hpp>

#include "qlib/qcom/comcall.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qcomutilities.h"
#include "qlib/qutilitylib/qexception.h"
#include "qlib/qutilitylib/qfileutilities.h"
#include "qlib/qutilitylib/qlogging.h"
#include "qlib/qutilitylib/qstring.h"
#include "vtranscodeserver/vsavefile.h"

namespace {

constexpr const char* k_itemsElement = "items";
constexpr const char* k_currentElement = "current";
constexpr const char* k_queueElement = "queue";
constexpr const char* k_entryElement = "entry";
constexpr const char* k_idAttribute = "id";
constexpr const char* k_priorityAttribute = "priority";
constexpr int32_t k_noJob = -1;
constexpr int32_t k_highestJobId = std::numeric_limits<int32_t>::max();

// The queue whose Changed is taking place inside TakeNext on this thread: its save is left to
// the SetCurrentItem that follows, which writes the taken job as "current".
thread_local const CVTranscodeQueue* t_deferredSaveOf = nullptr;

// Counts a take in progress for the life of a scope.
class CCountedScope {
public:
    explicit CCountedScope(std::atomic<int>& count) : m_count(count) { ++m_count; }
    CCountedScope(const CCountedScope&) = delete;
    CCountedScope& operator=(const CCountedScope&) = delete;
    ~CCountedScope() { --m_count; }

private:
    std::atomic<int>& m_count;
};

// Leaves the saves of the queue's changes on this thread to a later call, for a scope.
class CDeferredSaveScope {
public:
    explicit CDeferredSaveScope(const CVTranscodeQueue* queue) { t_deferredSaveOf = queue; }
    CDeferredSaveScope(const CDeferredSaveScope&) = delete;
    CDeferredSaveScope& operator=(const CDeferredSaveScope&) = delete;
    ~CDeferredSaveScope() { t_deferredSaveOf = nullptr; }
};

std::string ToUtf8(std::wstring_view text) {
    return CQStringHelper::StringToMultiByte(text);
}

std::wstring FromUtf8(const std::string& text) {
    return CQStringHelper::MultiByteToString(text);
}

// A whole decimal signed 32-bit number, or nothing.
std::optional<int32_t> ParseInt32(const char* text) {
    const std::string_view digits(text);
    int32_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || digits.empty()) {
        return std::nullopt;
    }
    return value;
}

std::optional<int32_t> ReadAttribute(const pugi::xml_node& node, const char* name) {
    const pugi::xml_attribute attribute = node.attribute(name);
    if (!attribute) {
        return std::nullopt;
    }
    return ParseInt32(attribute.value());
}

std::string NodeText(const pugi::xml_node& node) {
    std::ostringstream text;
    node.print(text, "", pugi::format_raw, pugi::encoding_utf8);
    return text.str();
}

// The item's own XML; empty for an item that cannot describe itself.
std::wstring ItemXML(const CVTranscodeQueue::Item& item) {
    CComPtr<IVTranscodeItemData> data;
    if (item == nullptr || FAILED(item.QueryInterface(&data))) {
        return {};
    }
    return ComCall(data.Get(), &IVTranscodeItemData::GetItemXML);
}

// The item's revision; 0 for an item that cannot tell one.
ULONGLONG ItemRevision(const CVTranscodeQueue::Item& item) {
    CComPtr<IVTranscodeItemRevision> counter;
    ULONGLONG revision = 0;
    if (item == nullptr || FAILED(item.QueryInterface(&counter)) ||
        FAILED(counter->GetRevision(&revision))) {
        return 0;
    }
    return revision;
}

// The item's XML as the save file holds it: its one element, parsed and written again, so that
// whatever the item wrote comes out escaped and without text around it. Text that does not
// parse raises "Undefined error.".
std::string ElementText(const std::wstring& xml) {
    pugi::xml_document itemDocument;
    const std::string bytes = ToUtf8(xml);
    if (!itemDocument.load_buffer(bytes.data(), bytes.size(), pugi::parse_default,
                                  pugi::encoding_utf8) ||
        !itemDocument.document_element()) {
        CQException error(QERR_UNDEFINED);
        error.AddValue(L"ItemXML", xml.substr(0, 4096));
        throw error;
    }
    return NodeText(itemDocument.document_element());
}

// A new transcode item loaded from the job element's first child element; empty when there is
// none or the item does not accept it.
CVTranscodeQueue::Item LoadItem(const pugi::xml_node& job) {
    const pugi::xml_node element = job.find_child(
        [](const pugi::xml_node& node) { return node.type() == pugi::node_element; });
    if (!element) {
        return {};
    }
    CComPtr<IVTranscodeItem> item =
        CQCOMUtils::CreateObject<IVTranscodeItem>(CLSID_VTranscodeItem, k_transcodeItemDisplayName);
    CComPtr<IVTranscodeItemData> data;
    if (FAILED(item.QueryInterface(&data))) {
        return {};
    }
    const VARIANT_BOOL loaded =
        ComCall(data.Get(), &IVTranscodeItemData::LoadItemXML, FromUtf8(NodeText(element)));
    return loaded == VARIANT_FALSE ? CVTranscodeQueue::Item() : item;
}

}  // namespace

CVTranscodeQueue::~CVTranscodeQueue() {
    CQCatch::LogAndSwallow([&] {
        m_initialized = false;
        m_autoSave = false;
        Clear();
    });
}

int32_t CVTranscodeQueue::Init(const std::wstring& saveFilePath, int32_t flags) {
    return CQCatch::Internal([&] {
        {
            const std::lock_guard settings(m_settingsMutex);
            m_saveFilePath = saveFilePath;
        }
        {
            const std::lock_guard save(m_saveMutex);
            m_writtenSnapshot = 0;
        }
        m_autoSave = (flags & k_flagAutoSave) != 0;
        m_initialized = true;
        if ((flags & k_flagAutoLoad) != 0 && !saveFilePath.empty()) {
            return Load(saveFilePath, false, true);
        }
        return 0;
    });
}

void CVTranscodeQueue::Close() {
    CQCatch::Internal([&] {
        {
            const std::lock_guard settings(m_settingsMutex);
            m_saveFilePath.clear();
        }
        m_initialized = false;
        m_autoSave = false;
        Clear();
    });
}

int32_t CVTranscodeQueue::Add(int32_t jobId, const Item& item, int32_t priority) {
    return CQCatch::Internal([&] {
        if (!m_initialized || item == nullptr || (jobId != k_noJob && jobId < 1)) {
            return k_noJob;
        }
        if (jobId == k_noJob) {
            jobId = NewJobId();
        } else {
            ReserveJobId(jobId);
        }
        try {
            Put(jobId, priority, item);
        } catch (const CQException& error) {
            // The job is in the list but not in the save file: withdraw it and raise, unless
            // the worker has taken it meanwhile (then it runs, and the caller learns its id).
            bool withdrawn = true;  // Remove raises only once the entry is unlinked
            try {
                withdrawn = Remove(jobId);
            } catch (const CQException&) {
            }
            if (withdrawn) {
                throw;
            }
            CQLogging::Log(EQLogLevel_Warning, false, L"%s\n%s\n", L"CVTranscodeQueue::Add",
                           error.GetDescription());
        }
        return jobId;
    });
}

CVTranscodeQueue::Item CVTranscodeQueue::Get(int32_t* jobId, int32_t* priority) {
    return CQCatch::Internal([&] {
        if (!m_initialized) {
            return Item();
        }
        return CVPriorityList::Get(jobId, priority);
    });
}

CVTranscodeQueue::Item CVTranscodeQueue::TakeNext(int32_t* jobId, int32_t* priority) {
    return CQCatch::Internal([&] {
        if (!m_initialized) {
            return Item();
        }
        const std::lock_guard take(m_takeMutex);
        const CCountedScope taking(m_taking);
        int32_t id = k_noJob;
        int32_t priorityTaken = 0;
        Item item;
        {
            const CDeferredSaveScope deferred(this);
            item = TryGet(&id, &priorityTaken);
        }
        if (item == nullptr) {
            return item;
        }
        if (jobId != nullptr) {
            *jobId = id;
        }
        if (priority != nullptr) {
            *priority = priorityTaken;
        }
        // A failed save leaves the job queued in the file; it runs now all the same.
        CQCatch::LogAndSwallow([&] { SetCurrentItem(item, priorityTaken, id); });
        return item;
    });
}

void CVTranscodeQueue::SetCurrentItem(const Item& item, int32_t priority, int32_t jobId) {
    CQCatch::Internal([&] {
        Item previous;
        {
            const std::lock_guard current(m_currentMutex);
            previous = std::exchange(m_current.element, item);
            m_current.jobId = jobId;
            m_current.priority = priority;
        }
        Changed();
    });
}

int32_t CVTranscodeQueue::GetCurrentJobId() {
    const std::lock_guard current(m_currentMutex);
    return m_current.element == nullptr ? k_noJob : m_current.jobId;
}

bool CVTranscodeQueue::HasJobs() {
    // In this order: a job leaves the list only while m_taking counts it, and m_taking lets it
    // go only once it is the current item.
    return Length() > 0 || m_taking.load() > 0 || GetCurrentJobId() != k_noJob;
}

std::wstring CVTranscodeQueue::GetItemsXML(bool includeCurrent) {
    return CQCatch::Internal([&] { return FromUtf8(ItemsDocument(includeCurrent)); });
}

std::string CVTranscodeQueue::ItemsDocument(bool includeCurrent) {
    std::vector<Entry> entries;
    GetEntries(entries);
    std::optional<Entry> current;
    if (includeCurrent) {
        const std::lock_guard lock(m_currentMutex);
        if (m_current.element != nullptr) {
            current = m_current;
        }
    }
    const std::lock_guard elements(m_elementsMutex);
    const uint64_t document = ++m_documents;
    std::string text;
    text.reserve(m_documentSize + m_documentSize / 8);
    text = R"(<?xml version="1.0" encoding="utf-8"?><items>)";
    if (current) {
        AppendJob(text, k_currentElement, *current);
    }
    if (entries.empty()) {
        text += "<queue/>";
    } else {
        text += "<queue>";
        for (const Entry& entry : entries) {
            AppendJob(text, k_entryElement, entry);
        }
        text += "</queue>";
    }
    text += "</items>";
    std::erase_if(m_savedElements,
                  [&](const auto& saved) { return saved.second.document != document; });
    m_documentSize = text.size();
    return text;
}

void CVTranscodeQueue::AppendJob(std::string& text, const char* name, const Entry& entry) {
    const std::string& element = ElementOf(entry);
    text += '<';
    text += name;
    text += " id=\"";
    text += std::to_string(entry.jobId);
    text += "\" priority=\"";
    text += std::to_string(entry.priority);
    text += '"';
    if (element.empty()) {
        text += "/>";
        return;
    }
    text += '>';
    text += element;
    text += "</";
    text += name;
    text += '>';
}

const std::string& CVTranscodeQueue::ElementOf(const Entry& entry) {
    SavedElement& saved = m_savedElements[entry.jobId];
    saved.document = m_documents;
    const ULONGLONG revision = ItemRevision(entry.element);
    if (revision != 0 && revision == saved.revision) {
        return saved.element;
    }
    std::wstring xml = ItemXML(entry.element);
    if (revision == 0 && saved.revision == 0 && !xml.empty() && xml == saved.itemXml) {
        return saved.element;
    }
    std::string element = xml.empty() ? std::string() : ElementText(xml);
    saved.revision = revision;
    saved.itemXml = revision == 0 ? std::move(xml) : std::wstring();
    saved.element = std::move(element);
    return saved.element;
}

bool CVTranscodeQueue::Save(const std::wstring& path, bool includeCurrent) {
    return CQCatch::Internal([&] {
        if (!m_initialized) {
            return false;
        }
        const uint64_t snapshot = m_changeCount.load();
        const std::string text = ItemsDocument(includeCurrent);
        const std::wstring target = path.empty() ? GetSaveFilePath() : path;
        if (text.empty() || target.empty()) {
            return false;
        }
        return WriteSnapshot(target, text, snapshot);
    });
}

bool CVTranscodeQueue::ReadItemsXML(const std::wstring& text, bool includeCurrent,
                                    std::vector<Entry>& entries) {
    return CQCatch::Internal([&] {
        pugi::xml_document document;
        const std::string bytes = ToUtf8(text);
        if (!document.load_buffer(bytes.data(), bytes.size(), pugi::parse_default,
                                  pugi::encoding_utf8)) {
            throw CQException(QERR_INVALID_STRING_FORMAT);
        }
        std::vector<Entry> read;
        if (includeCurrent) {
            const pugi::xml_node current = document.select_node("/items/current").node();
            if (current) {
                const std::optional<int32_t> id = ReadAttribute(current, k_idAttribute);
                const std::optional<int32_t> priority = ReadAttribute(current, k_priorityAttribute);
                if (id.value_or(0) > 0) {
                    if (Item item = LoadItem(current)) {
                        read.push_back(Entry{*id, priority.value_or(0), item});
                    }
                }
            }
        }
        for (const pugi::xpath_node& selected : document.select_nodes("/items/queue/entry")) {
            const pugi::xml_node entry = selected.node();
            const std::optional<int32_t> id = ReadAttribute(entry, k_idAttribute);
            const std::optional<int32_t> priority = ReadAttribute(entry, k_priorityAttribute);
            if (id.value_or(0) <= 0 || !priority) {
                return false;
            }
            Item item = LoadItem(entry);
            if (item == nullptr) {
                return false;
            }
            read.push_back(Entry{*id, *priority, item});
        }
        entries.insert(entries.end(), read.begin(), read.end());
        return true;
    });
}

int32_t CVTranscodeQueue::Load(const std::wstring& path, bool append, bool includeCurrent) {
    return CQCatch::Internal([&] {
        const std::lock_guard take(m_takeMutex);
        const std::wstring requested = path.empty() ? GetSaveFilePath() : path;
        const std::wstring file = CVSaveFile::Pick(requested);
        if (file.empty()) {
            return k_loadNoFile;
        }
        const std::wstring text = CQFileUtilities::ReadTextFile(file);
        std::vector<Entry> entries;
        if (file != requested) {
            // The ".bak" of a save that never reached its rename: use it only if it is whole.
            bool readable = false;
            CQCatch::LogAndSwallow([&] { readable = ReadItemsXML(text, includeCurrent, entries); });
            if (!readable) {
                return k_loadNoFile;
            }
        } else if (!ReadItemsXML(text, includeCurrent, entries)) {
            return k_loadInvalidEntry;
        }
        PrepareLoadedEntries(entries, append, includeCurrent);
        if (append && entries.empty()) {
            return 0;
        }
        return SetEntries(entries, append);
    });
}

void CVTranscodeQueue::Changed() {
    CQCatch::Internal([&] {
        const uint64_t snapshot = ++m_changeCount;
        if (!m_autoSave || t_deferredSaveOf == this) {
            return;
        }
        const std::wstring target = GetSaveFilePath();
        if (target.empty() || !m_initialized) {
            return;
        }
        WriteSnapshot(target, ItemsDocument(true), snapshot);
    });
}

std::wstring CVTranscodeQueue::GetSaveFilePath() {
    const std::lock_guard settings(m_settingsMutex);
    return m_saveFilePath;
}

int32_t CVTranscodeQueue::NewJobId() {
    const std::lock_guard ids(m_idMutex);
    for (;;) {
        const int32_t candidate = m_nextId;
        if (m_nextId == k_highestJobId) {
            m_nextId = 1;
            m_idsWrapped = true;
        } else {
            ++m_nextId;
        }
        if (!m_idsWrapped || !IsJobIdInUse(candidate)) {
            return candidate;
        }
    }
}

void CVTranscodeQueue::ReserveJobId(int32_t jobId) {
    const std::lock_guard ids(m_idMutex);
    if (jobId == k_highestJobId) {
        m_nextId = 1;
        m_idsWrapped = true;
    } else if (jobId >= m_nextId && !m_idsWrapped) {
        m_nextId = jobId + 1;
    }
}

bool CVTranscodeQueue::IsJobIdInUse(int32_t jobId) {
    if (GetCurrentJobId() == jobId) {
        return true;
    }
    std::vector<Entry> entries;
    GetEntries(entries);
    return std::any_of(entries.begin(), entries.end(),
                       [&](const Entry& entry) { return entry.jobId == jobId; });
}

// Gives the loaded entries ids that no other job has. Reading the own save file again while a
// job runs finds that job in it (as "current", or still queued if its last save failed): it is
// dropped, not queued twice.
void CVTranscodeQueue::PrepareLoadedEntries(std::vector<Entry>& entries, bool append,
                                            bool includeCurrent) {
    const int32_t running = GetCurrentJobId();
    if (includeCurrent && running != k_noJob) {
        std::erase_if(entries, [&](const Entry& entry) { return entry.jobId == running; });
    }
    std::set<int32_t> taken;
    if (running != k_noJob) {
        taken.insert(running);
    }
    if (append) {
        std::vector<Entry> queued;
        GetEntries(queued);
        for (const Entry& entry : queued) {
            taken.insert(entry.jobId);
        }
    }
    for (Entry& entry : entries) {
        if (!taken.insert(entry.jobId).second) {
            do {
                entry.jobId = NewJobId();
            } while (!taken.insert(entry.jobId).second);
        } else {
            ReserveJobId(entry.jobId);
        }
    }
}

bool CVTranscodeQueue::WriteSnapshot(const std::wstring& target, const std::string& text,
                                     uint64_t snapshot) {
    const std::lock_guard save(m_saveMutex);
    const bool ownFile = target == GetSaveFilePath();
    if (ownFile && snapshot < m_writtenSnapshot) {
        return true;  // a newer state is on disk already
    }
    CVSaveFile::Write(target, text);
    if (ownFile) {
        m_writtenSnapshot = snapshot;
    }
    return true;
}
