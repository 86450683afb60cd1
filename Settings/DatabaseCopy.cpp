#include "Settings/DatabaseCopy.h"

#include "Settings/DatabaseFile.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/TemporaryFiles.h"
#include "SharedLib/sqlkit/SQLOwnFile.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kelvane {

namespace fs = std::filesystem;

namespace {

using Step = DatabaseCopyError::Step;

DatabaseCopyError failed(Step step, sqlite3* db, int rc) {
    return {step, db ? std::string(sqlite3_errmsg(db)) : std::string(sqlite3_errstr(rc)), rc};
}

// The first column of the first row of `sql`; nothing when it gives none.
std::optional<std::string> firstValue(sqlite3* db, const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    std::optional<std::string> value;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        value = text ? text : "";
    }
    sqlite3_finalize(stmt);
    return value;
}

// Rollback-journal mode, then the integrity check, on an open copy.
std::optional<DatabaseCopyError> settleOpen(sqlite3* db) {
    const auto mode = firstValue(db, "PRAGMA journal_mode=DELETE");
    if (!mode || *mode != "delete")
        return DatabaseCopyError{Step::Check, "journal mode stays " + mode.value_or(sqlite3_errmsg(db))};
    const auto check = firstValue(db, "PRAGMA integrity_check");
    if (!check || *check != "ok") return DatabaseCopyError{Step::Check, check.value_or(sqlite3_errmsg(db))};
    return std::nullopt;
}

std::optional<DatabaseCopyError> closeAndFlush(sqlite3* db, const fs::path& path,
                                               std::optional<DatabaseCopyError> error) {
    if (sqlite3_close(db) != SQLITE_OK && !error) error = DatabaseCopyError{Step::Check, "cannot close the copy"};
    if (!error && !plat::fsyncFile(path)) error = DatabaseCopyError{Step::Check, std::strerror(errno)};
    return error;
}

} // namespace

std::optional<DatabaseCopyError> copyDatabase(const fs::path& source, const fs::path& destination) {
    // Read through a connection that may write, only so that, when it is the last one on a
    // database in WAL mode, closing it takes away the -wal and -shm it made; a read-only
    // connection leaves them. It writes nothing itself, and a -wal that was there before
    // (another program's, or one a killed program left) is never checkpointed into the
    // source on close: the source and its -wal stay as they were.
    // A source reached through a link (a file the user chose) is only read: a connection
    // that may write never goes through a link.
    std::error_code ec;
    const bool walBefore = fs::exists(fs::path(source.native() + "-wal"), ec);
    sqlite3* from = nullptr;
    int rc = fs::is_symlink(source, ec)
                 ? SQLITE_CANTOPEN
                 : sqlite3_open_v2(sqlkit::SQLOwnFile::openName(source).c_str(), &from,
                                   SQLITE_OPEN_READWRITE | sqlkit::SQLOwnFile::kOpenNoFollow, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_exec(from, "PRAGMA query_only=1", nullptr, nullptr, nullptr);
        if (walBefore) sqlite3_db_config(from, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    }
    if (rc != SQLITE_OK) {
        sqlite3_close(from);
        from = nullptr;
        rc = sqlite3_open_v2(source.c_str(), &from, SQLITE_OPEN_READONLY, nullptr);
    }
    if (rc != SQLITE_OK) {
        auto error = failed(Step::OpenSource, from, rc);
        sqlite3_close(from);
        return error;
    }
    sqlite3_busy_timeout(from, 5000);
    sqlite3* to = nullptr;
    rc = sqlite3_open_v2(destination.c_str(), &to, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        auto error = failed(Step::OpenDestination, to, rc);
        sqlite3_close(to);
        sqlite3_close(from);
        return error;
    }
    std::optional<DatabaseCopyError> error;
    sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
    if (!backup) {
        error = failed(Step::Copy, to, SQLITE_ERROR);
    } else {
        for (int attempt = 0; attempt < 50; ++attempt) {
            rc = sqlite3_backup_step(backup, -1);
            if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) break;
            sqlite3_sleep(100);
        }
        sqlite3_backup_finish(backup);
        if (rc != SQLITE_DONE) error = DatabaseCopyError{Step::Copy, sqlite3_errstr(rc), rc};
    }
    sqlite3_close(from);
    if (!error) error = settleOpen(to);
    return closeAndFlush(to, destination, std::move(error));
}

std::optional<DatabaseCopyError> settleDatabase(const fs::path& path) {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        auto error = failed(Step::OpenSource, db, rc);
        sqlite3_close(db);
        return error;
    }
    return closeAndFlush(db, path, settleOpen(db));
}

std::shared_ptr<DatabaseSnapshot> databaseSnapshot(const fs::path& source, const fs::path& target, std::string* why) {
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    fs::path path;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        path = plat::temporaryPathFor(target, plat::TemporaryKind::AtomicWrite);
        if (!path.empty()) fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }
    if (fd < 0) {
        if (why) *why = "cannot create a file beside " + target.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    ::flock(fd, LOCK_EX);
    std::shared_ptr<DatabaseSnapshot> copy(new DatabaseSnapshot(path, fd));
    if (const auto error = copyDatabase(source, path)) {
        if (why) *why = error->detail;
        return nullptr;
    }
    return copy;
}

DatabaseSnapshot::~DatabaseSnapshot() {
    DatabaseFile::removeWithCompanions(path_);
    // Closed last: the copy's own connections are gone by now.
    if (fd_ >= 0) ::close(fd_);
}

} // namespace kelvane
