#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLError.h"

namespace plat {
class SerialQueue;
}

namespace sqlkit {

// One connection usable from any thread: every block runs with the
// connection on the queue's own serial queue, synchronously, one at a time.
// A block must not call back into a synchronous form of its own queue: that
// would wait on itself, so it stops the program with a message instead.
class SQLDatabaseQueue {
public:
    using Block = std::function<void(SQLDatabase* db)>;
    using TransactionBlock = std::function<void(SQLDatabase* db, bool& rollback)>;

    // Transaction kinds of beginTransaction.
    enum TransactionType { kExclusive = 0, kDeferred = 1, kImmediate = 2 };

    // Opens the file at once; nullptr (after "Could not create database queue
    // for path ...") when it cannot be opened. No path: a private in-memory
    // database.
    static std::unique_ptr<SQLDatabaseQueue> databaseQueueWithPath(
        std::optional<std::string> path, int flags = SQLDatabase::kOpenReadWriteCreate,
        std::optional<std::string> vfs = std::nullopt);
    ~SQLDatabaseQueue();
    SQLDatabaseQueue(const SQLDatabaseQueue&) = delete;
    SQLDatabaseQueue& operator=(const SQLDatabaseQueue&) = delete;

    // Runs the block and returns when it has run. The block gets nullptr when
    // the file could not be reopened.
    void inDatabase(const Block& block);

    // BEGIN, the block, then ROLLBACK when the block set its flag, else
    // COMMIT. The block does not run when BEGIN fails. True when the work was
    // committed.
    bool beginTransaction(int type, const TransactionBlock& block);
    bool inTransaction(const TransactionBlock& block) { return beginTransaction(kExclusive, block); }
    bool inExclusiveTransaction(const TransactionBlock& block) { return beginTransaction(kExclusive, block); }
    bool inDeferredTransaction(const TransactionBlock& block) { return beginTransaction(kDeferred, block); }
    bool inImmediateTransaction(const TransactionBlock& block) { return beginTransaction(kImmediate, block); }

    // Runs the block inside save point "savePointN"; the block may set its
    // flag to undo its work. Returns the error of the last failing step.
    std::optional<SQLError> inSavePoint(const TransactionBlock& block);

    // Closes the connection; the next block reopens the file.
    void close();
    // Interrupts the running statement; called on the caller's own thread.
    bool interrupt();
    bool checkpoint(int mode, SQLError* error = nullptr);
    bool checkpoint(int mode, const std::optional<std::string>& name, SQLError* error);
    bool checkpoint(int mode, const std::optional<std::string>& name, int* logFrameCount, int* checkpointCount,
                    SQLError* error);

    // Only inside a block: the connection, reopened when needed.
    SQLDatabase* database();

    const std::optional<std::string>& path() const { return path_; }
    void setPath(std::optional<std::string> path) { path_ = std::move(path); }
    int openFlags() const { return openFlags_; }
    const std::optional<std::string>& vfsName() const { return vfsName_; }
    void setVfsName(std::optional<std::string> vfs) { vfsName_ = std::move(vfs); }
    // "<SQLDatabaseQueue: 0x...>"
    std::string description() const;

private:
    SQLDatabaseQueue(std::optional<std::string> path, int flags, std::optional<std::string> vfs);
    std::unique_ptr<SQLDatabase> takeDatabase();

    std::unique_ptr<plat::SerialQueue> queue_;
    // Guards replacing db_ against interrupt() from other threads; never held
    // while SQLite works on the connection.
    std::mutex handleMutex_;
    std::unique_ptr<SQLDatabase> db_;
    int openFlags_;
    std::optional<std::string> path_;
    std::optional<std::string> vfsName_;
};

} // namespace sqlkit
