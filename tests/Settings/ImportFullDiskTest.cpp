// Every importer meets a disk that fills up midway: the import is reported as failed,
// the data it would have changed is exactly as before, no temporary file is left and
// the failure is logged once.
#include "Settings/CodeTable/CodeTableImporter.h"
#include "Settings/Functions/ExtendedController/ExtendedDatabasetManager.h"
#include "Settings/Functions/ModelManager.h"
#include "Settings/Pages/PbarController.h"
#include "Settings/Pages/UserDictionaryTransfer.h"
#include "Settings/Tables/CustomPhraseEditor.h"

#include "ImportTestSupport.h"
#include "Platform/Foundation/Log.h"
#include "RecordingChannelFixture.h"
#include "SharedLib/sqlkit/SQLKitLog.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>
#include <mutex>
#include <set>

namespace {

using namespace kelvane;
using namespace kelvane::test;
namespace fs = std::filesystem;

// While alive, every SQLite connection opened on a file under `folder` cannot grow that
// file by more than `sparePages` pages: writes beyond fail with SQLITE_FULL, as they do
// on a full disk.
class FullDisk {
public:
    FullDisk(const fs::path& folder, int sparePages) {
        std::lock_guard lock(mutex());
        folder_() = folder.string();
        spare_() = sparePages;
        sqlite3_auto_extension(reinterpret_cast<void (*)()>(&onOpen));
    }
    ~FullDisk() {
        sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(&onOpen));
        std::lock_guard lock(mutex());
        folder_().clear();
    }

private:
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static std::string& folder_() {
        static std::string s;
        return s;
    }
    static int& spare_() {
        static int n = 0;
        return n;
    }
    static int onOpen(sqlite3* db, char**, const void*) {
        std::lock_guard lock(mutex());
        const char* file = sqlite3_db_filename(db, "main");
        if (folder_().empty() || !file || std::string(file).rfind(folder_(), 0) != 0) return SQLITE_OK;
        sqlite3_stmt* stmt = nullptr;
        int pages = 0;
        if (sqlite3_prepare_v2(db, "PRAGMA page_count", -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW)
            pages = sqlite3_column_int(stmt, 0);
        sqlite3_finalize(stmt);
        const std::string limit = "PRAGMA max_page_count = " + std::to_string(pages + spare_());
        sqlite3_exec(db, limit.c_str(), nullptr, nullptr, nullptr);
        return SQLITE_OK;
    }
};

// While alive, no file this process writes may grow beyond `bytes`: plain file copies
// fail midway, as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    rlimit old_{};
    void (*previous_)(int) = nullptr;
};

// Lines logged by the application and by the SQLite layer, together.
class AllLogs {
public:
    AllLogs() {
        previous_ = sqlkit::setLogSink([this](std::string_view line) {
            std::lock_guard lock(m_);
            sqlLines_.emplace_back(line);
        });
    }
    ~AllLogs() { sqlkit::setLogSink(std::move(previous_)); }
    std::vector<std::string> lines() const {
        std::vector<std::string> all = app_.lines();
        std::lock_guard lock(m_);
        all.insert(all.end(), sqlLines_.begin(), sqlLines_.end());
        return all;
    }

private:
    plat::LogCapture app_;
    mutable std::mutex m_;
    std::vector<std::string> sqlLines_;
    sqlkit::SQLLogSink previous_;
};

std::set<std::string> namesIn(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir)) names.insert(fs::relative(e.path(), dir).string());
    return names;
}

// Every row of every table, as text.
std::string dump(const fs::path& db) {
    std::string out;
    for (const auto& table : query(db, "select name from sqlite_master where type='table' order by name")) {
        out += "[" + table[0] + "]\n";
        for (const auto& row : query(db, "select * from \"" + table[0] + "\" order by rowid")) {
            for (const auto& value : row) out += value + "\t";
            out += "\n";
        }
    }
    return out;
}

std::string manyLines(int n, const std::function<std::string(int)>& line) {
    std::string text;
    for (int i = 0; i < n; ++i) text += line(i) + "\n";
    return text;
}

// A user dictionary as the input method keeps it, with `words` rows.
void makeUserDictionary(const fs::path& path, int words) {
    std::string sql = "CREATE TABLE Quanpin ('Py' TEXT NOT NULL ,'Word' TEXT NOT NULL ,'Weight' double NOT NULL , "
                      "'New' BOOL NOT NULL DEFAULT true); BEGIN;";
    for (int i = 0; i < words; ++i)
        sql += "INSERT INTO Quanpin VALUES ('py" + std::to_string(i) + "', '词" + std::to_string(i) + "', 1, 1);";
    exec(path, sql + "COMMIT;");
}

struct Env {
    fs::path folder;   // the per-user folder, where the databases live
    fs::path texts;    // where the files to import come from
    std::shared_ptr<RecordingSink> sink = std::make_shared<RecordingSink>();
};

struct Importer {
    const char* name;
    // Builds the old data and the file to import.
    std::function<void(Env&)> prepare;
    // Imports with the disk filling up; what was reported.
    std::function<bool(Env&)> run;
    // The data the import would change.
    std::function<std::string(Env&)> state;
};

ImportRun rebuild(Env& env, bool assist, const char* text) {
    const fs::path tmpl = env.texts / (assist ? "assist.template" : "main.template");
    const fs::path db = env.folder / (assist ? "assist.database" : "mainCodeTable.database");
    return runImport([&](auto done) {
        CodeTableImporter::rebuildDatabase(tmpl, env.texts / text, db, assist, env.sink, done);
    });
}

void prepareCodeTable(Env& env, bool assist) {
    makeMainTemplate(env.texts / "main.template");
    makeAssistTemplate(env.texts / "assist.template");
    writeFile(env.texts / "small.txt", "阿\tab\n啊\tac\n吧\tbd\n");
    ASSERT_TRUE(rebuild(env, assist, "small.txt").ok);
    writeFile(env.texts / "big.txt",
              manyLines(20000, [](int i) { return "字" + std::to_string(i) + "\tc" + std::to_string(i); }));
}

const Importer kImporters[] = {
    {"word library, replacing one of the same name",
     [](Env& env) {
         ExtendedDatabasetManager manager(env.folder / "extended.db", env.texts);
         writeFile(env.texts / "lib.txt", "你好\tni'hao\n世界\tshi'jie\n");
         ASSERT_TRUE(runImport([&](auto done) { manager.importWordLibrary("lib", env.sink, done); }).ok);
         writeFile(env.texts / "lib.txt", manyLines(20000, [](int i) {
                       return "词语" + std::to_string(i) + "\tci'yu" + std::to_string(i);
                   }));
     },
     [](Env& env) {
         ExtendedDatabasetManager manager(env.folder / "extended.db", env.texts);
         return runImport([&](auto done) { manager.importWordLibrary("lib", env.sink, done); }).ok;
     },
     [](Env& env) { return dump(env.folder / "extended.db"); }},
    {"main code table, rebuilt from its template",
     [](Env& env) { prepareCodeTable(env, false); },
     [](Env& env) { return rebuild(env, false, "big.txt").ok; },
     [](Env& env) { return readFile(env.folder / "mainCodeTable.database"); }},
    {"assist table, rebuilt from its template",
     [](Env& env) { prepareCodeTable(env, true); },
     [](Env& env) { return rebuild(env, true, "big.txt").ok; },
     [](Env& env) { return readFile(env.folder / "assist.database"); }},
    {"main code table, imported into the database in place",
     [](Env& env) { prepareCodeTable(env, false); },
     [](Env& env) {
         return runImport([&](auto done) {
                    CodeTableImporter::importFile(env.texts / "big.txt", env.folder / "mainCodeTable.database", false,
                                                  env.sink, done);
                })
             .ok;
     },
     [](Env& env) { return readFile(env.folder / "mainCodeTable.database"); }},
    {"custom phrases from a text file",
     [](Env& env) {
         ModelManager store(env.folder);
         CustomPhraseEditor editor(store);
         CodeTable row;
         row.code = "nh";
         row.table = "你好";
         ASSERT_TRUE(editor.importRows({row}));
         writeFile(env.texts / "phrases.txt",
                   manyLines(20000, [](int i) { return "短语" + std::to_string(i) + "\tdy" + std::to_string(i); }));
     },
     [](Env& env) {
         ModelManager store(env.folder);
         CustomPhraseEditor editor(store);
         auto sheet = PbarController::make();
         const bool ok = runImportOnMainQueue([&](auto done) { editor.importFile(env.texts / "phrases.txt", sheet, done); }).ok;
         EXPECT_EQ(sheet->text(), CustomPhraseEditor::kStoreError);
         return ok;
     },
     [](Env& env) { return dump(env.folder / "custom.db"); }},
    {"user dictionary",
     [](Env& env) {
         makeUserDictionary(env.folder / "user.db", 10);
         makeUserDictionary(env.texts / "mine.db", 20000);
     },
     [](Env& env) {
         // The file is copied, not written through SQLite.
         FileSizeLimit limit(256 * 1024);
         const auto result = UserDictionaryTransfer::importFrom(env.texts / "mine.db", env.folder);
         EXPECT_NE(result.error.find("用户词库未改变"), std::string::npos) << result.error;
         return result.ok;
     },
     [](Env& env) { return readFile(env.folder / "user.db"); }},
};

class ImportFullDiskTest : public RecordingChannelFixture {};

TEST_F(ImportFullDiskTest, AFailedImportLeavesTheOldDataAndNoTemporariesAndLogsOnce) {
    for (const auto& importer : kImporters) {
        SCOPED_TRACE(importer.name);
        Env env{taviro::test::freshDir("peruser"), taviro::test::freshDir("texts")};
        importer.prepare(env);
        const std::string before = importer.state(env);
        const auto files = namesIn(env.folder);
        ASSERT_FALSE(before.empty());

        AllLogs logs;
        bool reported = true;
        {
            FullDisk disk(env.folder, 4);
            reported = importer.run(env);
        }
        EXPECT_FALSE(reported) << "the failure is reported";
        const std::string after = importer.state(env);
        EXPECT_TRUE(after == before) << "the old data changed: " << before.size() << " bytes before, " << after.size()
                                     << " after";
        EXPECT_EQ(namesIn(env.folder), files) << "no temporary file is left";
        const auto lines = logs.lines();
        EXPECT_EQ(lines.size(), 1u) << "logged once";
        if (lines.size() != 1)
            for (const auto& line : lines) ADD_FAILURE() << "logged: " << line.substr(0, 300);
    }
}

// The case as users meet it: a word library imported into extended.db on a 2 MiB file
// system, by the import program in a process of its own. It needs root for a private
// tmpfs; elsewhere the page limit above stands in for the small disk.
TEST_F(ImportFullDiskTest, OnASmallFileSystemAWordLibraryImportKeepsNothingAndGivesTheRoomBack) {
    if (::geteuid() != 0 || std::system("unshare -m true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no private mount namespace here";
    const fs::path prep = taviro::test::freshDir("prep"), mount = taviro::test::freshDir("mnt"),
                   out = taviro::test::freshDir("out"), library = prep / "Extended";
    {
        ExtendedDatabasetManager manager(prep / "extended.db", library);
        writeFile(library / "lib.txt", "你好\tni'hao\n世界\tshi'jie\n");
        ASSERT_TRUE(runImport([&](auto done) {
                        manager.importWordLibrary("lib", std::make_shared<RecordingSink>(), done);
                    }).ok);
    }
    const std::string before = dump(prep / "extended.db");
    writeFile(library / "lib.txt", manyLines(60000, [](int i) {
                  return "词语" + std::to_string(i) + "\tci'yu'" + std::to_string(i);
              }));
    fs::create_directories(out / "after");
    const std::string script =
        "mount -t tmpfs -o size=2m tmpfs \"$1\" || exit 3; cp \"$2\" \"$1/extended.db\" || exit 3; "
        "\"$3\" word \"$1/extended.db\" \"$4\" lib >\"$5/stdout\" 2>\"$5/stderr\" </dev/null; "
        "cp -a \"$1/.\" \"$5/after/\"; df -k --output=used \"$1\" | tail -1 >\"$5/used\"";
    const std::string command = "timeout 120 unshare -m sh -c '" + script + "' sh '" + mount.string() + "' '" +
                                (prep / "extended.db").string() + "' '" SETTINGS_IMPORT_CHILD "' '" +
                                library.string() + "' '" + out.string() + "'";
    const int status = std::system(command.c_str());
    if (WIFEXITED(status) && WEXITSTATUS(status) == 3) GTEST_SKIP() << "no tmpfs can be mounted here";
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;

    EXPECT_NE(readFile(out / "stdout").find("DONE 0"), std::string::npos) << "the failure is reported";
    EXPECT_EQ(namesIn(out / "after"), std::set<std::string>{"extended.db"}) << "no temporary file is left";
    EXPECT_TRUE(dump(out / "after" / "extended.db") == before) << "the earlier library is as it was";
    const std::string log = readFile(out / "stderr");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log.substr(0, 2000);
    EXPECT_NE(log.find("full"), std::string::npos) << log.substr(0, 2000);
    // What the failed import wrote is given back: the file system holds the old file.
    EXPECT_LT(std::stol("0" + readFile(out / "used")), 1024) << "KiB used after the import";
}

} // namespace
