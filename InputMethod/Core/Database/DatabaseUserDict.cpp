// The learning user dictionary in user.db: one table per input configuration.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <optional>
#include <unordered_set>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include <sqlite3.h>

#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Database/StoreSql.h"
#include "Platform/Dispatch/WorkerPool.h"
#include "Platform/Foundation/Log.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLDatabaseQueue.h"
#include "SharedLib/sqlkit/SQLResultSet.h"

using sqlkit::SQLDatabase;
using Clock = std::chrono::steady_clock;

namespace taviro {

// One change of the user dictionary, as the caller asked for it.
struct Database::UserWrite {
    enum class Kind { insert, raise, remove };
    Kind kind = Kind::insert;
    std::string table;
    CodeTable record;
    bool isNew = false;
    bool quanPin = false;  // a code with apostrophes also has a row without them
};

// Writes waiting for user.db, retried by one loop on the worker pool.
struct Database::PendingWrites {
    std::mutex m;
    std::condition_variable wake;
    std::deque<UserWrite> writes;
    std::size_t lost = 0;
    bool retrying = false;
    bool reported = false;  // the current spell of waiting was logged
    bool toldLoss = false;  // the user was told of words lost in this spell
    bool full = false;      // the last attempt found the disk full
    bool toldFull = false;  // the full disk was logged and told in this spell
    // A disk that is full again soon after words could be written is the same
    // episode: told once, with one line when there is room.
    bool fullEpisode = false;
    Clock::time_point lastFull{};
    bool toldRoom = false;
    bool inFullEpisode(Clock::time_point now) const { return fullEpisode && now - lastFull < kFullDiskEpisode; }
    static constexpr std::chrono::minutes kFullDiskEpisode{5};
    bool stopping = false;
};

namespace {


// Every user-dictionary statement has a fixed text with bound values, and
// several run on every key: the connection keeps them prepared.
void keepStatements(SQLDatabase* db) {
    if (db && !db->shouldCacheStatements()) db->setShouldCacheStatements(true);
}

// The weight as stored so far: finite values as numbers, the others as the
// texts "nan", "inf" and "-inf".
sqlkit::SQLValue weightValue(double w) {
    if (std::isnan(w)) return std::string("nan");
    if (std::isinf(w)) return std::string(w > 0 ? "inf" : "-inf");
    return w;
}

bool hasApostrophe(const std::string& code) { return code.find('\'') != std::string::npos; }

std::string withoutApostrophes(const std::string& code) {
    std::string out;
    for (char c : code)
        if (c != '\'') out += c;
    return out;
}

// What the store knows of one user.db connection: the tables it made (or
// found) since the file was opened. Lives as long as the connection.
struct UserConnectionMemory {
    std::unordered_set<std::string> tables;
};

UserConnectionMemory& connectionMemory(SQLDatabase* db) {
    auto memory = std::static_pointer_cast<UserConnectionMemory>(db->userData());
    if (!memory) {
        memory = std::make_shared<UserConnectionMemory>();
        db->setUserData(memory);
    }
    return *memory;
}

// The least text above every text that begins with `prefix` (ASCII, no NUL);
// none for the empty prefix (no text is above all).
std::optional<std::string> afterPrefix(const std::string& prefix) {
    if (prefix.empty()) return std::nullopt;
    std::string out = prefix;
    out.back() = static_cast<char>(out.back() + 1);
    return out;
}

// A range of Py texts: [low, high), high none for the end of the texts.
struct PyRange {
    std::string low;
    std::optional<std::string> high;
};

// A prefix of the pattern walk with the least Py that begins with it, as the
// query that found the prefix returned it.
struct WalkPrefix {
    std::string text;
    std::string least;
    // The byte after the prefix in its least Py; -1 when that Py is the
    // prefix itself (or none is known), and then what follows is unknown.
    int nextByte() const {
        if (least.size() <= text.size() || least.compare(0, text.size(), text) != 0) return -1;
        return static_cast<unsigned char>(least[text.size()]);
    }
};

// A row of SELECT * as a record; rows without a word are skipped.
bool readUserRow(sqlkit::SQLResultSet& rs, CodeTable& out) {
    auto word = rs.stringForColumnIndex(1);
    if (!word) return false;
    out = CodeTable(rs.stringForColumnIndex(0).value_or(""), *word, rs.doubleForColumnIndex(2),
                    CodeTableFromType::user);
    return true;
}

} // namespace

// Statements of one user.db block, remembering whether one met a lock, a full
// disk or a damaged file.
class UserStatements {
public:
    using Outcome = Database::UserOutcome;

    UserStatements(SQLDatabase* db, Outcome& out) : db_(db), out_(out) { keepStatements(db); }

    bool ok() const { return out_ == Outcome::done; }

    std::unique_ptr<sqlkit::SQLResultSet> query(const std::string& sql, const sqlkit::SQLArguments& args) {
        sqlkit::SQLError error;
        auto rs = db_->executeQuery(sql, args, &error);
        if (!rs) note(error.code() ? error.code() : db_->lastErrorCode());
        return rs;
    }

    bool step(sqlkit::SQLResultSet& rs) {
        sqlkit::SQLError error;
        if (rs.next(&error)) return true;
        if (error.code()) note(error.code());
        return false;
    }

    bool update(const std::string& sql, const sqlkit::SQLArguments& args) {
        sqlkit::SQLError error;
        if (db_->executeUpdate(sql, args, &error)) return true;
        note(error.code() ? error.code() : db_->lastErrorCode());
        return false;
    }

    // The table and its index, made once per connection: a table made (or
    // found) before is not asked for again. False as for createTable.
    bool ensureTable(const std::string& table) {
        auto& memory = connectionMemory(db_);
        if (memory.tables.count(table)) return true;
        if (!createTable(table)) return false;
        memory.tables.insert(table);
        return true;
    }

    // After a statement found the table missing (another program dropped it
    // or wrote another file over this one): made again, as on first use.
    void remakeMissingTable(const std::string& table) {
        if (!missingTable_) return;
        missingTable_ = false;
        connectionMemory(db_).tables.erase(table);
        ensureTable(table);
    }

    bool metMissingTable() const { return missingTable_; }
    void clearMissingTable() { missingTable_ = false; }

    // The rows of `table` whose Py matches the LIKE pattern, as the pattern
    // statement gives them (heaviest first), at most `limit`. Read through the
    // Py index; see likeRowids.
    void likeRows(const std::string& table, const std::string& pattern, int limit, std::vector<CodeTable>& out);

    // Creates the table and its index when missing; false when a lock, a full
    // disk or damage stopped it (other failures leave the statements to fail).
    bool createTable(const std::string& table) {
        const std::string t = storesql::quoteIdentifier(table);
        update("CREATE TABLE IF NOT EXISTS " + t +
                   " ('Py' TEXT NOT NULL ,'Word' TEXT NOT NULL ,'Weight' double NOT NULL , "
                   "'New' BOOL NOT NULL DEFAULT true)",
               {});
        if (!ok()) return false;
        update("CREATE INDEX IF NOT EXISTS " + storesql::quoteIdentifier(table + "_index") + " on " + t +
                   " ('Py' DESC, 'Weight' DESC)",
               {});
        return ok();
    }

    // The rowid of the first row of (code, word), -1 when none; false when a
    // lock, a full disk or damage stopped it.
    bool rowid(const std::string& table, const std::string& code, const std::string& word, std::int64_t& out) {
        out = -1;
        auto rs = query("SELECT rowid FROM " + storesql::quoteIdentifier(table) + " WHERE Py=? and Word=?",
                        {code, word});
        if (!rs) return ok();
        if (step(*rs)) out = rs->longForColumnIndex(0);
        rs->close();
        return ok();
    }

    // The statements of one write; false when one failed.
    bool write(const Database::UserWrite& w);
    bool writeRows(const Database::UserWrite& w);

    bool begin() {
        if (db_->beginImmediateTransaction()) return true;
        note(db_->lastErrorCode());
        return false;
    }
    bool commit() {
        if (db_->commit()) return true;
        note(db_->lastErrorCode());
        rollback();
        return false;
    }
    // SQLite may have rolled the transaction back itself (a full disk, an
    // I/O error): then there is nothing left to roll back.
    void rollback() {
        if (!sqlite3_get_autocommit(db_->sqliteHandle())) db_->rollback();
    }

private:
    // The rowids of the rows whose Py matches; false when the index cannot
    // serve the pattern (the plain statement must).
    bool likeRowids(const std::string& table, const std::string& pattern, std::vector<std::int64_t>& rowids);
    // The first Py in the range; none when the range is empty or a statement failed.
    std::optional<std::string> firstPy(const std::string& table, const PyRange& range);
    // The prefixes p + upper and p + lower that some Py begins with, added to
    // `out`; what p's least Py shows needs no query.
    void walkLetter(const std::string& table, const WalkPrefix& p, char upper, char lower,
                    std::vector<WalkPrefix>& out);
    bool rowidsInRange(const std::string& table, const PyRange& range, const std::string& pattern,
                       std::vector<std::int64_t>& rowids);
    void readRows(std::unique_ptr<sqlkit::SQLResultSet> rs, int limit, std::vector<CodeTable>& out);

    // Damage overrides; otherwise the first lock or full disk met stays.
    void note(int code) {
        if ((code & 0xff) == SQLITE_ERROR && db_->lastErrorMessage().rfind("no such table", 0) == 0)
            missingTable_ = true;
        if (storesql::isDamagedCode(code))
            out_ = Outcome::damaged;
        else if (out_ != Outcome::done)
            return;
        else if (storesql::isLockedCode(code))
            out_ = Outcome::busy;
        else if (storesql::isFullCode(code))
            out_ = Outcome::full;
    }

    SQLDatabase* db_;
    Outcome& out_;
    bool missingTable_ = false;
};

// The statements of one write; false when one failed.
bool UserStatements::write(const Database::UserWrite& w) {
    missingTable_ = false;
    if (!ensureTable(w.table)) return false;
    const bool written = writeRows(w);
    if (written || !missingTable_) return written;
    // Dropped since it was made on this connection: made again, written once more.
    remakeMissingTable(w.table);
    return ok() && writeRows(w);
}

bool UserStatements::writeRows(const Database::UserWrite& w) {
    UserStatements& st = *this;
    const std::string t = storesql::quoteIdentifier(w.table);
    const std::string& word = w.record.table;
    auto insert = [&](const std::string& code, bool isNew) {
        return st.update("INSERT INTO " + t + " VALUES(?,?,?,?)",
                         {code, word, weightValue(w.record.weight), isNew ? 1 : 0});
    };
    auto insertWithTwin = [&](const std::string& code, bool isNew) {
        if (!insert(code, isNew)) return false;
        return !(w.quanPin && hasApostrophe(code)) || insert(withoutApostrophes(code), isNew);
    };
    if (w.kind == Database::UserWrite::Kind::insert) return insertWithTwin(w.record.code, w.isNew);
    const bool remove = w.kind == Database::UserWrite::Kind::remove;
    std::string code = w.record.code;
    for (;;) {
        std::int64_t rowid = -1;
        if (!st.rowid(w.table, code, word, rowid)) return false;
        if (rowid < 0) return remove || insertWithTwin(code, false);
        if (!st.update(remove ? "DELETE FROM " + t + " WHERE rowid=?" : "UPDATE " + t + " SET Weight=Weight+1 WHERE rowid=?",
                       {rowid}))
            return false;
        if (!(w.quanPin && hasApostrophe(code))) return true;
        code = withoutApostrophes(code);
    }
}

// --- pattern lookups through the Py index ------------------------------------
//
// SQLite cannot use the Py index for "Py like ?" (LIKE ignores ASCII case,
// the index does not), so the statement reads and sorts the whole table. The
// rows are found here instead from ranges of the index that hold every match:
// the pattern's leading characters are walked one at a time, a literal
// character in both ASCII cases, a "_" as each ASCII character the index holds
// at that place, keeping only prefixes that some Py begins with. The walk
// stops at "%" and at a byte that is not ASCII.
// Every range is then read with the LIKE test itself, so exactly the rows of
// the statement are found; they are read back in rowid order and sorted by
// SQLite as the statement sorts them, so ties keep their order too.

namespace {

// Prefixes kept at one place of the walk; beyond it the walk stops where it is.
constexpr std::size_t kMaxWalkPrefixes = 64;
// Above this many matches the plain statement reads them as cheaply.
constexpr std::size_t kMaxIndexedMatches = 4096;

std::string rowidList(const std::vector<std::int64_t>& rowids) {
    std::string out = "[";
    for (std::size_t i = 0; i < rowids.size(); ++i) {
        if (i) out += ',';
        out += std::to_string(rowids[i]);
    }
    return out + "]";
}

} // namespace

std::optional<std::string> UserStatements::firstPy(const std::string& table, const PyRange& range) {
    const std::string t = storesql::quoteIdentifier(table);
    auto rs = range.high ? query("SELECT Py FROM " + t + " WHERE Py >= ? AND Py < ? ORDER BY Py LIMIT 1",
                                 {range.low, *range.high})
                         : query("SELECT Py FROM " + t + " WHERE Py >= ? AND Py < x'' ORDER BY Py LIMIT 1",
                                 {range.low});
    if (!rs) return std::nullopt;
    std::optional<std::string> py;
    if (step(*rs)) py = rs->stringForColumnIndex(0);
    rs->close();
    return py;
}

void UserStatements::walkLetter(const std::string& table, const WalkPrefix& p, char upper, char lower,
                                std::vector<WalkPrefix>& out) {
    const int known = p.nextByte();
    const auto u = static_cast<unsigned char>(upper), l = static_cast<unsigned char>(lower);
    // The least Py of p shows what follows p first: nothing begins with p
    // and a smaller byte, and the byte it holds is there.
    if (known > l) return;
    if (known == l) {
        out.push_back({p.text + lower, p.least});
        return;
    }
    const std::string withUpper = p.text + upper, withLower = p.text + lower;
    auto findLower = [&] {
        if (auto py = firstPy(table, {withLower, afterPrefix(withLower)})) out.push_back({withLower, std::move(*py)});
    };
    if (known > u) return findLower();
    if (known == u) {
        out.push_back({withUpper, p.least});
        return findLower();
    }
    // Both unknown: one query from the upper case to the end of the lower
    // case; its least Py answers for both, or for the upper case alone.
    auto py = firstPy(table, {withUpper, afterPrefix(withLower)});
    if (!py || py->size() <= p.text.size()) return;
    const auto c = static_cast<unsigned char>((*py)[p.text.size()]);
    if (c == l) {
        out.push_back({withLower, std::move(*py)});
        return;
    }
    if (c == u) out.push_back({withUpper, std::move(*py)});
    findLower();
}

bool UserStatements::rowidsInRange(const std::string& table, const PyRange& range, const std::string& pattern,
                                   std::vector<std::int64_t>& rowids) {
    const std::string t = storesql::quoteIdentifier(table);
    auto rs = range.high ? query("SELECT rowid FROM " + t + " WHERE Py >= ? AND Py < ? AND Py like ?",
                                 {range.low, *range.high, pattern})
                         : query("SELECT rowid FROM " + t + " WHERE Py >= ? AND Py < x'' AND Py like ?",
                                 {range.low, pattern});
    if (!rs) return false;
    while (step(*rs)) rowids.push_back(rs->longForColumnIndex(0));
    rs->close();
    return ok();
}

bool UserStatements::likeRowids(const std::string& table, const std::string& pattern,
                                std::vector<std::int64_t>& rowids) {
    const std::string t = storesql::quoteIdentifier(table);
    // Values stored as numbers sort before every text and may match too.
    {
        auto rs = query("SELECT rowid FROM " + t + " WHERE Py < '' AND Py like ?", {pattern});
        if (!rs) return true;  // the table is missing: no rows, as the statement finds
        while (step(*rs)) rowids.push_back(rs->longForColumnIndex(0));
        rs->close();
        if (!ok()) return true;
    }
    // The ranges hold the matches only where Py compares as bytes.
    const char* collation = nullptr;
    if (sqlite3_table_column_metadata(db_->sqliteHandle(), "main", table.c_str(), "Py", nullptr, &collation,
                                      nullptr, nullptr, nullptr) != SQLITE_OK ||
        !collation || sqlite3_stricmp(collation, "BINARY") != 0)
        return false;

    std::vector<PyRange> ranges;
    std::vector<WalkPrefix> prefixes{{}};
    // Whether the walk reached the end of the pattern: then a match is one of
    // the prefixes exactly (or that and a NUL, where LIKE stops reading).
    bool whole = true;
    for (std::size_t i = 0; i < pattern.size() && !prefixes.empty(); ++i) {
        const auto b = static_cast<unsigned char>(pattern[i]);
        if (b == '%' || b == 0 || b >= 0x80) {
            whole = false;
            break;
        }
        std::vector<WalkPrefix> next;
        for (const auto& p : prefixes) {
            const std::string& text = p.text;
            const int known = p.nextByte();
            if (b == '_') {
                // Each ASCII character that follows p somewhere; a NUL ends
                // the text for LIKE, so nothing follows it. The last query
                // also tells whether a byte that is not ASCII follows p.
                std::string low = text + '\x01';
                bool more = true, notAscii = true;
                if (known >= 0x80) {
                    more = false;
                } else if (known > 0) {
                    next.push_back({text + static_cast<char>(known), p.least});
                    more = known < 0x7F;
                    low = text + static_cast<char>(known + 1);
                }
                while (more) {
                    auto py = firstPy(table, {low, afterPrefix(text)});
                    if (!py) notAscii = false;
                    if (!py || py->size() <= text.size()) break;
                    const auto c = static_cast<unsigned char>((*py)[text.size()]);
                    if (c >= 0x80) break;
                    next.push_back({text + static_cast<char>(c), std::move(*py)});
                    more = c < 0x7F;
                    low = text + static_cast<char>(c + 1);
                }
                // Texts where a character that is not ASCII follows p are read whole.
                if (notAscii) ranges.push_back({text + '\x80', afterPrefix(text)});
            } else if (std::isalpha(b)) {
                // A letter in either ASCII case, as LIKE compares it.
                walkLetter(table, p, static_cast<char>(std::toupper(b)), static_cast<char>(std::tolower(b)), next);
            } else if (known < 0 || b > known) {
                const std::string q = text + static_cast<char>(b);
                if (auto py = firstPy(table, {q, afterPrefix(q)})) next.push_back({q, std::move(*py)});
            } else if (b == known) {
                next.push_back({text + static_cast<char>(b), p.least});
            }
            if (!ok()) return true;
        }
        if (next.size() > kMaxWalkPrefixes) {
            whole = false;
            break;
        }
        prefixes = std::move(next);
    }
    for (const auto& p : prefixes) {
        // A whole match is the prefix itself: none when its least Py is longer
        // (and not the prefix and a NUL).
        if (whole && p.nextByte() > 0) continue;
        ranges.push_back({p.text, whole ? std::optional<std::string>(p.text + '\x01') : afterPrefix(p.text)});
    }
    for (const auto& range : ranges)
        if (!rowidsInRange(table, range, pattern, rowids)) return true;
    std::sort(rowids.begin(), rowids.end());
    rowids.erase(std::unique(rowids.begin(), rowids.end()), rowids.end());
    return rowids.size() <= kMaxIndexedMatches;
}

void UserStatements::readRows(std::unique_ptr<sqlkit::SQLResultSet> rs, int limit, std::vector<CodeTable>& out) {
    if (!rs) return;
    CodeTable r;
    int read = 0;
    while (read < limit && step(*rs)) {
        ++read;
        if (readUserRow(*rs, r)) out.push_back(std::move(r));
    }
    rs->close();
}

void UserStatements::likeRows(const std::string& table, const std::string& pattern, int limit,
                              std::vector<CodeTable>& out) {
    // One read transaction: the file is locked once for all the statements.
    const bool began = db_->beginDeferredTransaction();
    std::vector<std::int64_t> rowids;
    if (!likeRowids(table, pattern, rowids)) {
        readRows(query(storesql::userPatternStatement(table), {pattern}), limit, out);
    } else if (ok() && !rowids.empty()) {
        // In rowid order into the sort, as the table scan of the statement.
        auto rs = query("SELECT * FROM " + storesql::quoteIdentifier(table) +
                            " WHERE rowid IN (SELECT value FROM json_each(?)) ORDER BY Weight DESC",
                        {rowidList(rowids)});
        // An SQLite without its JSON functions: the plain statement.
        if (!rs && ok()) rs = query(storesql::userPatternStatement(table), {pattern});
        readRows(std::move(rs), limit, out);
    }
    if (began && !sqlite3_get_autocommit(db_->sqliteHandle()) && !db_->commit()) rollback();
}

// --- access to user.db ---------------------------------------------------------

void Database::noteUserLocked() {
    const auto until = Clock::now() + kUserLockedMemory;
    userLockedUntil_.store(until.time_since_epoch().count());
}

bool Database::userLockedRecently() const {
    return Clock::now().time_since_epoch().count() < userLockedUntil_.load();
}

Database::UserOutcome Database::inUserDatabase(bool keyPath,
                                               const std::function<void(SQLDatabase*, UserOutcome&)>& fn,
                                               bool writes) {
    for (int attempt = 0;; ++attempt) {
        UserOutcome out = UserOutcome::done;
        const sqlkit::SQLDatabaseQueue* used = nullptr;
        const bool ran = withQueue(Queue::user, [&](sqlkit::SQLDatabaseQueue& q) {
            used = &q;
            q.inDatabase([&](SQLDatabase* db) {
                if (!db || !db->sqliteHandle()) {
                    out = UserOutcome::closed;
                    return;
                }
                // Another process may hold the lock: wait a moment at most,
                // never the connection's default seconds. Decided here, so
                // that blocks queued behind one that met the lock do not wait.
                const bool skipWait = keyPath && userLockedRecently();
                sqlite3_busy_timeout(db->sqliteHandle(), skipWait ? 0 : static_cast<int>(kUserLockWait.count()));
                // The lock was logged when it was met; every key need not say it again.
                const bool logs = db->logsErrors();
                if (skipWait) db->setLogsErrors(false);
                fn(db, out);
                db->setLogsErrors(logs);
            });
        }, writes);
        if (!ran) return UserOutcome::closed;
        if (out == UserOutcome::busy) noteUserLocked();
        if (out != UserOutcome::damaged || attempt > 0) return out;
        replaceDamagedFile(Queue::user, used);
    }
}

// --- table name and reads --------------------------------------------------------

std::string Database::userDictTableName() const { return userDictTableName(*currentSettings()); }

std::string Database::userDictTableName(const Settings& s) const {
    const bool noMainTable = s.codeTableName == kNoMainCodeTable;
    if (s.quanPin) return noMainTable ? std::string("Quanpin") : s.codeTableName + "Quanpin";
    if (!s.disableDatabase && noMainTable) return s.inputPlanName;
    return s.codeTableName + s.inputPlanName;
}

void Database::createUserDictTable(const std::string& tableName) {
    inUserDatabase(true, [&](SQLDatabase* db, UserOutcome& out) { UserStatements(db, out).ensureTable(tableName); });
}

std::vector<CodeTable> Database::userDictionaryByPy(const std::string& key, int limit) {
    return userRowsByPy(key, limit, nullptr);
}

std::vector<CodeTable> Database::userRowsByPy(const std::string& key, int limit, bool* complete) {
    std::vector<CodeTable> records;
    const auto settings = currentSettings();
    if (!settings->userDict) return records;
    const std::string table = userDictTableName(*settings);
    const auto out = inUserDatabase(true, [&](SQLDatabase* db, UserOutcome& o) {
        records.clear();
        UserStatements st(db, o);
        if (!st.ensureTable(table) || limit <= 0) return;
        auto rs = st.query("SELECT * FROM " + storesql::quoteIdentifier(table) + " WHERE Py=? ORDER BY Weight DESC",
                           {key});
        if (!rs) return st.remakeMissingTable(table);
        CodeTable r;
        while (static_cast<int>(records.size()) < limit && st.step(*rs))
            if (readUserRow(*rs, r)) records.push_back(std::move(r));
        rs->close();
    });
    // Rows missed because of a lock or a failed read are not the whole answer.
    if (complete) *complete = out == UserOutcome::done || out == UserOutcome::closed;
    return records;
}

void Database::userWordExtendingKey(const std::string& sql, const std::string& key,
                                    std::vector<CodeTable>& records) {
    const auto settings = currentSettings();
    if (!settings->userDict) return;
    const std::string table = userDictTableName(*settings);
    // The pattern statement of the current table is read through the index.
    const bool indexed = sql == storesql::userPatternStatement(table);
    std::vector<CodeTable> found;
    inUserDatabase(true, [&](SQLDatabase* db, UserOutcome& o) {
        found.clear();
        UserStatements st(db, o);
        if (indexed) return st.likeRows(table, key + "__", 1, found);
        auto rs = st.query(sql, {key + "__"});
        if (!rs) return;
        CodeTable r;
        if (st.step(*rs) && readUserRow(*rs, r)) found.push_back(std::move(r));
        rs->close();
    });
    records.insert(records.end(), found.begin(), found.end());
}

void Database::userWordsByInitials(const std::string& key, std::vector<CodeTable>& records) {
    const auto settings = currentSettings();
    if (!settings->userDict) return;
    const std::string table = userDictTableName(*settings);
    // One wildcard after every character (UTF-8 sequences kept whole).
    std::string pattern;
    for (std::size_t i = 0; i < key.size(); ++i) {
        pattern += key[i];
        const bool lastByte = i + 1 == key.size() || (static_cast<unsigned char>(key[i + 1]) & 0xC0) != 0x80;
        if (lastByte) pattern += '_';
    }
    std::vector<CodeTable> found;
    inUserDatabase(true, [&](SQLDatabase* db, UserOutcome& o) {
        found.clear();
        UserStatements(db, o).likeRows(table, pattern, 2, found);
    });
    records.insert(records.end(), found.begin(), found.end());
}

std::int64_t Database::userWordRowid(const CodeTable& record) {
    const std::string table = userDictTableName(*currentSettings());
    std::int64_t rowid = -1;
    inUserDatabase(true, [&](SQLDatabase* db, UserOutcome& o) {
        UserStatements st(db, o);
        if (st.ensureTable(table) && !st.rowid(table, record.code, record.table, rowid)) return;
        st.remakeMissingTable(table);
    });
    return rowid;
}

// --- writes ------------------------------------------------------------------------

void Database::insertUserWord(CodeTable& record, bool isNew) {
    const auto settings = currentSettings();
    UserWrite w{UserWrite::Kind::insert, userDictTableName(*settings), record, isNew, settings->quanPin};
    if (settings->quanPin && hasApostrophe(record.code)) record.code = withoutApostrophes(record.code);
    submitUserWrites({std::move(w)});
}

void Database::updateUserWordRow(CodeTable& record, bool remove) {
    const auto settings = currentSettings();
    UserWrite w{remove ? UserWrite::Kind::remove : UserWrite::Kind::raise, userDictTableName(*settings), record,
                false, settings->quanPin};
    if (settings->quanPin && hasApostrophe(record.code)) record.code = withoutApostrophes(record.code);
    submitUserWrites({std::move(w)});
}

Database::UserOutcome Database::applyUserWrites(const std::vector<UserWrite>& writes, bool keyPath, bool quiet) {
    // One transaction, so that writes stopped by a lock or a full disk leave
    // nothing behind and can be run again whole; a save point per write, so
    // that one that fails for another reason is left out alone.
    return inUserDatabase(keyPath, [&](SQLDatabase* db, UserOutcome& o) {
        if (quiet) db->setLogsErrors(false);  // inUserDatabase restores it
        UserStatements st(db, o);
        if (!st.begin()) return;
        for (const auto& w : writes) {
            if (!st.update("SAVEPOINT userWrite", {})) break;
            const bool written = st.write(w);
            if (!st.ok()) break;
            if (!written) st.update("ROLLBACK TO userWrite", {});
            st.update("RELEASE userWrite", {});
        }
        if (st.ok())
            st.commit();
        else
            st.rollback();
    }, true);
}

void Database::submitUserWrites(std::vector<UserWrite> writes) {
    // Behind writes that already wait, to keep their order.
    auto waiting = [this] {
        std::lock_guard lk(pending_->m);
        return !pending_->writes.empty();
    };
    UserOutcome stopped = UserOutcome::done;
    if (!waiting()) {
        std::lock_guard order(userWriteMutex_);
        std::size_t i = 0;
        if (!waiting()) {
            // Within an episode of a full disk its failures were logged once.
            const bool quiet = [this] {
                std::lock_guard lk(pending_->m);
                return pending_->inFullEpisode(Clock::now());
            }();
            for (; i < writes.size(); ++i) {
                const auto out = applyUserWrites({writes[i]}, true, quiet);
                if (mustWait(out)) {
                    stopped = out;
                    break;
                }
            }
        }
        writes.erase(writes.begin(), writes.begin() + static_cast<std::ptrdiff_t>(i));
    }
    if (stopped != UserOutcome::done) noteWaitReason(stopped);
    if (!writes.empty()) enqueueUserWrites(std::move(writes));
}

void Database::noteWaitReason(UserOutcome out) {
    {
        std::lock_guard lk(pending_->m);
        pending_->full = out == UserOutcome::full;
        if (!pending_->full) return;
        const auto now = Clock::now();
        const bool told = pending_->toldFull || pending_->inFullEpisode(now);
        if (!pending_->inFullEpisode(now)) pending_->toldRoom = false;
        pending_->fullEpisode = true;
        pending_->lastFull = now;
        pending_->toldFull = pending_->reported = true;
        if (told) return;
    }
    const auto trouble = userDatabaseTrouble();
    if (trouble.kind == UserTrouble::diskFull) {
        plat::log("user.db cannot be written, the disk is full: learnt words wait in memory and are written when "
                  "there is room again");
        tellUser("磁盘空间不足", "磁盘已满，新学的词暂存在内存中，腾出空间后会自动写入。");
        return;
    }
    plat::log("user.db cannot be written: " + trouble.text + "; learnt words wait in memory");
    tellUser("用户词库无法写入", trouble.notice + "，新学的词暂存在内存中。");
}

Database::UserTrouble Database::userDatabaseTrouble() const {
    const std::string file = userDBLocalPath();
    const std::string folder = locations_.userFolder.string();
    struct stat st{};
    const bool exists = ::stat(file.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        return {UserTrouble::notAFile, file + " is a directory, not a database file", "用户词库 user.db 是一个文件夹，不是词库文件"};
    if (exists && !S_ISREG(st.st_mode))
        return {UserTrouble::notAFile, file + " is not a regular file", "用户词库 user.db 不是普通文件"};
    // SQLite cannot write the file without its journal (a FIFO there is never opened).
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        const std::string companion = file + suffix;
        const std::string name = std::string("user.db") + suffix;
        struct stat cs{};
        if (::lstat(companion.c_str(), &cs) != 0 || S_ISREG(cs.st_mode)) continue;
        if (S_ISDIR(cs.st_mode))
            return {UserTrouble::notAFile, companion + " is a directory, not a journal file",
                    "用户词库的日志文件 " + name + " 是一个文件夹"};
        return {UserTrouble::notAFile, companion + " is not a regular file", "用户词库的日志文件 " + name + " 不是普通文件"};
    }
    if (::access(folder.c_str(), W_OK) != 0)
        return {UserTrouble::noPermission, "the folder " + folder + " may not be written (no write permission)",
                "没有写入文件夹 " + folder + " 的权限"};
    if (exists && ::access(file.c_str(), W_OK) != 0)
        return {UserTrouble::noPermission, file + " may not be written (no write permission)", "没有写入用户词库 user.db 的权限"};
    {
        std::lock_guard lk(pending_->m);
        if (pending_->full) return {UserTrouble::diskFull, "the disk is full", "磁盘已满"};
    }
    if (!isOpen()) return {UserTrouble::closed, "the dictionary files are closed", "词库已关闭"};
    return {UserTrouble::locked, file + " is in use by another program", "用户词库被其他程序占用"};
}

void Database::enqueueUserWrites(std::vector<UserWrite> writes) {
    bool firstOfSpell = false, tellLoss = false, full = false;
    std::vector<std::string> refused;
    {
        std::lock_guard lk(pending_->m);
        for (auto& w : writes) {
            if (pending_->writes.size() < kMaxPendingUserWrites) {
                pending_->writes.push_back(std::move(w));
            } else {
                ++pending_->lost;
                refused.push_back(w.record.table);
            }
        }
        if (!pending_->reported) firstOfSpell = pending_->reported = true;
        tellLoss = !refused.empty() && !pending_->toldLoss;
        if (tellLoss) pending_->toldLoss = true;
        full = pending_->full;
    }
    if (firstOfSpell)
        plat::log("user.db cannot be written now (" + userDatabaseTrouble().text +
                  "): learnt words wait and are written when it can be");
    const std::string stayed = full ? "the disk stayed full" : "user.db stayed locked";
    for (const auto& word : refused) plat::log(stayed + ": the word " + word + " was not learnt");
    if (tellLoss && full)
        tellUser("磁盘空间不足", "磁盘长时间已满，之后新学的词未能保存。");
    else if (tellLoss)
        tellUser("用户词库被占用", "用户词库长时间被其他程序占用，之后新学的词未能保存。");
    startRetrying(false);
}

bool Database::flushPendingOnce(UserOutcome* last) {
    constexpr std::size_t kBatch = 64;
    std::lock_guard order(userWriteMutex_);
    bool progressed = false;
    std::size_t batchSize = kBatch;
    bool quiet = false;
    for (;;) {
        std::vector<UserWrite> batch;
        {
            std::lock_guard lk(pending_->m);
            if (pending_->writes.empty()) {
                if (progressed && pending_->reported && !pending_->toldFull)
                    plat::log("user.db is free again: the waiting words are written");
                if (progressed && pending_->reported && pending_->toldFull && !pending_->toldRoom) {
                    plat::log("user.db can be written again: the waiting words are written");
                    pending_->toldRoom = true;
                }
                pending_->reported = pending_->toldLoss = pending_->full = pending_->toldFull = false;
                if (last) *last = UserOutcome::done;
                return progressed;
            }
            const std::size_t n = std::min(batchSize, pending_->writes.size());
            batch.assign(pending_->writes.begin(), pending_->writes.begin() + static_cast<std::ptrdiff_t>(n));
            // The full disk was logged when it was met; every retry need not say it again.
            quiet = pending_->full;
        }
        // Not waiting for a lock met a moment ago keeps the queue of user.db
        // free for the lookups; the retry loop comes back soon enough.
        const auto out = applyUserWrites(batch, true, quiet);
        // A disk with a little room may take the writes one by one.
        if (out == UserOutcome::full && batch.size() > 1) {
            batchSize = 1;
            continue;
        }
        if (mustWait(out)) {
            noteWaitReason(out);
            if (last) *last = out;
            return progressed;
        }
        {
            std::lock_guard lk(pending_->m);
            pending_->writes.erase(pending_->writes.begin(),
                                   pending_->writes.begin() + static_cast<std::ptrdiff_t>(batch.size()));
        }
        progressed = true;
    }
}

std::shared_ptr<Database::PendingWrites> Database::makePendingWrites() { return std::make_shared<PendingWrites>(); }

void Database::stopRetrying() {
    std::lock_guard lk(pending_->m);
    pending_->stopping = true;
    pending_->wake.notify_all();
}

void Database::startRetrying(bool now) {
    {
        std::lock_guard lk(pending_->m);
        if (pending_->stopping || pending_->writes.empty()) return;
        if (pending_->retrying) {
            if (now) pending_->wake.notify_all();
            return;
        }
        pending_->retrying = true;
    }
    plat::WorkerPool::shared().submit([store = weak_from_this(), pending = pending_] { retryLoop(store, pending); });
}

void Database::retryLoop(std::weak_ptr<Database> store, std::shared_ptr<PendingWrites> pending) {
    constexpr std::chrono::milliseconds kFirst{50}, kLongest{2000};
    auto backoff = kFirst;
    std::unique_lock lk(pending->m);
    while (!pending->stopping && !pending->writes.empty()) {
        pending->wake.wait_for(lk, backoff);
        if (pending->stopping) break;
        lk.unlock();
        UserOutcome last = UserOutcome::done;
        bool progressed = false;
        if (auto self = store.lock()) progressed = self->flushPendingOnce(&last);
        else last = UserOutcome::closed;
        lk.lock();
        // A closed store restarts the loop when it opens again.
        if (last == UserOutcome::closed) break;
        backoff = progressed ? kFirst : std::min(backoff * 2, kLongest);
    }
    pending->retrying = false;
}

bool Database::flushPendingUserWrites(Clock::time_point deadline) {
    constexpr std::chrono::milliseconds kPause{50};
    for (;;) {
        UserOutcome last = UserOutcome::done;
        flushPendingOnce(&last);
        if (pendingUserWrites() == 0) return true;
        if (last == UserOutcome::closed) return false;
        const auto now = Clock::now();
        if (now >= deadline) return false;
        std::this_thread::sleep_for(std::min<Clock::duration>(kPause, deadline - now));
    }
}

std::size_t Database::pendingUserWrites() const {
    std::lock_guard lk(pending_->m);
    return pending_->writes.size();
}

std::size_t Database::lostUserWrites() const {
    std::lock_guard lk(pending_->m);
    return pending_->lost;
}

} // namespace taviro
