#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLDatabasePoolDelegate.h"
#include "SharedLib/sqlkit/SQLError.h"

namespace sqlkit {

// Thrown by pushDatabaseBackInPool for a connection given back twice.
class SQLDatabasePoolException : public std::runtime_error {
public:
    SQLDatabasePoolException(std::string name, const std::string& reason)
        : std::runtime_error(reason), name_(std::move(name)) {}
    const std::string& name() const { return name_; }
    const char* reason() const { return what(); }

private:
    std::string name_;
};

// Several connections to one file for callers on different threads. Only the
// bookkeeping of the two lists is serialised; the blocks run on the caller's
// thread with a connection of their own. Connections are reused last in,
// first out.
class SQLDatabasePool {
public:
    using Block = std::function<void(SQLDatabase* db)>;
    using TransactionBlock = std::function<void(SQLDatabase* db, bool& rollback)>;

    // Opens nothing yet.
    explicit SQLDatabasePool(std::optional<std::string> path = std::nullopt,
                             int flags = SQLDatabase::kOpenReadWriteCreate,
                             std::optional<std::string> vfs = std::nullopt);
    static std::unique_ptr<SQLDatabasePool> databasePoolWithPath(std::optional<std::string> path,
                                                                 int flags = SQLDatabase::kOpenReadWriteCreate);
    ~SQLDatabasePool();
    SQLDatabasePool(const SQLDatabasePool&) = delete;
    SQLDatabasePool& operator=(const SQLDatabasePool&) = delete;

    // The block gets nullptr when no connection could be had.
    void inDatabase(const Block& block);

    // BEGIN, the block, ROLLBACK or COMMIT. The block does not run when no
    // connection could be had or BEGIN failed. True when committed.
    bool beginTransaction(int type, const TransactionBlock& block);
    bool inTransaction(const TransactionBlock& block) { return beginTransaction(0, block); }
    bool inExclusiveTransaction(const TransactionBlock& block) { return beginTransaction(0, block); }
    bool inDeferredTransaction(const TransactionBlock& block) { return beginTransaction(1, block); }
    bool inImmediateTransaction(const TransactionBlock& block) { return beginTransaction(2, block); }
    std::optional<SQLError> inSavePoint(const TransactionBlock& block);

    // Takes a connection out of the pool (nullptr when the maximum is
    // reached, the file cannot be opened or the delegate refuses it).
    std::shared_ptr<SQLDatabase> db();
    // Gives a connection back; nullptr is ignored. Throws
    // SQLDatabasePoolException "Database already in pool" when it is already
    // there.
    void pushDatabaseBackInPool(const std::shared_ptr<SQLDatabase>& db);

    std::size_t countOfCheckedInDatabases();
    std::size_t countOfCheckedOutDatabases();
    std::size_t countOfOpenDatabases();
    // Forgets every connection; each closes when its last holder lets go.
    void releaseAllDatabases();
    void executeLocked(const std::function<void()>& block);

    const std::optional<std::string>& path() const { return path_; }
    void setPath(std::optional<std::string> path) { path_ = std::move(path); }
    SQLDatabasePoolDelegate* delegate() const { return delegate_; }
    void setDelegate(SQLDatabasePoolDelegate* delegate) { delegate_ = delegate; }
    std::uint64_t maximumNumberOfDatabasesToCreate() const { return maximumNumberOfDatabasesToCreate_; }
    void setMaximumNumberOfDatabasesToCreate(std::uint64_t n) { maximumNumberOfDatabasesToCreate_ = n; }
    int openFlags() const { return openFlags_; }
    const std::optional<std::string>& vfsName() const { return vfsName_; }
    void setVfsName(std::optional<std::string> vfs) { vfsName_ = std::move(vfs); }
    std::string description() const;

private:
    std::mutex lock_;
    std::vector<std::shared_ptr<SQLDatabase>> databaseInPool_;
    std::vector<std::shared_ptr<SQLDatabase>> databaseOutPool_;
    int openFlags_;
    std::optional<std::string> path_;
    SQLDatabasePoolDelegate* delegate_ = nullptr;
    std::uint64_t maximumNumberOfDatabasesToCreate_ = 0;
    std::optional<std::string> vfsName_;
};

} // namespace sqlkit
