// CVDSTransactionHolder on the real datastore: commit only when asked, abort otherwise, nesting
// on one datastore object as the handler's completion does with one store for source and result.
#include "vdatastore/vdstransaction.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "components/vdatastorelib/vdatastorelib.h"
#include "qlib/qcom/comcall.h"
#include "tests/components/vdatastorelib/vdstestsupport.h"

using namespace vdatastorelib::test;

namespace {

LONG Items(IVDataStore* store) {
    return ComCall(store, &IVDataStore::Count, BSTR(L"Item"));
}

void AddNew(IVDataStore* store) {
    ComCall(store, &IVDataStore::Add, VARIANT::Missing(), NewItem(L"File").Get());
}

}  // namespace

class TransactionHolderTest : public DataStoreTest {};

TEST_F(TransactionHolderTest, CommitsOnlyWhenAskedAndAbortsOnDestruction) {
    CComPtr<IVDataStore> store = OpenStore(Folder(L"store"));
    {
        CVDSTransactionHolder transaction(store);
        AddNew(store);
        transaction.CommitTransaction();
        EXPECT_TRUE(transaction.IsDone());
    }
    EXPECT_EQ(Items(store), 1);
    {
        CVDSTransactionHolder transaction(store);
        AddNew(store);
        AddNew(store);
    }
    EXPECT_EQ(Items(store), 1);
    EXPECT_THROW(
        {
            CVDSTransactionHolder transaction(store);
            AddNew(store);
            throw std::runtime_error("a step failed");
        },
        std::runtime_error);
    EXPECT_EQ(Items(store), 1);
}

TEST_F(TransactionHolderTest, HoldersNestOnOneStoreAndTheOuterOneDecides) {
    CComPtr<IVDataStore> shared = OpenStore(Folder(L"shared"));
    CComPtr<IVDataStore> queue = OpenStore(Folder(L"queue"));
    AddNew(queue);
    // Source and result are one store: two holders on it, one on the queue, committed in order.
    {
        CVDSTransactionHolder source(shared);
        CVDSTransactionHolder result(shared);
        CVDSTransactionHolder queueTransaction(queue);
        AddNew(shared);
        AddNew(shared);
        CComPtr<IVEnum> entries =
            ComCall(queue.Get(), &IVDataStore::Query, VARIANT::Missing(), BSTR(L"Item"), BSTR());
        ComCall(queue.Get(), &IVDataStore::Delete, entries.Get());
        source.CommitTransaction();
        result.CommitTransaction();
        queueTransaction.CommitTransaction();
    }
    EXPECT_EQ(Items(shared), 2);
    EXPECT_EQ(Items(queue), 0);
    // A failure before the commits leaves every store as it was.
    EXPECT_THROW(
        {
            CVDSTransactionHolder source(shared);
            CVDSTransactionHolder result(shared);
            AddNew(shared);
            result.CommitTransaction();
            throw std::runtime_error("storing failed");
        },
        std::runtime_error);
    EXPECT_EQ(Items(shared), 2);
}

TEST_F(TransactionHolderTest, FailuresRaiseUnderItsNamesAndTheDestructorSwallows) {
    CComPtr<IVDataStore> unopened = OpenStore(Folder(L"store"));  // opened, then closed below
    ComCall(unopened.Get(), &IVDataStore::Close);
    const auto error = ComRaised([&] { CVDSTransactionHolder transaction(unopened); });
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->HasErrorCode(VDSERR_NOT_OPEN));
    EXPECT_NE(error->GetXML().find(L"CVDSTransactionHolder::BeginTransaction"), std::wstring::npos);

    CComPtr<IVDataStore> store = OpenStore(Folder(L"store"));
    EXPECT_NO_THROW({
        CVDSTransactionHolder transaction(store);
        ComCall(store.Get(), &IVDataStore::Close);  // its abort now fails, and is only logged
    });
}
