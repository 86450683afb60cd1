#include "Settings/Functions/ExtendedController/ExtendedDatabasetManager.h"

#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Text/TextFileReader.h"
#include "Settings/CommandBracket.h"
#include "Settings/DatabaseFile.h"
#include "Settings/ImportReporter.h"
#include "Settings/MainThread.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLResultSet.h"
#include "SharedLib/sqlkit/SQLTransaction.h"

#include <algorithm>
#include <mutex>
#include <random>
#include <set>
#include <system_error>

namespace kelvane {

namespace fs = std::filesystem;

namespace {

std::string tableScript() {
    std::string s =
        "CREATE TABLE IF NOT EXISTS CellsInfo (\"CellName\" VARCHAR NOT NULL, \"CellID\" integer NOT NULL, "
        "\"CellRowCount\" INTEGER NOT NULL DEFAULT 0);\n";
    for (int n = 2; n <= 10; ++n) {
        s += "CREATE TABLE IF NOT EXISTS w" + std::to_string(n) + " (";
        for (int p = 1; p <= n; ++p) s += "\"p" + std::to_string(p) + "\" int NOT NULL, ";
        s += "\"Word\" VARCHAR NOT NULL, \"Weight\" double NOT NULL, \"CellID\" integer NOT NULL);\n";
    }
    return s;
}

std::string indexScript() {
    std::string s;
    for (int n = 2; n <= 10; ++n) {
        std::string t = "w";
        t += std::to_string(n);
        s += "CREATE INDEX IF NOT EXISTS " + t + "_index ON " + t + " (";
        for (int p = 1; p <= n; ++p) s += "\"p" + std::to_string(p) + "\", ";
        s += "\"Weight\" desc);\n";
    }
    return s;
}

std::string dropScript() {
    std::string s;
    for (int n = 2; n <= 10; ++n) s += "DROP INDEX w" + std::to_string(n) + "_index;\n";
    return s;
}

// The statement that inserts one word of n syllables; the table comes from the fixed
// set w2..w10 and every value is bound.
const std::string& insertWordSql(size_t n) {
    static const std::vector<std::string> statements = [] {
        std::vector<std::string> all(11);
        for (size_t k = 2; k <= 10; ++k) {
            all[k] = "insert into w" + std::to_string(k) + " values (";
            for (size_t i = 0; i < k; ++i) all[k] += "?,";
            all[k] += "?,?,?)";
        }
        return all;
    }();
    return statements.at(n);
}

bool safeName(const std::string& name) { return !name.empty() && plat::Paths::isSafeRelativeName(name + ".txt"); }

// Write-ahead logging lets the input method read the file while an import writes it
// (its reads never wait for the import's transaction); the mode stays with the file.
// A writer waits for another writer (another import, another program) at most this long.
constexpr double kWriterWaitSeconds = 60;

std::unique_ptr<sqlkit::SQLDatabase> openDatabase(const fs::path& path) {
    auto db = std::make_unique<sqlkit::SQLDatabase>(path.string());
    if (DatabaseFile::openOwn(*db, false)) {
        db->setMaxBusyRetryTimeInterval(kWriterWaitSeconds);
        // The log of a large import is cut back once it has been copied into the file.
        db->executeStatements("PRAGMA journal_mode = WAL; PRAGMA journal_size_limit = 8388608;");
    }
    return db;
}

// Imports and deletions of this process one at a time; a second one waits (bounded)
// and then sees what the first one left.
std::timed_mutex& writerMutex() {
    static std::timed_mutex m;
    return m;
}

} // namespace

ExtendedDatabasetManager::ExtendedDatabasetManager()
    : ExtendedDatabasetManager(plat::Paths::perUserFile("extended.db"), plat::Paths::userFile("Extended")) {}

ExtendedDatabasetManager::ExtendedDatabasetManager(fs::path databasePath, fs::path libraryFolder)
    : databasePath_(std::move(databasePath)), libraryFolder_(std::move(libraryFolder)) {
    std::error_code ec;
    fs::create_directories(databasePath_.parent_path(), ec);
    CommandBracket bracket(CommandBracket::Kind::OkToUseOnly);
    createTables();
    createIndexes();
}

void ExtendedDatabasetManager::executeScript(const std::string& script) {
    auto db = openDatabase(databasePath_);
    db->executeStatements(script);
    db->close();
}

void ExtendedDatabasetManager::createTables() { executeScript(tableScript()); }
void ExtendedDatabasetManager::createIndexes() { executeScript(indexScript()); }
void ExtendedDatabasetManager::dropIndexes() { executeScript(dropScript()); }

std::vector<CellDict> ExtendedDatabasetManager::loadCells() {
    std::vector<CellDict> cells;
    {
        CommandBracket bracket(CommandBracket::Kind::OkToUseOnly);
        auto db = openDatabase(databasePath_);
        if (auto rs = db->executeQuery("select * from CellsInfo", sqlkit::SQLArguments{})) {
            while (rs->next()) {
                CellDict cell{rs->stringForColumnIndex(0).value_or(""), rs->longForColumnIndex(1),
                              rs->longForColumnIndex(2)};
                if (!safeName(cell.name)) {
                    plat::log("ExtendedDatabasetManager: ignoring the library name \"" + cell.name + "\"");
                    continue;
                }
                cells.push_back(std::move(cell));
            }
            rs->close();
        }
        db->close();
    }
    std::stable_sort(cells.begin(), cells.end(), [](const CellDict& a, const CellDict& b) { return b.name < a.name; });
    return cells;
}

std::optional<CellDict> ExtendedDatabasetManager::findCell(const std::string& name) {
    for (auto& cell : loadCells())
        if (cell.name == name) return cell;
    return std::nullopt;
}

void ExtendedDatabasetManager::insertCell(const std::string& name, int64_t id, int64_t rowCount) {
    CommandBracket bracket(CommandBracket::Kind::OkToUseOnly);
    auto db = openDatabase(databasePath_);
    db->executeUpdate("insert into CellsInfo values (?,?,?)", sqlkit::SQLArguments{name, id, rowCount});
    db->close();
}

namespace {
// False when the work had to stop (the transaction is then rolled back).
bool deleteRowsOf(sqlkit::SQLTransaction& tx, int64_t id) {
    for (int n = 2; n <= 10; ++n)
        if (!tx.executeUpdate("delete from w" + std::to_string(n) + " where CellID=?", sqlkit::SQLArguments{id}))
            return false;
    return tx.executeUpdate("delete from CellsInfo where CellID=?", sqlkit::SQLArguments{id});
}

// After a failed write: the write-ahead log gives back the room the lost transaction
// took, unless a reader holds it (waits briefly, logs nothing).
void releaseLog(sqlkit::SQLDatabase& db) {
    db.setLogsErrors(false);
    db.setMaxBusyRetryTimeInterval(0.2);
    db.executeStatements("PRAGMA wal_checkpoint(TRUNCATE);");
    db.setMaxBusyRetryTimeInterval(kWriterWaitSeconds);
    db.setLogsErrors(true);
}
} // namespace

void ExtendedDatabasetManager::deleteCell(int64_t id) {
    std::unique_lock lock(writerMutex(), std::defer_lock);
    if (!lock.try_lock_for(std::chrono::seconds(static_cast<int>(kWriterWaitSeconds)))) {
        plat::log("ExtendedDatabasetManager: another import kept the library file; nothing deleted");
        return;
    }
    // The indexes stay: a deletion that is cut short leaves the file as it was.
    auto db = openDatabase(databasePath_);
    bool committed = false;
    {
        sqlkit::SQLTransaction tx(*db);
        // Only the commit is inside the bracket; compacting the file comes after it.
        committed = tx.executeStatements(tableScript() + indexScript()) && deleteRowsOf(tx, id) &&
                    CommandBracket::commitInside(CommandBracket::Kind::OkToUseOnly, tx, *db);
        if (!committed) {
            plat::log("ExtendedDatabasetManager: the library " + std::to_string(id) +
                      " was not deleted: " + tx.failure());
            tx.rollback();
            releaseLog(*db);
        }
    }
    if (committed) db->executeStatements("VACUUM;");
    db->close();
}

std::optional<fs::path> ExtendedDatabasetManager::libraryPath(const std::string& name) const {
    if (!safeName(name)) return std::nullopt;
    return libraryFolder_ / (name + ".txt");
}

ExtendedDatabasetManager::Outcome ExtendedDatabasetManager::runImport(const std::string& name,
                                                                       ImportReporter& reporter) {
    reporter.setValueAndWait(0);
    reporter.setTextAndWait(importText::kAnalysing);

    const auto path = libraryPath(name);
    if (!path) {
        plat::log("ExtendedDatabasetManager: refusing the library name \"" + name + "\"");
        return Outcome::BadName;
    }
    const plat::TextFile file = plat::readTextFile(*path, kMaxFileBytes);
    if (file.status == plat::TextFileStatus::TooLarge) return Outcome::TooLarge;
    if (file.status != plat::TextFileStatus::Ok) {
        if (!file.encoding.empty())
            plat::log("ExtendedDatabasetManager: \"" + name + "\" is not accepted as " + file.encoding);
        return Outcome::Refused;
    }
    std::vector<std::string_view> lines = plat::splitLines(file.text);
    if (lines.size() <= 1) return Outcome::Refused;
    if (lines.size() > kMaxLines) return Outcome::TooLarge;

    reporter.setMaxAndText(static_cast<double>(lines.size()) * 0.5, importText::kImporting);

    // The input method goes on reading the libraries as they were while the import is
    // built; it is told to stop only around the commit.
    std::unique_lock lock(writerMutex(), std::defer_lock);
    if (!lock.try_lock_for(std::chrono::seconds(static_cast<int>(kWriterWaitSeconds)))) return Outcome::Busy;
    auto db = openDatabase(databasePath_);
    db->setShouldCacheStatements(true);
    if (!db->isOpen()) return Outcome::Failed;
    // The write lock is taken before the old library is looked up, so two imports of one
    // name (in this program or another) cannot both find none. Every write goes through
    // the transaction: the first failure (a full disk, say) ends the import with nothing
    // of it kept, and is logged once.
    sqlkit::SQLTransaction tx(*db);
    if (!tx.began()) {
        plat::log("ExtendedDatabasetManager: cannot begin the import: " + tx.failure());
        db->close();
        return Outcome::Busy;
    }
    const auto fail = [&] {
        plat::log("ExtendedDatabasetManager: the import of \"" + name + "\" failed and nothing of it was kept: " +
                  (tx.failure().empty() ? db->lastErrorMessage() : tx.failure()));
        tx.rollback();
        releaseLog(*db);
        db->close();
        return Outcome::Failed;
    };
    // Missing tables or indexes (a file from an older program) come back with the import.
    if (!tx.executeStatements(tableScript() + indexScript())) return fail();

    std::set<int64_t> used, previous;
    {
        auto rs = db->executeQuery("select CellID, CellName from CellsInfo", sqlkit::SQLArguments{});
        if (!rs) return fail();
        while (rs->next()) {
            const int64_t cellId = rs->longForColumnIndex(0);
            used.insert(cellId);
            if (rs->stringForColumnIndex(1).value_or("") == name) previous.insert(cellId);
        }
        rs->close();
    }
    // A fresh identifier that no library uses yet.
    std::mt19937_64 rng(std::random_device{}());
    std::uniform_int_distribution<int64_t> draw(0, kIdLimit - 1);
    int64_t id = draw(rng);
    while (used.count(id)) id = draw(rng);

    int64_t weightCounter = 1000000;
    int badLines = 0;
    int64_t inserted = 0;
    std::vector<std::string_view> parts;
    for (size_t i = 0; i < lines.size(); ++i) {
        ++weightCounter;
        const std::string_view line = lines[i];
        const auto fields = plat::splitFields(line);
        if (fields.size() < 2 || fields.size() > 3 || fields[0].empty() || fields[1].empty() ||
            fields[1].find('\'') == std::string_view::npos) {
            reporter.setTextAndWait(badLineMessage(static_cast<long long>(i + 1), line));
            if (++badLines > kMaxBadLines) {
                tx.rollback();
                db->close();
                return Outcome::Stopped;
            }
            continue;
        }
        // Syllables between apostrophes; empty ones are dropped.
        parts.clear();
        for (auto part : plat::splitFields(fields[1], '\''))
            if (!part.empty()) parts.push_back(part);
        if (parts.size() < 2 || parts.size() > 10) continue;

        reporter.increment(1.0);
        sqlkit::SQLArguments args(parts.begin(), parts.end());
        args.emplace_back(fields[0]);
        args.emplace_back(fields.size() == 3 ? std::string(fields[2]) : std::to_string(weightCounter));
        args.emplace_back(id);
        if (tx.executeUpdate(insertWordSql(parts.size()), args)) ++inserted;
        else if (tx.failed()) return fail();
    }

    // The new library is recorded, and earlier ones of the same name removed, in the
    // same transaction: either the new library is in or the old one is still there.
    if (!tx.executeUpdate("insert into CellsInfo values (?,?,?)", sqlkit::SQLArguments{name, id, inserted}))
        return fail();
    for (int64_t old : previous)
        if (!deleteRowsOf(tx, old)) return fail();
    if (!CommandBracket::commitInside(CommandBracket::Kind::OkToUseOnly, tx, *db)) return fail();
    if (!previous.empty()) db->executeStatements("VACUUM;");
    db->close();
    return Outcome::Done;
}

void ExtendedDatabasetManager::importWordLibrary(const std::string& name, std::shared_ptr<ProgressSink> sink,
                                                 std::function<void(bool)> completion) {
    if (isMainThread()) {
        plat::log("ExtendedDatabasetManager: importWordLibrary must not run on the main thread");
        static const std::string notStarted = importText::kNotStarted;
        ImportReporter(std::move(sink)).finish(&notStarted, std::move(completion), false);
        return;
    }
    ImportReporter reporter(std::move(sink));
    static const std::string done = importText::kDone, askUtf8 = importText::kAskUtf8,
                             tooLarge = importText::kLibraryTooLarge, tooMany = importText::kTooManyBadLines,
                             badName = importText::kBadFileName, busy = importText::kBusy,
                             failed = importText::kDatabaseFailed;
    switch (runImport(name, reporter)) {
    case Outcome::Done: reporter.finish(&done, std::move(completion), true); break;
    case Outcome::Refused: reporter.finish(&askUtf8, std::move(completion), false); break;
    case Outcome::TooLarge: reporter.finish(&tooLarge, std::move(completion), false); break;
    case Outcome::Stopped: reporter.finish(&tooMany, std::move(completion), false); break;
    case Outcome::BadName: reporter.finish(&badName, std::move(completion), false); break;
    case Outcome::Busy: reporter.finish(&busy, std::move(completion), false); break;
    case Outcome::Failed: reporter.finish(&failed, std::move(completion), false); break;
    }
}

} // namespace kelvane
