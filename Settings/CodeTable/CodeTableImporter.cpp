#include "Settings/CodeTable/CodeTableImporter.h"

#include "Platform/Foundation/Log.h"
#include "Platform/Text/TextFileReader.h"
#include "Settings/DatabaseFile.h"
#include "Settings/ImportReporter.h"
#include "Settings/MainThread.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLDatabaseQueue.h"
#include "SharedLib/sqlkit/SQLResultSet.h"
#include "SharedLib/sqlkit/SQLTransaction.h"

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <map>
#include <system_error>

namespace kelvane {

namespace fs = std::filesystem;

namespace {

// User-perceived characters of a UTF-8 string.
size_t graphemeCount(std::string_view text) {
    bool ascii = true;
    for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) return text.size();
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    const auto u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    if (U_FAILURE(status)) return static_cast<size_t>(u.countChar32());
    it->setText(u);
    size_t n = 0;
    while (it->next() != icu::BreakIterator::DONE) ++n;
    return n;
}

enum class Outcome { Done, Refused, TooLarge, NotADatabase, Stopped, Failed };

// True when the database holds the tables the form writes. A file that is no database
// fails the query.
bool hasTables(sqlkit::SQLDatabaseQueue& queue, bool assist) {
    int64_t found = -1;
    queue.inDatabase([&](sqlkit::SQLDatabase* db) {
        auto rs = db->executeQuery(
            "select count(*) from sqlite_master where type='table' and name in ('CodeTable', ?)",
            sqlkit::SQLArguments{std::string(assist ? "TableCode" : "CodeTable")});
        if (rs && rs->next()) found = rs->longForColumnIndex(0);
        if (rs) rs->close();
    });
    return found == (assist ? 2 : 1);
}

// The import proper, on the calling (background) thread. Reports through `reporter`
// everything but the final status and the completion.
Outcome runImport(const fs::path& textPath, const fs::path& dbPath, bool assist, ImportReporter& reporter) {
    reporter.setValueAndWait(0);
    reporter.setTextAndWait(importText::kAnalysing);

    const plat::TextFile file = plat::readTextFile(textPath, kMaxImportFileBytes);
    if (file.status == plat::TextFileStatus::TooLarge) return Outcome::TooLarge;
    std::vector<std::string_view> lines;
    if (file.status == plat::TextFileStatus::Ok) lines = plat::splitLines(file.text);
    if (file.status != plat::TextFileStatus::Ok || lines.size() <= 1) {
        if (!file.encoding.empty() && file.status != plat::TextFileStatus::Ok)
            plat::log("CodeTableImporter: " + textPath.string() + " is not accepted as " + file.encoding);
        reporter.setTextAndWait(importText::kBadEncoding);
        return Outcome::Refused;
    }

    auto queue = sqlkit::SQLDatabaseQueue::databaseQueueWithPath(dbPath.string());
    if (!queue) {
        plat::log("CodeTableImporter: cannot open " + dbPath.string());
        return Outcome::Failed;
    }
    if (!hasTables(*queue, assist)) {
        plat::log("CodeTableImporter: " + dbPath.string() + " is not a code-table database");
        queue->close();
        return Outcome::NotADatabase;
    }
    queue->inDatabase([](sqlkit::SQLDatabase* db) { db->setShouldCacheStatements(true); });
    reporter.setMaxAndText(static_cast<double>(lines.size()), importText::kImporting);

    int badLines = 0;
    // True when the import must stop.
    const auto badLine = [&](size_t k, std::string_view line) {
        reporter.setTextAndWait(badLineMessage(static_cast<long long>(k), line));
        if (++badLines > CodeTableImporter::kMaxBadLines) {
            reporter.setTextAndWait(importText::kTooManyBadLines);
            return true;
        }
        return false;
    };

    bool stopped = false;
    std::string failure;
    // Runs `body` in one transaction on the queue's connection; false when the body
    // stopped or a write failed (then nothing of the body is kept, and the first failure
    // is kept for one log line).
    const auto inTransaction = [&](const std::function<bool(sqlkit::SQLTransaction&)>& body) {
        bool ok = false;
        queue->inDatabase([&](sqlkit::SQLDatabase* db) {
            sqlkit::SQLTransaction tx(*db);
            ok = body(tx) && tx.commit();
            if (!ok && failure.empty()) failure = tx.failure();
        });
        return ok;
    };
    // A refused row is dropped; any other failure stops the writing.
    const auto insert = [](sqlkit::SQLTransaction& tx, const char* sql, sqlkit::SQLArguments args) {
        return tx.executeUpdate(sql, args) || !tx.failed();
    };
    bool written = true; // every transaction committed
    if (!assist) {
        written = inTransaction([&](sqlkit::SQLTransaction& tx) {
            int64_t weightCounter = 1000000;
            for (size_t i = 0; i < lines.size(); ++i) {
                ++weightCounter;
                const auto fields = plat::splitFields(lines[i]);
                if (fields.size() < 2 || fields.size() > 3 || fields[0].empty() || fields[1].empty()) {
                    if (badLine(i + 1, lines[i])) {
                        stopped = true; // no half-filled table
                        return false;
                    }
                    continue;
                }
                reporter.increment(1.0);
                const std::string weight =
                    fields.size() == 3 ? std::string(fields[2]) : std::to_string(weightCounter);
                if (!insert(tx, "insert into CodeTable values (?,?,?)", {fields[1], fields[0], weight}))
                    return false;
            }
            return tx.executeUpdate("reindex CodeTable_index");
        });
    } else {
        std::map<std::string, std::string> wordToCode;
        std::map<std::string, std::string> codeToWords;
        for (size_t i = 0; i < lines.size() && !stopped; ++i) {
            reporter.increment(1.0);
            const auto fields = plat::splitFields(lines[i]);
            if (fields.size() != 2 || fields[0].empty() || fields[1].empty()) {
                stopped = badLine(i + 1, lines[i]);
                continue;
            }
            const std::string word(fields[0]), code(fields[1]);
            if (graphemeCount(code) == 2) wordToCode.try_emplace(word, code);
            codeToWords[code] += word;
        }
        lines.clear();
        if (!stopped) {
            written = inTransaction([&](sqlkit::SQLTransaction& tx) {
                for (const auto& [word, code] : wordToCode) {
                    reporter.increment(0.5);
                    if (!insert(tx, "insert into TableCode values (?,?,?)", {word, code, 0})) return false;
                }
                return true;
            });
            written = written && inTransaction([&](sqlkit::SQLTransaction& tx) {
                for (const auto& [code, words] : codeToWords) {
                    reporter.increment(0.5);
                    if (!insert(tx, "insert into CodeTable values (?,?,?)", {code, words, 0})) return false;
                }
                return true;
            });
        }
    }
    queue->close();
    if (stopped) return Outcome::Stopped;
    if (!written) {
        plat::log("CodeTableImporter: the import of " + textPath.filename().string() +
                  " failed and nothing of it was kept: " + failure);
        return Outcome::Failed;
    }
    return Outcome::Done;
}

bool refuseOnMainThread(const char* what, const std::shared_ptr<ProgressSink>& sink,
                        CodeTableImporter::Completion& completion) {
    if (!isMainThread()) return false;
    plat::log(std::string("CodeTableImporter: ") + what + " must not run on the main thread");
    static const std::string notStarted = importText::kNotStarted;
    ImportReporter(sink).finish(&notStarted, std::move(completion), false);
    return true;
}

// The last text on the sheet says how the import ended; a stop has said it already.
void finishWith(Outcome outcome, ImportReporter& reporter, CodeTableImporter::Completion completion) {
    static const std::string done = importText::kDone, askUtf8 = importText::kAskUtf8,
                             tooLarge = importText::kTableTooLarge, notADatabase = importText::kNotADatabase,
                             failed = importText::kDatabaseFailed;
    switch (outcome) {
    case Outcome::Done: reporter.finish(&done, std::move(completion), true); break;
    case Outcome::Refused: reporter.finish(&askUtf8, std::move(completion), false); break;
    case Outcome::TooLarge: reporter.finish(&tooLarge, std::move(completion), false); break;
    case Outcome::NotADatabase: reporter.finish(&notADatabase, std::move(completion), false); break;
    case Outcome::Stopped: reporter.finish(nullptr, std::move(completion), false); break;
    case Outcome::Failed: reporter.finish(&failed, std::move(completion), false); break;
    }
}

// Imports into a held temporary filled from `source` and puts it in place of dbPath
// only when the import is done (and, when asked, the result passes its check).
Outcome importThroughTemporary(const fs::path& source, const fs::path& textPath, const fs::path& dbPath,
                               bool assist, bool check, ImportReporter& reporter) {
    // Leftovers of an import that was killed.
    DatabaseFile::removeStaleTemporaries(dbPath);
    TemporaryDatabase work(dbPath);
    if (!work.created() || !work.copyFrom(source)) return Outcome::Failed;
    Outcome outcome = runImport(textPath, work.path(), assist, reporter);
    if (outcome == Outcome::Done && check && !DatabaseFile::check(work.path())) {
        plat::log("CodeTableImporter: the rebuilt " + dbPath.filename().string() + " failed its check");
        outcome = Outcome::Failed;
    }
    if (outcome == Outcome::Done && !work.putInPlace()) outcome = Outcome::Failed;
    return outcome;
}

} // namespace

void CodeTableImporter::importFile(const fs::path& textPath, const fs::path& dbPath, bool assist,
                                   std::shared_ptr<ProgressSink> sink, Completion completion) {
    if (refuseOnMainThread("importFile", sink, completion)) return;
    ImportReporter reporter(std::move(sink));
    // Work on a copy so that a stopped import leaves the database as it was.
    Outcome outcome = Outcome::NotADatabase;
    if (DatabaseFile::hasSQLiteHeader(dbPath))
        outcome = importThroughTemporary(dbPath, textPath, dbPath, assist, false, reporter);
    else
        plat::log("CodeTableImporter: " + dbPath.string() + " is not a database");
    finishWith(outcome, reporter, std::move(completion));
}

void CodeTableImporter::rebuildDatabase(const fs::path& templatePath, const fs::path& textPath,
                                        const fs::path& dbPath, bool assist, std::shared_ptr<ProgressSink> sink,
                                        Completion completion) {
    if (refuseOnMainThread("rebuildDatabase", sink, completion)) return;
    ImportReporter reporter(std::move(sink));
    Outcome outcome = Outcome::NotADatabase;
    if (DatabaseFile::hasSQLiteHeader(templatePath))
        outcome = importThroughTemporary(templatePath, textPath, dbPath, assist, true, reporter);
    else
        plat::log("CodeTableImporter: the template " + templatePath.string() + " is not a database");
    finishWith(outcome, reporter, std::move(completion));
}

void CodeTableImporter::buildDatabase(const fs::path& templatePath, const fs::path& textPath,
                                      const fs::path& stagedPath, bool assist, std::shared_ptr<ProgressSink> sink,
                                      Completion completion) {
    if (refuseOnMainThread("buildDatabase", sink, completion)) return;
    ImportReporter reporter(std::move(sink));
    Outcome outcome = Outcome::NotADatabase;
    std::error_code ec;
    if (!DatabaseFile::hasSQLiteHeader(templatePath)) {
        plat::log("CodeTableImporter: the template " + templatePath.string() + " is not a database");
    } else {
        // Overwrites in place, so the caller's held file stays the same file.
        fs::copy_file(templatePath, stagedPath, fs::copy_options::overwrite_existing, ec);
        if (ec) plat::log("CodeTableImporter: cannot copy " + templatePath.string() + ": " + ec.message());
        outcome = ec ? Outcome::Failed : runImport(textPath, stagedPath, assist, reporter);
        if (outcome == Outcome::Done && !DatabaseFile::check(stagedPath)) {
            plat::log("CodeTableImporter: the rebuilt " + stagedPath.filename().string() + " failed its check");
            outcome = Outcome::Failed;
        }
    }
    finishWith(outcome, reporter, std::move(completion));
}

} // namespace kelvane
