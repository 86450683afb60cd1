// Daily key and character counts in keys.db.
#include <ctime>

#include <sqlite3.h>

#include "InputMethod/Core/Database/Database.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLResultSet.h"

using sqlkit::SQLDatabase;

namespace taviro {

void Database::createKeyLogTables() {
    inQueue(Queue::keyLogger, [](SQLDatabase* db) {
        if (!db || !db->sqliteHandle()) return;
        // The preferences application reads and resets this file: wait only
        // a moment for its lock (the key logger keeps counts it could not write).
        sqlite3_busy_timeout(db->sqliteHandle(), static_cast<int>(kUserLockWait.count()));
        db->executeUpdate("CREATE TABLE IF NOT EXISTS \"Key\" ('year' INT NOT NULL ,'month' INT NOT NULL ,"
                          "'day' INT NOT NULL ,'count' INT NOT NULL )",
                          sqlkit::SQLArguments{});
        db->executeUpdate("CREATE TABLE IF NOT EXISTS \"Char\" ('year' INT NOT NULL ,'month' INT NOT NULL ,"
                          "'day' INT NOT NULL ,'count' INT NOT NULL )",
                          sqlkit::SQLArguments{});
    });
}

bool Database::keyLog(std::chrono::system_clock::time_point date, std::int64_t count, bool isChar) {
    createKeyLogTables();
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
        written = db && db->executeStatements(script);
    });
    return ran && written;
}

} // namespace taviro
