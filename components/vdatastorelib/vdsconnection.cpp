#include "components/vdatastorelib/vdsconnection.h"

#include <atomic>
#include <cerrno>

#include "components/vdatastorelib/vdatastorelib.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qexception.h"
#include "qlib/qutilitylib/qstring.h"

namespace {

std::atomic<int> s_busyTimeoutMs{CVDSConnection::k_defaultBusyTimeoutMs};

// The errno of a failed file operation SQLite reports without one.
int FallbackErrno(int primary) {
    switch (primary) {
        case SQLITE_READONLY:
        case SQLITE_PERM:
            return EACCES;
        case SQLITE_FULL:
            return ENOSPC;
        case SQLITE_NOMEM:
            return ENOMEM;
        default:
            return EIO;
    }
}

bool IsFileFailure(int primary) {
    return primary == SQLITE_CANTOPEN || primary == SQLITE_IOERR || primary == SQLITE_READONLY ||
           primary == SQLITE_PERM || primary == SQLITE_FULL || primary == SQLITE_NOMEM;
}

}  // namespace

CVDSConnection::CVDSConnection(const std::wstring& path)
    : m_path(path), m_busyTimeoutMs(s_busyTimeoutMs.load()) {
    const int result = sqlite3_open_v2(
        qsys::ToUtf8(path).c_str(), &m_database,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
        nullptr);
    if (result != SQLITE_OK) {
        try {
            Raise(result);
        } catch (...) {
            sqlite3_close_v2(m_database);
            throw;
        }
    }
    sqlite3_extended_result_codes(m_database, 1);
    sqlite3_busy_timeout(m_database, m_busyTimeoutMs);
}

CVDSConnection::~CVDSConnection() {
    m_cache.clear();
    sqlite3_close_v2(m_database);
}

void CVDSConnection::SetBusyTimeout(int milliseconds) {
    s_busyTimeoutMs = milliseconds;
}

void CVDSConnection::Execute(const char* sql) {
    const int result = sqlite3_exec(m_database, sql, nullptr, nullptr, nullptr);
    if (result != SQLITE_OK) {
        Raise(result);
    }
}

CVDSStatement& CVDSConnection::Cached(const std::string& sql) {
    auto found = m_cache.find(sql);
    if (found == m_cache.end()) {
        auto statement =
            std::make_unique<CVDSStatement>(*this, PrepareRaw(sql, SQLITE_PREPARE_PERSISTENT));
        found = m_cache.emplace(sql, std::move(statement)).first;
    }
    found->second->Reset();
    return *found->second;
}

CVDSStatement CVDSConnection::Prepare(const std::string& sql) {
    return CVDSStatement(*this, PrepareRaw(sql, 0));
}

int64_t CVDSConnection::LastInsertRowId() const {
    return sqlite3_last_insert_rowid(m_database);
}

int CVDSConnection::Changes() const {
    return sqlite3_changes(m_database);
}

bool CVDSConnection::InTransaction() const {
    return sqlite3_get_autocommit(m_database) == 0;
}

sqlite3_stmt* CVDSConnection::PrepareRaw(const std::string& sql, unsigned flags) {
    sqlite3_stmt* statement = nullptr;
    const int result = sqlite3_prepare_v3(m_database, sql.c_str(), static_cast<int>(sql.size()),
                                          flags, &statement, nullptr);
    if (result != SQLITE_OK) {
        Raise(result);
    }
    return statement;
}

void CVDSConnection::Raise(int result) const {
    const int primary = result & 0xFF;
    const std::wstring message = m_database != nullptr ? qsys::FromUtf8(sqlite3_errmsg(m_database))
                                                       : qsys::FromUtf8(sqlite3_errstr(result));
    if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT) {
        CQException error(
            L"The datastore's database is not a database or is damaged (" + message + L").",
            VDSERR_DATASTORE_UNUSABLE);
        error.AddValue(L"Path", m_path);
        throw error;
    }
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
        CQException error(CQStringHelper::Format(L"The datastore is in use by another writer; "
                                                 L"gave up after %d ms (%s).",
                                                 m_busyTimeoutMs, message),
                          VDSERR_DATASTORE_BUSY);
        error.AddValue(L"Path", m_path);
        throw error;
    }
    if (IsFileFailure(primary)) {
        const int systemError = m_database != nullptr ? sqlite3_system_errno(m_database) : 0;
        CQException::RaiseSystemError(systemError != 0 ? systemError : FallbackErrno(primary),
                                      {{L"Path", m_path}, {L"SQLite", message}});
    }
    CQException error(L"The datastore's database failed: " + message + L".", E_FAIL);
    error.AddValue(L"Path", m_path);
    throw error;
}
