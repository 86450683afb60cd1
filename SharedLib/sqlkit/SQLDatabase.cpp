#include "SharedLib/sqlkit/SQLDatabase.h"

#include "Platform/Foundation/Utf8.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "SharedLib/sqlkit/SQLKitLog.h"
#include "SharedLib/sqlkit/SQLOwnFile.h"
#include "SharedLib/sqlkit/SQLResultSet.h"

namespace sqlkit {
namespace {

std::string pathText(const std::optional<std::string>& path) { return path ? *path : std::string("(null)"); }

double wallClockSeconds() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

int randomBusySleepMs() {
    thread_local std::mt19937 engine{std::random_device{}()};
    std::uniform_int_distribution<int> extra(0, 49);
    return 50 + extra(engine);
}

std::string quoteSavePointName(const std::string& name) {
    std::string out;
    for (char c : name) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out;
}

void dispatchFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
    auto* fn = static_cast<SQLDatabase::SQLFunction*>(sqlite3_user_data(context));
    if (!fn || !*fn) return;
    try {
        (*fn)(context, argc, argv);
    } catch (const std::exception& e) {
        sqlite3_result_error(context, e.what(), -1);
    } catch (...) {
        sqlite3_result_error(context, "SQL function failed", -1);
    }
}

struct ExecContext {
    const SQLDatabase::ExecuteStatementsCallback* block;
};

int execCallback(void* ctx, int columns, char** values, char** names) {
    auto* c = static_cast<ExecContext*>(ctx);
    std::map<std::string, std::optional<std::string>> row;
    for (int i = 0; i < columns; ++i) {
        std::optional<std::string> value;
        if (values[i]) {
            const std::string_view text(values[i]);
            if (plat::isValidUtf8(text)) value = std::string(text);
        }
        row[names[i] ? names[i] : ""] = std::move(value);
    }
    try {
        return (*c->block)(row);
    } catch (...) {
        return 1;
    }
}

} // namespace

// --- Construction ---------------------------------------------------------

SQLDatabase::SQLDatabase(std::optional<std::string> path) : databasePath_(std::move(path)) {
    if (sqlite3_threadsafe() == 0) {
        logLine("SharedLib/sqlkit/SQLDatabase: assertion failed: sqlite3_threadsafe()");
        std::abort();
    }
}

std::unique_ptr<SQLDatabase> SQLDatabase::databaseWithPath(std::optional<std::string> path) {
    return std::make_unique<SQLDatabase>(std::move(path));
}

SQLDatabase::~SQLDatabase() { close(); }

std::optional<std::string> SQLDatabase::databaseURL() const {
    if (!databasePath_) return std::nullopt;
    return "file://" + *databasePath_;
}

std::string SQLDatabase::sqlitePath() const {
    if (!databasePath_) return ":memory:";
    return *databasePath_;
}

std::string SQLDatabase::description() const {
    char buf[64];
    std::snprintf(buf, sizeof buf, "<SQLDatabase: %p>", static_cast<const void*>(this));
    return buf;
}

// --- Opening and closing -------------------------------------------------

bool SQLDatabase::open() {
    if (isOpen_) return true;
    if (db_ && !close()) return false;
    sqlite3* handle = nullptr;
    int rc = sqlite3_open(sqlitePath().c_str(), &handle);
    setHandle(handle);
    if (rc != SQLITE_OK) {
        logLine("error opening!: " + std::to_string(rc));
        return false;
    }
    if (maxBusyRetryTimeInterval_ > 0) setMaxBusyRetryTimeInterval(maxBusyRetryTimeInterval_);
    isOpen_ = true;
    return true;
}

bool SQLDatabase::openWithFlags(int flags, const std::optional<std::string>& vfs) {
    if (isOpen_) return true;
    if (db_ && !close()) return false;
    sqlite3* handle = nullptr;
    // Without following a link: the file's own, its folder resolved.
    const bool noFollow = (flags & SQLOwnFile::kOpenNoFollow) && databasePath_ && !databasePath_->empty();
    const std::string name = noFollow ? SQLOwnFile::openName(*databasePath_) : sqlitePath();
    int rc = sqlite3_open_v2(name.c_str(), &handle, flags, vfs ? vfs->c_str() : nullptr);
    setHandle(handle);
    if (rc != SQLITE_OK) {
        logLine("error opening!: " + std::to_string(rc));
        return false;
    }
    if (maxBusyRetryTimeInterval_ > 0) setMaxBusyRetryTimeInterval(maxBusyRetryTimeInterval_);
    isOpen_ = true;
    return true;
}

bool SQLDatabase::close() {
    userData_.reset();
    clearCachedStatements();
    closeOpenResultSets();
    if (!db_) return true;

    // Unpublish the handle first, so interrupt() from another thread never
    // reaches a handle being freed.
    sqlite3* handle = db_;
    setHandle(nullptr);
    int rc = sqlite3_close(handle);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
        bool finalizedAny = false;
        while (sqlite3_stmt* leaked = sqlite3_next_stmt(handle, nullptr)) {
            logLine("Closing leaked statement");
            sqlite3_finalize(leaked);
            finalizedAny = true;
        }
        if (finalizedAny) {
            rc = sqlite3_close(handle);
            if (rc != SQLITE_OK && rc != SQLITE_BUSY && rc != SQLITE_LOCKED)
                logLine("error closing!: " + std::to_string(rc));
        }
    } else if (rc != SQLITE_OK) {
        logLine("error closing!: " + std::to_string(rc));
    }
    if (rc != SQLITE_OK) {
        // Something still holds the handle (a backup, say): let SQLite free
        // it once that is done instead of leaving an open handle behind.
        int rc2 = sqlite3_close_v2(handle);
        if (rc2 != SQLITE_OK) {
            logLine("error closing!: " + std::to_string(rc2));
            setHandle(handle);
            return false;
        }
    }
    isOpen_ = false;
    return true;
}

void SQLDatabase::setHandle(sqlite3* handle) {
    std::lock_guard lock(handleMutex_);
    db_ = handle;
}

bool SQLDatabase::goodConnection() {
    if (!isOpen_) return false;
    auto rs = executeQuery("select name from sqlite_master where type='table'");
    if (!rs) return false;
    rs->close();
    return true;
}

// --- Busy handling ---------------------------------------------------------

void SQLDatabase::setMaxBusyRetryTimeInterval(double seconds) {
    maxBusyRetryTimeInterval_ = seconds;
    if (!db_) return;
    if (seconds > 0)
        sqlite3_busy_handler(db_, &SQLDatabase::busyHandler, this);
    else
        sqlite3_busy_handler(db_, nullptr, nullptr);
}

int SQLDatabase::busyHandler(void* context, int count) {
    auto* self = static_cast<SQLDatabase*>(context);
    double now = self->busyNow_ ? self->busyNow_() : wallClockSeconds();
    if (count == 0) {
        self->startBusyRetryTime_ = now;
        return 1;
    }
    double elapsed = now - self->startBusyRetryTime_;
    if (self->maxBusyRetryTimeInterval_ > elapsed) {
        int requested = randomBusySleepMs();
        int actual = self->busySleep_ ? self->busySleep_(requested) : sqlite3_sleep(requested);
        if (actual != requested) {
            logLine("WARNING: Requested sleep of " + std::to_string(requested) + " milliseconds, but SQLite returned " +
                    std::to_string(actual) + ". Maybe SQLite wasn't built with HAVE_USLEEP=1?");
        }
        return 1;
    }
    return 0;
}

int SQLDatabase::busyRetryTimeout() {
    logLine("-[SQLDatabase busyRetryTimeout]:329");
    logLine("SQLKit: busyRetryTimeout no longer works, please use maxBusyRetryTimeInterval");
    return -1;
}

void SQLDatabase::setBusyRetryTimeout(int) {
    logLine("-[SQLDatabase setBusyRetryTimeout:]:336");
    logLine("SQLKit: setBusyRetryTimeout does nothing, please use setMaxBusyRetryTimeInterval:");
}

void SQLDatabase::setBusyTimingHooks(std::function<double()> now, std::function<int(int)> sleepMs) {
    busyNow_ = std::move(now);
    busySleep_ = std::move(sleepMs);
}

// --- Errors ------------------------------------------------------------------

std::string SQLDatabase::lastErrorMessage() const { return sqlite3_errmsg(db_); }
int SQLDatabase::lastErrorCode() const { return sqlite3_errcode(db_); }
int SQLDatabase::lastExtendedErrorCode() const { return sqlite3_extended_errcode(db_); }

bool SQLDatabase::hadError() const {
    int code = lastErrorCode();
    return code > SQLITE_OK && code < SQLITE_ROW;
}

SQLError SQLDatabase::errorWithMessage(const std::string& message) const {
    return SQLError("SQLDatabase", sqlite3_errcode(db_), message);
}

SQLError SQLDatabase::lastError() const { return errorWithMessage(lastErrorMessage()); }

bool SQLDatabase::databaseExists() const {
    if (!isOpen_) {
        logLine("The SQLDatabase " + description() + " is not open.");
        return false;
    }
    return true;
}

void SQLDatabase::warnInUse() const { logLine("The SQLDatabase " + description() + " is currently in use."); }

// --- Open result sets ---------------------------------------------------------

void SQLDatabase::closeOpenResultSets() {
    auto snapshot = openResultSets_;
    for (SQLResultSet* rs : snapshot) {
        rs->setParentDB(nullptr);
        rs->close();
        openResultSets_.erase(rs);
    }
}

void SQLDatabase::resultSetDidClose(SQLResultSet* resultSet) { openResultSets_.erase(resultSet); }

// --- Dates ----------------------------------------------------------------------

std::shared_ptr<SQLDateFormatter> SQLDatabase::storeableDateFormat(const std::string& format) {
    return std::make_shared<SQLDateFormatter>(format);
}

std::optional<SQLDate> SQLDatabase::dateFromString(const std::string& text) const {
    if (!dateFormat_) return std::nullopt;
    return dateFormat_->dateFromString(text);
}

std::optional<std::string> SQLDatabase::stringFromDate(SQLDate date) const {
    if (!dateFormat_) return std::nullopt;
    return dateFormat_->stringFromDate(date);
}

// --- Versions -----------------------------------------------------------------------

std::string SQLDatabase::SQLKitUserVersion() { return "2.7.5"; }

unsigned SQLDatabase::versionNumberFromText(const std::string& text) {
    std::string v = text;
    if (std::count(v.begin(), v.end(), '.') < 2) v += ".0";
    v.erase(std::remove(v.begin(), v.end(), '.'), v.end());
    return static_cast<unsigned>(std::strtoul(v.c_str(), nullptr, 16));
}

unsigned SQLDatabase::SQLKitVersion() {
    static const unsigned version = versionNumberFromText(SQLKitUserVersion());
    return version;
}

std::string SQLDatabase::sqliteLibVersion() { return sqlite3_libversion(); }
bool SQLDatabase::isSQLiteThreadSafe() { return sqlite3_threadsafe() != 0; }

bool SQLDatabase::setKey(const std::string& key) {
    std::string bytes(key.c_str());
    return setKeyWithData(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}
bool SQLDatabase::rekey(const std::string& key) {
    std::string bytes(key.c_str());
    return rekeyWithData(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}
bool SQLDatabase::setKeyWithData(const std::vector<std::uint8_t>&) { return false; }
bool SQLDatabase::rekeyWithData(const std::vector<std::uint8_t>&) { return false; }

// --- Statement cache ------------------------------------------------------------

void SQLDatabase::setShouldCacheStatements(bool value) {
    shouldCacheStatements_ = value;
    // Dropped statements are finalized once no result set holds them.
    if (!value) cachedStatements_.clear();
}

std::shared_ptr<SQLStatement> SQLDatabase::cachedStatementForQuery(std::string_view sql) const {
    auto it = cachedStatements_.find(sql);
    if (it == cachedStatements_.end()) return nullptr;
    for (const auto& s : it->second)
        if (!s->inUse()) return s;
    return nullptr;
}

void SQLDatabase::setCachedStatement(const std::shared_ptr<SQLStatement>& statement, std::string_view sql) {
    if (!statement) return;
    statement->setQuery(std::string(sql));
    auto& list = cachedStatements_[std::string(sql)];
    if (std::find(list.begin(), list.end(), statement) == list.end()) list.push_back(statement);
}

void SQLDatabase::clearCachedStatements() {
    for (auto& [sql, list] : cachedStatements_)
        for (auto& s : list) s->close();
    cachedStatements_.clear();
}

std::size_t SQLDatabase::cachedStatementCount(std::string_view sql) const {
    auto it = cachedStatements_.find(sql);
    return it == cachedStatements_.end() ? 0 : it->second.size();
}

void SQLDatabase::dropCachedStatement(const std::shared_ptr<SQLStatement>& statement, std::string_view sql) {
    auto it = cachedStatements_.find(sql);
    if (it != cachedStatements_.end()) {
        auto& list = it->second;
        list.erase(std::remove(list.begin(), list.end(), statement), list.end());
        if (list.empty()) cachedStatements_.erase(it);
    }
    statement->close();
}

// --- Binding ---------------------------------------------------------------------

void SQLDatabase::bindObject(const SQLValue& value, int column, sqlite3_stmt* statement) {
    switch (value.type()) {
    case SQLValue::Type::Null:
        sqlite3_bind_null(statement, column);
        break;
    case SQLValue::Type::Blob: {
        const SQLBlob& b = *value.ifBlob();
        if (b.empty())
            sqlite3_bind_zeroblob(statement, column, 0);
        else
            sqlite3_bind_blob64(statement, column, b.data(), b.size(), SQLITE_TRANSIENT);
        break;
    }
    case SQLValue::Type::Date:
        if (dateFormat_) {
            std::string text = dateFormat_->stringFromDate(*value.ifDate());
            sqlite3_bind_text64(statement, column, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        } else {
            sqlite3_bind_double(statement, column, value.toDouble());
        }
        break;
    case SQLValue::Type::Bool:
        sqlite3_bind_int(statement, column, *value.ifBool() ? 1 : 0);
        break;
    case SQLValue::Type::Integer:
        sqlite3_bind_int64(statement, column, *value.ifInteger());
        break;
    case SQLValue::Type::Real:
        sqlite3_bind_double(statement, column, *value.ifReal());
        break;
    case SQLValue::Type::Text: {
        const std::string& t = *value.ifText();
        sqlite3_bind_text64(statement, column, t.data(), t.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        break;
    }
    }
}

int SQLDatabase::bindArguments(sqlite3_stmt* statement, const SQLArguments* array,
                               const SQLNamedArguments* dictionary, bool updateRoad, SQLError* error) {
    int count = sqlite3_bind_parameter_count(statement);
    int n = 0;
    if (dictionary) {
        for (const auto& [key, value] : *dictionary) {
            std::string name = ":" + key;
            int index = sqlite3_bind_parameter_index(statement, name.c_str());
            if (index > 0) {
                if (traceExecution_) logLine(name + " = " + value.description());
                bindObject(value, index, statement);
                ++n;
            } else {
                std::string message = "Could not find index for " + key;
                if (!updateRoad) {
                    logLine(message);
                } else {
                    if (logsErrors_) logLine(message);
                    if (error) *error = errorWithMessage(message);
                }
            }
        }
        return n;
    }
    while (n < count) {
        if (!array || static_cast<std::size_t>(n) >= array->size()) break;
        const SQLValue& value = (*array)[static_cast<std::size_t>(n)];
        if (traceExecution_) {
            if (const SQLBlob* b = value.ifBlob())
                logLine("data: " + std::to_string(b->size()) + " bytes");
            else
                logLine("obj: " + value.description());
        }
        bindObject(value, n + 1, statement);
        ++n;
    }
    return n;
}

void SQLDatabase::logPrepareError(std::string_view sql) const {
    logLine("DB Error: " + std::to_string(lastErrorCode()) + " \"" + lastErrorMessage() + "\"");
    logLine("DB Query: " + std::string(sql));
    logLine("DB Path: " + pathText(databasePath_));
}

// --- Queries ------------------------------------------------------------------------

std::unique_ptr<SQLResultSet> SQLDatabase::executeQuery(std::string_view sql) {
    return executeQueryImpl(sql, nullptr, nullptr);
}

std::unique_ptr<SQLResultSet> SQLDatabase::executeQuery(std::string_view sql, const SQLArguments& arguments) {
    return executeQueryImpl(sql, &arguments, nullptr);
}

std::unique_ptr<SQLResultSet> SQLDatabase::executeQuery(std::string_view sql, const SQLArguments& arguments,
                                                        SQLError* error) {
    auto rs = executeQueryImpl(sql, &arguments, nullptr);
    if (!rs && error) *error = lastError();
    return rs;
}

std::unique_ptr<SQLResultSet> SQLDatabase::executeQuery(std::string_view sql, const SQLNamedArguments& arguments) {
    return executeQueryImpl(sql, nullptr, &arguments);
}

std::unique_ptr<SQLResultSet> SQLDatabase::executeQueryWithFormat(std::string_view format,
                                                                  const SQLArguments& arguments) {
    std::string sql;
    SQLArguments converted;
    extractSQL(format, arguments, sql, converted);
    return executeQueryImpl(sql, &converted, nullptr);
}

sqlite3_stmt* SQLDatabase::beginStatement(std::string_view sql, const char* road,
                                          std::shared_ptr<SQLStatement>& cached, SQLError* error) {
    // A failed update always fills its error slot, these refusals included.
    if (!databaseExists()) {
        if (error)
            *error = SQLError("SQLDatabase", db_ ? sqlite3_errcode(db_) : SQLITE_MISUSE,
                              "The SQLDatabase " + description() + " is not open.");
        return nullptr;
    }
    if (isExecutingStatement_) {
        warnInUse();
        if (error) *error = errorWithMessage("The SQLDatabase " + description() + " is currently in use.");
        return nullptr;
    }
    isExecutingStatement_ = true;
    if (traceExecution_) logLine(description() + " " + road + ": " + std::string(sql));
    sqlite3_stmt* handle = statementFor(sql, cached, error);
    if (!handle) isExecutingStatement_ = false;
    return handle;
}

sqlite3_stmt* SQLDatabase::statementFor(std::string_view sql, std::shared_ptr<SQLStatement>& cached,
                                        SQLError* error) {
    cached.reset();
    if (shouldCacheStatements_) {
        cached = cachedStatementForQuery(sql);
        if (cached) {
            cached->reset();
            if (sqlite3_stmt* handle = cached->statement()) return handle;
            cached.reset();
        }
    }
    sqlite3_stmt* handle = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &handle, nullptr);
    if (rc != SQLITE_OK) {
        if (logsErrors_) logPrepareError(sql);
        if (error) *error = errorWithMessage(sqlite3_errmsg(db_));
        if (crashOnErrors_) std::abort();
        sqlite3_finalize(handle);
        return nullptr;
    }
    return handle;
}

void SQLDatabase::discardStatement(const std::shared_ptr<SQLStatement>& cached, sqlite3_stmt* handle,
                                   std::string_view sql) {
    if (cached)
        dropCachedStatement(cached, sql);
    else
        sqlite3_finalize(handle);
}

std::unique_ptr<SQLResultSet> SQLDatabase::executeQueryImpl(std::string_view sql, const SQLArguments* array,
                                                            const SQLNamedArguments* dictionary) {
    std::shared_ptr<SQLStatement> cached;
    sqlite3_stmt* handle = beginStatement(sql, "executeQuery", cached, nullptr);
    if (!handle) return nullptr;

    int bound = bindArguments(handle, array, dictionary, false, nullptr);
    if (bound != sqlite3_bind_parameter_count(handle)) {
        logLine("Error: the bind count is not correct for the # of variables (executeQuery)");
        discardStatement(cached, handle, sql);
        isExecutingStatement_ = false;
        return nullptr;
    }

    std::shared_ptr<SQLStatement> statement = cached;
    if (!statement) {
        statement = std::make_shared<SQLStatement>(handle);
        if (shouldCacheStatements_) setCachedStatement(statement, sql);
    }
    auto rs = SQLResultSet::resultSetWithStatement(statement, this);
    rs->setQuery(std::string(sql));
    openResultSets_.insert(rs.get());
    statement->setUseCount(statement->useCount() + 1);
    isExecutingStatement_ = false;
    return rs;
}

// --- Updates ---------------------------------------------------------------------------

bool SQLDatabase::executeUpdate(std::string_view sql) { return executeUpdateImpl(sql, nullptr, nullptr, nullptr); }

bool SQLDatabase::executeUpdate(std::string_view sql, const SQLArguments& arguments) {
    return executeUpdateImpl(sql, nullptr, &arguments, nullptr);
}

bool SQLDatabase::executeUpdate(std::string_view sql, const SQLArguments& arguments, SQLError* error) {
    return executeUpdateImpl(sql, error, &arguments, nullptr);
}

bool SQLDatabase::executeUpdate(std::string_view sql, const SQLNamedArguments& arguments, SQLError* error) {
    return executeUpdateImpl(sql, error, nullptr, &arguments);
}

bool SQLDatabase::executeUpdateWithFormat(std::string_view format, const SQLArguments& arguments) {
    std::string sql;
    SQLArguments converted;
    extractSQL(format, arguments, sql, converted);
    return executeUpdateImpl(sql, nullptr, &converted, nullptr);
}

bool SQLDatabase::executeUpdateImpl(std::string_view sql, SQLError* error, const SQLArguments* array,
                                    const SQLNamedArguments* dictionary) {
    std::shared_ptr<SQLStatement> cached;
    sqlite3_stmt* handle = beginStatement(sql, "executeUpdate", cached, error);
    if (!handle) return false;

    int bound = bindArguments(handle, array, dictionary, true, error);
    int count = sqlite3_bind_parameter_count(handle);
    if (bound != count) {
        std::string message = "Error: the bind count (" + std::to_string(bound) +
                              ") is not correct for the # of variables in the query (" + std::to_string(count) +
                              ") (" + std::string(sql) + ") (executeUpdate)";
        if (logsErrors_) logLine(message);
        if (error) *error = errorWithMessage(message);
        discardStatement(cached, handle, sql);
        isExecutingStatement_ = false;
        return false;
    }

    int rc = sqlite3_step(handle);
    const std::string queryLine = "DB Query: " + std::string(sql);
    if (rc == SQLITE_DONE) {
        // success
    } else if (rc == SQLITE_ROW) {
        std::string message = "A executeUpdate is being called with a query string '" + std::string(sql) + "'";
        if (logsErrors_) {
            logLine(message);
            logLine(queryLine);
        }
        if (error) *error = errorWithMessage(message);
    } else if (rc == SQLITE_INTERRUPT) {
        if (logsErrors_) {
            logLine("Error calling sqlite3_step. Query was interrupted (" + std::to_string(rc) + ": " +
                    sqlite3_errmsg(db_) + ") SQLITE_INTERRUPT");
            logLine(queryLine);
        }
        if (error) *error = errorWithMessage(sqlite3_errmsg(db_));
    } else {
        if (error) *error = errorWithMessage(sqlite3_errmsg(db_));
        if (logsErrors_) {
            std::string detail = "(" + std::to_string(rc) + ": " + sqlite3_errmsg(db_) + ")";
            if (rc == SQLITE_ERROR)
                logLine("Error calling sqlite3_step " + detail + " SQLITE_ERROR");
            else if (rc == SQLITE_MISUSE)
                logLine("Error calling sqlite3_step " + detail + " SQLITE_MISUSE");
            else
                logLine("Unknown error calling sqlite3_step " + detail + " eu");
            logLine(queryLine);
        }
    }

    if (!cached && shouldCacheStatements_) {
        cached = std::make_shared<SQLStatement>(handle);
        setCachedStatement(cached, sql);
    }
    int closeCode;
    if (cached) {
        cached->setUseCount(cached->useCount() + 1);
        closeCode = sqlite3_reset(handle);
    } else {
        closeCode = sqlite3_finalize(handle);
    }
    if (closeCode != SQLITE_OK && logsErrors_) {
        logLine("Unknown error finalizing or resetting statement (" + std::to_string(closeCode) + ": " +
                sqlite3_errmsg(db_) + ")");
        logLine(queryLine);
    }
    isExecutingStatement_ = false;
    return rc == SQLITE_DONE;
}

// --- Scripts ---------------------------------------------------------------------------------

bool SQLDatabase::executeStatements(std::string_view sql) { return executeStatements(sql, nullptr); }

bool SQLDatabase::executeStatements(std::string_view sql, const ExecuteStatementsCallback& block) {
    std::string text(sql);
    char* errorText = nullptr;
    ExecContext context{&block};
    int rc = sqlite3_exec(db_, text.c_str(), block ? &execCallback : nullptr, block ? &context : nullptr, &errorText);
    if (errorText) {
        if (logsErrors_) logLine(std::string("Error inserting batch: ") + errorText);
        sqlite3_free(errorText);
    }
    return rc == SQLITE_OK;
}

// --- Results of updates --------------------------------------------------------------------

std::int64_t SQLDatabase::readWhileIdle(long long (*read)(sqlite3*)) {
    if (isExecutingStatement_) {
        warnInUse();
        return 0;
    }
    isExecutingStatement_ = true;
    std::int64_t value = db_ ? read(db_) : 0;
    isExecutingStatement_ = false;
    return value;
}

std::int64_t SQLDatabase::lastInsertRowId() { return readWhileIdle(&sqlite3_last_insert_rowid); }

std::int64_t SQLDatabase::changes() { return readWhileIdle(&sqlite3_changes64); }

// --- Format conversion ----------------------------------------------------------------------

void SQLDatabase::extractSQL(std::string_view format, const SQLArguments& arguments, std::string& sql,
                             SQLArguments& outArguments) {
    std::size_t next = 0;
    // The next argument, or none when the list has run out.
    auto take = [&]() -> SQLValue { return next < arguments.size() ? arguments[next++] : SQLValue(); };
    const std::size_t n = format.size();
    std::size_t i = 0;
    while (i < n) {
        char c = format[i];
        if (c != '%') {
            sql += c;
            ++i;
            continue;
        }
        if (i + 1 >= n) break;  // a lone trailing "%" writes nothing
        char k = format[i + 1];
        i += 2;
        if (k == '%') {
            sql += '%';
            continue;
        }
        auto peek = [&](std::size_t at) -> char { return at < n ? format[at] : '\0'; };
        std::optional<SQLValue> produced;
        bool consumed = true;  // the conversion takes an argument
        SQLValue v;
        auto integer = [&](auto cast) {
            v = take();
            if (!v.isNull()) produced = SQLValue(cast(v.toInt64()));
        };
        switch (k) {
        case '@':
            v = take();
            if (!v.isNull()) produced = v;
            break;
        case 'c':
            v = take();
            if (!v.isNull()) {
                if (const std::string* t = v.ifText())
                    produced = SQLValue(t->substr(0, 1));
                else
                    produced = SQLValue(std::string(1, static_cast<char>(v.toInt64())));
            }
            break;
        case 's':
            v = take();
            if (!v.isNull()) produced = SQLValue(v.toText());
            break;
        case 'd': case 'D': case 'i':
            integer([](std::int64_t x) { return static_cast<std::int32_t>(x); });
            break;
        case 'u': case 'U':
            integer([](std::int64_t x) { return static_cast<std::uint32_t>(x); });
            break;
        case 'f':
            v = take();
            if (!v.isNull()) produced = SQLValue(v.toDouble());
            break;
        case 'g':
            v = take();
            if (!v.isNull()) produced = SQLValue(static_cast<double>(static_cast<float>(v.toDouble())));
            break;
        case 'h':
            if (peek(i) == 'i') {
                ++i;
                integer([](std::int64_t x) { return static_cast<std::int16_t>(x); });
            } else if (peek(i) == 'u') {
                ++i;
                integer([](std::int64_t x) { return static_cast<std::uint16_t>(x); });
            } else {
                consumed = false;
                sql += 'h';
            }
            break;
        case 'q':
            if (peek(i) == 'i' || peek(i) == 'u') {
                ++i;
                integer([](std::int64_t x) { return x; });
            } else {
                consumed = false;
                sql += 'q';
            }
            break;
        case 'l':
            if (peek(i) == 'd' || peek(i) == 'u') {
                ++i;
                integer([](std::int64_t x) { return x; });
            } else if (peek(i) == 'l') {
                if (peek(i + 1) == 'd' || peek(i + 1) == 'u') {
                    i += 2;
                    integer([](std::int64_t x) { return x; });
                } else {
                    // "%ll" without its letter: one "l" stays, the second is dropped.
                    ++i;
                    consumed = false;
                    sql += 'l';
                }
            } else {
                consumed = false;
                sql += 'l';
            }
            break;
        default:
            consumed = false;
            sql += k;
            break;
        }
        if (!consumed) continue;
        if (produced) {
            sql += '?';
            outArguments.push_back(std::move(*produced));
        } else {
            sql += "NULL";
        }
    }
}

// --- Transactions --------------------------------------------------------------------

bool SQLDatabase::runBegin(const char* sql) {
    bool ok = executeUpdate(sql);
    if (ok) isInTransaction_ = true;
    return ok;
}

bool SQLDatabase::beginTransaction() { return runBegin("begin exclusive transaction"); }
bool SQLDatabase::beginExclusiveTransaction() { return runBegin("begin exclusive transaction"); }
bool SQLDatabase::beginDeferredTransaction() { return runBegin("begin deferred transaction"); }
bool SQLDatabase::beginImmediateTransaction() { return runBegin("begin immediate transaction"); }

bool SQLDatabase::commit() {
    bool ok = executeUpdate("commit transaction");
    if (ok) isInTransaction_ = false;
    return ok;
}

bool SQLDatabase::rollback() {
    bool ok = executeUpdate("rollback transaction");
    if (ok) isInTransaction_ = false;
    return ok;
}

// --- Save points --------------------------------------------------------------------

bool SQLDatabase::startSavePointWithName(const std::string& name, SQLError* error) {
    return executeUpdate("savepoint '" + quoteSavePointName(name) + "';", SQLArguments{}, error);
}

bool SQLDatabase::releaseSavePointWithName(const std::string& name, SQLError* error) {
    return executeUpdate("release savepoint '" + quoteSavePointName(name) + "';", SQLArguments{}, error);
}

bool SQLDatabase::rollbackToSavePointWithName(const std::string& name, SQLError* error) {
    return executeUpdate("rollback transaction to savepoint '" + quoteSavePointName(name) + "';", SQLArguments{},
                         error);
}

std::optional<SQLError> SQLDatabase::inSavePoint(const std::function<void(bool& rollback)>& block) {
    static std::atomic<long> counter{0};
    std::string name = "dbSavePoint" + std::to_string(counter.fetch_add(1));
    std::optional<SQLError> result;
    SQLError error;
    if (!startSavePointWithName(name, &error)) return error;
    if (block) {
        bool shouldRollback = false;
        block(shouldRollback);
        if (shouldRollback && !rollbackToSavePointWithName(name, &error)) result = error;
    }
    if (!releaseSavePointWithName(name, &error)) result = error;
    return result;
}

// --- Checkpoints and interruption ---------------------------------------------------

bool SQLDatabase::checkpoint(int mode, SQLError* error) { return checkpoint(mode, std::nullopt, nullptr, nullptr, error); }

bool SQLDatabase::checkpoint(int mode, const std::optional<std::string>& name, SQLError* error) {
    return checkpoint(mode, name, nullptr, nullptr, error);
}

bool SQLDatabase::checkpoint(int mode, const std::optional<std::string>& name, int* logFrameCount,
                             int* checkpointCount, SQLError* error) {
    // SQLite would dereference a missing handle.
    if (!db_) {
        if (error) *error = SQLError("SQLDatabase", SQLITE_MISUSE, "The SQLDatabase " + description() + " is not open.");
        if (logsErrors_) logLine("The SQLDatabase " + description() + " is not open.");
        return false;
    }
    int rc = sqlite3_wal_checkpoint_v2(db_, name ? name->c_str() : nullptr, mode, logFrameCount, checkpointCount);
    if (rc != SQLITE_OK) {
        if (error) *error = lastError();
        if (logsErrors_) logLine(lastErrorMessage());
        if (crashOnErrors_) std::abort();
    }
    return rc == SQLITE_OK;
}

bool SQLDatabase::interrupt() {
    std::lock_guard lock(handleMutex_);
    if (!db_) return false;
    sqlite3_interrupt(db_);
    return true;
}

// --- User SQL functions -----------------------------------------------------------

void SQLDatabase::makeFunctionNamed(const std::string& name, int arguments, SQLFunction block) {
    openFunctions_.push_back(std::make_unique<SQLFunction>(std::move(block)));
    // Without a handle there is nothing to register with.
    if (!db_) return;
    sqlite3_create_function(db_, name.c_str(), arguments, SQLITE_UTF8, openFunctions_.back().get(),
                            &dispatchFunction, nullptr, nullptr);
}

int SQLDatabase::valueType(sqlite3_value* value) { return sqlite3_value_type(value); }
int SQLDatabase::valueInt(sqlite3_value* value) { return sqlite3_value_int(value); }
std::int64_t SQLDatabase::valueLong(sqlite3_value* value) { return sqlite3_value_int64(value); }
double SQLDatabase::valueDouble(sqlite3_value* value) { return sqlite3_value_double(value); }

std::optional<SQLBlob> SQLDatabase::valueData(sqlite3_value* value) {
    auto* bytes = static_cast<const std::uint8_t*>(sqlite3_value_blob(value));
    if (!bytes) return std::nullopt;
    int n = sqlite3_value_bytes(value);
    return SQLBlob(bytes, bytes + n);
}

std::optional<std::string> SQLDatabase::valueString(sqlite3_value* value) {
    auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
    if (!text) return std::nullopt;
    return std::string(text, static_cast<std::size_t>(sqlite3_value_bytes(value)));
}

void SQLDatabase::resultNullInContext(sqlite3_context* context) { sqlite3_result_null(context); }
void SQLDatabase::resultInt(int value, sqlite3_context* context) { sqlite3_result_int(context, value); }
void SQLDatabase::resultLong(std::int64_t value, sqlite3_context* context) { sqlite3_result_int64(context, value); }
void SQLDatabase::resultDouble(double value, sqlite3_context* context) { sqlite3_result_double(context, value); }

void SQLDatabase::resultData(const SQLBlob& data, sqlite3_context* context) {
    if (data.empty())
        sqlite3_result_zeroblob(context, 0);
    else
        sqlite3_result_blob64(context, data.data(), data.size(), SQLITE_TRANSIENT);
}

void SQLDatabase::resultString(const std::string& value, sqlite3_context* context) {
    sqlite3_result_text64(context, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

void SQLDatabase::resultError(const std::string& message, sqlite3_context* context) {
    sqlite3_result_error(context, message.data(), static_cast<int>(message.size()));
}

void SQLDatabase::resultErrorCode(int code, sqlite3_context* context) { sqlite3_result_error_code(context, code); }
void SQLDatabase::resultErrorNoMemoryInContext(sqlite3_context* context) { sqlite3_result_error_nomem(context); }
void SQLDatabase::resultErrorTooBigInContext(sqlite3_context* context) { sqlite3_result_error_toobig(context); }

} // namespace sqlkit
