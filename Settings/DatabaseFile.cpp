#include "Settings/DatabaseFile.h"

#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/TemporaryFiles.h"
#include "Settings/MainThread.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLOwnFile.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <mutex>
#include <utility>
#include <string>
#include <vector>
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
    return plat::temporaryPathFor(target, plat::TemporaryKind::Rebuild);
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

void DatabaseFile::removeStaleTemporaries(const fs::path& target) {
    plat::removeStaleTemporaries(
        target.parent_path(),
        {std::chrono::seconds(0), {{target.filename().string()}, {}}, plat::TemporaryKind::Rebuild});
}

namespace {

struct SetAsideNotices {
    std::mutex m;
    std::string message;
    std::function<void()> listener;
};

SetAsideNotices& setAsideNotices() {
    static auto* notices = new SetAsideNotices;
    return *notices;
}

} // namespace

bool DatabaseFile::openOwn(sqlkit::SQLDatabase& db, bool typed) {
    if (db.isOpen()) return true;
    if (!db.databasePath()) return db.open();
    sqlkit::SQLOwnFile::Options options;
    options.makePrivate = typed;
    options.create = true;
    const auto prepared = sqlkit::SQLOwnFile::prepare(*db.databasePath(), options);
    if (!prepared.setAside.empty()) {
        auto& notices = setAsideNotices();
        {
            std::lock_guard lk(notices.m);
            notices.message += sqlkit::SQLOwnFile::noticeText(prepared.setAside);
        }
        onMain([] {
            auto& n = setAsideNotices();
            std::function<void()> listener;
            {
                std::lock_guard lk(n.m);
                listener = n.listener;
            }
            if (listener) listener();
        });
    }
    if (!prepared.refused.empty()) {
        plat::log("Kelvane: not opening " + *db.databasePath() + ": " + prepared.refused);
        return false;
    }
    return db.openWithFlags(sqlkit::SQLDatabase::kOpenReadWriteCreate | sqlkit::SQLOwnFile::kOpenNoFollow);
}

std::string DatabaseFile::takeSetAsideMessage() {
    auto& notices = setAsideNotices();
    std::lock_guard lk(notices.m);
    return std::exchange(notices.message, {});
}

void DatabaseFile::setSetAsideListener(std::function<void()> listener) {
    auto& notices = setAsideNotices();
    std::lock_guard lk(notices.m);
    notices.listener = std::move(listener);
}

TemporaryDatabase::TemporaryDatabase(const fs::path& target) : target_(target) {
    for (int attempt = 0; attempt < 16 && fd_ < 0; ++attempt) {
        path_ = DatabaseFile::temporaryPathBeside(target);
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    }
    if (fd_ < 0) {
        plat::log("Kelvane: cannot create a temporary beside " + target.string());
        return;
    }
    ::flock(fd_, LOCK_EX);
}

TemporaryDatabase::~TemporaryDatabase() {
    if (fd_ < 0) return;
    if (!placed_) DatabaseFile::removeWithCompanions(path_);
    // Closed last: the file's own connections are gone by now.
    ::close(fd_);
}

bool TemporaryDatabase::copyFrom(const fs::path& source) {
    if (fd_ < 0) return false;
    std::error_code ec;
    // Overwrites in place, so the held file stays the same file.
    fs::copy_file(source, path_, fs::copy_options::overwrite_existing, ec);
    if (ec) plat::log("Kelvane: cannot copy " + source.string() + ": " + ec.message());
    return !ec;
}

bool TemporaryDatabase::putInPlace() {
    if (fd_ < 0 || placed_) return false;
    placed_ = DatabaseFile::replace(path_, target_);
    return placed_;
}

} // namespace kelvane
