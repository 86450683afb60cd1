#include "SharedLib/sqlkit/SQLTransaction.h"

#include "SharedLib/sqlkit/SQLDatabase.h"

#include <sqlite3.h>

namespace sqlkit {

namespace {
// Failures that concern the one row a statement wrote; the transaction stays usable.
bool isRowFailure(int code) {
    switch (code & 0xff) {
    case SQLITE_CONSTRAINT:
    case SQLITE_MISMATCH:
    case SQLITE_TOOBIG: return true;
    default: return false;
    }
}
} // namespace

SQLTransaction::SQLTransaction(SQLDatabase& db, Kind kind) : db_(db), logsErrors_(db.logsErrors()) {
    db_.setLogsErrors(false);
    switch (kind) {
    case Kind::Exclusive: began_ = db_.beginExclusiveTransaction(); break;
    case Kind::Deferred: began_ = db_.beginDeferredTransaction(); break;
    case Kind::Immediate: began_ = db_.beginImmediateTransaction(); break;
    }
    if (!began_) {
        failed_ = true;
        failure_ = "begin: " + db_.lastErrorMessage();
        db_.setLogsErrors(logsErrors_);
    }
}

SQLTransaction::~SQLTransaction() { end(); }

bool SQLTransaction::isOpen() const {
    return began_ && !ended_ && !failed_ && db_.sqliteHandle() && sqlite3_get_autocommit(db_.sqliteHandle()) == 0;
}

void SQLTransaction::noteFailure(std::string_view what, bool rowOnly) {
    const int code = db_.lastExtendedErrorCode();
    const std::string message = db_.lastErrorMessage();
    if (rowOnly && isRowFailure(code) && isOpen()) {
        ++refused_;
        return;
    }
    if (failure_.empty()) failure_ = std::string(what) + ": " + message;
    failed_ = true;
    end();
}

bool SQLTransaction::executeUpdate(std::string_view sql, const SQLArguments& arguments) {
    if (!isOpen()) {
        if (!failed_ && began_ && !ended_) noteFailure("the transaction was ended", false);
        return false;
    }
    if (db_.executeUpdate(sql, arguments, nullptr)) return true;
    noteFailure(sql, true);
    return false;
}

bool SQLTransaction::executeStatements(std::string_view sql) {
    if (!isOpen()) {
        if (!failed_ && began_ && !ended_) noteFailure("the transaction was ended", false);
        return false;
    }
    if (db_.executeStatements(sql)) return true;
    noteFailure("script", false);
    return false;
}

bool SQLTransaction::commit() {
    if (!isOpen()) {
        if (!failed_ && began_ && !ended_) noteFailure("the transaction was ended", false);
        end();
        return false;
    }
    if (!db_.commit()) {
        noteFailure("commit", false);
        return false;
    }
    ended_ = true;
    db_.setLogsErrors(logsErrors_);
    return true;
}

void SQLTransaction::rollback() { end(); }

void SQLTransaction::end() {
    if (!began_ || ended_) return;
    ended_ = true;
    sqlite3* handle = db_.sqliteHandle();
    if (handle && sqlite3_get_autocommit(handle) == 0) db_.rollback();
    // SQLite may have ended it already; either way none is open now.
    db_.isInTransaction_ = false;
    db_.setLogsErrors(logsErrors_);
}

} // namespace sqlkit
