// Daily key and character counts in keys.db.
#include <ctime>

#include <sqlite3.h>

#include "InputMethod/Core/Database/Database.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLResultSet.h"

using sqlkit::SQLDatabase;

namespace taviro {

namespace {

// The preferences application reads and resets this file: a statement waits
// only a moment for its lock (the key logger keeps counts it could not write).
void waitBriefly(SQLDatabase* db) {
    sqlite3_busy_timeout(db->sqliteHandle(), static_cast<int>(Database::kUserLockWait.count()));
}

bool createTables(SQLDatabase* db) {
    return db->executeUpdate("CREATE TABLE IF NOT EXISTS \"Key\" ('year' INT NOT NULL ,'month' INT NOT NULL ,"
                             "'day' INT NOT NULL ,'count' INT NOT NULL )",
                             sqlkit::SQLArguments{}) &&
           db->executeUpdate("CREATE TABLE IF NOT EXISTS \"Char\" ('year' INT NOT NULL ,'month' INT NOT NULL ,"
                             "'day' INT NOT NULL ,'count' INT NOT NULL )",
                             sqlkit::SQLArguments{});
}

} // namespace

void Database::createKeyLogTables() {
    inQueue(Queue::keyLogger, [](SQLDatabase* db) {
        if (!db || !db->sqliteHandle()) return;
        waitBriefly(db);
        createTables(db);
    }, true);
}

bool Database::keyLog(std::chrono::system_clock::time_point date, std::int64_t count, bool isChar) {
    const std::string table = isChar ? "Char" : "Key";
    const std::time_t t = std::chrono::system_clock::to_time_t(date);
    std::tm local{};
    localtime_r(&t, &local);
    const std::string y = std::to_string(local.tm_year + 1900);
    const std::string m = std::to_string(local.tm_mon + 1);
    const std::string d = std::to_string(local.tm_mday);
    const std::string n = std::to_string(count);
    // Every value is a number: the script carries them in its text.
    const std::string script = "update \"" + table + "\" set \"count\"=count+" + n + " where \"year\"=" + y +
                               " and \"month\"=" + m + " and \"day\"=" + d + ";\n" + "insert into \"" + table +
                               "\" (\"year\",\"month\",\"day\",\"count\") select " + y + "," + m + "," + d + "," +
                               n + " where (select changes()=0);";
    bool written = false;
    const bool ran = inQueue(Queue::keyLogger, [&](SQLDatabase* db) {
        if (!db || !db->sqliteHandle()) return;
        waitBriefly(db);
        // All or nothing: a count the caller keeps after a failure must not
        // have been added in part (the other program may take the lock
        // between two statements).
        if (!db->beginImmediateTransaction()) return;
        written = createTables(db) && db->executeStatements(script);
        if (written) written = db->commit();
        if (!sqlite3_get_autocommit(db->sqliteHandle())) db->rollback();
        // Idle, the write-ahead log holds nothing: a file renamed over this
        // one can never be read with these pages.
        if (written) sqlite3_wal_checkpoint_v2(db->sqliteHandle(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    }, true);
    return ran && written;
}

} // namespace taviro
