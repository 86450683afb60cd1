#pragma once

namespace sqlkit {

class SQLDatabase;
class SQLDatabasePool;

// Asked before a connection joins a pool and told after a new one joined.
// Called with the pool's lock held: it must not call back into the pool.
class SQLDatabasePoolDelegate {
public:
    virtual ~SQLDatabasePoolDelegate() = default;
    virtual bool shouldAddDatabaseToPool(SQLDatabasePool& /*pool*/, SQLDatabase& /*db*/) { return true; }
    virtual void didAddDatabase(SQLDatabasePool& /*pool*/, SQLDatabase& /*db*/) {}
};

} // namespace sqlkit
