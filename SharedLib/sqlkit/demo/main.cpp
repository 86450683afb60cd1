// Walks through the SQLite layer on a real file: a queue, a transaction, a
// result set and a save point that is rolled back.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "SharedLib/sqlkit/SQLDatabaseAdditions.h"
#include "SharedLib/sqlkit/SQLDatabaseQueue.h"
#include "SharedLib/sqlkit/SQLResultSet.h"

using namespace sqlkit;

int main(int argc, char** argv) {
    std::filesystem::path path;
    if (argc > 1) {
        path = argv[1];
    } else {
        std::string tmpl = (std::filesystem::temp_directory_path() / "sqlkit-demo-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) {
            std::perror("mkdtemp");
            return 1;
        }
        path = std::filesystem::path(tmpl) / "demo.db";
    }
    std::printf("SQLite %s, sqlkit %s\n", SQLDatabase::sqliteLibVersion().c_str(),
                SQLDatabase::SQLKitUserVersion().c_str());
    std::printf("database: %s\n", path.c_str());

    auto queue = SQLDatabaseQueue::databaseQueueWithPath(path.string());
    if (!queue) return 1;

    bool ok = true;
    queue->inDatabase([&](SQLDatabase* db) {
        ok = db && db->executeStatements("drop table if exists words;"
                                         "create table words (code text, word text, weight real)");
    });
    if (!ok) return 1;
    std::printf("created table words\n");

    const struct { const char* code; const char* word; double weight; } rows[] = {
        {"ni", "你", 3.0}, {"hao", "好", 2.5}, {"nihao", "你好", 4.0}, {"shi", "是", 1.0}};
    bool committed = queue->inTransaction([&](SQLDatabase* db, bool&) {
        for (const auto& r : rows) db->executeUpdate("insert into words values (?, ?, ?)", {r.code, r.word, r.weight});
    });
    std::printf("inserted %zu rows in one transaction: %s\n", std::size(rows), committed ? "committed" : "failed");

    queue->inDatabase([&](SQLDatabase* db) {
        auto rs = db->executeQuery("select code, word, weight from words where weight >= ? order by weight desc", {2.0});
        while (rs && rs->next()) {
            std::printf("  %-6s %-4s %.1f\n", rs->stringForColumn("code").value_or("").c_str(),
                        rs->stringForColumnIndex(1).value_or("").c_str(), rs->doubleForColumn("weight"));
        }
    });

    auto error = queue->inSavePoint([&](SQLDatabase* db, bool& rollback) {
        db->executeUpdate("delete from words");
        std::printf("inside the save point: %d rows\n", intForQuery(*db, "select count(*) from words"));
        rollback = true;
    });
    queue->inDatabase([&](SQLDatabase* db) {
        std::printf("after rolling the save point back: %d rows%s\n", intForQuery(*db, "select count(*) from words"),
                    error ? " (save point error)" : "");
    });
    queue->close();
    std::printf("closed\n");
    return 0;
}
