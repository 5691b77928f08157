#include "components/vdatastorelib/vdsstore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "components/vdatastorelib/vdatastorelib.h"
#include "components/vdatastorelib/vdsvaluecodec.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qexception.h"
#include "qlib/qutilitylib/qfileutilities.h"

namespace {

constexpr const char* k_createTables = R"sql(
CREATE TABLE items(
    id INTEGER PRIMARY KEY,
    guid TEXT NOT NULL COLLATE NOCASE UNIQUE,
    class_name TEXT NOT NULL);
CREATE INDEX items_by_class ON items(class_name);
CREATE TABLE properties(
    item_id INTEGER NOT NULL REFERENCES items(id) ON DELETE CASCADE,
    position INTEGER NOT NULL,
    name TEXT NOT NULL,
    namespace TEXT NOT NULL,
    kind INTEGER NOT NULL,
    vt INTEGER NOT NULL,
    value BLOB NOT NULL,
    text_value TEXT,
    int_value INTEGER,
    PRIMARY KEY(item_id, position)) WITHOUT ROWID;
CREATE INDEX properties_by_text ON properties(name, text_value) WHERE text_value IS NOT NULL;
CREATE INDEX properties_by_integer ON properties(name, int_value) WHERE int_value IS NOT NULL;
CREATE TABLE schematypes(
    name TEXT PRIMARY KEY,
    aspect_of TEXT NOT NULL);
CREATE TABLE schematype_properties(
    type_name TEXT NOT NULL REFERENCES schematypes(name) ON DELETE CASCADE,
    position INTEGER NOT NULL,
    name TEXT NOT NULL,
    namespace TEXT NOT NULL,
    type TEXT NOT NULL,
    PRIMARY KEY(type_name, position));
CREATE TABLE namespaces(uri TEXT PRIMARY KEY);
)sql";

[[noreturn]] void RaiseUnusable(const std::wstring& reason, const std::wstring& path) {
    CQException error(L"The datastore's database cannot be used: " + reason + L".",
                      VDSERR_DATASTORE_UNUSABLE);
    error.AddValue(L"Path", path);
    throw error;
}

// The integer a filter compares with, for values of an integer type.
std::optional<int64_t> IntegerOf(const VARIANT& value) {
    switch (value.Vt()) {
        case VT_I1:
            return value.Get<int8_t>();
        case VT_UI1:
            return value.Get<uint8_t>();
        case VT_I2:
            return value.Get<int16_t>();
        case VT_UI2:
            return value.Get<uint16_t>();
        case VT_I4:
        case VT_INT:
            return value.Get<int32_t>();
        case VT_UI4:
        case VT_UINT:
            return value.Get<uint32_t>();
        case VT_I8:
            return value.Get<int64_t>();
        case VT_UI8:
            if (value.Get<uint64_t>() <=
                static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
                return static_cast<int64_t>(value.Get<uint64_t>());
            }
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

}  // namespace

// Which items a class name selects (see the header), as SQL over "items" and for a record.
struct CVDSStore::ClassSelector {
    enum class Kind { All, ClassName, Aspect };

    Kind kind = Kind::All;
    std::wstring name;
    // The properties of a registered schema type (an aspect's are what selects).
    std::vector<SVDSSchemaProperty> properties;

    std::string Condition() const {
        switch (kind) {
            case Kind::All:
                return "1";
            case Kind::ClassName:
                return "class_name = ?";
            case Kind::Aspect:
                break;
        }
        std::string condition = "1";
        for (size_t index = 0; index < properties.size(); ++index) {
            condition +=
                " AND EXISTS (SELECT 1 FROM properties p WHERE p.item_id = items.id AND "
                "p.name = ? AND p.namespace = ? AND p.vt <> 0)";
        }
        return condition;
    }

    int Bind(CVDSStatement& statement, int index) const {
        if (kind == Kind::ClassName) {
            statement.BindText(index++, name);
        } else if (kind == Kind::Aspect) {
            for (const SVDSSchemaProperty& property : properties) {
                statement.BindText(index++, property.name);
                statement.BindText(index++, property.uri);
            }
        }
        return index;
    }

    bool Matches(const SVDSItemRecord& record) const {
        if (kind == Kind::All) {
            return true;
        }
        if (kind == Kind::ClassName) {
            return record.className == name;
        }
        for (const SVDSSchemaProperty& property : properties) {
            const SVDSProperty* found = record.Find(property.name, property.uri);
            if (found == nullptr || found->value.Vt() == VT_EMPTY) {
                return false;
            }
        }
        return true;
    }

    // The namespace the schema type declares a property in.
    std::optional<std::wstring> NamespaceOf(const std::wstring& property) const {
        for (const SVDSSchemaProperty& declared : properties) {
            if (declared.name == property) {
                return declared.uri;
            }
        }
        return std::nullopt;
    }
};

CVDSStore::CVDSStore(const std::wstring& folder) {
    const std::string nativeFolder = qsys::ToUtf8(folder);
    if (!CQFileUtilities::IsDirectory(folder)) {
        // A datastore made here is the user's alone: its last level is private.
        CQFileUtilities::BuildDirectory(folder);
        if (::chmod(nativeFolder.c_str(), 0700) != 0) {
            CQException::RaiseSystemError(errno, {{L"Path", folder}});
        }
    }
    // The log and index files beside the database are made in the folder: without the right
    // to write there SQLite would only report that it cannot open the file.
    if (::faccessat(AT_FDCWD, nativeFolder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        CQException::RaiseSystemError(errno, {{L"Path", folder}});
    }
    m_connection = std::make_unique<CVDSConnection>(
        CQFileUtilities::ConcatPathname(folder, k_databaseFileName));
    CheckFormat();
}

CVDSStore::~CVDSStore() {
    RollBackQuietly();
}

void CVDSStore::CheckFormat() {
    // Each statement is finished before the next: an unfinished one would hold the
    // transactions below open.
    auto pragma = [this](const char* sql) {
        CVDSStatement statement = m_connection->Prepare(sql);
        return statement.Step() ? statement.ColumnText(0) : std::wstring();
    };
    if (pragma("PRAGMA journal_mode=WAL") != L"wal") {
        RaiseUnusable(L"it cannot keep a write-ahead log", DatabasePath());
    }
    m_connection->Execute("PRAGMA foreign_keys=ON; PRAGMA synchronous=NORMAL");
    if (pragma("SELECT count(*) FROM sqlite_schema") == L"0") {
        CreateTables();
    }
    if (pragma("PRAGMA application_id") != std::to_wstring(k_applicationId)) {
        RaiseUnusable(L"it is not a datastore", DatabasePath());
    }
    const std::wstring version = pragma("PRAGMA user_version");
    if (version != std::to_wstring(k_formatVersion)) {
        RaiseUnusable(L"its format " + version + L" is not one this build reads", DatabasePath());
    }
    QuickCheck();
}

void CVDSStore::CreateTables() {
    m_connection->Execute("BEGIN IMMEDIATE");
    try {
        // Another connection may have created them while this one waited for the lock.
        bool empty = false;
        {
            CVDSStatement count = m_connection->Prepare("SELECT count(*) FROM sqlite_schema");
            empty = count.Step() && count.ColumnInt(0) == 0;
        }
        if (empty) {
            m_connection->Execute(k_createTables);
            m_connection->Execute(("PRAGMA application_id=" + std::to_string(k_applicationId) +
                                   "; PRAGMA user_version=" + std::to_string(k_formatVersion))
                                      .c_str());
        }
        m_connection->Execute("COMMIT");
    } catch (...) {
        RollBackQuietly();
        throw;
    }
}

void CVDSStore::RollBackQuietly() noexcept {
    try {
        if (m_connection->InTransaction()) {
            m_connection->Execute("ROLLBACK");
        }
    } catch (...) {
        // The failure being reported matters more; closing the connection rolls back too.
    }
}

void CVDSStore::QuickCheck() {
    bool healthy = false;
    {
        CVDSStatement check = m_connection->Prepare("PRAGMA quick_check(1)");
        healthy = check.Step() && check.ColumnText(0) == L"ok";
    }
    if (!healthy) {
        RaiseUnusable(L"it is damaged", DatabasePath());
    }
}

void CVDSStore::BeginTransaction() {
    if (m_depth == 0) {
        m_connection->Cached("BEGIN IMMEDIATE").Run();
    } else {
        m_connection->Execute(("SAVEPOINT level" + std::to_string(m_depth + 1)).c_str());
    }
    ++m_depth;
}

void CVDSStore::CommitTransaction() {
    if (m_depth == 0) {
        throw CQException(L"There is no transaction to commit.", VDSERR_NO_TRANSACTION);
    }
    if (!m_connection->InTransaction()) {
        m_depth = 0;
        throw CQException(L"The transaction was rolled back by an earlier failure.",
                          VDSERR_NO_TRANSACTION);
    }
    if (m_depth == 1) {
        try {
            m_connection->Cached("COMMIT").Run();
        } catch (...) {
            // A level SQLite ended itself is gone; one still open is left for the caller's
            // Abort.
            if (!m_connection->InTransaction()) {
                m_depth = 0;
            }
            throw;
        }
    } else {
        m_connection->Execute(("RELEASE level" + std::to_string(m_depth)).c_str());
    }
    --m_depth;
}

void CVDSStore::AbortTransaction() {
    if (m_depth == 0) {
        throw CQException(L"There is no transaction to abort.", VDSERR_NO_TRANSACTION);
    }
    if (m_connection->InTransaction()) {
        if (m_depth == 1) {
            m_connection->Cached("ROLLBACK").Run();
        } else {
            const std::string level = "level" + std::to_string(m_depth);
            m_connection->Execute(("ROLLBACK TO " + level + "; RELEASE " + level).c_str());
        }
    }
    --m_depth;
}

void CVDSStore::Atomically(const std::function<void()>& body) {
    BeginTransaction();
    try {
        body();
        CommitTransaction();
    } catch (...) {
        try {
            AbortTransaction();
        } catch (...) {
            // The first failure is the one to report.
        }
        throw;
    }
}

template <class Body>
auto CVDSStore::Reading(Body&& body) {
    if (m_depth > 0) {
        return body();
    }
    m_connection->Cached("BEGIN").Run();
    try {
        auto result = body();
        m_connection->Cached("COMMIT").Run();
        return result;
    } catch (...) {
        RollBackQuietly();
        throw;
    }
}

void CVDSStore::Add(const SVDSItemRecord& record) {
    if (record.guid.empty()) {
        throw CQException(L"An item without a GUID cannot be stored.", QERR_INVALID_PARAMETER);
    }
    // Encode first: a value that cannot be kept fails before the database is touched.
    std::vector<std::string> values;
    values.reserve(record.properties.size());
    for (const SVDSProperty& property : record.properties) {
        try {
            values.push_back(CVDSValueCodec::Encode(property.value));
        } catch (CQException& error) {
            error.AddValue(L"Property", property.name);
            throw;
        }
    }
    Atomically([&] {
        m_connection->Cached("DELETE FROM items WHERE guid = ?").BindText(1, record.guid).Run();
        m_connection->Cached("INSERT INTO items(guid, class_name) VALUES(?, ?)")
            .BindText(1, record.guid)
            .BindText(2, record.className)
            .Run();
        const int64_t itemId = m_connection->LastInsertRowId();
        CVDSStatement& insert = m_connection->Cached(
            "INSERT INTO properties(item_id, position, name, namespace, kind, vt, value, "
            "text_value, int_value) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)");
        for (size_t index = 0; index < record.properties.size(); ++index) {
            const SVDSProperty& property = record.properties[index];
            insert.Reset();
            insert.BindInt(1, itemId)
                .BindInt(2, static_cast<int64_t>(index))
                .BindText(3, property.name)
                .BindText(4, property.uri)
                .BindInt(5, property.kind)
                .BindInt(6, property.value.Vt())
                .BindBlob(7, values[index]);
            if (property.value.Vt() == VT_BSTR) {
                insert.BindText(8, property.value.Get<BSTR>());
            }
            if (const std::optional<int64_t> integer = IntegerOf(property.value)) {
                insert.BindInt(9, *integer);
            }
            insert.Run();
        }
    });
}

int64_t CVDSStore::Delete(const std::vector<std::wstring>& guids) {
    int64_t deleted = 0;
    Atomically([&] {
        for (const std::wstring& guid : guids) {
            m_connection->Cached("DELETE FROM items WHERE guid = ?").BindText(1, guid).Run();
            deleted += m_connection->Changes();
        }
    });
    return deleted;
}

CVDSStore::ClassSelector CVDSStore::SelectorOf(const std::wstring& className) {
    ClassSelector selector;
    if (className == CVDSSchemaDefinition::k_rootType) {
        return selector;
    }
    selector.kind = ClassSelector::Kind::ClassName;
    selector.name = className;
    CVDSStatement& type = m_connection->Cached("SELECT aspect_of FROM schematypes WHERE name = ?");
    type.BindText(1, className);
    if (!type.Step()) {
        return selector;
    }
    if (!type.ColumnText(0).empty()) {
        selector.kind = ClassSelector::Kind::Aspect;
    }
    type.Reset();
    CVDSStatement& properties = m_connection->Cached(
        "SELECT name, namespace, type FROM schematype_properties WHERE type_name = ? "
        "ORDER BY position");
    properties.BindText(1, className);
    while (properties.Step()) {
        selector.properties.push_back(
            {properties.ColumnText(0), properties.ColumnText(1), properties.ColumnText(2)});
    }
    return selector;
}

std::vector<SVDSItemRecord> CVDSStore::Query(const std::wstring& className,
                                             const std::optional<SVDSFilter>& filter) {
    // One statement reads the items with their properties, so that it sees one snapshot of
    // the database without a transaction around it.
    const ClassSelector selector = SelectorOf(className);
    std::optional<ClassSelector> filterClass;
    std::optional<std::wstring> filterUri;
    std::string& sql = m_querySql;
    sql.assign(
        "SELECT items.id, guid, class_name, prop.name, prop.namespace, prop.kind, prop.value "
        "FROM items LEFT JOIN properties prop ON prop.item_id = items.id WHERE ");
    sql += selector.Condition();
    if (filter) {
        filterClass = filter->className == className ? selector : SelectorOf(filter->className);
        filterUri = filterClass->NamespaceOf(filter->property);
        sql += " AND ";
        sql += filterClass->Condition();
        sql += " AND ";
        sql += FilterCondition(*filter, filterUri);
    }
    sql += " ORDER BY items.id, prop.position";
    CVDSStatement& select = m_connection->Cached(sql);
    const int index = selector.Bind(select, 1);
    if (filter) {
        BindFilter(select, filterClass->Bind(select, index), *filter, filterUri);
    }
    std::vector<SVDSItemRecord> records;
    int64_t itemId = -1;
    while (select.Step()) {
        if (const int64_t rowItem = select.ColumnInt(0); records.empty() || rowItem != itemId) {
            itemId = rowItem;
            records.push_back({select.ColumnText(1), select.ColumnText(2), L"", {}});
            records.back().properties.reserve(k_usualPropertyCount);
        }
        if (!select.ColumnIsNull(3)) {
            std::vector<SVDSProperty>& properties = records.back().properties;
            // Neighbouring properties mostly share a namespace.
            std::wstring uri = properties.empty() ? select.ColumnText(4)
                                                  : select.ColumnText(4, properties.back().uri);
            properties.emplace_back(select.ColumnText(3), std::move(uri),
                                    static_cast<LONG>(select.ColumnInt(5)),
                                    CVDSValueCodec::Decode(select.ColumnBytes(6)));
        }
    }
    return records;
}

std::string CVDSStore::FilterCondition(const SVDSFilter& filter,
                                       const std::optional<std::wstring>& uri) {
    if (filter.IsGuid()) {
        return "guid = ?";
    }
    std::string condition = "items.id IN (SELECT item_id FROM properties WHERE name = ? AND ";
    condition += std::holds_alternative<int64_t>(filter.value) ? "int_value = ?" : "text_value = ?";
    return condition + (uri ? " AND namespace = ?)" : ")");
}

void CVDSStore::BindFilter(CVDSStatement& statement, int index, const SVDSFilter& filter,
                           const std::optional<std::wstring>& uri) {
    if (!filter.IsGuid()) {
        statement.BindText(index++, filter.property);
    }
    if (const int64_t* integer = std::get_if<int64_t>(&filter.value)) {
        statement.BindInt(index++, *integer);
    } else {
        statement.BindText(index++, std::get<std::wstring>(filter.value));
    }
    if (uri && !filter.IsGuid()) {
        statement.BindText(index, *uri);
    }
}

int64_t CVDSStore::Count(const std::wstring& className) {
    const ClassSelector selector = SelectorOf(className);
    CVDSStatement& count =
        m_connection->Cached("SELECT count(*) FROM items WHERE " + selector.Condition());
    selector.Bind(count, 1);
    const int64_t counted = count.Step() ? count.ColumnInt(0) : 0;
    count.Reset();
    return counted;
}

void CVDSStore::RegisterSchema(const SVDSSchema& schema) {
    Atomically([&] {
        for (const std::wstring& uri : schema.namespaces) {
            m_connection->Cached("INSERT OR IGNORE INTO namespaces(uri) VALUES(?)")
                .BindText(1, uri)
                .Run();
        }
        for (const SVDSSchemaType& type : schema.types) {
            m_connection->Cached("DELETE FROM schematypes WHERE name = ?")
                .BindText(1, type.name)
                .Run();
            m_connection->Cached("INSERT INTO schematypes(name, aspect_of) VALUES(?, ?)")
                .BindText(1, type.name)
                .BindText(2, type.aspectOf)
                .Run();
            for (size_t index = 0; index < type.properties.size(); ++index) {
                const SVDSSchemaProperty& property = type.properties[index];
                m_connection
                    ->Cached(
                        "INSERT INTO schematype_properties(type_name, position, name, "
                        "namespace, type) VALUES(?, ?, ?, ?, ?)")
                    .BindText(1, type.name)
                    .BindInt(2, static_cast<int64_t>(index))
                    .BindText(3, property.name)
                    .BindText(4, property.uri)
                    .BindText(5, property.type)
                    .Run();
            }
        }
    });
}

SVDSSchema CVDSStore::Schema() {
    return Reading([&] {
        SVDSSchema schema;
        CVDSStatement& namespaces = m_connection->Cached("SELECT uri FROM namespaces ORDER BY uri");
        while (namespaces.Step()) {
            schema.namespaces.push_back(namespaces.ColumnText(0));
        }
        std::vector<std::wstring> names;
        CVDSStatement& types = m_connection->Cached("SELECT name FROM schematypes ORDER BY name");
        while (types.Step()) {
            names.push_back(types.ColumnText(0));
        }
        for (const std::wstring& name : names) {
            const ClassSelector selector = SelectorOf(name);
            schema.types.push_back({name,
                                    selector.kind == ClassSelector::Kind::Aspect
                                        ? CVDSSchemaDefinition::k_rootType
                                        : L"",
                                    selector.properties});
        }
        return schema;
    });
}

bool CVDSStore::IsOfType(const std::wstring& typeName, const SVDSItemRecord& record) {
    return Reading([&] { return SelectorOf(typeName).Matches(record); });
}
