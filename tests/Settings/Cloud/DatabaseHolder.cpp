// The input method's side of a shared database, in its own process: opens the database
// in WAL mode and holds the connection open, as the running input method does. Prints
// "ready", then waits until its standard input closes.
//
//   database_holder <database>
#include <sqlite3.h>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    sqlite3* db = nullptr;
    if (sqlite3_open(argv[1], &db) != SQLITE_OK) return 3;
    if (sqlite3_exec(db, "PRAGMA journal_mode=WAL; SELECT count(*) FROM sqlite_master;", nullptr, nullptr, nullptr) !=
        SQLITE_OK)
        return 4;
    std::printf("ready\n");
    std::fflush(stdout);
    char c;
    while (::read(0, &c, 1) > 0) {
    }
    sqlite3_close(db);
    return 0;
}
