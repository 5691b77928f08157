// The datastore object as its callers use it: items round trip, names and folders, schema and
// types, failures through E_QEXCEPTION, and two datastore objects or processes at once.
#include "components/vdatastorelib/vdatastore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

#include "components/vdatastorelib/vdatastorelib.h"
#include "components/vdatastorelib/vdsconnection.h"
#include "components/vitemslib/vitemslib.h"
#include "qlib/qcom/comcall.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qcomutilities.h"
#include "qlib/qutilitylib/qfileutilities.h"
#include "qlib/qutilitylib/qresource.h"
#include "qlib/qutilitylib/qvariant.h"
#include "tests/components/vdatastorelib/vdstestsupport.h"
#include "tests/qlib/qsys/testsupport.h"
#include "tests/qlib/qutilitylib/filetestsupport.h"

using namespace vdatastorelib::test;
using qutilitylib::test::FileTestFolder;
using qutilitylib::test::WriteBytes;

namespace {

// Every value type of the bus contract, each under its own name.
std::vector<std::pair<std::wstring, VARIANT>> EveryValue() {
    SAFEARRAY integers(VT_I4, 2, 1);
    integers.PutElement(2, VARIANT(-9));
    SAFEARRAY mixed(VT_VARIANT);
    mixed.Append(VARIANT(L"text"));
    mixed.Append(VARIANT(2.5));
    mixed.Append(VARIANT::Null());
    return {
        {L"Empty", VARIANT()},
        {L"Null", VARIANT::Null()},
        {L"I2", VARIANT(int16_t{-2})},
        {L"I4", VARIANT(int32_t{-4})},
        {L"Int", VARIANT::Int(7)},
        {L"UI4", VARIANT(uint32_t{4000000000u})},
        {L"UInt", VARIANT::UInt(8)},
        {L"I8", VARIANT(int64_t{-8000000000})},
        {L"UI8", VARIANT(uint64_t{18000000000000000000u})},
        {L"R4", VARIANT(0.25f)},
        {L"R8", VARIANT(29.97)},
        {L"Date", VARIANT::Date(45123.5)},
        {L"Bool", VARIANT(true)},
        {L"BSTR", VARIANT(L"caf\u00e9 \U0001F600")},
        {L"UI1", VARIANT(uint8_t{255})},
        {L"UI2", VARIANT(uint16_t{65535})},
        {L"Error", VARIANT::Missing()},
        {L"Array", VARIANT(integers)},
        {L"Mixed", VARIANT(mixed)},
    };
}

}  // namespace

TEST_F(DataStoreTest, ItemsKeepEveryPropertyTypeNamespaceKindAndGuid) {
    CComPtr<IVDataStore> store = OpenStore(Folder(L"media"));
    CComPtr<IVItem> item = NewItem(L"Video");
    CComPtr<IVProperties> properties = ComCall(item.Get(), &IVItem::GetProperties);
    for (const auto& [name, value] : EveryValue()) {
        ComCall(properties.Get(), &IVProperties::SetValue, name, BSTR(L"urn:test"), value);
    }
    // One name in three namespaces, and kinds given by name.
    ComCall(properties.Get(), &IVProperties::SetValue, BSTR(L"Title"), BSTR(), VARIANT(L"plain"));
    ComCall(properties.Get(), &IVProperties::SetValue, BSTR(L"Title"), BSTR(k_metadataNamespace),
            VARIANT(L"meta"));
    ComCall(properties.Get(), &IVProperties::SetValue, BSTR(L"Title"), BSTR(L"urn:other"),
            VARIANT(3));
    ComCall(properties.Get(), &IVProperties::SetValueByName, BSTR(L"TranscodingJobID"), VARIANT(12),
            LONG{EVPropertyKind_Store});
    // Nested: an item holding an item, and an enumeration of two items.
    CComPtr<IVItem> inner = NewItem(L"Image");
    SetText(inner, L"URI", L"/pictures/cover.jpg");
    CComPtr<IVItem> innermost = NewItem(L"File");
    ComCall(ComCall(inner.Get(), &IVItem::GetProperties).Get(), &IVProperties::SetValue,
            BSTR(L"Deeper"), BSTR(), VARIANT(static_cast<IUnknown*>(innermost.Get())));
    ComCall(properties.Get(), &IVProperties::SetValue, BSTR(L"Cover"), BSTR(), VARIANT(inner));
    CComPtr<IVEnum> pair = CQCOMUtils::CreateObject<IVEnum>(CLSID_VEnum);
    ComCall(pair.Get(), &IVEnum::Append, VARIANT(NewItem(L"Audio")), VARIANT::Missing());
    ComCall(pair.Get(), &IVEnum::Append, VARIANT(NewItem(L"Audio")), VARIANT::Missing());
    ComCall(properties.Get(), &IVProperties::SetValue, BSTR(L"Tracks"), BSTR(), VARIANT(pair));
    ComCall(store.Get(), &IVDataStore::Add, VARIANT::Missing(), item.Get());
    EXPECT_EQ(ComCall(item.Get(), &IVItem::GetDataStoreName), Folder(L"media"));

    const std::vector<CComPtr<IVItem>> found = QueryItems(store, L"Item", L"");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(Describe(found[0]), Describe(item));
    EXPECT_EQ(ComCall(found[0].Get(), &IVItem::GetGUID), ComCall(item.Get(), &IVItem::GetGUID));
    EXPECT_EQ(ComCall(found[0].Get(), &IVItem::GetDataStoreName), Folder(L"media"));
    CComPtr<IVProperties> back = ComCall(found[0].Get(), &IVItem::GetProperties);
    for (const auto& [name, value] : EveryValue()) {
        const VARIANT read = ComCall(back.Get(), &IVProperties::GetValue, name, BSTR(L"urn:test"));
        EXPECT_EQ(read.Vt(), value.Vt()) << qsys::ToUtf8(name);
        EXPECT_EQ(read, value) << qsys::ToUtf8(name);
    }
    EXPECT_EQ(
        ComCall(back.Get(), &IVProperties::GetValue, BSTR(L"Title"), BSTR(k_metadataNamespace)),
        VARIANT(L"meta"));
    EXPECT_EQ(ComCall(back.Get(), &IVProperties::GetValue, BSTR(L"Title"), BSTR()),
              VARIANT(L"plain"));
    EXPECT_EQ(ComCall(back.Get(), &IVProperties::GetValueByName, BSTR(L"TranscodingJobID"),
                      LONG{EVPropertyKind_Store}),
              VARIANT(12));
}

TEST_F(DataStoreTest, QueriesAndCountsThroughTheObject) {
    CComPtr<IVDataStore> store = OpenStore(Folder(L"media"));
    CComPtr<IVItem> quoted = NewItem(L"File");
    SetText(quoted, L"URI", L"/music/\"Best\" of \\ 'OR' 1=1 --.mp3");
    CComPtr<IVItem> other = NewItem(L"File");
    SetText(other, L"URI", L"/music/other.mp3");
    ComCall(store.Get(), &IVDataStore::Add, VARIANT::Missing(), quoted.Get());
    ComCall(store.Get(), &IVDataStore::Add, VARIANT::Missing(), other.Get());
    ComCall(store.Get(), &IVDataStore::Add, VARIANT::Missing(), NewItem(L"Video").Get());
    EXPECT_EQ(ComCall(store.Get(), &IVDataStore::Count, BSTR(L"File")), 2);
    EXPECT_EQ(ComCall(store.Get(), &IVDataStore::Count, BSTR(L"Item")), 3);
    const auto byUri =
        QueryItems(store, L"File", LR"(File.URI = "/music/\"Best\" of \\ 'OR' 1=1 --.mp3")");
    ASSERT_EQ(byUri.size(), 1u);
    EXPECT_EQ(ComCall(byUri[0].Get(), &IVItem::GetGUID), ComCall(quoted.Get(), &IVItem::GetGUID));
    const std::wstring guid = ComCall(other.Get(), &IVItem::GetGUID);
    EXPECT_EQ(QueryItems(store, L"Item", L"Item.GUID = \"" + guid + L"\"").size(), 1u);

    const auto error = ComRaised([&] {
        (void)ComCall(store.Get(), &IVDataStore::Query, VARIANT::Missing(), BSTR(L"Item"),
                      BSTR(L"Item.GUID = \"x\" OR 1=1"));
    });
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->HasErrorCode(VDSERR_INVALID_FILTER));

    CComPtr<IVEnum> doomed = CQCOMUtils::CreateObject<IVEnum>(CLSID_VEnum);
    ComCall(doomed.Get(), &IVEnum::Append, VARIANT(quoted), VARIANT::Missing());
    ComCall(doomed.Get(), &IVEnum::Append, VARIANT(NewItem(L"File")), VARIANT::Missing());
    ComCall(store.Get(), &IVDataStore::Delete, doomed.Get());
    EXPECT_EQ(ComCall(store.Get(), &IVDataStore::Count, BSTR(L"File")), 1);
}

TEST_F(DataStoreTest, NamesLiveUnderTheUsersDataFolderAndPathsAreFolders) {
    qsys::test::ScopedEnvironment data("XDG_DATA_HOME", qsys::ToUtf8(Folder(L"data")));
    CComPtr<IVDataStore> named = OpenStore(L"Library");
    EXPECT_TRUE(std::filesystem::exists(
        qsys::ToUtf8(Folder(L"data/Zelto/Datastores/Library/datastore.db"))));
    CComPtr<IVItem> item = NewItem(L"File");
    ComCall(named.Get(), &IVDataStore::Add, VARIANT::Missing(), item.Get());
    EXPECT_EQ(ComCall(item.Get(), &IVItem::GetDataStoreName), L"Library");
    // The same folder by its path.
    CComPtr<IVDataStore> byPath = OpenStore(Folder(L"data/Zelto/Datastores/Library"));
    EXPECT_EQ(ComCall(byPath.Get(), &IVDataStore::Count, BSTR(L"File")), 1);

    for (const wchar_t* bad : {L"", L"..", L".", L"a\\b", L"tab\there"}) {
        const auto error = ComRaised([&] { OpenStore(bad); });
        ASSERT_TRUE(error) << qsys::ToUtf8(bad);
        EXPECT_TRUE(error->HasErrorCode(VDSERR_INVALID_LOCATION));
    }
    const auto closed = ComRaised([&] {
        ComCall(named.Get(), &IVDataStore::Close);
        (void)ComCall(named.Get(), &IVDataStore::Count, BSTR(L"Item"));
    });
    ASSERT_TRUE(closed);
    EXPECT_TRUE(closed->HasErrorCode(VDSERR_NOT_OPEN));
}

TEST_F(DataStoreTest, TheQueueSchemaResourceMakesQueueEntriesAnAspect) {
    CComPtr<IVDataStore> store = OpenStore(Folder(L"queue"));
    CComPtr<IVDSSchema> schema = ComCall(store.Get(), &IVDataStore::GetSchema);
    ComCall(schema.Get(), &IVDSSchema::RegisterSchema,
            VARIANT(CQResource::LoadTextResource(qsys::ResourceTable::Process(), 202)));
    ComCall(schema.Get(), &IVDSSchema::RegisterSchema,
            CQVariant::StringVectorToVariant({k_transcodeNamespace}));
    const std::wstring xml = ComCall(schema.Get(), &IVDSSchema::GetSchemaXML);
    EXPECT_NE(xml.find(L"TranscodeQueueObj"), std::wstring::npos);
    EXPECT_NE(xml.find(k_transcodeNamespace), std::wstring::npos);

    // A queue entry as the handler records it: the job properties set by name with kind 14.
    CComPtr<IVItem> entry = NewItem(L"Video");
    SetText(entry, L"URI", L"/videos/clip.avi");
    CComPtr<IVProperties> properties = ComCall(entry.Get(), &IVItem::GetProperties);
    ComCall(properties.Get(), &IVProperties::SetValueByName, BSTR(L"TranscodingJobID"), VARIANT(41),
            LONG{EVPropertyKind_Store});
    ComCall(properties.Get(), &IVProperties::SetValueByName, BSTR(L"TranscodeToPath"),
            VARIANT(L"/out/clip.mp4"), LONG{EVPropertyKind_Store});
    ComCall(store.Get(), &IVDataStore::Add, VARIANT::Missing(), entry.Get());
    ComCall(store.Get(), &IVDataStore::Add, VARIANT::Missing(), NewItem(L"Video").Get());

    EXPECT_EQ(ComCall(store.Get(), &IVDataStore::Count, BSTR(L"TranscodeQueueObj")), 1);
    EXPECT_EQ(
        QueryItems(store, L"TranscodeQueueObj", L"TranscodeQueueObj.TranscodingJobID=41").size(),
        1u);
    EXPECT_TRUE(
        QueryItems(store, L"TranscodeQueueObj", L"TranscodeQueueObj.TranscodingJobID=42").empty());

    CComPtr<IVDSTypes> types = ComCall(store.Get(), &IVDataStore::GetTypes);
    EXPECT_EQ(ComCall(types.Get(), &IVDSTypes::IsOfType, BSTR(L"TranscodeQueueObj"), entry.Get()),
              VARIANT_TRUE);
    EXPECT_EQ(ComCall(types.Get(), &IVDSTypes::IsOfType, BSTR(L"File"), entry.Get()),
              VARIANT_FALSE);
    EXPECT_EQ(ComCall(types.Get(), &IVDSTypes::IsOfType, BSTR(L"File"), NewItem(L"File").Get()),
              VARIANT_TRUE);

    const auto error = ComRaised([&] {
        ComCall(schema.Get(), &IVDSSchema::RegisterSchema, VARIANT(L"<schema><table/></schema>"));
    });
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->HasErrorCode(VDSERR_INVALID_SCHEMA));
}

TEST_F(DataStoreTest, AnUnusableDatabaseAnswers51009AndDeleteAndRecreateWorks) {
    const std::wstring folder = Folder(L"ZeltoTranscodeQueueDS");
    std::filesystem::create_directories(qsys::ToUtf8(folder));
    WriteBytes(qsys::ToUtf8(folder) + "/datastore.db", std::string(4096, '\0'));
    CComPtr<IVDataStore> store = CQCOMUtils::CreateObject<IVDataStore>(CLSID_VDataStore);
    // The handler's loop: at most two attempts, deleting the folder after a 51009.
    int attempts = 0;
    for (bool opened = false; !opened && attempts < 2; ++attempts) {
        const auto error = ComRaised([&] {
            ComCall(store.Get(), &IVDataStore::Open, VARIANT(folder.c_str()), VARIANT::Missing(),
                    VARIANT::Missing());
        });
        opened = !error;
        if (error) {
            ASSERT_TRUE(error->HasErrorCode(VDSERR_DATASTORE_UNUSABLE))
                << qsys::ToUtf8(error->GetXML());
            CQFileUtilities::DeleteDirectory(folder);
        }
    }
    EXPECT_EQ(attempts, 2);
    EXPECT_EQ(ComCall(store.Get(), &IVDataStore::Count, BSTR(L"Item")), 0);
}

TEST_F(DataStoreTest, TwoObjectsOnOneDatastoreReadDuringAWriteAndAWriterWaitsThenFails) {
    CVDSConnection::SetBusyTimeout(300);
    CComPtr<IVDataStore> writer = OpenStore(Folder(L"shared"));
    CComPtr<IVDataStore> other = OpenStore(Folder(L"shared"));
    CVDSConnection::SetBusyTimeout(CVDSConnection::k_defaultBusyTimeoutMs);
    ComCall(writer.Get(), &IVDataStore::Add, VARIANT::Missing(), NewItem(L"File").Get());

    CComPtr<IVDSTransaction> transaction;
    ASSERT_EQ(writer.QueryInterface(&transaction), S_OK);
    ComCall(transaction.Get(), &IVDSTransaction::BeginTransaction);
    ComCall(writer.Get(), &IVDataStore::Add, VARIANT::Missing(), NewItem(L"File").Get());
    // A reader sees the last commit; a second writer gives up after its busy timeout.
    EXPECT_EQ(ComCall(other.Get(), &IVDataStore::Count, BSTR(L"File")), 1);
    const auto started = std::chrono::steady_clock::now();
    const auto error = ComRaised([&] {
        ComCall(other.Get(), &IVDataStore::Add, VARIANT::Missing(), NewItem(L"File").Get());
    });
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->HasErrorCode(VDSERR_DATASTORE_BUSY));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(250));
    ComCall(transaction.Get(), &IVDSTransaction::CommitTransaction);
    EXPECT_EQ(ComCall(other.Get(), &IVDataStore::Count, BSTR(L"File")), 2);
    ComCall(other.Get(), &IVDataStore::Add, VARIANT::Missing(), NewItem(L"File").Get());
    EXPECT_EQ(ComCall(writer.Get(), &IVDataStore::Count, BSTR(L"File")), 3);
}

TEST_F(DataStoreTest, AnotherProcessSeesWholeTransactionsOnly) {
    constexpr int k_items = 1000;
    constexpr int k_perTransaction = 10;
    const std::wstring folder = Folder(L"twoprocesses");
    CComPtr<IVDataStore> reader = OpenStore(folder);
    const pid_t child = qsys::test::StartChild([&] {
        CComPtr<IVDataStore> writer = OpenStore(folder);
        CComPtr<IVDSTransaction> transaction;
        if (writer.QueryInterface(&transaction) != S_OK) {
            return 1;
        }
        for (int index = 0; index < k_items; index += k_perTransaction) {
            ComCall(transaction.Get(), &IVDSTransaction::BeginTransaction);
            for (int item = 0; item < k_perTransaction; ++item) {
                ComCall(writer.Get(), &IVDataStore::Add, VARIANT::Missing(),
                        NewItem(L"File").Get());
            }
            ComCall(transaction.Get(), &IVDSTransaction::CommitTransaction);
        }
        return 0;
    });
    std::set<LONG> seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    LONG count = 0;
    while (count < k_items && std::chrono::steady_clock::now() < deadline) {
        count = ComCall(reader.Get(), &IVDataStore::Count, BSTR(L"File"));
        seen.insert(count);
    }
    EXPECT_EQ(qsys::test::WaitChild(child), 0);
    EXPECT_EQ(ComCall(reader.Get(), &IVDataStore::Count, BSTR(L"File")), k_items);
    for (LONG value : seen) {
        EXPECT_EQ(value % k_perTransaction, 0) << value;
    }
    EXPECT_GT(seen.size(), 2u) << "the reader never saw the writer at work";
}

TEST_F(DataStoreTest, OneObjectServesSeveralThreadsAtOnce) {
    constexpr int k_threads = 4;
    constexpr int k_itemsEach = 25;
    CComPtr<IVDataStore> store = OpenStore(Folder(L"threads"));
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int thread = 0; thread < k_threads; ++thread) {
        threads.emplace_back([&, thread] {
            const auto error = ComRaised([&] {
                for (int index = 0; index < k_itemsEach; ++index) {
                    CComPtr<IVItem> item = NewItem(L"File");
                    SetText(item, L"Owner", std::to_wstring(thread));
                    ComCall(store.Get(), &IVDataStore::Add, VARIANT::Missing(), item.Get());
                    (void)QueryItems(store, L"File",
                                     L"File.Owner = \"" + std::to_wstring(thread) + L"\"");
                }
            });
            failures += error ? 1 : 0;
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(ComCall(store.Get(), &IVDataStore::Count, BSTR(L"File")), k_threads * k_itemsEach);
    EXPECT_EQ(QueryItems(store, L"File", L"File.Owner = \"2\"").size(), size_t{k_itemsEach});
}

TEST_F(DataStoreTest, AnItemHoldingItselfIsRefusedAndNothingIsStored) {
    CComPtr<IVDataStore> store = OpenStore(Folder(L"cycle"));
    CComPtr<IVItem> item = NewItem(L"File");
    CComPtr<IVProperties> properties = ComCall(item.Get(), &IVItem::GetProperties);
    ComCall(properties.Get(), &IVProperties::SetValue, BSTR(L"Self"), BSTR(), VARIANT(item));
    const auto error =
        ComRaised([&] { ComCall(store.Get(), &IVDataStore::Add, VARIANT::Missing(), item.Get()); });
    // Break the cycle so that the item can go.
    ComCall(properties.Get(), &IVProperties::RemoveValue, BSTR(L"Self"), BSTR());
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->HasErrorCode(VDSERR_VALUE_NOT_STORABLE));
    EXPECT_NE(error->GetXML().find(L"Self"), std::wstring::npos);
    EXPECT_EQ(ComCall(store.Get(), &IVDataStore::Count, BSTR(L"Item")), 0);
}
