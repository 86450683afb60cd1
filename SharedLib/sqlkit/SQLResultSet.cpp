#include "SharedLib/sqlkit/SQLResultSet.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <chrono>

#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLKitLog.h"

namespace sqlkit {
namespace {
std::string lowered(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}
} // namespace

std::unique_ptr<SQLResultSet> SQLResultSet::resultSetWithStatement(std::shared_ptr<SQLStatement> statement,
                                                                   SQLDatabase* parentDatabase) {
    std::unique_ptr<SQLResultSet> rs(new SQLResultSet());
    rs->statement_ = std::move(statement);
    rs->parentDB_ = parentDatabase;
    if (rs->statement_) rs->statement_->setInUse(true);
    return rs;
}

SQLResultSet::~SQLResultSet() { close(); }

sqlite3_stmt* SQLResultSet::handle() const { return statement_ ? statement_->statement() : nullptr; }

void SQLResultSet::close() {
    if (statement_) {
        statement_->reset();
        statement_.reset();
    }
    if (parentDB_) {
        parentDB_->resultSetDidClose(this);
        parentDB_ = nullptr;
    }
}

bool SQLResultSet::next() { return next(nullptr); }

bool SQLResultSet::next(SQLError* error) {
    sqlite3_stmt* stmt = handle();
    // A closed set has no statement: stepping it is a misuse.
    int rc = stmt ? sqlite3_step(stmt) : SQLITE_MISUSE;
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) {
        close();
        return false;
    }
    sqlite3* db = parentDB_ ? parentDB_->sqliteHandle() : nullptr;
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
        if (!parentDB_ || parentDB_->logsErrors()) {
            logLine("-[SQLResultSet nextWithError:]:168 Database busy (" +
                    (parentDB_ && parentDB_->databasePath() ? *parentDB_->databasePath() : std::string("(null)")) + ")");
            logLine("Database busy");
        }
        if (error && parentDB_) *error = parentDB_->lastError();
    } else if (rc == SQLITE_ERROR || rc == SQLITE_MISUSE) {
        logLine("Error calling sqlite3_step (" + std::to_string(rc) + ": " + message + ") rs");
        if (error) {
            if (parentDB_)
                *error = parentDB_->lastError();
            else if (rc == SQLITE_MISUSE)
                *error = SQLError("SQLDatabase", SQLITE_MISUSE, "parentDB does not exist");
        }
    } else {
        logLine("Unknown error calling sqlite3_step (" + std::to_string(rc) + ": " + message + ") rs");
        if (error && parentDB_) *error = parentDB_->lastError();
    }
    close();
    return false;
}

bool SQLResultSet::hasAnotherRow() const {
    return parentDB_ && sqlite3_errcode(parentDB_->sqliteHandle()) == SQLITE_ROW;
}

int SQLResultSet::columnCount() const { return sqlite3_column_count(handle()); }

const std::map<std::string, int>& SQLResultSet::columnNameToIndexMap() {
    if (!columnNameToIndexMap_) {
        std::map<std::string, int> map;
        int n = columnCount();
        for (int i = 0; i < n; ++i) {
            const char* name = sqlite3_column_name(handle(), i);
            map[lowered(name ? name : "")] = i;
        }
        columnNameToIndexMap_ = std::move(map);
    }
    return *columnNameToIndexMap_;
}

int SQLResultSet::columnIndexForName(std::string_view name) {
    std::string key = lowered(name);
    const auto& map = columnNameToIndexMap();
    auto it = map.find(key);
    if (it != map.end()) return it->second;
    logLine("Warning: I could not find the column named '" + key + "'.");
    return -1;
}

std::string SQLResultSet::columnNameForIndex(int index) const {
    if (!validIndex(index)) return "";
    const char* name = sqlite3_column_name(handle(), index);
    return name ? name : "";
}

bool SQLResultSet::validIndex(int index) const { return index >= 0 && index < columnCount(); }

int SQLResultSet::intForColumnIndex(int index) const {
    if (!validIndex(index)) return 0;
    return sqlite3_column_int(handle(), index);
}

std::int64_t SQLResultSet::longForColumnIndex(int index) const {
    if (!validIndex(index)) return 0;
    return sqlite3_column_int64(handle(), index);
}

double SQLResultSet::doubleForColumnIndex(int index) const {
    if (!validIndex(index)) return 0.0;
    return sqlite3_column_double(handle(), index);
}

bool SQLResultSet::columnIndexIsNull(int index) const {
    if (!validIndex(index)) return true;
    return sqlite3_column_type(handle(), index) == SQLITE_NULL;
}

std::optional<std::string> SQLResultSet::stringForColumnIndex(int index) const {
    if (!validIndex(index) || columnIndexIsNull(index)) return std::nullopt;
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(handle(), index));
    if (!text) return std::nullopt;
    return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(handle(), index)));
}

const char* SQLResultSet::UTF8StringForColumnIndex(int index) const {
    if (!validIndex(index) || columnIndexIsNull(index)) return nullptr;
    return reinterpret_cast<const char*>(sqlite3_column_text(handle(), index));
}

std::optional<SQLDate> SQLResultSet::dateForColumnIndex(int index) const {
    if (!validIndex(index) || columnIndexIsNull(index)) return std::nullopt;
    if (parentDB_ && parentDB_->hasDateFormatter()) {
        auto text = stringForColumnIndex(index);
        if (!text) return std::nullopt;
        return parentDB_->dateFromString(*text);
    }
    using namespace std::chrono;
    return SQLDate(duration_cast<system_clock::duration>(duration<double>(doubleForColumnIndex(index))));
}

std::optional<SQLBlob> SQLResultSet::dataForColumnIndex(int index) const {
    if (!validIndex(index) || columnIndexIsNull(index)) return std::nullopt;
    const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(handle(), index));
    int n = sqlite3_column_bytes(handle(), index);
    if (!bytes || n == 0) return std::nullopt;
    return SQLBlob(bytes, bytes + n);
}

std::optional<std::span<const std::uint8_t>> SQLResultSet::dataNoCopyForColumnIndex(int index) const {
    if (!validIndex(index) || columnIndexIsNull(index)) return std::nullopt;
    const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(handle(), index));
    int n = sqlite3_column_bytes(handle(), index);
    if (!bytes) return std::span<const std::uint8_t>();
    return std::span<const std::uint8_t>(bytes, static_cast<std::size_t>(n));
}

std::optional<SQLValue> SQLResultSet::objectForColumnIndex(int index) const {
    std::optional<SQLValue> out;
    if (!validIndex(index)) return out;
    switch (sqlite3_column_type(handle(), index)) {
    case SQLITE_INTEGER:
        out.emplace(longForColumnIndex(index));
        break;
    case SQLITE_FLOAT:
        out.emplace(doubleForColumnIndex(index));
        break;
    case SQLITE_BLOB:
        if (auto data = dataForColumnIndex(index))
            out.emplace(std::move(*data));
        else
            out.emplace();
        break;
    default:
        if (auto text = stringForColumnIndex(index))
            out.emplace(std::move(*text));
        else
            out.emplace();
        break;
    }
    return out;
}

std::optional<std::map<std::string, SQLValue>> SQLResultSet::resultDictionary() const {
    if (sqlite3_data_count(handle()) <= 0) {
        logLine("Warning: There seem to be no columns in this set.");
        return std::nullopt;
    }
    std::map<std::string, SQLValue> dict;
    int n = columnCount();
    for (int i = 0; i < n; ++i) {
        auto value = objectForColumnIndex(i);
        if (value) dict.insert_or_assign(columnNameForIndex(i), std::move(*value));
    }
    return dict;
}

std::optional<std::map<std::string, SQLValue>> SQLResultSet::resultDict() {
    if (sqlite3_data_count(handle()) <= 0) {
        logLine("Warning: There seem to be no columns in this set.");
        return std::nullopt;
    }
    std::map<std::string, SQLValue> dict;
    for (const auto& [name, index] : columnNameToIndexMap()) {
        auto value = objectForColumnIndex(index);
        if (value) dict.insert_or_assign(name, std::move(*value));
    }
    return dict;
}

} // namespace sqlkit
