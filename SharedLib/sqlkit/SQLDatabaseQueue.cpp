#include "SharedLib/sqlkit/SQLDatabaseQueue.h"

#include <sqlite3.h>

#include <atomic>
#include <cstdio>

#include "Platform/Dispatch/SerialQueue.h"
#include "SharedLib/sqlkit/SQLKitLog.h"

namespace sqlkit {
namespace {

std::string pathText(const std::optional<std::string>& path) { return path ? *path : std::string("(null)"); }

// Shared by every database queue of the process.
std::atomic<long> g_savePointCounter{0};

constexpr const char* kReentryInDatabase =
    "SharedLib/sqlkit/SQLDatabaseQueue: assertion failed: currentSyncQueue != self: "
    "inDatabase: was called reentrantly on the same queue, which would lead to a deadlock";
constexpr const char* kReentryTransaction =
    "SharedLib/sqlkit/SQLDatabaseQueue: assertion failed: currentSyncQueue != self: "
    "beginTransaction:withBlock: was called reentrantly on the same queue, which would lead to a deadlock";
constexpr const char* kReentrySavePoint =
    "SharedLib/sqlkit/SQLDatabaseQueue: assertion failed: currentSyncQueue != self: "
    "inSavePoint: was called reentrantly on the same queue, which would lead to a deadlock";
constexpr const char* kReentryClose =
    "SharedLib/sqlkit/SQLDatabaseQueue: assertion failed: currentSyncQueue != self: "
    "close was called reentrantly on the same queue, which would lead to a deadlock";
constexpr const char* kReentryCheckpoint =
    "SharedLib/sqlkit/SQLDatabaseQueue: assertion failed: currentSyncQueue != self: "
    "checkpoint: was called reentrantly on the same queue, which would lead to a deadlock";

} // namespace

std::unique_ptr<SQLDatabaseQueue> SQLDatabaseQueue::databaseQueueWithPath(std::optional<std::string> path, int flags,
                                                                          std::optional<std::string> vfs) {
    auto db = SQLDatabase::databaseWithPath(path);
    if (!db->openWithFlags(flags, vfs)) {
        logLine("Could not create database queue for path " + pathText(path));
        return nullptr;
    }
    std::unique_ptr<SQLDatabaseQueue> queue(new SQLDatabaseQueue(std::move(path), flags, std::move(vfs)));
    queue->db_ = std::move(db);
    return queue;
}

SQLDatabaseQueue::SQLDatabaseQueue(std::optional<std::string> path, int flags, std::optional<std::string> vfs)
    : openFlags_(flags), path_(std::move(path)), vfsName_(std::move(vfs)) {
    queue_ = std::make_unique<plat::SerialQueue>("sqlkit." + description());
}

SQLDatabaseQueue::~SQLDatabaseQueue() {
    if (queue_) queue_->sync([this] { takeDatabase().reset(); });
}

std::string SQLDatabaseQueue::description() const {
    char buf[64];
    std::snprintf(buf, sizeof buf, "<SQLDatabaseQueue: %p>", static_cast<const void*>(this));
    return buf;
}

std::unique_ptr<SQLDatabase> SQLDatabaseQueue::takeDatabase() {
    std::lock_guard lock(handleMutex_);
    return std::move(db_);
}

SQLDatabase* SQLDatabaseQueue::database() {
    if (!db_ || !db_->isOpen()) {
        if (!db_) {
            auto fresh = SQLDatabase::databaseWithPath(path_);
            std::lock_guard lock(handleMutex_);
            db_ = std::move(fresh);
        }
        if (!db_->openWithFlags(openFlags_, vfsName_)) {
            logLine("SQLDatabaseQueue could not reopen database for path " + pathText(path_));
            takeDatabase().reset();
            return nullptr;
        }
    }
    return db_.get();
}

void SQLDatabaseQueue::inDatabase(const Block& block) {
    queue_->syncCheckingReentry(
        [&] {
            SQLDatabase* db = database();
            block(db);
            if (db && db->hasOpenResultSets()) {
                logLine("Warning: there is at least one open result set around after performing "
                        "[SQLDatabaseQueue inDatabase:]");
            }
        },
        kReentryInDatabase);
}

bool SQLDatabaseQueue::beginTransaction(int type, const TransactionBlock& block) {
    return queue_->syncCheckingReentry(
        [&]() -> bool {
            SQLDatabase* db = database();
            if (!db) return false;
            bool began = false;
            switch (type) {
            case kExclusive: began = db->beginTransaction(); break;
            case kDeferred: began = db->beginDeferredTransaction(); break;
            case kImmediate: began = db->beginImmediateTransaction(); break;
            default: break;
            }
            // Without a transaction the block's writes would each commit on
            // their own and could not be rolled back.
            if (!began) return false;
            bool shouldRollback = false;
            try {
                block(db, shouldRollback);
            } catch (...) {
                // Leave no transaction open behind a failed block.
                db->rollback();
                throw;
            }
            if (shouldRollback) {
                db->rollback();
                return false;
            }
            if (db->commit()) return true;
            // A failed commit (a busy file, say) can leave the transaction
            // open; end it so the next block does not run inside it.
            if (db->sqliteHandle() && sqlite3_get_autocommit(db->sqliteHandle()) == 0) db->rollback();
            return false;
        },
        kReentryTransaction);
}

std::optional<SQLError> SQLDatabaseQueue::inSavePoint(const TransactionBlock& block) {
    return queue_->syncCheckingReentry(
        [&]() -> std::optional<SQLError> {
            std::string name = "savePoint" + std::to_string(g_savePointCounter.fetch_add(1));
            SQLDatabase* db = database();
            if (!db) return SQLError("SQLDatabase", 0, "SQLDatabaseQueue could not reopen database for path " +
                                                           pathText(path_));
            std::optional<SQLError> result;
            SQLError error;
            if (!db->startSavePointWithName(name, &error)) return error;
            bool shouldRollback = false;
            block(db, shouldRollback);
            if (shouldRollback && !db->rollbackToSavePointWithName(name, &error)) result = error;
            if (!db->releaseSavePointWithName(name, &error)) result = error;
            return result;
        },
        kReentrySavePoint);
}

void SQLDatabaseQueue::close() {
    queue_->syncCheckingReentry(
        [&] {
            // Closed outside the lock: closing takes SQLite's own mutex.
            if (auto db = takeDatabase()) db->close();
        },
        kReentryClose);
}

bool SQLDatabaseQueue::interrupt() {
    std::lock_guard lock(handleMutex_);
    return db_ ? db_->interrupt() : false;
}

bool SQLDatabaseQueue::checkpoint(int mode, SQLError* error) {
    return checkpoint(mode, std::nullopt, nullptr, nullptr, error);
}

bool SQLDatabaseQueue::checkpoint(int mode, const std::optional<std::string>& name, SQLError* error) {
    return checkpoint(mode, name, nullptr, nullptr, error);
}

bool SQLDatabaseQueue::checkpoint(int mode, const std::optional<std::string>& name, int* logFrameCount,
                                  int* checkpointCount, SQLError* error) {
    return queue_->syncCheckingReentry(
        [&]() -> bool {
            SQLDatabase* db = database();
            if (!db) return false;
            return db->checkpoint(mode, name, logFrameCount, checkpointCount, error);
        },
        kReentryCheckpoint);
}

} // namespace sqlkit
