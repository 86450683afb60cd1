#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLResultSet.h"

// One-value queries, schema questions, the application-id and user-version
// pragmas and SQL validation, on any connection.
namespace sqlkit {

// Column 0 of the first row, or the default (none, 0, false, 0.0) when the
// query fails or gives no row.
std::optional<std::string> stringForQuery(SQLDatabase& db, std::string_view sql, const SQLArguments& arguments = {});
int intForQuery(SQLDatabase& db, std::string_view sql, const SQLArguments& arguments = {});
std::int64_t longForQuery(SQLDatabase& db, std::string_view sql, const SQLArguments& arguments = {});
bool boolForQuery(SQLDatabase& db, std::string_view sql, const SQLArguments& arguments = {});
double doubleForQuery(SQLDatabase& db, std::string_view sql, const SQLArguments& arguments = {});
std::optional<SQLBlob> dataForQuery(SQLDatabase& db, std::string_view sql, const SQLArguments& arguments = {});
std::optional<SQLDate> dateForQuery(SQLDatabase& db, std::string_view sql, const SQLArguments& arguments = {});

// Case-insensitive.
bool tableExists(SQLDatabase& db, std::string_view tableName);
std::unique_ptr<SQLResultSet> getSchema(SQLDatabase& db);
// "pragma table_info(...)" with the name quoted.
std::unique_ptr<SQLResultSet> getTableSchema(SQLDatabase& db, std::string_view tableName);
bool columnExists(SQLDatabase& db, std::string_view columnName, std::string_view tableName);

std::uint32_t applicationID(SQLDatabase& db);
void setApplicationID(SQLDatabase& db, std::uint32_t appID);
std::string applicationIDString(SQLDatabase& db);
void setApplicationIDString(SQLDatabase& db, std::string_view text);
std::uint32_t userVersion(SQLDatabase& db);
void setUserVersion(SQLDatabase& db, std::uint32_t version);

// Prepares and finalizes the text; on failure the error (domain
// "NSCocoaErrorDomain") carries lastErrorCode and lastErrorMessage.
bool validateSQL(SQLDatabase& db, std::string_view sql, SQLError* error = nullptr);

} // namespace sqlkit
