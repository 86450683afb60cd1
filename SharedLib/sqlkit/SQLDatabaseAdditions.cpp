#include "SharedLib/sqlkit/SQLDatabaseAdditions.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>

#include "SharedLib/sqlkit/SQLKitLog.h"

namespace sqlkit {
namespace {

std::string lowered(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

// Runs the query and reads column 0 of its first row with the getter.
template <class T, class Getter>
T firstValue(SQLDatabase& db, std::string_view sql, const SQLArguments& arguments, T fallback, Getter get) {
    auto rs = db.executeQuery(sql, arguments);
    if (!rs || !rs->next()) return fallback;
    T value = get(*rs);
    rs->close();
    return value;
}

std::uint32_t pragmaNumber(SQLDatabase& db, const char* sql) {
    return firstValue<std::uint32_t>(db, sql, {}, 0u, [](SQLResultSet& rs) {
        return static_cast<std::uint32_t>(static_cast<std::uint64_t>(rs.longForColumnIndex(0)) & 0xFFFFFFFFu);
    });
}

void runPragma(SQLDatabase& db, const std::string& sql) {
    auto rs = db.executeQuery(sql);
    if (!rs) return;
    rs->next();
    rs->close();
}

} // namespace

std::optional<std::string> stringForQuery(SQLDatabase& db, std::string_view sql, const SQLArguments& arguments) {
    return firstValue<std::optional<std::string>>(db, sql, arguments, std::nullopt,
                                                  [](SQLResultSet& rs) { return rs.stringForColumnIndex(0); });
}

int intForQuery(SQLDatabase& db, std::string_view sql, const SQLArguments& arguments) {
    return firstValue<int>(db, sql, arguments, 0, [](SQLResultSet& rs) { return rs.intForColumnIndex(0); });
}

std::int64_t longForQuery(SQLDatabase& db, std::string_view sql, const SQLArguments& arguments) {
    return firstValue<std::int64_t>(db, sql, arguments, 0, [](SQLResultSet& rs) { return rs.longForColumnIndex(0); });
}

bool boolForQuery(SQLDatabase& db, std::string_view sql, const SQLArguments& arguments) {
    return firstValue<bool>(db, sql, arguments, false, [](SQLResultSet& rs) { return rs.boolForColumnIndex(0); });
}

double doubleForQuery(SQLDatabase& db, std::string_view sql, const SQLArguments& arguments) {
    return firstValue<double>(db, sql, arguments, 0.0, [](SQLResultSet& rs) { return rs.doubleForColumnIndex(0); });
}

std::optional<SQLBlob> dataForQuery(SQLDatabase& db, std::string_view sql, const SQLArguments& arguments) {
    return firstValue<std::optional<SQLBlob>>(db, sql, arguments, std::nullopt,
                                              [](SQLResultSet& rs) { return rs.dataForColumnIndex(0); });
}

std::optional<SQLDate> dateForQuery(SQLDatabase& db, std::string_view sql, const SQLArguments& arguments) {
    return firstValue<std::optional<SQLDate>>(db, sql, arguments, std::nullopt,
                                              [](SQLResultSet& rs) { return rs.dateForColumnIndex(0); });
}

bool tableExists(SQLDatabase& db, std::string_view tableName) {
    auto rs = db.executeQuery("select [sql] from sqlite_master where [type] = 'table' and lower(name) = ?",
                              SQLArguments{lowered(tableName)});
    if (!rs) return false;
    bool found = rs->next();
    rs->close();
    return found;
}

std::unique_ptr<SQLResultSet> getSchema(SQLDatabase& db) {
    return db.executeQuery(
        "SELECT type, name, tbl_name, rootpage, sql FROM (SELECT * FROM sqlite_master UNION ALL SELECT * FROM "
        "sqlite_temp_master) WHERE type != 'meta' AND name NOT LIKE 'sqlite_%' ORDER BY tbl_name, type DESC, name");
}

std::unique_ptr<SQLResultSet> getTableSchema(SQLDatabase& db, std::string_view tableName) {
    // The name is a string literal of the pragma: quotes inside it are doubled.
    std::string quoted;
    for (char c : tableName) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return db.executeQuery("pragma table_info('" + quoted + "')");
}

bool columnExists(SQLDatabase& db, std::string_view columnName, std::string_view tableName) {
    std::string column = lowered(columnName);
    auto rs = getTableSchema(db, lowered(tableName));
    if (!rs) return false;
    while (rs->next()) {
        auto name = rs->stringForColumn("name");
        if (name && lowered(*name) == column) {
            rs->close();
            return true;
        }
    }
    return false;
}

std::uint32_t applicationID(SQLDatabase& db) { return pragmaNumber(db, "pragma application_id"); }

void setApplicationID(SQLDatabase& db, std::uint32_t appID) {
    runPragma(db, "pragma application_id=" + std::to_string(static_cast<std::int32_t>(appID)));
}

std::string applicationIDString(SQLDatabase& db) {
    std::uint32_t id = applicationID(db);
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((id >> (24 - 8 * i)) & 0xFF);
    return s;
}

void setApplicationIDString(SQLDatabase& db, std::string_view text) {
    if (text.size() != 4) {
        logLine("setApplicationIDString: string passed is not exactly 4 chars long. (was " +
                std::to_string(text.size()) + ")");
    }
    // The first four bytes, most significant first; missing ones are zero.
    std::uint32_t id = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        unsigned char c = i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
        id = (id << 8) | c;
    }
    setApplicationID(db, id);
}

std::uint32_t userVersion(SQLDatabase& db) { return pragmaNumber(db, "pragma user_version"); }

void setUserVersion(SQLDatabase& db, std::uint32_t version) {
    runPragma(db, "pragma user_version = " + std::to_string(static_cast<std::int32_t>(version)));
}

bool validateSQL(SQLDatabase& db, std::string_view sql, SQLError* error) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db.sqliteHandle(), sql.data(), static_cast<int>(sql.size()), &stmt, nullptr);
    bool ok = rc == SQLITE_OK;
    if (!ok && error) *error = SQLError("NSCocoaErrorDomain", db.lastErrorCode(), db.lastErrorMessage());
    sqlite3_finalize(stmt);
    return ok;
}

} // namespace sqlkit
