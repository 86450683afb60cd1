#include "SharedLib/sqlkit/SQLDatabasePool.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "SharedLib/sqlkit/SQLKitLog.h"

namespace sqlkit {
namespace {

std::string pathText(const std::optional<std::string>& path) { return path ? *path : std::string("(null)"); }

// Shared by every pool of the process.
std::atomic<long> g_poolSavePointCounter{0};

} // namespace

SQLDatabasePool::SQLDatabasePool(std::optional<std::string> path, int flags, std::optional<std::string> vfs)
    : openFlags_(flags), path_(std::move(path)), vfsName_(std::move(vfs)) {}

std::unique_ptr<SQLDatabasePool> SQLDatabasePool::databasePoolWithPath(std::optional<std::string> path, int flags) {
    return std::make_unique<SQLDatabasePool>(std::move(path), flags);
}

SQLDatabasePool::~SQLDatabasePool() { delegate_ = nullptr; }

std::string SQLDatabasePool::description() const {
    char buf[64];
    std::snprintf(buf, sizeof buf, "<SQLDatabasePool: %p>", static_cast<const void*>(this));
    return buf;
}

std::shared_ptr<SQLDatabase> SQLDatabasePool::db() {
    std::lock_guard lock(lock_);
    std::shared_ptr<SQLDatabase> db;
    bool isNew = false;
    if (!databaseInPool_.empty()) {
        db = databaseInPool_.back();
        databaseOutPool_.push_back(db);
        databaseInPool_.pop_back();
    } else {
        std::size_t open = databaseInPool_.size() + databaseOutPool_.size();
        if (maximumNumberOfDatabasesToCreate_ != 0 && open >= maximumNumberOfDatabasesToCreate_) {
            logLine("Maximum number of databases (" + std::to_string(open) + ") has already been reached!");
            return nullptr;
        }
        db = SQLDatabase::databaseWithPath(path_);
        isNew = true;
    }

    if (!db->openWithFlags(openFlags_, vfsName_)) {
        logLine("Could not open up the database at path " + pathText(path_));
        return nullptr;
    }
    if (delegate_ && !delegate_->shouldAddDatabaseToPool(*this, *db)) {
        db->close();
        return nullptr;
    }
    if (std::find(databaseOutPool_.begin(), databaseOutPool_.end(), db) != databaseOutPool_.end()) return db;
    databaseOutPool_.push_back(db);
    if (isNew && delegate_) delegate_->didAddDatabase(*this, *db);
    return db;
}

void SQLDatabasePool::pushDatabaseBackInPool(const std::shared_ptr<SQLDatabase>& db) {
    if (!db) return;
    bool already = false;
    {
        std::lock_guard lock(lock_);
        if (std::find(databaseInPool_.begin(), databaseInPool_.end(), db) != databaseInPool_.end()) {
            already = true;
        } else {
            databaseInPool_.push_back(db);
            databaseOutPool_.erase(std::remove(databaseOutPool_.begin(), databaseOutPool_.end(), db),
                                   databaseOutPool_.end());
        }
    }
    if (already) {
        throw SQLDatabasePoolException("Database already in pool",
                                       "The SQLDatabase being put back into the pool is already present in the pool");
    }
}

void SQLDatabasePool::inDatabase(const Block& block) {
    std::shared_ptr<SQLDatabase> db = this->db();
    try {
        block(db.get());
    } catch (...) {
        pushDatabaseBackInPool(db);
        throw;
    }
    pushDatabaseBackInPool(db);
}

bool SQLDatabasePool::beginTransaction(int type, const TransactionBlock& block) {
    std::shared_ptr<SQLDatabase> db = this->db();
    if (!db) return false;
    bool began = false;
    switch (type) {
    case 0: began = db->beginTransaction(); break;
    case 1: began = db->beginDeferredTransaction(); break;
    case 2: began = db->beginImmediateTransaction(); break;
    default: break;
    }
    bool committed = false;
    if (began) {
        bool shouldRollback = false;
        try {
            block(db.get(), shouldRollback);
        } catch (...) {
            db->rollback();
            pushDatabaseBackInPool(db);
            throw;
        }
        if (shouldRollback) {
            db->rollback();
        } else {
            committed = db->commit();
            if (!committed && db->sqliteHandle() && sqlite3_get_autocommit(db->sqliteHandle()) == 0) db->rollback();
        }
    }
    pushDatabaseBackInPool(db);
    return committed;
}

std::optional<SQLError> SQLDatabasePool::inSavePoint(const TransactionBlock& block) {
    std::string name = "savePoint" + std::to_string(g_poolSavePointCounter.fetch_add(1));
    std::shared_ptr<SQLDatabase> db = this->db();
    if (!db) return SQLError("SQLDatabase", 0, "Could not open up the database at path " + pathText(path_));
    std::optional<SQLError> result;
    SQLError error;
    if (db->startSavePointWithName(name, &error)) {
        bool shouldRollback = false;
        block(db.get(), shouldRollback);
        if (shouldRollback && !db->rollbackToSavePointWithName(name, &error)) result = error;
        if (!db->releaseSavePointWithName(name, &error)) result = error;
    } else {
        result = error;
    }
    pushDatabaseBackInPool(db);
    return result;
}

std::size_t SQLDatabasePool::countOfCheckedInDatabases() {
    std::lock_guard lock(lock_);
    return databaseInPool_.size();
}

std::size_t SQLDatabasePool::countOfCheckedOutDatabases() {
    std::lock_guard lock(lock_);
    return databaseOutPool_.size();
}

std::size_t SQLDatabasePool::countOfOpenDatabases() {
    std::lock_guard lock(lock_);
    return databaseInPool_.size() + databaseOutPool_.size();
}

void SQLDatabasePool::releaseAllDatabases() {
    std::lock_guard lock(lock_);
    databaseInPool_.clear();
    databaseOutPool_.clear();
}

void SQLDatabasePool::executeLocked(const std::function<void()>& block) {
    std::lock_guard lock(lock_);
    block();
}

} // namespace sqlkit
