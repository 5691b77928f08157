#pragma once
// CVDSConnection: one SQLite connection to a datastore's database file, configured as every
// datastore connection is: write-ahead log (readers go on while a writer commits), a busy
// timeout (a writer waits that long for another before it fails), foreign keys on, and
// statements kept prepared for reuse.
//
// SQLite failures become CQException in one place (Raise): a file that is not a database or is
// damaged gives VDSERR_DATASTORE_UNUSABLE, a write lock not had within the busy timeout
// VDSERR_DATASTORE_BUSY, a failed file operation the system error (errno) with the database
// path, anything else E_FAIL with SQLite's message. Each carries the context value "Path".
//
// Not thread-safe: the owner (CVDSStore, under CVDataStore's lock) uses it from one thread at a
// time. The connection is opened without SQLite's own mutexes for that reason.

#include <sqlite3.h>

#include <map>
#include <memory>
#include <string>

#include "components/vdatastorelib/vdsstatement.h"

class CVDSConnection {
public:
    // The busy timeout of new connections, in milliseconds.
    static constexpr int k_defaultBusyTimeoutMs = 10000;

    // Opens (creating when missing) the database file at path.
    explicit CVDSConnection(const std::wstring& path);
    CVDSConnection(const CVDSConnection&) = delete;
    CVDSConnection& operator=(const CVDSConnection&) = delete;
    ~CVDSConnection();

    // Changes the busy timeout of connections opened afterwards in this process (a test seam:
    // a test of a writer that gives up need not wait the full default).
    static void SetBusyTimeout(int milliseconds);

    // Runs SQL text without parameters (several statements allowed).
    void Execute(const char* sql);
    // A statement kept prepared for this connection (keyed by its text), reset and without
    // bindings. The reference stays valid while the connection lives.
    CVDSStatement& Cached(const std::string& sql);
    // A statement prepared for one use.
    CVDSStatement Prepare(const std::string& sql);

    int64_t LastInsertRowId() const;
    // Rows changed by the last statement.
    int Changes() const;
    // Whether a transaction is open (SQLite may end one itself after some failures).
    bool InTransaction() const;
    const std::wstring& Path() const { return m_path; }

    // Raises the failure `result` of the last call on this connection.
    [[noreturn]] void Raise(int result) const;

private:
    sqlite3_stmt* PrepareRaw(const std::string& sql, unsigned flags);

    std::wstring m_path;
    int m_busyTimeoutMs;
    sqlite3* m_database = nullptr;
    std::map<std::string, std::unique_ptr<CVDSStatement>> m_cache;
};
