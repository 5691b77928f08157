#include "vdatastore/vdstransaction.h"

#include "qlib/qcom/comcall.h"
#include "qlib/qutilitylib/qcatch.h"

CVDSTransactionHolder::CVDSTransactionHolder(IVDataStore* dataStore) {
    CQCatch::Internal([&] {
        if (dataStore == nullptr) {
            throw CQException(QERR_INVALID_PARAMETER);
        }
        ThrowIfFailed(CComPtr<IVDataStore>(dataStore).QueryInterface(&m_transaction));
    });
    BeginTransaction();
}

CVDSTransactionHolder::~CVDSTransactionHolder() {
    CQCatch::LogAndSwallow([&] {
        if (!m_done) {
            AbortTransaction();
        }
    });
}

void CVDSTransactionHolder::BeginTransaction() {
    CQCatch::Internal([&] { ComCall(m_transaction.Get(), &IVDSTransaction::BeginTransaction); });
}

void CVDSTransactionHolder::CommitTransaction() {
    CQCatch::Internal([&] {
        ComCall(m_transaction.Get(), &IVDSTransaction::CommitTransaction);
        m_done = true;
    });
}

void CVDSTransactionHolder::AbortTransaction() {
    CQCatch::Internal([&] {
        m_done = true;
        ComCall(m_transaction.Get(), &IVDSTransaction::AbortTransaction);
    });
}
