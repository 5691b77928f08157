// The handler with real datastores and the real service: generated clips converted by the
// transcoder component end as items in the result store, with their outputs in the private
// results folder; and a datastore made to fail in the middle of storing a result leaves none of
// the three stores changed while the event still reaches the handler's listeners.

#include <filesystem>
#include <future>
#include <mutex>
#include <string>

#include <gtest/gtest.h>

#include "components/vdatastorelib/vdatastore.h"
#include "components/vdatastorelib/vdatastorelib.h"
#include "components/veventlib/veventlib.h"
#include "components/vitemslib/vitemslib.h"
#include "components/vtranscoderlib/vtranscodercomponent.h"
#include "qlib/qcom/comcall.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qcomutilities.h"
#include "qlib/qutilitylib/qexception.h"
#include "qlib/qutilitylib/qstring.h"
#include "tests/components/vtranscoderlib/vtestmedia.h"
#include "tests/qlib/qsys/testsupport.h"
#include "tests/vtranscodeserver/veventrecorder.h"
#include "tests/vtranscodeserver/vscriptedtranscoder.h"
#include "tests/vtranscodeserver/vtesttranscodeitem.h"
#include "vtranscodeserver/vtranscodehandler.h"
#include "vtranscodeserver/vtranscodeserviceobj.h"

namespace {

constexpr LONG k_mp4Format = 10;

std::wstring Wide(const std::string& text) {
    return CQStringHelper::MultiByteToString(text);
}

std::string Narrow(const std::wstring& text) {
    return CQStringHelper::StringToMultiByte(text);
}

CComPtr<IVProperties> PropertiesOf(IVItem* item) {
    return ComCall(item, &IVItem::GetProperties);
}

std::wstring TextOf(const VARIANT& value) {
    return value.Vt() == VT_BSTR ? std::wstring(value.Get<BSTR>()) : std::wstring();
}

// The seam: Add on a datastore opened at `location` fails once `allowed` calls there succeeded.
struct SAddSeam {
    std::mutex lock;
    std::wstring location;  // guarded by lock
    int allowed = 0;        // guarded by lock
    int calls = 0;          // guarded by lock
};

SAddSeam& Seam() {
    static SAddSeam seam;
    return seam;
}

// The datastore class while a test holds its registration: a real datastore object, made
// directly from its class, that answers every call except the Adds the seam refuses.
class CFailingDataStore final
    : public CComObjectBase<CComDispatchImpl<IVDataStore>, CComDispatchImpl<IVDSTransaction>> {
public:
    HRESULT FinalConstruct() override { return CreateComObject(&m_real); }

    HRESULT Open(const VARIANT& location, const VARIANT& reserved1,
                 const VARIANT& reserved2) override {
        {
            std::lock_guard lock(m_lock);
            m_location = TextOf(location);
        }
        return m_real->Open(location, reserved1, reserved2);
    }
    HRESULT Add(const VARIANT& reserved, IVItem* item) override {
        if (Refuses()) {
            return CQCatch::Interface(IVDataStore::k_iid, CLSID_VDataStore, [] {
                throw CQException(L"The datastore was made to fail.", VDSERR_DATASTORE_BUSY);
            });
        }
        return m_real->Add(reserved, item);
    }
    HRESULT Delete(IVEnum* items) override { return m_real->Delete(items); }
    HRESULT Close() override { return m_real->Close(); }
    HRESULT Query(const VARIANT& reserved, BSTR className, BSTR filter, IVEnum** result) override {
        return m_real->Query(reserved, className, filter, result);
    }
    HRESULT Count(BSTR className, LONG* count) override { return m_real->Count(className, count); }
    HRESULT GetSchema(IVDSSchema** schema) override { return m_real->GetSchema(schema); }
    HRESULT GetTypes(IVDSTypes** types) override { return m_real->GetTypes(types); }

    HRESULT BeginTransaction() override { return m_real->BeginTransaction(); }
    HRESULT CommitTransaction() override { return m_real->CommitTransaction(); }
    HRESULT AbortTransaction() override { return m_real->AbortTransaction(); }

private:
    bool Refuses() {
        std::wstring location;
        {
            std::lock_guard lock(m_lock);
            location = m_location;
        }
        SAddSeam& seam = Seam();
        std::lock_guard lock(seam.lock);
        return location == seam.location && ++seam.calls > seam.allowed;
    }

    CComPtr<CVDataStore> m_real;
    std::mutex m_lock;
    std::wstring m_location;  // guarded by m_lock
};

// Real datastores and the real service in a temporary folder that is also the user's data
// folder, so the handler's private folders land in it.
class HandlerFixture : public ::testing::Test {
protected:
    // Before any member registers a class: a double registered later answers instead.
    HandlerFixture() {
        CVItemsLib::RegisterClasses();
        CVEventLib::RegisterClasses();
        CVDataStoreLib::RegisterClasses();
        CVTranscoderComponent::RegisterClasses();
    }

    std::wstring Store(const std::string& name) const { return m_media.Path(name); }

    CComPtr<IVTranscodeHandler> NewHandler(const std::string& source, const std::string& result) {
        CComPtr<IVTranscodeHandler> handler = CQCOMUtils::CreateObject<IVTranscodeHandler>(
            CLSID_VTranscodeHandler, L"VTranscodeServerLib::VTranscodeHandler");
        EXPECT_EQ(handler->Init(Store(source), Store(result)), S_OK);
        return handler;
    }

    static CComPtr<IVItem> FileItem(const std::filesystem::path& path, LONG format) {
        CComPtr<IVItem> item = CQCOMUtils::CreateObject<IVItem>(CLSID_VItem, k_itemDisplayName);
        EXPECT_EQ(item->SetClassName(BSTR(L"File")), S_OK);
        const CComPtr<IVProperties> properties = PropertiesOf(item);
        EXPECT_EQ(properties->SetValueByName(BSTR(L"URI"), VARIANT(Wide(path.string())),
                                             EVPropertyKind_Metadata),
                  S_OK);
        EXPECT_EQ(properties->SetValue(BSTR(L"TranscodeToFormat"), BSTR(k_transcodeNamespace),
                                       VARIANT(format)),
                  S_OK);
        return item;
    }

    static CComPtr<IVItem> Queue(IVTranscodeHandler* handler, IVItem* item) {
        CComPtr<IDispatch> result;
        EXPECT_EQ(
            handler->TranscodeItemIfNeeded(item, BSTR(L""), EVTranscodePriority_Normal, 0, &result),
            S_OK);
        CComPtr<IVItem> queued;
        EXPECT_EQ(result.QueryInterface(&queued), S_OK);
        return queued;
    }

    static LONG JobOf(IVItem* item) {
        const VARIANT id = ComCall(PropertiesOf(item).Get(), &IVProperties::GetValueByName,
                                   BSTR(L"TranscodingJobID"), LONG{EVPropertyKind_Store});
        return id.Vt() == VT_I4 ? id.Get<LONG>() : -1;
    }

    static std::wstring OutputOf(IVItem* item) {
        return TextOf(ComCall(PropertiesOf(item).Get(), &IVProperties::GetValueByName,
                              BSTR(L"TranscodeToPath"), LONG{EVPropertyKind_Store}));
    }

    static bool WaitForCompletion(IVTranscodeHandler* handler) {
        auto wait =
            std::async(std::launch::async, [handler] { return handler->WaitForCompletion(); });
        return wait.wait_for(k_patience) == std::future_status::ready && wait.get() == S_OK;
    }

    static CComPtr<IVDataStore> OpenStore(const std::wstring& folder) {
        CComPtr<IVDataStore> store =
            CQCOMUtils::CreateObject<IVDataStore>(CLSID_VDataStore, k_dataStoreDisplayName);
        EXPECT_EQ(store->Open(VARIANT(folder), VARIANT::Missing(), VARIANT::Missing()), S_OK);
        return store;
    }
    static CComPtr<IVEnum> Query(IVDataStore* store, const wchar_t* className,
                                 const std::wstring& filter = L"") {
        return ComCall(store, &IVDataStore::Query, VARIANT::Missing(), BSTR(className),
                       BSTR(filter));
    }
    static LONG Count(IVDataStore* store, const wchar_t* className) {
        return ComCall(store, &IVDataStore::Count, BSTR(className));
    }
    static CComPtr<IVItem> ItemAt(IVEnum* items, LONG index) {
        CComPtr<IVItem> item;
        const VARIANT element = ComCall(items, &IVEnum::GetItem, VARIANT(index));
        EXPECT_EQ(CComPtr<IUnknown>(element.Unknown()).QueryInterface(&item), S_OK);
        return item;
    }
    std::wstring QueueFolder() const {
        return Wide(m_media.Folder().string()) + L"/" + CVTranscodeHandler::k_queueFolder;
    }
    std::filesystem::path ResultsFolder() const {
        return m_media.Folder() / Narrow(CVTranscodeHandler::k_resultsFolder);
    }

    CVTestMedia m_media;
    qsys::test::ScopedEnvironment m_dataHome{"XDG_DATA_HOME", m_media.Folder().string()};
    qsys::test::ScopedEnvironment m_registry{"ZELTO_REGISTRY_DIR",
                                             (m_media.Folder() / "registry").string()};
    const CComClassRegistration m_service = CVTranscodeService::RegisterClass();
    const CComClassRegistration m_handlerClass = CVTranscodeHandler::RegisterClass();
};

using TranscodeHandlerWithTranscoder = HandlerFixture;

TEST_F(TranscodeHandlerWithTranscoder, ClipsOfOneNameAreConvertedIntoTwoPrivateOutputs) {
    const std::filesystem::path first = m_media.Video("clip.mp4", 2.0, 320, 240, 25);
    std::filesystem::create_directory(m_media.Folder() / "other");
    const std::filesystem::path second = m_media.Folder() / "other" / "clip.mp4";
    std::filesystem::copy_file(first, second);

    const CComPtr<IVTranscodeHandler> handler = NewHandler("source", "result");
    const CComPtr<CEventRecorder> recorder = CEventRecorder::AdviseOn(handler);
    const LONG job = JobOf(Queue(handler, FileItem(first, k_mp4Format)));
    ASSERT_GT(job, 0);
    ASSERT_TRUE(WaitForCompletion(handler));
    ASSERT_TRUE(recorder->WaitFor(EVTranscodeServiceEvent_Completed, job));

    const CComPtr<IVEnum> stored = Query(OpenStore(Store("result")), L"File");
    ASSERT_EQ(ComCall(stored.Get(), &IVEnum::GetCount), 1);
    const std::filesystem::path output =
        Narrow(TextOf(ComCall(PropertiesOf(ItemAt(stored, 0)).Get(), &IVProperties::GetValue,
                              BSTR(L"URI"), BSTR(k_metadataNamespace))));
    EXPECT_EQ(output.parent_path(), ResultsFolder());
    ASSERT_TRUE(std::filesystem::is_regular_file(output));
    EXPECT_GT(std::filesystem::file_size(output), 0u);
    EXPECT_EQ(CVTestMedia::Inspect(output).Count("video"), 1);
    EXPECT_EQ(Count(OpenStore(QueueFolder()), L"Item"), 0);

    // Two files of one name queued at once, while the first output already holds that name.
    const std::wstring one = OutputOf(Queue(handler, FileItem(first, k_mp4Format)));
    const std::wstring two = OutputOf(Queue(handler, FileItem(second, k_mp4Format)));
    EXPECT_NE(one, two);
    EXPECT_NE(Narrow(one), output.string());
    EXPECT_NE(Narrow(two), output.string());
    ASSERT_TRUE(WaitForCompletion(handler));
    EXPECT_EQ(Count(OpenStore(Store("result")), L"File"), 3);
    for (const std::wstring& path : {one, two}) {
        ASSERT_TRUE(std::filesystem::is_regular_file(Narrow(path))) << Narrow(path);
        EXPECT_GT(std::filesystem::file_size(Narrow(path)), 0u) << Narrow(path);
    }
    EXPECT_EQ(Count(OpenStore(QueueFolder()), L"Item"), 0);
}

// The scripted transcoder completes every job at once; the datastore class is the seam.
class TranscodeHandlerFailingStore : public HandlerFixture {
protected:
    void TearDown() override { CScriptedTranscoder::Release(k_transcodeCompleted); }

    // Queues one job on a handler whose result store refuses its Add after `allowed` ones, and
    // checks that the completion was forwarded with its source item and nothing stored.
    void CompleteWithFailingAdd(const std::string& source, const std::string& result, int allowed) {
        {
            SAddSeam& seam = Seam();
            std::lock_guard lock(seam.lock);
            seam.location = Store(result);
            seam.allowed = allowed;
            seam.calls = 0;
        }
        const std::filesystem::path clip = m_media.Text("clip.avi", "not really a clip");
        const CComPtr<IVTranscodeHandler> handler = NewHandler(source, result);
        const CComPtr<CEventRecorder> recorder = CEventRecorder::AdviseOn(handler);
        const CComPtr<IVItem> queued = Queue(handler, FileItem(clip, 9));
        const LONG job = JobOf(queued);
        ASSERT_GT(job, 0);
        ASSERT_TRUE(WaitForCompletion(handler));
        ASSERT_TRUE(recorder->WaitFor(EVTranscodeServiceEvent_Completed, job));
        {
            SAddSeam& seam = Seam();
            std::lock_guard lock(seam.lock);
            EXPECT_EQ(seam.calls, allowed + 1);  // the refused Add was reached
        }
        for (const SEvent& event : recorder->Events()) {
            if (event.Type() == EVTranscodeServiceEvent_Completed && event.ItemId() == job) {
                EXPECT_TRUE(event.Has(L"SourceItem"));
                EXPECT_FALSE(event.Has(L"TranscodedItem"));
            }
        }
        m_seam.Revoke();
        // Neither the result item nor a relation is left in the source or result store.
        EXPECT_EQ(Count(OpenStore(Store(result)), L"Item"), 0);
        EXPECT_EQ(Count(OpenStore(Store(source)), L"Item"), 0);
        // The queue's removal was undone with them: the entry is still the job's.
        const CComPtr<IVEnum> entries = Query(
            OpenStore(QueueFolder()), L"Item",
            CQStringHelper::Format(L"Item.GUID = \"%s\"", ComCall(queued.Get(), &IVItem::GetGUID)));
        ASSERT_EQ(ComCall(entries.Get(), &IVEnum::GetCount), 1);
        EXPECT_EQ(JobOf(ItemAt(entries, 0)), job);
        EXPECT_EQ(Count(OpenStore(QueueFolder()), L"Item"), 1);
    }

    CTestTranscodeItemClass m_itemClass;
    CScriptedTranscoderClass m_transcoderClass;
    CComClassRegistration m_seam =
        RegisterComClass<CFailingDataStore>(CLSID_VDataStore, L"VDataStoreLib::FailingDataStore");
};

TEST_F(TranscodeHandlerFailingStore, ARelationRefusedInTheResultStoreUndoesAllThreeStores) {
    // The stored item is added; the source store's relation is added; the result store's
    // relation is refused.
    CompleteWithFailingAdd("source", "result", 1);
}

TEST_F(TranscodeHandlerFailingStore, ARefusalInOneStoreForSourceAndResultUndoesTheNestedWork) {
    // One datastore object holds the source and the result: its transactions nest, and the
    // third Add (the result store's relation) is refused after two went through.
    CompleteWithFailingAdd("store", "store", 2);
}

}  // namespace
