#include "components/vdatastorelib/vdsstatement.h"

#include <algorithm>
#include <utility>

#include "components/vdatastorelib/vdsconnection.h"
#include "qlib/qsys/textcodec.h"

CVDSStatement::CVDSStatement(CVDSStatement&& other) noexcept
    : m_connection(other.m_connection), m_statement(std::exchange(other.m_statement, nullptr)) {}

CVDSStatement& CVDSStatement::operator=(CVDSStatement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(m_statement);
        m_connection = other.m_connection;
        m_statement = std::exchange(other.m_statement, nullptr);
    }
    return *this;
}

CVDSStatement::~CVDSStatement() {
    sqlite3_finalize(m_statement);
}

CVDSStatement& CVDSStatement::BindInt(int index, int64_t value) {
    CheckBind(sqlite3_bind_int64(m_statement, index, value));
    return *this;
}

CVDSStatement& CVDSStatement::BindText(int index, std::wstring_view value) {
    return BindUtf8(index, qsys::ToUtf8(value));
}

CVDSStatement& CVDSStatement::BindUtf8(int index, std::string_view value) {
    CheckBind(sqlite3_bind_text64(m_statement, index, value.data(), value.size(), SQLITE_TRANSIENT,
                                  SQLITE_UTF8));
    return *this;
}

CVDSStatement& CVDSStatement::BindBlob(int index, std::string_view bytes) {
    // A zero-length blob is still a blob, not NULL: SQLite needs a non-null pointer for that.
    CheckBind(sqlite3_bind_blob64(m_statement, index, bytes.empty() ? "" : bytes.data(),
                                  bytes.size(), SQLITE_TRANSIENT));
    return *this;
}

CVDSStatement& CVDSStatement::BindNull(int index) {
    CheckBind(sqlite3_bind_null(m_statement, index));
    return *this;
}

bool CVDSStatement::Step() {
    const int result = sqlite3_step(m_statement);
    if (result == SQLITE_ROW) {
        return true;
    }
    if (result == SQLITE_DONE) {
        return false;
    }
    try {
        m_connection->Raise(result);
    } catch (...) {
        Reset();
        throw;
    }
}

void CVDSStatement::Run() {
    while (Step()) {
    }
}

void CVDSStatement::Reset() noexcept {
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

int64_t CVDSStatement::ColumnInt(int column) const {
    return sqlite3_column_int64(m_statement, column);
}

std::wstring CVDSStatement::ColumnText(int column) const {
    return qsys::FromUtf8(ColumnBytes(column));
}

std::wstring CVDSStatement::ColumnText(int column, const std::wstring& same) const {
    const std::string_view bytes = ColumnBytes(column);
    // Only an ASCII text is the same unit for unit in UTF-8 and in wide characters.
    const bool equal =
        bytes.size() == same.size() &&
        std::equal(bytes.begin(), bytes.end(), same.begin(), [](char byte, wchar_t wide) {
            return static_cast<unsigned char>(byte) < 0x80 && wide == byte;
        });
    return equal ? same : qsys::FromUtf8(bytes);
}

std::string_view CVDSStatement::ColumnBytes(int column) const {
    const void* data = sqlite3_column_blob(m_statement, column);
    const int size = sqlite3_column_bytes(m_statement, column);
    return data == nullptr
               ? std::string_view()
               : std::string_view(static_cast<const char*>(data), static_cast<size_t>(size));
}

bool CVDSStatement::ColumnIsNull(int column) const {
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

void CVDSStatement::CheckBind(int result) {
    if (result != SQLITE_OK) {
        m_connection->Raise(result);
    }
}
