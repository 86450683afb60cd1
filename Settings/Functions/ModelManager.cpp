#include "Settings/Functions/ModelManager.h"

#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Settings/CommandBracket.h"
#include "Settings/DatabaseFile.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLDatabaseAdditions.h"
#include "SharedLib/sqlkit/SQLResultSet.h"
#include "SharedLib/sqlkit/SQLTransaction.h"

#include <system_error>

namespace kelvane {

namespace {
constexpr const char* kCustomSchema =
    "CREATE TABLE IF NOT EXISTS CodeTable (\"Code\" VARCHAR NOT NULL ,\"Table\" VARCHAR NOT NULL , "
    "\"Weight\" INTEGER NOT NULL DEFAULT 0);\n"
    "CREATE INDEX IF NOT EXISTS CodeTable_index ON CodeTable (\"Code\" ASC, \"Weight\" ASC);";
constexpr const char* kInsertPhrase = "insert into CodeTable values (?,?,?)";
// custom.db and keys.db are read by the input method while this program writes
// them: in WAL mode its reads never wait for these writes (the mode stays
// with the file).
constexpr const char* kWalMode = "PRAGMA journal_mode = WAL";
} // namespace

ModelManager& ModelManager::shared() {
    static ModelManager instance(plat::Paths::perUserFolder());
    return instance;
}

ModelManager::ModelManager(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    database_ = std::make_unique<sqlkit::SQLDatabase>((folder / "custom.db").string());
    keyLoggerDB_ = std::make_unique<sqlkit::SQLDatabase>((folder / "keys.db").string());
    createCustomTables();
}

ModelManager::~ModelManager() = default;

void ModelManager::createCustomTables() {
    openCustom();
    database_->executeStatements(kWalMode);
    database_->executeStatements(kCustomSchema);
    database_->close();
}

std::vector<CodeTable> ModelManager::loadCodeTable() {
    std::vector<CodeTable> rows;
    if (!openCustom()) return rows;
    // Sized once: a list grown by doubling would briefly hold a large table twice.
    const std::int64_t count = sqlkit::longForQuery(*database_, "select count(*) from Codetable");
    if (count > 0) rows.reserve(static_cast<size_t>(count));
    if (auto rs = database_->executeQuery("select *,rowid from Codetable", sqlkit::SQLArguments{})) {
        while (rs->next()) {
            CodeTable row;
            row.code = rs->stringForColumnIndex(0).value_or("");
            row.table = rs->stringForColumnIndex(1).value_or("");
            row.weight = static_cast<double>(rs->longForColumnIndex(2));
            row.rowid = rs->longForColumnIndex(3);
            rows.push_back(std::move(row));
        }
        rs->close();
    }
    database_->close();
    return rows;
}

void ModelManager::updateCodeTable(const CodeTable& row) {
    CommandBracket bracket(CommandBracket::Kind::Full);
    openCustom();
    database_->executeUpdate(
        "update CodeTable set \"Code\"=?,\"Table\"=?,\"Weight\"=? where rowid=" + std::to_string(row.rowid),
        sqlkit::SQLArguments{row.code, row.table, row.weight});
    database_->close();
}

void ModelManager::deleteCodeTable(const std::vector<CodeTable>& rows) {
    CommandBracket bracket(CommandBracket::Kind::Full);
    openCustom();
    {
        sqlkit::SQLTransaction tx(*database_);
        for (const auto& row : rows)
            if (!tx.executeUpdate("delete from CodeTable where rowid=?", sqlkit::SQLArguments{row.rowid})) break;
        if (!tx.commit()) plat::log("ModelManager: no phrase was deleted: " + tx.failure());
    }
    database_->close();
}

void ModelManager::insertCodeTable(CodeTable& row) {
    CommandBracket bracket(CommandBracket::Kind::Full);
    openCustom();
    if (database_->executeUpdate(kInsertPhrase, sqlkit::SQLArguments{row.code, row.table, row.weight}))
        row.rowid = database_->lastInsertRowId();
    database_->close();
}

bool ModelManager::insertCodeTable(const std::vector<CodeTable>& rows,
                                   const std::function<void(double)>& progress) {
    openCustom();
    database_->executeStatements(kWalMode);
    bool committed = false;
    {
        // All or nothing: the first failure that is not the row's own (a full disk) ends
        // the insert with none of the rows kept. The input method reads the phrases as
        // they were until the commit, the only step inside the bracket.
        sqlkit::SQLTransaction tx(*database_, sqlkit::SQLTransaction::Kind::Immediate);
        const size_t n = rows.size();
        for (size_t i = 0; i < n && !tx.failed(); ++i) {
            const auto& row = rows[i];
            tx.executeUpdate(kInsertPhrase, sqlkit::SQLArguments{row.code, row.table, row.weight});
            if (i % 10 == 0 && progress) progress(static_cast<double>(i) / static_cast<double>(n));
        }
        committed = CommandBracket::commitInside(CommandBracket::Kind::Full, tx, *database_);
        if (!committed)
            plat::log("ModelManager: none of " + std::to_string(n) + " phrases was added: " + tx.failure());
    }
    database_->close();
    return committed;
}

void ModelManager::createKeyTables() {
    keyLoggerDB_->executeUpdate(
        "CREATE TABLE IF NOT EXISTS \"Key\" ('year' INT NOT NULL ,'month' INT NOT NULL ,'day' INT NOT NULL "
        ",'count' INT NOT NULL )",
        sqlkit::SQLArguments{});
    keyLoggerDB_->executeUpdate(
        "CREATE TABLE IF NOT EXISTS \"Char\" ('year' INT NOT NULL ,'month' INT NOT NULL ,'day' INT NOT NULL "
        ",'count' INT NOT NULL )",
        sqlkit::SQLArguments{});
}

bool ModelManager::openCustom() {
    // The user's own phrases: the file, and the journals SQLite makes with its
    // mode, are the user's alone.
    return DatabaseFile::openOwn(*database_, true);
}

void ModelManager::openKeyLogger() {
    // Counts of what the user typed: the file, and the journals SQLite makes
    // with its mode, are the user's alone.
    DatabaseFile::openOwn(*keyLoggerDB_, true);
    keyLoggerDB_->executeStatements(kWalMode);
}

void ModelManager::cleanKeyLogger() {
    CommandBracket bracket(CommandBracket::Kind::Full);
    openKeyLogger();
    // One transaction: the input method, writing counts meanwhile, never
    // finds the tables missing.
    keyLoggerDB_->beginImmediateTransaction();
    keyLoggerDB_->executeUpdate("drop table \"Key\"", sqlkit::SQLArguments{});
    keyLoggerDB_->executeUpdate("drop table \"Char\"", sqlkit::SQLArguments{});
    createKeyTables();
    if (!keyLoggerDB_->commit()) keyLoggerDB_->rollback();
    keyLoggerDB_->close();
}

int64_t ModelManager::sum(KeyLoggerType table, const char* tail, const std::vector<int64_t>& arguments) {
    CommandBracket bracket(CommandBracket::Kind::Full);
    openKeyLogger();
    createKeyTables();
    // The table name comes from the fixed pair above, never from outside.
    const std::string sql = std::string("select sum(count) from \"") + tableName(table) + tail;
    sqlkit::SQLArguments args(arguments.begin(), arguments.end());
    int64_t result = 0;
    if (auto rs = keyLoggerDB_->executeQuery(sql, args)) {
        if (rs->next()) result = rs->longForColumnIndex(0);
        rs->close();
    }
    keyLoggerDB_->close();
    return result;
}

int64_t ModelManager::totalCount(KeyLoggerType table) { return sum(table, "\"", {}); }

int64_t ModelManager::count(KeyLoggerType table, int64_t year) {
    return sum(table, "\" where \"year\"=?", {year});
}

int64_t ModelManager::count(KeyLoggerType table, int64_t year, int64_t month) {
    return sum(table, "\" where \"year\"=? and \"month\"=?", {year, month});
}

int64_t ModelManager::count(KeyLoggerType table, int64_t year, int64_t month, int64_t day) {
    return sum(table, "\" where \"year\"=? and \"month\"=? and \"day\"=?", {year, month, day});
}

} // namespace kelvane
