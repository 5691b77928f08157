// The SQL layer on records: storing and finding, the filters against hostile values, classes
// and aspects, transactions, and damaged or foreign database files.
#include "components/vdatastorelib/vdsstore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "components/vdatastorelib/vdatastorelib.h"
#include "qlib/qsys/textcodec.h"
#include "tests/qlib/qutilitylib/filetestsupport.h"
#include "vtranscoder/vitemsinterfaces.h"

using qutilitylib::test::FileTestFolder;
using qutilitylib::test::Raised;
using qutilitylib::test::ReadBytes;
using qutilitylib::test::RealEntries;
using qutilitylib::test::UnprivilegedScope;
using qutilitylib::test::WriteBytes;

namespace {

SVDSItemRecord Record(const std::wstring& guid, const std::wstring& className,
                      std::vector<SVDSProperty> properties = {}) {
    return {guid, className, L"", std::move(properties)};
}

SVDSProperty Text(const std::wstring& name, const std::wstring& value,
                  const std::wstring& uri = L"") {
    return {name, uri, KindOfNamespace(uri), VARIANT(value.c_str())};
}

SVDSProperty Integer(const std::wstring& name, int32_t value, const std::wstring& uri = L"") {
    return {name, uri, KindOfNamespace(uri), VARIANT(value)};
}

std::vector<std::wstring> Guids(const std::vector<SVDSItemRecord>& records) {
    std::vector<std::wstring> guids;
    for (const SVDSItemRecord& record : records) {
        guids.push_back(record.guid);
    }
    return guids;
}

SVDSSchema QueueSchema() {
    return CVDSSchemaDefinition::Parse(
        LR"(<schema namespace="http://www.zelto.com/Ve2e/Transcoding#store">
              <schematype name="TranscodeQueueObj">
                <inheritance><aspectof name="Item"/></inheritance>
                <property name="TranscodingJobID" type="int"/>
                <property name="TranscodeToPath" type="string"/>
              </schematype>
            </schema>)");
}

class StoreTest : public ::testing::Test {
protected:
    std::wstring Folder() const { return m_folder.Wide(L"store"); }
    std::string DatabaseFile() const { return m_folder.Native(L"store/datastore.db"); }

    std::vector<SVDSItemRecord> Query(CVDSStore& store, const std::wstring& className,
                                      const std::wstring& filter) {
        return store.Query(className, CVDSFilter::Parse(filter));
    }

    FileTestFolder m_folder;
};

}  // namespace

TEST_F(StoreTest, KeepsRecordsAcrossReopeningAndReplacesBySameGuid) {
    {
        CVDSStore store(Folder());
        struct stat status {};
        ASSERT_EQ(::stat(qsys::ToUtf8(Folder()).c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0700u);  // a new datastore's folder is private
        store.Add(Record(L"{A}", L"Video", {Text(L"URI", L"/m/a.mp4"), Integer(L"Width", 640)}));
        store.Add(Record(L"{B}", L"Audio", {Text(L"URI", L"/m/b.mp3")}));
        store.Add(Record(L"{a}", L"Video", {Text(L"URI", L"/m/a2.mp4")}));  // same GUID
    }
    CVDSStore store(Folder());
    const auto all = Query(store, L"Item", L"");
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].guid, L"{B}");
    EXPECT_EQ(all[1].guid, L"{a}");
    ASSERT_EQ(all[1].properties.size(), 1u);
    EXPECT_EQ(all[1].properties[0].value, VARIANT(L"/m/a2.mp4"));
    EXPECT_EQ(store.Count(L"Item"), 2);
    EXPECT_EQ(store.Count(L"Video"), 1);
    EXPECT_EQ(store.Count(L"Image"), 0);
    EXPECT_EQ(store.Delete({L"{A}", L"{missing}"}), 1);
    EXPECT_EQ(store.Count(L"Video"), 0);
}

TEST_F(StoreTest, FilterValuesAreDataNeverSql) {
    CVDSStore store(Folder());
    const std::wstring hostile[] = {L"say \"hi\"",
                                    L"C:\\dir\\file",
                                    L"' OR 1=1 --",
                                    L"",
                                    L"caf\u00e9 \u65e5\u672c \U0001F600",
                                    L"x'); DROP TABLE items; --"};
    int index = 0;
    for (const std::wstring& value : hostile) {
        store.Add(Record(L"{" + std::to_wstring(index++) + L"}", L"File", {Text(L"Title", value)}));
    }
    store.Add(Record(L"{other}", L"File", {Text(L"Title", L"plain")}));
    index = 0;
    for (const std::wstring& value : hostile) {
        std::wstring escaped;
        for (wchar_t character : value) {
            if (character == L'"' || character == L'\\') {
                escaped += L'\\';
            }
            escaped += character;
        }
        const auto found = Query(store, L"File", L"File.Title = \"" + escaped + L"\"");
        ASSERT_EQ(Guids(found), std::vector<std::wstring>{L"{" + std::to_wstring(index++) + L"}"})
            << value;
    }
    EXPECT_EQ(store.Count(L"Item"), 7);
    // The value is compared whole: no pattern, no case folding.
    EXPECT_TRUE(Query(store, L"File", L"File.Title = \"PLAIN\"").empty());
    EXPECT_TRUE(Query(store, L"File", L"File.Title = \"%\"").empty());
}

TEST_F(StoreTest, GuidAndIntegerFilters) {
    CVDSStore store(Folder());
    store.Add(Record(L"{5E1}", L"Video", {Integer(L"Width", 640), Text(L"Code", L"640")}));
    store.Add(Record(L"{5E2}", L"Video", {{L"Width", L"", 0, VARIANT(int64_t{640})}}));
    store.Add(Record(L"{5E3}", L"Video", {{L"Width", L"", 0, VARIANT(int16_t{320})}}));
    EXPECT_EQ(Guids(Query(store, L"Item", L"Item.GUID = \"{5e2}\"")),
              std::vector<std::wstring>{L"{5E2}"});
    EXPECT_TRUE(Query(store, L"Item", L"Item.GUID = \"\"").empty());
    EXPECT_EQ(Guids(Query(store, L"Video", L"Video.Width=640")),
              (std::vector<std::wstring>{L"{5E1}", L"{5E2}"}));
    // An integer filter does not match text, nor a quoted filter numbers.
    EXPECT_TRUE(Query(store, L"Video", L"Video.Code=640").empty());
    EXPECT_TRUE(Query(store, L"Video", L"Video.Width = \"640\"").empty());
    // The filter's class selects as well.
    EXPECT_TRUE(Query(store, L"Item", L"Audio.Width=640").empty());
}

TEST_F(StoreTest, AspectsSelectItemsCarryingTheirPropertiesInTheirNamespace) {
    CVDSStore store(Folder());
    store.RegisterSchema(QueueSchema());
    const std::wstring storeNs = k_storeNamespace;
    store.Add(Record(L"{Q1}", L"Video",
                     {Integer(L"TranscodingJobID", 7, storeNs),
                      Text(L"TranscodeToPath", L"/out/a.mp4", storeNs)}));
    store.Add(Record(L"{Q2}", L"Image", {Integer(L"TranscodingJobID", 8, storeNs)}));
    // The same names in another namespace, or emptied, do not make an entry.
    store.Add(Record(L"{Q3}", L"Video",
                     {Integer(L"TranscodingJobID", 7), Text(L"TranscodeToPath", L"/out/c")}));
    store.Add(Record(L"{Q4}", L"Video",
                     {{L"TranscodingJobID", storeNs, EVPropertyKind_Store, VARIANT()},
                      Text(L"TranscodeToPath", L"/out/d", storeNs)}));
    EXPECT_EQ(store.Count(L"TranscodeQueueObj"), 1);
    EXPECT_EQ(Guids(Query(store, L"TranscodeQueueObj", L"TranscodeQueueObj.TranscodingJobID=7")),
              std::vector<std::wstring>{L"{Q1}"});
    EXPECT_TRUE(
        Query(store, L"TranscodeQueueObj", L"TranscodeQueueObj.TranscodingJobID=8").empty());
    EXPECT_TRUE(
        store.IsOfType(L"TranscodeQueueObj", Query(store, L"Item", L"Item.GUID=\"{Q1}\"")[0]));
    EXPECT_FALSE(store.IsOfType(L"TranscodeQueueObj", Record(L"{x}", L"Video")));
    EXPECT_TRUE(store.IsOfType(L"Item", Record(L"{x}", L"Video")));
    EXPECT_TRUE(store.IsOfType(L"File", Record(L"{x}", L"File")));
    EXPECT_FALSE(store.IsOfType(L"File", Record(L"{x}", L"Video")));
    // The schema is kept in the database.
    CVDSStore second(Folder());
    const SVDSSchema schema = second.Schema();
    ASSERT_EQ(schema.types.size(), 1u);
    EXPECT_EQ(schema.types[0].name, L"TranscodeQueueObj");
    EXPECT_TRUE(schema.types[0].IsAspect());
    EXPECT_EQ(second.Count(L"TranscodeQueueObj"), 1);
}

TEST_F(StoreTest, AbortUndoesAndTransactionsNest) {
    CVDSStore store(Folder());
    store.Add(Record(L"{keep}", L"File"));
    store.BeginTransaction();
    store.Add(Record(L"{outer}", L"File"));
    store.BeginTransaction();
    store.Add(Record(L"{inner}", L"File"));
    EXPECT_EQ(store.Delete({L"{keep}"}), 1);
    store.AbortTransaction();  // undoes the inner add and the delete
    EXPECT_EQ(Guids(Query(store, L"Item", L"")),
              (std::vector<std::wstring>{L"{keep}", L"{outer}"}));
    store.BeginTransaction();
    store.Add(Record(L"{inner2}", L"File"));
    store.CommitTransaction();
    EXPECT_EQ(store.TransactionDepth(), 1);
    store.AbortTransaction();  // undoes everything since the outer begin
    EXPECT_EQ(Guids(Query(store, L"Item", L"")), std::vector<std::wstring>{L"{keep}"});

    for (auto end : {&CVDSStore::CommitTransaction, &CVDSStore::AbortTransaction}) {
        const auto error = Raised([&] { (store.*end)(); });
        ASSERT_TRUE(error);
        EXPECT_TRUE(error->HasErrorCode(VDSERR_NO_TRANSACTION));
    }
}

TEST_F(StoreTest, AFailedAddInsideATransactionLeavesNothingOfIt) {
    CVDSStore store(Folder());
    store.BeginTransaction();
    store.Add(Record(L"{first}", L"File"));
    SAFEARRAY deep(VT_VARIANT, 1);
    VARIANT value(deep);
    for (int level = 0; level < 40; ++level) {
        SAFEARRAY outer(VT_VARIANT, 1);
        ASSERT_EQ(outer.PutElement(0, value), S_OK);
        value = VARIANT(std::move(outer));
    }
    const auto error = Raised([&] {
        store.Add(Record(L"{second}", L"File", {{L"Deep", L"", 0, value}}));
    });
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->HasErrorCode(VDSERR_VALUE_NOT_STORABLE));
    store.CommitTransaction();
    EXPECT_EQ(Guids(Query(store, L"Item", L"")), std::vector<std::wstring>{L"{first}"});
}

TEST_F(StoreTest, UnusableFilesAnswer51009) {
    {
        CVDSStore store(Folder());  // a good database of some pages, to truncate below
        store.BeginTransaction();
        for (int index = 0; index < 200; ++index) {
            store.Add(Record(L"{" + std::to_wstring(index) + L"}", L"File",
                             {Text(L"Padding", std::wstring(300, L'p'))}));
        }
        store.CommitTransaction();
    }
    const std::string good = ReadBytes(DatabaseFile());
    ASSERT_GT(good.size(), 16384u);
    const std::pair<const char*, std::string> damaged[] = {
        {"zero-filled", std::string(8192, '\0')},
        {"text", "These are not the bytes of a database.\n"},
        {"truncated", good.substr(0, good.size() / 2)},
    };
    for (const auto& [what, bytes] : damaged) {
        std::filesystem::remove_all(qsys::ToUtf8(Folder()));
        std::filesystem::create_directories(qsys::ToUtf8(Folder()));
        WriteBytes(DatabaseFile(), bytes);
        const auto error = Raised([&] { CVDSStore store(Folder()); });
        ASSERT_TRUE(error) << what;
        EXPECT_TRUE(error->HasErrorCode(VDSERR_DATASTORE_UNUSABLE)) << what << error->GetXML();
        // What the handler does then: delete the folder and open again.
        std::filesystem::remove_all(qsys::ToUtf8(Folder()));
        CVDSStore fresh(Folder());
        EXPECT_EQ(fresh.Count(L"Item"), 0) << what;
    }
}

TEST_F(StoreTest, ForeignAndNewerDatabasesAnswer51009) {
    std::filesystem::create_directories(qsys::ToUtf8(Folder()));
    {
        CVDSConnection foreign(qsys::FromUtf8(DatabaseFile()));
        foreign.Execute("CREATE TABLE songs(title TEXT)");
    }
    auto error = Raised([&] { CVDSStore store(Folder()); });
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->HasErrorCode(VDSERR_DATASTORE_UNUSABLE));

    std::filesystem::remove_all(qsys::ToUtf8(Folder()));
    { CVDSStore store(Folder()); }
    {
        CVDSConnection newer(qsys::FromUtf8(DatabaseFile()));
        newer.Execute("PRAGMA user_version=99");
    }
    error = Raised([&] { CVDSStore store(Folder()); });
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->HasErrorCode(VDSERR_DATASTORE_UNUSABLE));
}

TEST_F(StoreTest, AFolderThatCannotBeWrittenGivesTheSystemErrorWithThePath) {
    const std::string locked = m_folder.Native(L"locked");
    std::filesystem::create_directories(locked);
    ::chmod(locked.c_str(), 0500);
    UnprivilegedScope unprivileged(m_folder);
    for (const std::wstring& folder : {m_folder.Wide(L"locked"), m_folder.Wide(L"locked/below")}) {
        const auto error = Raised([&] { CVDSStore store(folder); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->GetHResult(), static_cast<HRESULT>(0x80070005)) << error->GetXML();
        EXPECT_NE(error->GetXML().find(m_folder.Wide(L"locked")), std::wstring::npos);
    }
}
