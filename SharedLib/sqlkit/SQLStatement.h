#pragma once
#include <cstdint>
#include <string>

struct sqlite3_stmt;

namespace sqlkit {

// One prepared statement. The connection's cache and the result sets share it.
class SQLStatement {
public:
    SQLStatement() = default;
    explicit SQLStatement(sqlite3_stmt* statement) : statement_(statement) {}
    ~SQLStatement();
    SQLStatement(const SQLStatement&) = delete;
    SQLStatement& operator=(const SQLStatement&) = delete;

    // Finalizes the handle, forgets it and clears inUse.
    void close();
    // sqlite3_reset (bindings stay) and clears inUse.
    void reset();

    sqlite3_stmt* statement() const { return statement_; }
    void setStatement(sqlite3_stmt* s) { statement_ = s; }
    const std::string& query() const { return query_; }
    void setQuery(std::string q) { query_ = std::move(q); }
    std::int64_t useCount() const { return useCount_; }
    void setUseCount(std::int64_t n) { useCount_ = n; }
    bool inUse() const { return inUse_; }
    void setInUse(bool b) { inUse_ = b; }

    // "<SQLStatement: 0x...> N hit(s) for query Q"
    std::string description() const;

private:
    sqlite3_stmt* statement_ = nullptr;
    std::string query_;
    std::int64_t useCount_ = 0;
    bool inUse_ = false;
};

} // namespace sqlkit
