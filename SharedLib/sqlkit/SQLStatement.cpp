#include "SharedLib/sqlkit/SQLStatement.h"

#include <sqlite3.h>

#include <cstdio>

namespace sqlkit {

SQLStatement::~SQLStatement() { close(); }

void SQLStatement::close() {
    if (statement_) {
        sqlite3_finalize(statement_);
        statement_ = nullptr;
    }
    inUse_ = false;
}

void SQLStatement::reset() {
    if (statement_) sqlite3_reset(statement_);
    inUse_ = false;
}

std::string SQLStatement::description() const {
    char base[64];
    std::snprintf(base, sizeof base, "<SQLStatement: %p>", static_cast<const void*>(this));
    return std::string(base) + " " + std::to_string(useCount_) + " hit(s) for query " + query_;
}

} // namespace sqlkit
