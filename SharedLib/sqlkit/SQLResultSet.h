#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "SharedLib/sqlkit/SQLError.h"
#include "SharedLib/sqlkit/SQLStatement.h"
#include "SharedLib/sqlkit/SQLValue.h"

namespace sqlkit {

class SQLDatabase;

// The cursor a query hands back. It steps its statement row by row and reads
// columns by index or by case-insensitive name. Reading until next() returns
// false closes it; destroying it closes it too. It belongs to the thread or
// queue of its connection.
class SQLResultSet {
public:
    // Marks the statement in use. Called by the connection's query road.
    static std::unique_ptr<SQLResultSet> resultSetWithStatement(std::shared_ptr<SQLStatement> statement,
                                                                SQLDatabase* parentDatabase);
    ~SQLResultSet();
    SQLResultSet(const SQLResultSet&) = delete;
    SQLResultSet& operator=(const SQLResultSet&) = delete;

    // True when a row is available; at the end or on an error the set closes.
    bool next();
    bool next(SQLError* error);
    bool hasAnotherRow() const;
    void close();

    int columnCount() const;
    // Lower-cased column name to index; a later column wins a shared name.
    const std::map<std::string, int>& columnNameToIndexMap();
    // -1 (after a warning line) when the set has no such column.
    int columnIndexForName(std::string_view name);
    std::string columnNameForIndex(int index) const;

    int intForColumnIndex(int index) const;
    int intForColumn(std::string_view name) { return intForColumnIndex(columnIndexForName(name)); }
    std::int64_t longForColumnIndex(int index) const;
    std::int64_t longForColumn(std::string_view name) { return longForColumnIndex(columnIndexForName(name)); }
    std::int64_t longLongIntForColumnIndex(int index) const { return longForColumnIndex(index); }
    std::int64_t longLongIntForColumn(std::string_view name) { return longForColumn(name); }
    std::uint64_t unsignedLongLongIntForColumnIndex(int index) const {
        return static_cast<std::uint64_t>(longForColumnIndex(index));
    }
    std::uint64_t unsignedLongLongIntForColumn(std::string_view name) {
        return unsignedLongLongIntForColumnIndex(columnIndexForName(name));
    }
    bool boolForColumnIndex(int index) const { return intForColumnIndex(index) != 0; }
    bool boolForColumn(std::string_view name) { return boolForColumnIndex(columnIndexForName(name)); }
    double doubleForColumnIndex(int index) const;
    double doubleForColumn(std::string_view name) { return doubleForColumnIndex(columnIndexForName(name)); }

    // None for NULL, a negative index or one past the columns.
    std::optional<std::string> stringForColumnIndex(int index) const;
    std::optional<std::string> stringForColumn(std::string_view name) {
        return stringForColumnIndex(columnIndexForName(name));
    }
    std::optional<SQLDate> dateForColumnIndex(int index) const;
    std::optional<SQLDate> dateForColumn(std::string_view name) { return dateForColumnIndex(columnIndexForName(name)); }
    // A copy of the blob; none also for a zero-length blob.
    std::optional<SQLBlob> dataForColumnIndex(int index) const;
    std::optional<SQLBlob> dataForColumn(std::string_view name) { return dataForColumnIndex(columnIndexForName(name)); }
    // SQLite's own bytes, valid until the next step, reset or close.
    std::optional<std::span<const std::uint8_t>> dataNoCopyForColumnIndex(int index) const;
    std::optional<std::span<const std::uint8_t>> dataNoCopyForColumn(std::string_view name) {
        return dataNoCopyForColumnIndex(columnIndexForName(name));
    }
    // SQLite's own zero-terminated UTF-8 text (valid like the bytes above), or nullptr.
    const char* UTF8StringForColumnIndex(int index) const;
    const char* UTF8StringForColumn(std::string_view name) { return UTF8StringForColumnIndex(columnIndexForName(name)); }
    const char* UTF8StringForColumnName(std::string_view name) { return UTF8StringForColumn(name); }
    bool columnIndexIsNull(int index) const;
    bool columnIsNull(std::string_view name) { return columnIndexIsNull(columnIndexForName(name)); }

    // By column type: integer, real, blob, text; NULL (and a zero-length
    // blob) give a null value; a bad index gives none.
    std::optional<SQLValue> objectForColumnIndex(int index) const;
    std::optional<SQLValue> objectForColumn(std::string_view name) {
        return objectForColumnIndex(columnIndexForName(name));
    }
    std::optional<SQLValue> objectForColumnName(std::string_view name) { return objectForColumn(name); }
    std::optional<SQLValue> operator[](int index) { return objectForColumnIndex(index); }
    std::optional<SQLValue> operator[](std::string_view name) { return objectForColumn(name); }

    // Column name (as SQLite reports it) to value; none when the row is empty.
    std::optional<std::map<std::string, SQLValue>> resultDictionary() const;
    // The same keyed by lower-cased names.
    std::optional<std::map<std::string, SQLValue>> resultDict();

    SQLDatabase* parentDB() const { return parentDB_; }
    void setParentDB(SQLDatabase* db) { parentDB_ = db; }
    const std::string& query() const { return query_; }
    void setQuery(std::string q) { query_ = std::move(q); }
    const std::shared_ptr<SQLStatement>& statement() const { return statement_; }
    void setStatement(std::shared_ptr<SQLStatement> s) { statement_ = std::move(s); }

private:
    SQLResultSet() = default;
    ::sqlite3_stmt* handle() const;
    bool validIndex(int index) const;

    std::optional<std::map<std::string, int>> columnNameToIndexMap_;
    SQLDatabase* parentDB_ = nullptr;
    std::string query_;
    std::shared_ptr<SQLStatement> statement_;
};

} // namespace sqlkit
