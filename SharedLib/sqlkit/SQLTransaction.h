#pragma once
#include <string>
#include <string_view>

#include "SharedLib/sqlkit/SQLValue.h"

namespace sqlkit {

class SQLDatabase;

// One transaction on an open connection, rolled back when the object goes unless it was
// committed. SQLite ends a transaction by itself after some failures (a full disk, an I/O
// error, no memory); statements run after that would each commit on their own. So every
// write goes through here, and after the first failure that is not the row's own (a
// constraint, a type) the transaction is rolled back and nothing more is written.
// While it is open the connection logs no failures: the first one is kept for the caller
// to report once.
class SQLTransaction {
public:
    enum class Kind { Exclusive, Deferred, Immediate };

    explicit SQLTransaction(SQLDatabase& db, Kind kind = Kind::Exclusive);
    ~SQLTransaction();
    SQLTransaction(const SQLTransaction&) = delete;
    SQLTransaction& operator=(const SQLTransaction&) = delete;

    // False when BEGIN failed (see failure()).
    bool began() const { return began_; }
    // True from a successful BEGIN until commit, rollback or a failure that stopped it.
    bool isOpen() const;
    // True once the work must stop: BEGIN failed, a statement failed for another reason
    // than its own row, or SQLite ended the transaction.
    bool failed() const { return failed_; }
    // The first failure, as "<what>: <SQLite's message>"; empty when none.
    const std::string& failure() const { return failure_; }
    // Rows refused for their own sake (a constraint, a type) and dropped.
    long long refusedRows() const { return refused_; }

    // Runs one statement inside the transaction. True when it ran; false when it was
    // refused or the work has stopped (then nothing runs at all).
    bool executeUpdate(std::string_view sql, const SQLArguments& arguments = {});
    // A script (sqlite3_exec); any failure stops the work.
    bool executeStatements(std::string_view sql);

    // Commits; false when the work has stopped or the commit failed, and then nothing of
    // it is kept.
    bool commit();
    // Rolls back what is still open; harmless when nothing is.
    void rollback();

private:
    // Notes a failure of `what`; `rowOnly` allows a dropped row to leave the work going.
    void noteFailure(std::string_view what, bool rowOnly);
    void end();

    SQLDatabase& db_;
    bool began_ = false;
    bool ended_ = false;
    bool failed_ = false;
    bool logsErrors_ = true;
    long long refused_ = 0;
    std::string failure_;
};

} // namespace sqlkit
