// A second program on the per-user databases, for the tests that run two
// processes on one file. Answers one line per command line on its input.
//
//   store_child store <user folder> <bundle folder>
//       opens the folder with the input method's store, then:
//       "log <n>" / "char <n>"  adds n to today's key / character count:
//                               "logged 1", or "logged 0" when nothing was written
//   store_child hold <database file>
//       another program's connection on the file:
//       "lock"    BEGIN EXCLUSIVE and an insert, then "locked" (or "error ...")
//       "unlock"  COMMIT, then "unlocked"
// Both print "ready" when set up and end at "quit" or the end of their input.
#include <chrono>
#include <iostream>
#include <memory>
#include <string>

#include <sqlite3.h>

#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Settings.h"

namespace {

int runStore(const std::string& userFolder, const std::string& bundle) {
    auto store = taviro::Database::create({userFolder, bundle, userFolder + "/Library"});
    taviro::Database::Hooks hooks;
    hooks.settings = [] { return std::make_shared<const taviro::Settings>(); };
    store->setHooks(hooks);
    store->openDatabases(taviro::Database::reloadScript());
    std::cout << "ready" << std::endl;
    std::string command;
    long long n = 0;
    while (std::cin >> command && command != "quit") {
        if ((command == "log" || command == "char") && std::cin >> n) {
            const bool written = store->keyLog(std::chrono::system_clock::now(), n, command == "char");
            std::cout << "logged " << (written ? 1 : 0) << std::endl;
        } else {
            std::cout << "error unknown command " << command << std::endl;
        }
    }
    store->closeAll();
    return 0;
}

int runHold(const std::string& file) {
    sqlite3* db = nullptr;
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) {
        std::cout << "error cannot open" << std::endl;
        return 1;
    }
    sqlite3_busy_timeout(db, 5000);
    auto exec = [db](const char* sql) {
        char* error = nullptr;
        const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &error);
        std::string text = error ? error : "";
        sqlite3_free(error);
        return rc == SQLITE_OK ? std::string() : "error " + text;
    };
    std::cout << "ready" << std::endl;
    std::string command;
    while (std::cin >> command && command != "quit") {
        if (command == "lock") {
            std::string error = exec("BEGIN EXCLUSIVE");
            if (error.empty()) error = exec("INSERT INTO CodeTable VALUES ('xin', '锁住时写的', 0)");
            std::cout << (error.empty() ? std::string("locked") : error) << std::endl;
        } else if (command == "unlock") {
            const std::string error = exec("COMMIT");
            std::cout << (error.empty() ? std::string("unlocked") : error) << std::endl;
        } else {
            std::cout << "error unknown command " << command << std::endl;
        }
    }
    sqlite3_close(db);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "store" && argc == 4) return runStore(argv[2], argv[3]);
    if (mode == "hold" && argc == 3) return runHold(argv[2]);
    std::cerr << "usage: store_child store <user folder> <bundle folder> | hold <database file>\n";
    return 2;
}
