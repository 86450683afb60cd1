// The learning user dictionary in user.db: one table per input configuration.
#include <cmath>

#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Database/StoreSql.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLResultSet.h"

using sqlkit::SQLDatabase;

namespace taviro {

namespace {

// Every user-dictionary statement has a fixed text with bound values, and
// several run on every key: the connection keeps them prepared.
void keepStatements(SQLDatabase* db) {
    if (db && !db->shouldCacheStatements()) db->setShouldCacheStatements(true);
}

void createTableIn(SQLDatabase* db, const std::string& table) {
    if (!db) return;
    keepStatements(db);
    const std::string t = storesql::quoteIdentifier(table);
    db->executeUpdate("CREATE TABLE IF NOT EXISTS " + t +
                          " ('Py' TEXT NOT NULL ,'Word' TEXT NOT NULL ,'Weight' double NOT NULL , "
                          "'New' BOOL NOT NULL DEFAULT true)",
                      sqlkit::SQLArguments{});
    db->executeUpdate("CREATE INDEX IF NOT EXISTS " + storesql::quoteIdentifier(table + "_index") + " on " + t +
                          " ('Py' DESC, 'Weight' DESC)",
                      sqlkit::SQLArguments{});
}

// A row of SELECT * as a record; rows without a word are skipped.
bool readUserRow(sqlkit::SQLResultSet& rs, CodeTable& out) {
    auto word = rs.stringForColumnIndex(1);
    if (!word) return false;
    out = CodeTable(rs.stringForColumnIndex(0).value_or(""), *word, rs.doubleForColumnIndex(2),
                    CodeTableFromType::user);
    return true;
}

std::int64_t rowidIn(SQLDatabase* db, const std::string& table, const CodeTable& record) {
    if (!db) return -1;
    auto rs = db->executeQuery("SELECT rowid FROM " + storesql::quoteIdentifier(table) + " WHERE Py=? and Word=?", sqlkit::SQLArguments{record.code, record.table});
    if (!rs) return -1;
    std::int64_t rowid = -1;
    if (rs->next()) rowid = rs->longForColumnIndex(0);
    rs->close();
    return rowid;
}

// The weight as stored so far: finite values as numbers, the others as the
// texts "nan", "inf" and "-inf".
sqlkit::SQLValue weightValue(double w) {
    if (std::isnan(w)) return std::string("nan");
    if (std::isinf(w)) return std::string(w > 0 ? "inf" : "-inf");
    return w;
}

std::string withoutApostrophes(const std::string& code) {
    std::string out;
    for (char c : code)
        if (c != '\'') out += c;
    return out;
}

} // namespace

std::string Database::userDictTableName() const { return userDictTableName(*currentSettings()); }

std::string Database::userDictTableName(const Settings& s) const {
    const bool noMainTable = s.codeTableName == kNoMainCodeTable;
    if (s.quanPin) return noMainTable ? std::string("Quanpin") : s.codeTableName + "Quanpin";
    if (!s.disableDatabase && noMainTable) return s.inputPlanName;
    return s.codeTableName + s.inputPlanName;
}

void Database::createUserDictTable(const std::string& tableName) {
    inQueue(Queue::user, [&](SQLDatabase* db) { createTableIn(db, tableName); });
}

std::vector<CodeTable> Database::userDictionaryByPy(const std::string& key, int limit) {
    std::vector<CodeTable> records;
    const auto settings = currentSettings();
    if (!settings->userDict) return records;
    const std::string table = userDictTableName(*settings);
    inQueue(Queue::user, [&](SQLDatabase* db) {
        if (!db) return;
        createTableIn(db, table);
        if (limit <= 0) return;
        auto rs = db->executeQuery(
            "SELECT * FROM " + storesql::quoteIdentifier(table) + " WHERE Py=? ORDER BY Weight DESC", sqlkit::SQLArguments{key});
        if (!rs) return;
        CodeTable r;
        while (static_cast<int>(records.size()) < limit && rs->next())
            if (readUserRow(*rs, r)) records.push_back(std::move(r));
        rs->close();
    });
    return records;
}

void Database::userWordExtendingKey(const std::string& sql, const std::string& key,
                                    std::vector<CodeTable>& records) {
    if (!currentSettings()->userDict) return;
    inQueue(Queue::user, [&](SQLDatabase* db) {
        if (!db) return;
        keepStatements(db);
        auto rs = db->executeQuery(sql, sqlkit::SQLArguments{key + "__"});
        if (!rs) return;
        CodeTable r;
        if (rs->next() && readUserRow(*rs, r)) records.push_back(std::move(r));
        rs->close();
    });
}

void Database::userWordsByInitials(const std::string& key, std::vector<CodeTable>& records) {
    const auto settings = currentSettings();
    if (!settings->userDict) return;
    const std::string sql = "SELECT * FROM " + storesql::quoteIdentifier(userDictTableName(*settings)) +
                            " WHERE Py like ? ORDER BY Weight DESC";
    // One wildcard after every character (UTF-8 sequences kept whole).
    std::string pattern;
    for (std::size_t i = 0; i < key.size(); ++i) {
        pattern += key[i];
        const bool lastByte = i + 1 == key.size() || (static_cast<unsigned char>(key[i + 1]) & 0xC0) != 0x80;
        if (lastByte) pattern += '_';
    }
    inQueue(Queue::user, [&](SQLDatabase* db) {
        if (!db) return;
        keepStatements(db);
        auto rs = db->executeQuery(sql, sqlkit::SQLArguments{pattern});
        if (!rs) return;
        CodeTable r;
        int read = 0;
        while (read < 2 && rs->next()) {
            ++read;
            if (readUserRow(*rs, r)) records.push_back(std::move(r));
        }
        rs->close();
    });
}

void Database::insertUserWord(CodeTable& record, bool isNew) {
    for (;;) {
        const auto settings = currentSettings();
        const std::string table = userDictTableName(*settings);
        inQueue(Queue::user, [&](SQLDatabase* db) {
            if (!db) return;
            createTableIn(db, table);
            db->executeUpdate("INSERT INTO " + storesql::quoteIdentifier(table) + " VALUES(?,?,?,?)", sqlkit::SQLArguments{record.code, record.table, weightValue(record.weight), isNew ? 1 : 0});
        });
        // In full pinyin a code with apostrophes is stored without them too.
        if (settings->quanPin && record.code.find('\'') != std::string::npos) {
            record.code = withoutApostrophes(record.code);
            continue;
        }
        return;
    }
}

std::int64_t Database::userWordRowid(const CodeTable& record) {
    const std::string table = userDictTableName(*currentSettings());
    std::int64_t rowid = -1;
    inQueue(Queue::user, [&](SQLDatabase* db) {
        if (!db) return;
        createTableIn(db, table);
        rowid = rowidIn(db, table, record);
    });
    return rowid;
}

void Database::updateUserWordRow(CodeTable& record, bool remove) {
    for (;;) {
        const auto settings = currentSettings();
        const std::string table = userDictTableName(*settings);
        std::int64_t rowid = -1;
        bool reached = inQueue(Queue::user, [&](SQLDatabase* db) {
            if (!db) return;
            createTableIn(db, table);
            rowid = rowidIn(db, table, record);
            if (rowid < 0) return;
            const std::string t = storesql::quoteIdentifier(table);
            if (remove)
                db->executeUpdate("DELETE FROM " + t + " WHERE rowid=?", sqlkit::SQLArguments{rowid});
            else
                db->executeUpdate("UPDATE " + t + " SET Weight=Weight+1 WHERE rowid=?", sqlkit::SQLArguments{rowid});
        });
        if (!reached) return;
        if (rowid < 0) {
            if (!remove) insertUserWord(record, false);
            return;
        }
        if (settings->quanPin && record.code.find('\'') != std::string::npos) {
            record.code = withoutApostrophes(record.code);
            continue;
        }
        return;
    }
}

} // namespace taviro
