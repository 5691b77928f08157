#pragma once
// CVDSStore: one datastore's database: the items with their properties, the registered
// schema, and the transactions of one datastore object. This is the SQL layer; it knows items
// only as records (SVDSItemRecord) and never calls an item object.
//
// Storage: the file k_databaseFileName in the datastore's folder (the folder made with mode
// 0700 when it is missing; the file never opened through a symbolic link), created on first
// use, in
// write-ahead-log mode (see CVDSConnection). Its tables: items (GUID, unique without regard to
// case, and class), properties (per item, in the item's order: name, namespace, kind, VT, the
// value's bytes from CVDSValueCodec, and the text or integer value again for filters), the
// schema types with their properties, and the known namespaces. The file is marked with
// k_applicationId and its format version (user_version); opening a file without that mark, of
// a newer format, or that fails SQLite's quick check raises VDSERR_DATASTORE_UNUSABLE.
//
// Classes: "Item" selects every item; a registered aspect of "Item" selects the items that
// carry every property it lists with a value (not VT_EMPTY), whatever their class; any other
// name selects the items of that class name. IsOfType answers the same question for a record.
//
// Filters (CVDSFilter): Item.GUID compares the GUID without regard to case; any other
// property is looked up in the namespace the filter's class declares it in (when the class is
// a registered schema type listing it), else by name in any namespace. A quoted value matches
// text values (VT_BSTR) exactly; an integer matches integer values of any width. The filter's
// class selects as well. Every value is bound as a parameter.
//
// Transactions nest: the first Begin starts a database transaction (BEGIN IMMEDIATE: the write
// lock is taken at once, waiting up to the busy timeout), each further one a savepoint; an
// Abort undoes everything since its Begin. Add, Delete and RegisterSchema outside a
// transaction run in one of their own, and inside one in a savepoint, so a failed call leaves
// nothing half done. A query or count is one statement, which reads one snapshot of the
// database: it sees every committed transaction whole or not at all.
//
// Not thread-safe: CVDataStore calls it under its lock.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "components/vdatastorelib/vdsconnection.h"
#include "components/vdatastorelib/vdsfilter.h"
#include "components/vdatastorelib/vdsitemrecord.h"
#include "components/vdatastorelib/vdsschemadefinition.h"

class CVDSStore {
public:
    static constexpr const wchar_t* k_databaseFileName = L"datastore.db";
    static constexpr int k_applicationId = 0x5644534C;  // "VDSL"
    static constexpr int k_formatVersion = 1;

    // Opens the database in folder, creating the folder and the database when missing.
    explicit CVDSStore(const std::wstring& folder);
    CVDSStore(const CVDSStore&) = delete;
    CVDSStore& operator=(const CVDSStore&) = delete;
    // Rolls back a transaction left open.
    ~CVDSStore();

    // Stores the record; a stored item of the same GUID is replaced. The GUID must not be empty.
    void Add(const SVDSItemRecord& record);
    // Removes the items of those GUIDs, all or none; GUIDs of no stored item are passed over.
    // The number removed.
    int64_t Delete(const std::vector<std::wstring>& guids);
    // The items of the class that match the filter (nullopt: all), in the order they were
    // added; their dataStoreName is left empty.
    std::vector<SVDSItemRecord> Query(const std::wstring& className,
                                      const std::optional<SVDSFilter>& filter);
    int64_t Count(const std::wstring& className);

    // Stores the schema's types (replacing types of the same name) and namespaces.
    void RegisterSchema(const SVDSSchema& schema);
    // Every registered type and namespace.
    SVDSSchema Schema();
    bool IsOfType(const std::wstring& typeName, const SVDSItemRecord& record);

    void BeginTransaction();
    // Raise VDSERR_NO_TRANSACTION without an open transaction.
    void CommitTransaction();
    void AbortTransaction();
    int TransactionDepth() const { return m_depth; }

    const std::wstring& DatabasePath() const { return m_connection->Path(); }

private:
    struct ClassSelector;

    // Room made for the properties of a record read back: what most items hold in all.
    static constexpr size_t k_usualPropertyCount = 8;

    void CheckFormat();
    void CreateTables();
    void QuickCheck();
    // Runs body atomically: in its own transaction, or in a savepoint of the open one.
    void Atomically(const std::function<void()>& body);
    // Runs body in a read transaction unless a transaction is open.
    template <class Body>
    auto Reading(Body&& body);
    // Rolls back an open database transaction, reporting nothing.
    void RollBackQuietly() noexcept;
    ClassSelector SelectorOf(const std::wstring& className);
    // The SQL condition of a filter on a property (in namespace uri, when given) or the GUID,
    // and the binding of its parameters from index on.
    static std::string FilterCondition(const SVDSFilter& filter,
                                       const std::optional<std::wstring>& uri);
    static void BindFilter(CVDSStatement& statement, int index, const SVDSFilter& filter,
                           const std::optional<std::wstring>& uri);
    void InsertProperty(int64_t itemId, int position, const SVDSProperty& property);

    std::unique_ptr<CVDSConnection> m_connection;
    int m_depth = 0;
    std::string m_querySql;  // the text of the last query, kept for its room
};
