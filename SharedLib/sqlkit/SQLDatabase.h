#pragma once
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "SharedLib/sqlkit/SQLDateFormatter.h"
#include "SharedLib/sqlkit/SQLError.h"
#include "SharedLib/sqlkit/SQLResultSet.h"
#include "SharedLib/sqlkit/SQLStatement.h"
#include "SharedLib/sqlkit/SQLValue.h"

struct sqlite3;
struct sqlite3_context;
struct sqlite3_value;

namespace sqlkit {


// One connection to one SQLite file. Not safe for use from two threads at
// once; reach it through an SQLDatabaseQueue when several threads need it.
class SQLDatabase {
public:
    // SQLite open flags the system uses.
    static constexpr int kOpenReadOnly = 0x1;
    static constexpr int kOpenReadWrite = 0x2;
    static constexpr int kOpenCreate = 0x4;
    static constexpr int kOpenReadWriteCreate = kOpenReadWrite | kOpenCreate;

    // Checkpoint modes, passed to SQLite unchanged.
    enum CheckpointMode { kCheckpointPassive = 0, kCheckpointFull = 1, kCheckpointRestart = 2, kCheckpointTruncate = 3 };

    // Rows of executeStatements: column name to text (nullopt for NULL or
    // text that is not valid UTF-8). A non-zero result stops the script.
    using ExecuteStatementsCallback =
        std::function<int(const std::map<std::string, std::optional<std::string>>& row)>;
    // A user SQL function: context, argument count, argument values.
    using SQLFunction = std::function<void(sqlite3_context*, int, sqlite3_value**)>;

    // A closed connection. No path: a private in-memory database; "": a
    // private temporary on-disk database.
    explicit SQLDatabase(std::optional<std::string> path = std::nullopt);
    static std::unique_ptr<SQLDatabase> databaseWithPath(std::optional<std::string> path);
    ~SQLDatabase();
    SQLDatabase(const SQLDatabase&) = delete;
    SQLDatabase& operator=(const SQLDatabase&) = delete;

    const std::optional<std::string>& databasePath() const { return databasePath_; }
    // "file://" URL of the path, none without a path.
    std::optional<std::string> databaseURL() const;
    std::string sqlitePath() const;
    sqlite3* sqliteHandle() const { return db_; }
    // "<SQLDatabase: 0x...>"
    std::string description() const;

    // --- Opening and closing -------------------------------------------
    bool open();
    bool openWithFlags(int flags, const std::optional<std::string>& vfs = std::nullopt);
    // Finalizes the cached statements, closes the open result sets and the
    // handle. False only when the handle could not be released.
    bool close();
    bool isOpen() const { return isOpen_; }
    void setIsOpen(bool b) { isOpen_ = b; }
    bool goodConnection();

    // --- Busy handling -------------------------------------------------
    double maxBusyRetryTimeInterval() const { return maxBusyRetryTimeInterval_; }
    // > 0 installs the busy handler on an open handle, <= 0 removes it.
    void setMaxBusyRetryTimeInterval(double seconds);
    // Kept only to warn; they do nothing.
    int busyRetryTimeout();
    void setBusyRetryTimeout(int timeout);
    // Replaces the clock (seconds) and the sleeper (milliseconds requested ->
    // milliseconds slept) the busy handler uses; empty restores the real ones.
    void setBusyTimingHooks(std::function<double()> now, std::function<int(int)> sleepMs);

    // --- Errors ----------------------------------------------------------
    std::string lastErrorMessage() const;
    int lastErrorCode() const;
    int lastExtendedErrorCode() const;
    bool hadError() const;
    SQLError lastError() const;
    SQLError errorWithMessage(const std::string& message) const;

    // --- In-use guard and open check ------------------------------------
    bool databaseExists() const;
    void warnInUse() const;

    // --- Open result sets ---------------------------------------------
    bool hasOpenResultSets() const { return !openResultSets_.empty(); }
    void closeOpenResultSets();
    void resultSetDidClose(SQLResultSet* resultSet);

    // --- Dates -----------------------------------------------------------
    static std::shared_ptr<SQLDateFormatter> storeableDateFormat(const std::string& format);
    void setDateFormat(std::shared_ptr<SQLDateFormatter> formatter) { dateFormat_ = std::move(formatter); }
    bool hasDateFormatter() const { return dateFormat_ != nullptr; }
    std::optional<SQLDate> dateFromString(const std::string& text) const;
    std::optional<std::string> stringFromDate(SQLDate date) const;

    // --- Versions ---------------------------------------------------------
    static std::string SQLKitUserVersion();
    static unsigned SQLKitVersion();
    // Version text -> number: missing third part gets ".0", dots dropped, hex.
    static unsigned versionNumberFromText(const std::string& text);
    static std::string sqliteLibVersion();
    static bool isSQLiteThreadSafe();

    // --- Encryption (not supported: always false) ------------------------
    bool setKey(const std::string& key);
    bool rekey(const std::string& key);
    bool setKeyWithData(const std::vector<std::uint8_t>& key);
    bool rekeyWithData(const std::vector<std::uint8_t>& key);

    // --- Plain properties --------------------------------------------------
    bool traceExecution() const { return traceExecution_; }
    void setTraceExecution(bool b) { traceExecution_ = b; }
    bool checkedOut() const { return checkedOut_; }
    void setCheckedOut(bool b) { checkedOut_ = b; }
    bool crashOnErrors() const { return crashOnErrors_; }
    void setCrashOnErrors(bool b) { crashOnErrors_ = b; }
    bool logsErrors() const { return logsErrors_; }
    void setLogsErrors(bool b) { logsErrors_ = b; }

    // What a user of the connection keeps with it (knowledge about the open
    // file); dropped when the connection closes.
    const std::shared_ptr<void>& userData() const { return userData_; }
    void setUserData(std::shared_ptr<void> data) { userData_ = std::move(data); }
    bool isInTransaction() const { return isInTransaction_; }
    bool inTransaction() const { return isInTransaction_; }

    // --- Queries: a result set before its first row, or nullptr ---------
    std::unique_ptr<SQLResultSet> executeQuery(std::string_view sql);
    std::unique_ptr<SQLResultSet> executeQuery(std::string_view sql, const SQLArguments& arguments);
    // On failure the error slot (when given) receives lastError().
    std::unique_ptr<SQLResultSet> executeQuery(std::string_view sql, const SQLArguments& arguments,
                                               SQLError* error);
    std::unique_ptr<SQLResultSet> executeQuery(std::string_view sql, const SQLNamedArguments& arguments);
    // Braced lists: {1, "a"} are positional; named ones are written
    // SQLNamedArguments{{"key", value}}.
    std::unique_ptr<SQLResultSet> executeQuery(std::string_view sql, std::initializer_list<SQLValue> arguments) {
        return executeQuery(sql, SQLArguments(arguments));
    }
    std::unique_ptr<SQLResultSet> executeQuery(std::string_view sql, std::initializer_list<SQLValue> arguments,
                                               SQLError* error) {
        return executeQuery(sql, SQLArguments(arguments), error);
    }
    // printf-style format: each conversion takes the next argument and
    // becomes a "?" placeholder (see extractSQL).
    std::unique_ptr<SQLResultSet> executeQueryWithFormat(std::string_view format,
                                                         const SQLArguments& arguments);

    // --- Updates: true when the statement ran to completion --------------
    bool executeUpdate(std::string_view sql);
    bool executeUpdate(std::string_view sql, const SQLArguments& arguments);
    bool executeUpdate(std::string_view sql, const SQLArguments& arguments, SQLError* error);
    bool executeUpdate(std::string_view sql, const SQLNamedArguments& arguments, SQLError* error = nullptr);
    bool executeUpdate(std::string_view sql, std::initializer_list<SQLValue> arguments, SQLError* error = nullptr) {
        return executeUpdate(sql, SQLArguments(arguments), error);
    }
    bool executeUpdateWithFormat(std::string_view format, const SQLArguments& arguments);

    // --- Scripts (sqlite3_exec) --------------------------------------------
    bool executeStatements(std::string_view sql);
    bool executeStatements(std::string_view sql, const ExecuteStatementsCallback& block);

    // --- Results of updates ------------------------------------------------
    std::int64_t lastInsertRowId();
    std::int64_t changes();

    // --- Statement cache ---------------------------------------------------
    bool shouldCacheStatements() const { return shouldCacheStatements_; }
    void setShouldCacheStatements(bool value);
    std::shared_ptr<SQLStatement> cachedStatementForQuery(std::string_view sql) const;
    void setCachedStatement(const std::shared_ptr<SQLStatement>& statement, std::string_view sql);
    void clearCachedStatements();
    // Number of statements cached under the text (for inspection).
    std::size_t cachedStatementCount(std::string_view sql) const;

    // --- Binding and format conversion --------------------------------------
    void bindObject(const SQLValue& value, int column, sqlite3_stmt* statement);
    // Turns printf-style SQL into "?" placeholders plus arguments: "%@"
    // takes the next value as it is, "%d"/"%i"/"%u"/"%hi"/"%hu"/"%ld"/"%lu"/
    // "%lld"/"%llu"/"%qi"/"%qu" as integers, "%f"/"%g" as reals, "%s" and
    // "%c" as text. A null value (or a missing one) writes NULL into the
    // text; "%%" writes one "%" and takes nothing.
    static void extractSQL(std::string_view format, const SQLArguments& arguments, std::string& sql,
                           SQLArguments& outArguments);

    // --- Transactions --------------------------------------------------------
    bool beginTransaction();
    bool beginExclusiveTransaction();
    bool beginDeferredTransaction();
    bool beginImmediateTransaction();
    bool commit();
    bool rollback();

    // --- Save points ---------------------------------------------------------
    bool startSavePointWithName(const std::string& name, SQLError* error = nullptr);
    bool releaseSavePointWithName(const std::string& name, SQLError* error = nullptr);
    bool rollbackToSavePointWithName(const std::string& name, SQLError* error = nullptr);
    // Runs the block inside save point "dbSavePointN"; the block may set its
    // flag to roll the save point's work back. Returns the last error.
    std::optional<SQLError> inSavePoint(const std::function<void(bool& rollback)>& block);

    // --- Checkpoints and interruption -----------------------------------------
    bool checkpoint(int mode, SQLError* error = nullptr);
    bool checkpoint(int mode, const std::optional<std::string>& name, SQLError* error);
    bool checkpoint(int mode, const std::optional<std::string>& name, int* logFrameCount,
                    int* checkpointCount, SQLError* error);
    // May be called from another thread while a statement runs.
    bool interrupt();

    // --- User SQL functions ----------------------------------------------------
    void makeFunctionNamed(const std::string& name, int arguments, SQLFunction block);

    static int valueType(sqlite3_value* value);
    static int valueInt(sqlite3_value* value);
    static std::int64_t valueLong(sqlite3_value* value);
    static double valueDouble(sqlite3_value* value);
    static std::optional<SQLBlob> valueData(sqlite3_value* value);
    static std::optional<std::string> valueString(sqlite3_value* value);

    static void resultNullInContext(sqlite3_context* context);
    static void resultInt(int value, sqlite3_context* context);
    static void resultLong(std::int64_t value, sqlite3_context* context);
    static void resultDouble(double value, sqlite3_context* context);
    static void resultData(const SQLBlob& data, sqlite3_context* context);
    static void resultString(const std::string& value, sqlite3_context* context);
    static void resultError(const std::string& message, sqlite3_context* context);
    static void resultErrorCode(int code, sqlite3_context* context);
    static void resultErrorNoMemoryInContext(sqlite3_context* context);
    static void resultErrorTooBigInContext(sqlite3_context* context);

private:
    friend class SQLResultSet;
    friend class SQLTransaction;

    static int busyHandler(void* self, int count);
    void setHandle(sqlite3* handle);
    bool runBegin(const char* sql);
    std::unique_ptr<SQLResultSet> executeQueryImpl(std::string_view sql, const SQLArguments* array,
                                                   const SQLNamedArguments* dictionary);
    bool executeUpdateImpl(std::string_view sql, SQLError* error, const SQLArguments* array,
                           const SQLNamedArguments* dictionary);
    // Binds the arguments; returns the number bound, or -1 after a failure
    // the update road reports through its error slot.
    int bindArguments(sqlite3_stmt* statement, const SQLArguments* array, const SQLNamedArguments* dictionary,
                      bool updateRoad, SQLError* error);
    void logPrepareError(std::string_view sql) const;
    void dropCachedStatement(const std::shared_ptr<SQLStatement>& statement, std::string_view sql);
    // A number read from the connection while no statement runs (0 when one does).
    std::int64_t readWhileIdle(long long (*read)(sqlite3*));
    // Starts running sql on the road named (for the trace): the database must
    // be open and not running another statement. The statement as
    // statementFor gives it, with isExecutingStatement_ set; nullptr when
    // sql cannot run.
    sqlite3_stmt* beginStatement(std::string_view sql, const char* road, std::shared_ptr<SQLStatement>& cached,
                                 SQLError* error);
    // The statement for sql: the cached one (reset, and in `cached`) when
    // statements are cached and one is free, else a freshly prepared one;
    // nullptr after a prepare error, which is logged and put in `error`.
    sqlite3_stmt* statementFor(std::string_view sql, std::shared_ptr<SQLStatement>& cached, SQLError* error);
    // Gives up a statement whose arguments did not bind.
    void discardStatement(const std::shared_ptr<SQLStatement>& cached, sqlite3_stmt* handle, std::string_view sql);

    // db_ changes only on the owner's thread; handleMutex_ guards those
    // changes against interrupt() from other threads.
    mutable std::mutex handleMutex_;
    sqlite3* db_ = nullptr;
    bool isExecutingStatement_ = false;
    double startBusyRetryTime_ = 0;
    std::set<SQLResultSet*> openResultSets_;
    std::vector<std::unique_ptr<SQLFunction>> openFunctions_;
    std::shared_ptr<SQLDateFormatter> dateFormat_;
    bool shouldCacheStatements_ = false;
    bool traceExecution_ = false;
    bool checkedOut_ = false;
    bool crashOnErrors_ = false;
    bool logsErrors_ = true;
    std::shared_ptr<void> userData_;
    bool isOpen_ = false;
    bool isInTransaction_ = false;
    double maxBusyRetryTimeInterval_ = 2.0;
    std::map<std::string, std::vector<std::shared_ptr<SQLStatement>>, std::less<>> cachedStatements_;
    std::optional<std::string> databasePath_;
    std::function<double()> busyNow_;
    std::function<int(int)> busySleep_;
};

} // namespace sqlkit
