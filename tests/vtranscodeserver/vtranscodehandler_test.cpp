#include "vtranscodeserver/vtranscodehandler.h"

#include <sys/stat.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "components/vdatastorelib/vdatastorelib.h"
#include "components/veventlib/veventlib.h"
#include "components/vitemslib/vitemslib.h"
#include "qlib/qcom/comcall.h"
#include "qlib/qutilitylib/qcomutilities.h"
#include "qlib/qutilitylib/qexception.h"
#include "qlib/qutilitylib/qstring.h"
#include "tests/qlib/qsys/testsupport.h"
#include "tests/vtranscodeserver/veventrecorder.h"
#include "tests/vtranscodeserver/vscriptedtranscoder.h"
#include "tests/vtranscodeserver/vtesttranscodeitem.h"
#include "vtranscodeserver/vtranscodeserviceobj.h"

namespace {

using namespace std::chrono_literals;

std::wstring Wide(const std::string& text) {
    return CQStringHelper::MultiByteToString(text);
}

CComPtr<IVProperties> PropertiesOf(IVItem* item) {
    return ComCall(item, &IVItem::GetProperties);
}

VARIANT Value(IVItem* item, const wchar_t* name, const wchar_t* uri) {
    return ComCall(PropertiesOf(item).Get(), &IVProperties::GetValue, BSTR(name), BSTR(uri));
}

class TranscodeHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        CVItemsLib::RegisterClasses();
        CVEventLib::RegisterClasses();
        CVDataStoreLib::RegisterClasses();
        for (const char* folder : {"/media", "/other"}) {
            ASSERT_EQ(mkdir((m_folder.Path() + folder).c_str(), 0700), 0);
        }
        qsys::test::WriteFile(m_folder.Path() + "/media/clip.avi", "not really a clip");
        qsys::test::WriteFile(m_folder.Path() + "/other/clip.avi", "another clip");
    }

    void TearDown() override { CScriptedTranscoder::Release(k_transcodeCompleted); }

    CComPtr<IVTranscodeHandler> NewHandler(const std::string& source, const std::string& result) {
        CComPtr<IVTranscodeHandler> handler = CQCOMUtils::CreateObject<IVTranscodeHandler>(
            CLSID_VTranscodeHandler, L"VTranscodeServerLib::VTranscodeHandler");
        EXPECT_EQ(handler->Init(Wide(Store(source)), Wide(Store(result))), S_OK);
        return handler;
    }
    std::string Store(const std::string& name) const { return m_folder.Path() + "/" + name; }

    // A plain file item that asks for format 9.
    static CComPtr<IVItem> FileItem(const std::string& path, bool withFormat = true) {
        CComPtr<IVItem> item =
            CQCOMUtils::CreateObject<IVItem>(CLSID_VItem, k_itemDisplayName);
        EXPECT_EQ(item->SetClassName(BSTR(L"File")), S_OK);
        const CComPtr<IVProperties> properties = PropertiesOf(item);
        EXPECT_EQ(properties->SetValueByName(BSTR(L"URI"), VARIANT(Wide(path)),
                                             EVPropertyKind_Metadata),
                  S_OK);
        if (withFormat) {
            EXPECT_EQ(properties->SetValue(BSTR(L"TranscodeToFormat"), BSTR(k_transcodeNamespace),
                                           VARIANT(LONG{9})),
                      S_OK);
        }
        return item;
    }

    static CComPtr<IVItem> Queue(IVTranscodeHandler* handler, IVItem* item) {
        CComPtr<IDispatch> result;
        const HRESULT hr = handler->TranscodeItemIfNeeded(item, BSTR(L"KA-320"),
                                                          EVTranscodePriority_Normal, 0, &result);
        EXPECT_EQ(hr, S_OK) << CQStringHelper::StringToMultiByte(
            FAILED(hr) ? CQException::FromComError(_com_error(hr, GetErrorInfo())).GetDescription()
                       : L"");
        CComPtr<IVItem> queued;
        EXPECT_EQ(result.QueryInterface(&queued), S_OK);
        return queued;
    }

    static LONG JobOf(IVItem* item) {
        VARIANT id = ComCall(PropertiesOf(item).Get(), &IVProperties::GetValueByName,
                             BSTR(L"TranscodingJobID"), LONG{EVPropertyKind_Store});
        return id.Vt() == VT_I4 ? id.Get<LONG>() : -1;
    }
    static std::wstring OutputOf(IVItem* item) {
        VARIANT path = ComCall(PropertiesOf(item).Get(), &IVProperties::GetValueByName,
                               BSTR(L"TranscodeToPath"), LONG{EVPropertyKind_Store});
        return path.Vt() == VT_BSTR ? path.Get<BSTR>() : L"";
    }

    // A datastore opened on `folder`, as another program would open it.
    static CComPtr<IVDataStore> OpenStore(const std::wstring& folder) {
        CComPtr<IVDataStore> store =
            CQCOMUtils::CreateObject<IVDataStore>(CLSID_VDataStore, k_dataStoreDisplayName);
        EXPECT_EQ(store->Open(VARIANT(folder), VARIANT::Missing(), VARIANT::Missing()), S_OK);
        return store;
    }
    static LONG Count(IVDataStore* store, const wchar_t* className) {
        return ComCall(store, &IVDataStore::Count, BSTR(className));
    }
    std::wstring QueueFolder() const {
        return Wide(m_folder.Path()) + L"/" + CVTranscodeHandler::k_queueFolder;
    }

    static void Script(SJobScript job) {
        CScriptedTranscoder::SScript& script = CScriptedTranscoder::Script();
        const std::lock_guard lock(script.lock);
        script.jobs.push_back(std::move(job));
    }

    static bool WaitForCompletion(IVTranscodeHandler* handler) {
        auto wait = std::async(std::launch::async, [handler] { return handler->WaitForCompletion(); });
        return wait.wait_for(k_patience) == std::future_status::ready && wait.get() == S_OK;
    }

    qsys::test::TemporaryFolder m_folder;
    qsys::test::ScopedEnvironment m_dataHome{"XDG_DATA_HOME", m_folder.Path()};
    qsys::test::ScopedEnvironment m_registry{"ZELTO_REGISTRY_DIR", m_folder.Path() + "/registry"};
    CTestTranscodeItemClass m_itemClass;
    CScriptedTranscoderClass m_transcoderClass;
    const CComClassRegistration m_service = CVTranscodeService::RegisterClass();
    const CComClassRegistration m_handlerClass = CVTranscodeHandler::RegisterClass();
};

TEST_F(TranscodeHandlerTest, ACompletedJobIsStoredRelatedBothWaysAndEndsTheWait) {
    const CComPtr<IVTranscodeHandler> handler = NewHandler("source", "result");
    const CComPtr<CEventRecorder> recorder = CEventRecorder::AdviseOn(handler);
    const CComPtr<IVItem> queued = Queue(handler, FileItem(m_folder.Path() + "/media/clip.avi"));
    const LONG job = JobOf(queued);
    ASSERT_GT(job, 0);
    EXPECT_TRUE(OutputOf(queued).starts_with(Wide(m_folder.Path())));
    ASSERT_TRUE(WaitForCompletion(handler));
    ASSERT_TRUE(recorder->WaitFor(EVTranscodeServiceEvent_Completed, job));

    const CComPtr<IVDataStore> result = OpenStore(Wide(Store("result")));
    const CComPtr<IVDataStore> source = OpenStore(Wide(Store("source")));
    const CComPtr<IVEnum> stored = ComCall(result.Get(), &IVDataStore::Query, VARIANT::Missing(),
                                           BSTR(L"File"), BSTR(L""));
    ASSERT_EQ(ComCall(stored.Get(), &IVEnum::GetCount), 1);
    CComPtr<IVItem> item;
    ASSERT_EQ(CComPtr<IUnknown>(ComCall(stored.Get(), &IVEnum::GetItem, VARIANT(LONG{0})).Unknown())
                  .QueryInterface(&item),
              S_OK);
    EXPECT_EQ(Value(item, L"Transcoded", k_transcodeNamespace), VARIANT(VARIANT_TRUE));
    EXPECT_EQ(Value(item, L"URI", k_metadataNamespace), VARIANT(OutputOf(queued)));
    EXPECT_EQ(Value(item, L"TranscodingJobID", k_storeNamespace).Vt(), VT_EMPTY);
    EXPECT_NE(ComCall(item.Get(), &IVItem::GetGUID), ComCall(queued.Get(), &IVItem::GetGUID));

    const CComPtr<IVEnum> forward = ComCall(source.Get(), &IVDataStore::Query, VARIANT::Missing(),
                                            BSTR(L"Item"), BSTR(L"Item.Relation = \"transcoded\""));
    EXPECT_EQ(ComCall(forward.Get(), &IVEnum::GetCount), 1);
    const CComPtr<IVEnum> back = ComCall(result.Get(), &IVDataStore::Query, VARIANT::Missing(),
                                         BSTR(L"Item"), BSTR(L"Item.Relation = \"original\""));
    EXPECT_EQ(ComCall(back.Get(), &IVEnum::GetCount), 1);
    EXPECT_EQ(Count(OpenStore(QueueFolder()), L"Item"), 0);

    for (const SEvent& event : recorder->Events()) {
        if (event.Type() == EVTranscodeServiceEvent_Completed && event.ItemId() == job) {
            EXPECT_TRUE(event.Has(L"SourceItem"));
            EXPECT_TRUE(event.Has(L"TranscodedItem"));
        }
    }
}

TEST_F(TranscodeHandlerTest, AFailedJobLeavesNoEntryNoResultAndNoPlaceholder) {
    Script({.result = 5});
    const CComPtr<IVTranscodeHandler> handler = NewHandler("source", "result");
    const CComPtr<IVItem> queued = Queue(handler, FileItem(m_folder.Path() + "/media/clip.avi"));
    ASSERT_GT(JobOf(queued), 0);
    ASSERT_TRUE(WaitForCompletion(handler));
    EXPECT_EQ(Count(OpenStore(Wide(Store("result"))), L"File"), 0);
    EXPECT_EQ(Count(OpenStore(QueueFolder()), L"Item"), 0);
    struct stat status {};
    EXPECT_NE(stat(CQStringHelper::StringToMultiByte(OutputOf(queued)).c_str(), &status), 0);
}

TEST_F(TranscodeHandlerTest, OutputNamesAreReservedAndTheSameItemQueuedTwiceKeepsOneEntry) {
    Script({.hold = true});
    const CComPtr<IVTranscodeHandler> handler = NewHandler("store", "store");
    const CComPtr<IVItem> first = Queue(handler, FileItem(m_folder.Path() + "/media/clip.avi"));
    const CComPtr<IVItem> second = Queue(handler, FileItem(m_folder.Path() + "/other/clip.avi"));
    EXPECT_NE(OutputOf(first), OutputOf(second));
    EXPECT_EQ(Count(OpenStore(QueueFolder()), L"Item"), 2);

    const CComPtr<IVItem> again = Queue(handler, first);
    EXPECT_GT(JobOf(again), JobOf(first));
    const CComPtr<IVEnum> entries =
        ComCall(OpenStore(QueueFolder()).Get(), &IVDataStore::Query, VARIANT::Missing(),
                BSTR(L"Item"),
                BSTR(CQStringHelper::Format(L"Item.GUID = \"%s\"",
                                            ComCall(first.Get(), &IVItem::GetGUID))));
    ASSERT_EQ(ComCall(entries.Get(), &IVEnum::GetCount), 1);

    struct stat folder {};
    ASSERT_EQ(stat(CQStringHelper::StringToMultiByte(QueueFolder()).c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    ASSERT_TRUE(CScriptedTranscoder::WaitUntilHolding());
    CScriptedTranscoder::Release(k_transcodeCompleted);
    ASSERT_TRUE(WaitForCompletion(handler));
}

TEST_F(TranscodeHandlerTest, TwoHandlersStoreOnlyTheirOwnResults) {
    const CComPtr<IVTranscodeHandler> one = NewHandler("one", "one-results");
    const CComPtr<IVTranscodeHandler> two = NewHandler("two", "two-results");
    Queue(one, FileItem(m_folder.Path() + "/media/clip.avi"));
    Queue(two, FileItem(m_folder.Path() + "/other/clip.avi"));
    Queue(two, FileItem(m_folder.Path() + "/media/clip.avi"));
    ASSERT_TRUE(WaitForCompletion(one));
    ASSERT_TRUE(WaitForCompletion(two));
    EXPECT_EQ(Count(OpenStore(Wide(Store("one-results"))), L"File"), 1);
    EXPECT_EQ(Count(OpenStore(Wide(Store("two-results"))), L"File"), 2);
}

TEST_F(TranscodeHandlerTest, RequestsAreCheckedAndAnIdleHandlerDoesNotWait) {
    const CComPtr<IVTranscodeHandler> uninitialised = CQCOMUtils::CreateObject<IVTranscodeHandler>(
        CLSID_VTranscodeHandler, L"VTranscodeServerLib::VTranscodeHandler");
    CComPtr<IDispatch> result;
    EXPECT_EQ(uninitialised->TranscodeItemIfNeeded(FileItem(m_folder.Path() + "/media/clip.avi"),
                                                   BSTR(L""), 2, 0, &result),
              E_QEXCEPTION);
    EXPECT_TRUE(WaitForCompletion(uninitialised));

    const CComPtr<IVTranscodeHandler> handler = NewHandler("source", "result");
    CComPtr<IVEnum> notAnItem = ComCall(OpenStore(Wide(Store("source"))).Get(),
                                        &IVDataStore::Query, VARIANT::Missing(), BSTR(L"File"),
                                        BSTR(L""));
    CComPtr<IVDataStore> store = OpenStore(Wide(Store("other")));
    EXPECT_EQ(handler->TranscodeItemIfNeeded(store, BSTR(L""), 2, 0, &result), E_QEXCEPTION);
    const std::optional<ErrorInfo> error = GetErrorInfo();
    ASSERT_TRUE(error);
    EXPECT_NE(error->description.find(L"Invalid function parameter."), std::wstring::npos);

    // An enumeration yields an enumeration of the handled items; a missing file is returned
    // as it is.
    CComPtr<IVEnum> items = CQCOMUtils::CreateObject<IVEnum>(CLSID_VEnum, k_enumDisplayName);
    for (const char* name : {"/media/clip.avi", "/nothing.avi", "/other/clip.avi"}) {
        ASSERT_EQ(items->Append(VARIANT(static_cast<IUnknown*>(
                                    FileItem(m_folder.Path() + name).Get())),
                                VARIANT::Missing()),
                  S_OK);
    }
    ASSERT_EQ(handler->TranscodeItemIfNeeded(items, BSTR(L"KA-320"), 2, 0, &result), S_OK);
    CComPtr<IVEnum> handled;
    ASSERT_EQ(result.QueryInterface(&handled), S_OK);
    EXPECT_EQ(ComCall(handled.Get(), &IVEnum::GetCount), 3);
    EXPECT_TRUE(WaitForCompletion(handler));
}

}  // namespace
