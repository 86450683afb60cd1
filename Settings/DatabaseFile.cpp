#include "Settings/DatabaseFile.h"

#include "Platform/Foundation/Log.h"

#include <sqlite3.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

namespace kelvane {

namespace fs = std::filesystem;

bool DatabaseFile::hasSQLiteHeader(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return false;
    std::ifstream in(path, std::ios::binary);
    char header[16] = {};
    if (!in.read(header, sizeof header)) return false;
    return std::memcmp(header, "SQLite format 3\0", 16) == 0;
}

bool DatabaseFile::check(const fs::path& path) {
    if (!hasSQLiteHeader(path)) return false;
    sqlite3* db = nullptr;
    bool ok = false;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
            ok = text && std::strcmp(text, "ok") == 0;
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return ok;
}

fs::path DatabaseFile::temporaryPathBeside(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    for (;;) {
        fs::path candidate = target;
        candidate += ".new-" + std::to_string(rd()) + "-" + std::to_string(counter++);
        std::error_code ec;
        if (!fs::exists(candidate, ec)) return candidate;
    }
}

void DatabaseFile::removeWithCompanions(const fs::path& path) {
    std::error_code ec;
    fs::remove(path, ec);
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        fs::path companion = path;
        companion += suffix;
        fs::remove(companion, ec);
    }
}

bool DatabaseFile::replace(const fs::path& temporary, const fs::path& target) {
    std::error_code ec;
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        fs::path companion = target;
        companion += suffix;
        fs::remove(companion, ec);
    }
    fs::rename(temporary, target, ec);
    if (ec) {
        plat::log("Kelvane: could not put " + temporary.string() + " in place of " + target.string() + ": " +
                  ec.message());
        removeWithCompanions(temporary);
        return false;
    }
    return true;
}

} // namespace kelvane
