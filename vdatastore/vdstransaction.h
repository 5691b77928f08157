#pragma once
// CVDSTransactionHolder: one datastore transaction for the lifetime of a scope. The
// constructor asks the datastore for its transaction interface and begins a transaction;
// CommitTransaction commits it and marks the holder done; the destructor aborts the
// transaction unless the holder is done, so a scope left by an exception undoes its changes:
//
//     CVDSTransactionHolder transaction(queueStore);
//     ... Query, Delete, Add on queueStore ...
//     transaction.CommitTransaction();
//
// Transactions nest per datastore object, so holders on one datastore may be nested (inner
// ones first out). Begin, commit and abort follow the catch convention under their
// class-qualified names; the destructor logs a failed abort at WARNING and swallows it. A
// commit that fails leaves the holder not done: the destructor then aborts what is left.
//
// A holder is used by one thread at a time; move-free and copy-free.

#include "qlib/qcom/comptr.h"
#include "vtranscoder/vdatastoreinterfaces.h"

class CVDSTransactionHolder {
public:
    explicit CVDSTransactionHolder(IVDataStore* dataStore);
    CVDSTransactionHolder(const CVDSTransactionHolder&) = delete;
    CVDSTransactionHolder& operator=(const CVDSTransactionHolder&) = delete;
    ~CVDSTransactionHolder();

    void CommitTransaction();
    bool IsDone() const { return m_done; }

private:
    void BeginTransaction();
    void AbortTransaction();

    CComPtr<IVDSTransaction> m_transaction;
    bool m_done = false;
};
