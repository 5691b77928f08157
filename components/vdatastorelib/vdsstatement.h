#pragma once
// CVDSStatement: one prepared SQLite statement, finalized by its destructor. Values are always
// bound as parameters (Bind*, 1-based as in SQLite); text crosses as UTF-8. Step runs the
// statement one row further and raises through the owning connection's error translation.
//
// Belongs to the connection that prepared it and is used under that connection's owner's lock
// (see CVDSConnection); not thread-safe itself.

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

class CVDSConnection;

class CVDSStatement {
public:
    CVDSStatement(CVDSConnection& connection, sqlite3_stmt* statement) noexcept
        : m_connection(&connection), m_statement(statement) {}
    CVDSStatement(const CVDSStatement&) = delete;
    CVDSStatement& operator=(const CVDSStatement&) = delete;
    CVDSStatement(CVDSStatement&& other) noexcept;
    CVDSStatement& operator=(CVDSStatement&& other) noexcept;
    ~CVDSStatement();

    CVDSStatement& BindInt(int index, int64_t value);
    CVDSStatement& BindText(int index, std::wstring_view value);
    CVDSStatement& BindUtf8(int index, std::string_view value);
    CVDSStatement& BindBlob(int index, std::string_view bytes);
    CVDSStatement& BindNull(int index);

    // True while a row is there; false once the statement is done.
    [[nodiscard]] bool Step();
    // Runs a statement that returns no rows to its end.
    void Run();
    // Ready to run again; the bindings are cleared.
    void Reset() noexcept;

    int64_t ColumnInt(int column) const;
    std::wstring ColumnText(int column) const;
    // The same, copied from `same` when the column holds just that text: cheaper than decoding
    // for a text that repeats from row to row, such as a namespace.
    std::wstring ColumnText(int column, const std::wstring& same) const;
    std::string_view ColumnBytes(int column) const;
    bool ColumnIsNull(int column) const;

private:
    void CheckBind(int result);

    CVDSConnection* m_connection;
    sqlite3_stmt* m_statement;
};
