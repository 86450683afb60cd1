#include "RecordingChannelFixture.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"
#include "Settings/ConfigManager.h"
#include "Settings/Pages/TabThreeController.h"
#include "support/ChildProcess.h"
#include "support/TestHome.h"

#include <sqlite3.h>

#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <iterator>

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using Box = TabThreeController::Box;

// A small user dictionary, as the input method keeps it, holding `word`.
void makeDatabase(const fs::path& path, const std::string& word) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const std::string sql =
        "CREATE TABLE Quanpin ('Py' TEXT NOT NULL ,'Word' TEXT NOT NULL ,'Weight' double NOT NULL , "
        "'New' BOOL NOT NULL DEFAULT true); CREATE INDEX Quanpin_index on Quanpin ('Py' DESC, 'Weight' DESC);"
        "INSERT INTO Quanpin VALUES('py', '" + word + "', 1, 1);";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

std::string wordIn(const fs::path& path) {
    sqlite3* db = nullptr;
    std::string word;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT Word FROM Quanpin", -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW)
            word = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return word;
}

std::string bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class SystemTabTest : public test::RecordingChannelFixture {
protected:
    void SetUp() override {
        RecordingChannelFixture::SetUp();
        folder_ = taviro::test::freshDir("peruser");
        config_ = std::make_unique<ConfigManager>(folder_);
        tab_ = std::make_unique<TabThreeController>(*config_);
        tab_->perUserFolder = folder_;
    }
    std::unique_ptr<ConfigManager> saved() const { return std::make_unique<ConfigManager>(folder_); }
    fs::path userDb() const { return folder_ / "user.db"; }
    // Files of a folder other than user.db: leftovers of a failed step.
    std::vector<std::string> strays(const fs::path& dir, const std::string& keep) const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().filename() != keep && e.path().extension() != ".plist") names.push_back(e.path().filename());
        return names;
    }

    fs::path folder_;
    std::unique_ptr<ConfigManager> config_;
    std::unique_ptr<TabThreeController> tab_;
};

TEST_F(SystemTabTest, DefaultsAndEditorButtonsFollowTheirBoxes) {
    EXPECT_TRUE(tab_->pageKeyChecked(1));
    EXPECT_TRUE(tab_->checked(Box::userDict));
    EXPECT_TRUE(tab_->checked(Box::uploadCrashLog));
    for (Box b : {Box::silence, Box::extended, Box::keyCount}) EXPECT_FALSE(tab_->checked(b));
    for (const char* route : {"silence", "extended", "keyLogger"}) EXPECT_FALSE(tab_->editorEnabled(route));
    EXPECT_TRUE(tab_->editorEnabled("puncMap"));

    struct Case {
        Box box;
        const char* route;
        bool ConfigManager::*field;
    } cases[] = {{Box::silence, "silence", &ConfigManager::silence},
                 {Box::extended, "extended", &ConfigManager::extendedDict},
                 {Box::keyCount, "keyLogger", &ConfigManager::keyLogger}};
    for (const auto& c : cases) {
        channel_->clear();
        tab_->toggle(c.box, true);
        EXPECT_TRUE(tab_->editorEnabled(c.route));
        EXPECT_TRUE((*saved()).*c.field);
        tab_->toggle(c.box, false);
        EXPECT_FALSE(tab_->editorEnabled(c.route));
        EXPECT_EQ(posted(), (std::vector<std::string>{"configNeedsReload", "configNeedsReload"}));
    }
    tab_->toggle(Box::userDict, false);
    tab_->toggle(Box::uploadCrashLog, false);
    EXPECT_FALSE(saved()->userDict);
    EXPECT_FALSE(saved()->uploadCrashLog);
}

TEST_F(SystemTabTest, PageKeysByTagAndFuzzyPairsByTitle) {
    tab_->switchPage(3, true);
    tab_->switchPage(1, false);
    EXPECT_TRUE(saved()->khPage);
    EXPECT_FALSE(saved()->djPage);
    channel_->clear();
    tab_->switchPage(0, true);
    tab_->switchPage(5, true);
    tab_->switchFuzzy("l=n", true);
    tab_->switchFuzzy("", true);
    EXPECT_TRUE(posted().empty());

    for (const auto& pair : TabThreeController::fuzzyPairs()) {
        channel_->clear();
        tab_->switchFuzzy(pair.title, true);
        EXPECT_TRUE((*saved()).*(pair.field)) << pair.title;
        EXPECT_TRUE(tab_->fuzzyChecked(pair.title));
        EXPECT_EQ(posted(), (std::vector<std::string>{"configNeedsReload"}));
    }
    EXPECT_TRUE(saved()->l2n);
    EXPECT_TRUE(saved()->r2l);
}

TEST(SystemTabHelpTest, HelpTextsAreTheWholeTexts) {
    auto codePoints = [](const std::string& s) {
        return std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
    };
    EXPECT_EQ(codePoints(TabThreeController::kUploadCrashLogHelp), 85);
    EXPECT_EQ(codePoints(TabThreeController::kKeyLoggerHelp), 85);
}

// The dialog is open while the input method goes on using its dictionary: a
// cancelled import tells it nothing.
TEST_F(SystemTabTest, ImportCancelledKeepsUserDbAndLeavesTheInputMethodAlone) {
    makeDatabase(userDb(), "old");
    bool askedOutsideBracket = false;
    auto result = tab_->importUserDictionary([&]() -> std::optional<fs::path> {
        askedOutsideBracket = posted().empty();
        return std::nullopt;
    });
    EXPECT_TRUE(result.cancelled);
    EXPECT_TRUE(askedOutsideBracket);
    EXPECT_TRUE(posted().empty());
    EXPECT_EQ(wordIn(userDb()), "old");
}

TEST_F(SystemTabTest, ImportReplacesUserDbWithAGoodDatabase) {
    makeDatabase(userDb(), "old");
    fs::path stale = userDb();
    stale += "-journal";
    std::ofstream(stale) << "stale";
    const fs::path chosen = taviro::test::freshDir("chosen") / "mine.db";
    makeDatabase(chosen, "new");
    bool askedOutsideBracket = false;
    auto result = tab_->importUserDictionary([&] {
        askedOutsideBracket = posted().empty();
        return std::optional<fs::path>(chosen);
    });
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(askedOutsideBracket);
    EXPECT_EQ(wordIn(userDb()), "new");
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_EQ(strays(folder_, "user.db"), std::vector<std::string>{});
    EXPECT_EQ(posted(), (std::vector<std::string>{"closeDatabase", "okToUse=false", "needsReloadDBLink", "okToUse=true"}));
}

TEST_F(SystemTabTest, ImportRefusesWhatCannotServeAsTheUserDictionary) {
    makeDatabase(userDb(), "old");
    const fs::path dir = taviro::test::freshDir("bad");
    std::ofstream(dir / "notes.db") << "just some text that is not a database";
    // A database header with nothing behind it: the copy is made, then fails its check.
    std::ofstream(dir / "broken.db", std::ios::binary) << std::string("SQLite format 3\0", 16) << std::string(200, 'x');
    // A real dictionary cut short, after its header and inside its pages.
    makeDatabase(dir / "whole.db", "整");
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((dir / "whole.db").c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "INSERT INTO Quanpin SELECT Py, Word || rowid, Weight, New FROM Quanpin;"
                                   "INSERT INTO Quanpin SELECT Py, hex(randomblob(400)), Weight, New FROM Quanpin;"
                                   "INSERT INTO Quanpin SELECT Py, hex(randomblob(400)), Weight, New FROM Quanpin;",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    const std::string whole = bytesOf(dir / "whole.db");
    ASSERT_GT(whole.size(), 4096u);
    std::ofstream(dir / "header-only.db", std::ios::binary) << whole.substr(0, 100);
    std::ofstream(dir / "half.db", std::ios::binary) << whole.substr(0, whole.size() / 2 + 10);
    const fs::path cases[] = {dir / "notes.db", dir / "broken.db", dir / "header-only.db", dir / "half.db",
                              dir / "missing.db", dir, userDb()};
    for (const auto& chosen : cases) {
        channel_->clear();
        auto result = tab_->importUserDictionary([&] { return std::optional<fs::path>(chosen); });
        EXPECT_FALSE(result.ok) << chosen;
        EXPECT_FALSE(result.error.empty()) << chosen;
        EXPECT_EQ(wordIn(userDb()), "old") << chosen;
        EXPECT_EQ(strays(folder_, "user.db"), std::vector<std::string>{}) << chosen;
        EXPECT_TRUE(posted().empty()) << chosen;  // nothing changed: the input method is not disturbed
    }
}

// A damaged file is refused in the user's language; SQLite's own words (the integrity
// check gives up to a hundred lines of them) go to the log.
TEST_F(SystemTabTest, ADamagedDictionaryIsRefusedInWordsOfTheUsersOwn) {
    makeDatabase(userDb(), "old");
    const fs::path dir = taviro::test::freshDir("damaged");
    // Sound pages whose index no longer matches its table: every row is missing from it.
    makeDatabase(dir / "index.db", "词");
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((dir / "index.db").c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db,
                               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
                               "INSERT INTO Quanpin SELECT 'py' || i, 'w' || i, i, 1 FROM n;"
                               "PRAGMA writable_schema = ON;"
                               "UPDATE sqlite_master SET sql = 'CREATE INDEX Quanpin_index on Quanpin (Word)' "
                               "WHERE name = 'Quanpin_index';",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    // A dictionary cut short inside its pages: SQLite finds it malformed while copying.
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((dir / "index.db").c_str(), &db), SQLITE_OK);
        sqlite3_close(db);
        const std::string whole = bytesOf(dir / "index.db");
        std::ofstream(dir / "half.db", std::ios::binary) << whole.substr(0, whole.size() / 2 + 10);
    }
    struct Case {
        const char* file;
        const char* error;
        const char* detail;  // in the log
    } cases[] = {
        {"index.db", "所选文件已损坏（未通过数据库完整性检查），用户词库未改变", "missing from index"},
        {"half.db", "所选文件已损坏，用户词库未改变", "malformed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        plat::LogCapture log;
        const auto result = tab_->importUserDictionary([&] { return std::optional<fs::path>(dir / c.file); });
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, c.error);
        EXPECT_TRUE(log.contains(c.detail)) << ::testing::PrintToString(log.lines());
        EXPECT_EQ(wordIn(userDb()), "old");
    }
}

// The user dictionary exported is the per-user folder's own: one that is a link is not
// read through it, and what it leads to stays as it was.
TEST_F(SystemTabTest, AUserDictionaryThatIsALinkIsNotExported) {
    const fs::path outside = taviro::test::freshDir("outside") / "other.db";
    makeDatabase(outside, "theirs");
    fs::create_symlink(outside, userDb());
    const std::string before = bytesOf(outside);
    const fs::path dir = taviro::test::freshDir("export");
    const auto result = tab_->exportUserDictionary(dir / "out.db");
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("链接"), std::string::npos) << result.error;
    EXPECT_TRUE(fs::is_empty(dir));
    EXPECT_EQ(bytesOf(outside), before);
    EXPECT_EQ(fs::directory_iterator(outside.parent_path())->path(), outside);
}

// Databases that are sound SQLite files but that the input method could not use as its
// user dictionary: refused before anything is replaced.
TEST_F(SystemTabTest, ImportRefusesADictionaryTheInputMethodCannotUse) {
    makeDatabase(userDb(), "old");
    const std::string before = bytesOf(userDb());
    const std::string table = "CREATE TABLE Quanpin ('Py' TEXT NOT NULL ,'Word' TEXT NOT NULL ,'Weight' double NOT "
                              "NULL , 'New' BOOL NOT NULL DEFAULT true);";
    struct Case {
        const char* name;
        std::string sql;
    } cases[] = {
        {"other tables only", "CREATE TABLE notes (title TEXT, body TEXT); INSERT INTO notes VALUES ('a', 'b');"},
        {"no tables at all", "PRAGMA user_version = 3;"},
        {"a column missing", "CREATE TABLE Quanpin (Py TEXT, Word TEXT, Weight double);"
                             "INSERT INTO Quanpin VALUES ('ni', '你', 1);"},
        {"columns out of order", "CREATE TABLE Quanpin (Word TEXT, Py TEXT, Weight double, New BOOL);"},
        {"a column too many", "CREATE TABLE Quanpin (Py TEXT, Word TEXT, Weight double, New BOOL, Extra TEXT);"},
        {"a user table beside another table", table + "CREATE TABLE notes (title TEXT);"},
        {"a trigger", table + "CREATE TRIGGER t AFTER INSERT ON Quanpin BEGIN DELETE FROM Quanpin; END;"},
        {"a word that is not UTF-8", table + "INSERT INTO Quanpin VALUES ('ni', CAST(x'e4bd' AS TEXT), 1, 1);"},
        {"a word stored as bytes that are not UTF-8", table + "INSERT INTO Quanpin VALUES ('ni', x'ff00', 1, 1);"},
        {"a code that is not UTF-8", table + "INSERT INTO Quanpin VALUES (CAST(x'c0af' AS TEXT), '你', 1, 1);"},
    };
    const fs::path dir = taviro::test::freshDir("unusable");
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path chosen = dir / ("case" + std::to_string(n++) + ".db");
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(chosen.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, c.sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        channel_->clear();
        auto result = tab_->importUserDictionary([&] { return std::optional<fs::path>(chosen); });
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.error.find("，用户词库未改变"), std::string::npos) << result.error;
        EXPECT_EQ(bytesOf(userDb()), before);
        EXPECT_EQ(strays(folder_, "user.db"), std::vector<std::string>{});
        EXPECT_TRUE(posted().empty());
    }
    // The same dictionary with good words is taken.
    const fs::path good = dir / "good.db";
    makeDatabase(good, "新词");
    auto result = tab_->importUserDictionary([&] { return std::optional<fs::path>(good); });
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(wordIn(userDb()), "新词");
}

// The chosen dictionary is in WAL mode: 50 rows in the file, 50 more only in its -wal,
// while another program holds it open, or after that program was killed. All 100
// arrive, and the source and its -wal stay as they were.
TEST_F(SystemTabTest, ImportOfADictionaryInWalModeTakesWhatItsWalHolds) {
    const auto exec = [](const fs::path& path, const std::string& sql) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        sqlite3_close(db);
    };
    const auto count = [](const fs::path& path) {
        sqlite3* db = nullptr;
        int rows = -1;
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(db, "SELECT count(DISTINCT Word) FROM Quanpin", -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW)
            rows = sqlite3_column_int(stmt, 0);
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        return rows;
    };
    const auto insert = [](int from, int to) {
        std::string sql = "BEGIN;";
        for (int i = from; i < to; ++i)
            sql += "INSERT INTO Quanpin VALUES ('ci', '词" + std::to_string(i) + "', 1, 1);";
        return sql + "COMMIT;";
    };
    for (const bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "left by a program that was killed" : "held open by another program");
        fs::remove(userDb());
        makeDatabase(userDb(), "old");
        const fs::path dir = taviro::test::freshDir("wal");
        const fs::path source = dir / "mine.db";
        fs::path wal = source;
        wal += "-wal";
        makeDatabase(source, "词0");
        exec(source, "DELETE FROM Quanpin;" + insert(0, 50));
        taviro::test::ChildProcess holder(DATABASE_HOLDER, {source.string()});
        ASSERT_TRUE(holder.waitFor("ready"));
        exec(source, "PRAGMA wal_autocheckpoint=0;" + insert(50, 100));
        if (killed) {
            holder.killNow();
            holder.wait();
        }
        // The rows 50-99 are in the -wal alone: the file by itself has 50.
        ASSERT_TRUE(fs::exists(wal));
        fs::copy_file(source, dir / "file-alone.db");
        ASSERT_EQ(count(dir / "file-alone.db"), 50);
        const std::string sourceBefore = bytesOf(source), walBefore = bytesOf(wal);

        channel_->clear();
        auto result = tab_->importUserDictionary([&] { return std::optional<fs::path>(source); });
        EXPECT_TRUE(result.ok) << result.error;
        EXPECT_EQ(count(userDb()), 100);
        EXPECT_EQ(bytesOf(source), sourceBefore);
        EXPECT_EQ(bytesOf(wal), walBefore);
        // The new user.db keeps a rollback journal, is the user's alone, and stands alone.
        EXPECT_EQ(bytesOf(userDb()).substr(18, 2), std::string("\1\1"));
        EXPECT_EQ(fs::status(userDb()).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(strays(folder_, "user.db"), std::vector<std::string>{});
        EXPECT_EQ(posted(),
                  (std::vector<std::string>{"closeDatabase", "okToUse=false", "needsReloadDBLink", "okToUse=true"}));
    }
}

TEST_F(SystemTabTest, ExportWritesACompleteCopyOverTheChosenFile) {
    makeDatabase(userDb(), "mine");
    const fs::path dir = taviro::test::freshDir("export");
    std::ofstream(dir / "old.db") << "an older export";
    auto result = tab_->exportUserDictionary(dir / "old.db");
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(wordIn(dir / "old.db"), "mine");
    EXPECT_EQ(strays(dir, "old.db"), std::vector<std::string>{});
    EXPECT_EQ(posted(), (std::vector<std::string>{"closeDatabase", "okToUse=false", "needsReloadDBLink", "okToUse=true"}));

    channel_->clear();
    EXPECT_TRUE(tab_->exportUserDictionary(std::nullopt).cancelled);
    EXPECT_TRUE(posted().empty());
}

// A dictionary in WAL mode, held open with a word only in its -wal: the export has the
// word and needs no -wal of its own.
TEST_F(SystemTabTest, ExportOfADictionaryInWalModeIsAWholeRollbackCopy) {
    makeDatabase(userDb(), "mine");
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(userDb().c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                                   "UPDATE Quanpin SET Word = 'in the wal';",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    const fs::path dir = taviro::test::freshDir("export");
    auto result = tab_->exportUserDictionary(dir / "out.db");
    sqlite3_close(holder);
    EXPECT_TRUE(result.ok) << result.error;
    std::ifstream in(dir / "out.db", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 20u);
    EXPECT_EQ(bytes.substr(18, 2), std::string("\1\1"));
    EXPECT_EQ(wordIn(dir / "out.db"), "in the wal");
    EXPECT_EQ(strays(dir, "out.db"), std::vector<std::string>{});
}

TEST_F(SystemTabTest, ExportFailuresAreReportedAndLeaveNothingBehind) {
    const fs::path dir = taviro::test::freshDir("export");
    auto result = tab_->exportUserDictionary(dir / "a.db"); // no user.db yet
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.empty());
    makeDatabase(userDb(), "mine");
    for (const fs::path& target : {dir / "missing-folder" / "a.db", dir, userDb()}) {
        result = tab_->exportUserDictionary(target);
        EXPECT_FALSE(result.ok) << target;
        EXPECT_FALSE(result.error.empty()) << target;
    }
    EXPECT_EQ(wordIn(userDb()), "mine");
    EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(SystemTabTest, ClearPostsOnlyWhenConfirmed) {
    tab_->cleanUserDictionary(false);
    EXPECT_TRUE(posted().empty());
    tab_->cleanUserDictionary(true);
    EXPECT_EQ(posted(), (std::vector<std::string>{"resetUserDict"}));
}

TEST_F(SystemTabTest, UninstallReportsTheScriptsRealExitStatus) {
    std::vector<std::string> started;
    int runs = 0;
    auto runner = [&](int status) {
        return [&, status](const std::string& program, const std::vector<std::string>& args,
                           std::function<void(int, const std::string&)> done) {
            ++runs;
            started = {program};
            started.insert(started.end(), args.begin(), args.end());
            done(status, "");
        };
    };
    tab_->uninstall(false, runner(0));
    EXPECT_EQ(runs, 0);

    const struct {
        int status;
        const char* line;
    } cases[] = {{0, "success!\n"}, {1, "failure!\n"}, {126, "failure!\n"}, {-1, "failure!\n"}};
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        tab_->uninstall(true, runner(c.status));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line) << c.status;
    }
    ASSERT_EQ(started.size(), 8u);
    EXPECT_EQ(started[0], "pkexec");
    EXPECT_EQ(started[1], "/bin/sh");
    EXPECT_EQ(fs::path(started[2]).filename(), "uninstall.sh");
    EXPECT_TRUE(fs::exists(started[2]));
    for (size_t i = 2; i < started.size(); ++i)
        if (i != 4) {
            EXPECT_TRUE(fs::path(started[i]).is_absolute()) << started[i];
        }
    EXPECT_EQ(started[5], (fs::path(std::getenv("XDG_DATA_HOME")) / "TaviroMac").string());
    EXPECT_EQ(started[7], (fs::path(std::getenv("XDG_DATA_HOME")) / "TaviroMacCloudStore").string());
}

// Runs a command for real and at once, its errors in its output; "pkexec" stands aside,
// as if the administrator had said yes.
void runForReal(const std::string& program, const std::vector<std::string>& args,
                const std::function<void(int, const std::string&)>& done) {
    std::vector<std::string> line{"-c", "exec \"$@\" 2>&1", "sh"};
    if (program != "pkexec") line.push_back(program);
    line.insert(line.end(), args.begin(), args.end());
    taviro::test::ChildProcess child("/bin/sh", line);
    child.closeInput();
    child.waitFor(std::string(1, '\0'), std::chrono::seconds(30)); // to the end of its output
    const int status = child.wait();
    done(WIFEXITED(status) ? WEXITSTATUS(status) : -1, child.output());
}

// The system tab's uninstall with the real script, from an install of its own: the
// confirmation says where the backups will stay, the result where they are.
class UninstallFromTheTabTest : public SystemTabTest {
protected:
    void SetUp() override {
        SystemTabTest::SetUp();
        const auto built = plat::Paths::resourcePath(plat::Bundle::Kelvane, "uninstall", "sh");
        ASSERT_TRUE(built);
        script_ = *built;
        if (const char* was = std::getenv("KELVANE_RESOURCES")) resourcesWere_ = was;
        prefix_ = taviro::test::freshDir("prefix");
        ::setenv("KELVANE_RESOURCES", (prefix_ / "share" / "Kelvane").c_str(), 1);
    }
    void TearDown() override {
        if (resourcesWere_) ::setenv("KELVANE_RESOURCES", resourcesWere_->c_str(), 1);
        else ::unsetenv("KELVANE_RESOURCES");
        SystemTabTest::TearDown();
    }
    // An installation, the user's two folders with their files, and one record in `store`.
    void install(const std::optional<std::string>& configured, const fs::path& store) {
        fs::create_directories(prefix_ / "bin");
        fs::create_directories(prefix_ / "share" / "Kelvane");
        std::ofstream(prefix_ / "bin" / "Kelvane") << "x";
        fs::copy_file(script_, prefix_ / "share" / "Kelvane" / "uninstall.sh", fs::copy_options::overwrite_existing);
        fs::create_directories(plat::Paths::perUserFolder());
        fs::create_directories(plat::Paths::userFolder());
        std::ofstream(plat::Paths::perUserFolder() / "user.db") << "x";
        std::ofstream(plat::Paths::userFolder() / "主码.txt") << "x";
        plat::PlistValue::Dictionary settings;
        if (configured) settings["CloudStoreFolder"] = *configured;
        ASSERT_TRUE(plat::writePlistFile(plat::Paths::perUserFolder() / "config.plist", plat::PlistValue(settings)));
        fs::create_directories(store / kRecords);
        std::ofstream(store / kRecords / "r.plist") << "kept";
    }
    static std::string recordIn(const fs::path& store) { return bytesOf(store / kRecords / "r.plist"); }

    static constexpr const char* kRecords = "iCloud.com.quorvel.taviro/Private/_someone/Records/Backups";
    fs::path script_, prefix_;
    std::optional<std::string> resourcesWere_;
};

TEST_F(UninstallFromTheTabTest, TheConfirmationAndTheResultSayWhereTheBackupsStay) {
    const fs::path per = plat::Paths::perUserFolder(), user = plat::Paths::userFolder();
    const fs::path kept = plat::Paths::libraryFolder() / "TaviroMacCloudStore";
    const fs::path elsewhere = taviro::test::freshDir("elsewhere") / "备份";
    struct Case {
        const char* name;
        std::optional<std::string> configured; // "CloudStoreFolder" as typed
        fs::path store, place;                  // where the records are, before and after
    };
    const Case cases[] = {
        {"the default place", std::nullopt, kept, kept},
        {"inside the user folder", (user / "备份").string(), user / "备份", kept},
        {"the per-user folder, with a trailing slash", per.string() + "/", per, kept},
        {"elsewhere", elsewhere.string(), elsewhere, elsewhere},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        install(c.configured, c.store);
        bool ready = false;
        tab_->prepareUninstall(runForReal, [&] { ready = true; });
        ASSERT_TRUE(ready);
        const std::string confirmation(tab_->uninstallAlert().informativeText);
        EXPECT_TRUE(confirmation.starts_with(TabThreeController::kUninstallAlert.informativeText)) << confirmation;
        EXPECT_NE(confirmation.find("你的备份不会被删除，卸载后保留在：\n" + c.place.string()), std::string::npos)
            << confirmation;
        EXPECT_TRUE(fs::exists(user / "主码.txt")); // asking changed nothing
        EXPECT_EQ(recordIn(c.store), "kept");

        bool finished = false;
        testing::internal::CaptureStdout();
        tab_->uninstall(true, runForReal, [&] { finished = true; });
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_TRUE(finished);
        EXPECT_TRUE(printed.ends_with("success!\n")) << printed;
        EXPECT_TRUE(tab_->uninstallSucceeded());
        const auto result = tab_->uninstallResultAlert();
        EXPECT_EQ(result.message, "塔维输入法已卸载");
        EXPECT_EQ(result.informativeText, "你的备份保留在：\n" + c.place.string());
        EXPECT_EQ(recordIn(c.place), "kept");
        EXPECT_FALSE(fs::exists(per));
        EXPECT_FALSE(fs::exists(user));
        EXPECT_FALSE(fs::exists(prefix_ / "bin" / "Kelvane"));
        fs::remove_all(kept);
    }
}

// The administrator said no, or the request was dismissed: nothing was removed, and the
// result says so in the user's words (not pkexec's last English line) and where the
// backups still are. A failure of the script itself still shows its own words.
TEST_F(UninstallFromTheTabTest, ARefusedAuthorisationIsShownWithTheBackupsWhereTheyWere) {
    const fs::path store = plat::Paths::userFolder() / "备份";
    struct Case {
        const char* name;
        int status;
        std::string said;  // by pkexec
        std::string told;
    };
    const Case cases[] = {
        {"refused", 127,
         "Error executing command as another user: Not authorized\n\nThis incident has been reported.\n",
         "管理员授权被拒绝，什么也没有删除。"},
        {"dismissed", 126, "Error executing command as another user: Request dismissed\n",
         "管理员授权已取消，什么也没有删除。"},
        {"the script's own complaint", 2, "somewhere does not belong to someone\n",
         "somewhere does not belong to someone"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        install(store.string(), store);
        auto refused = [&](const std::string& program, const std::vector<std::string>& args,
                           std::function<void(int, const std::string&)> done) {
            if (program == "pkexec") done(c.status, c.said);
            else runForReal(program, args, done);
        };
        tab_->prepareUninstall(refused, {});
        testing::internal::CaptureStdout();
        bool finished = false;
        tab_->uninstall(true, refused, [&] { finished = true; });
        EXPECT_TRUE(testing::internal::GetCapturedStdout().ends_with("failure!\n"));
        EXPECT_TRUE(finished);
        EXPECT_FALSE(tab_->uninstallSucceeded());
        const auto result = tab_->uninstallResultAlert();
        EXPECT_EQ(result.message, "卸载没有完成");
        EXPECT_TRUE(result.critical);
        EXPECT_EQ(result.informativeText, c.told + "\n\n你的备份在：\n" + store.string());
        EXPECT_EQ(recordIn(store), "kept");
        EXPECT_TRUE(fs::exists(prefix_ / "bin" / "Kelvane"));
    }
}

TEST(UninstallScriptTest, RemovesTheInstallationAndTheUsersFoldersAndSaysHowItWent) {
    const auto command = TabThreeController::uninstallCommand();
    ASSERT_TRUE(command);
    const std::string script = (*command)[2];
    const fs::path root = taviro::test::freshDir("uninstall");
    const fs::path prefix = root / "prefix", perUser = root / "TaviroMac", userFolder = root / "塔维输入法";
    for (const auto& p : {prefix / "bin", prefix / "share/TaviroMac2", prefix / "share/Kelvane", perUser, userFolder})
        fs::create_directories(p);
    std::ofstream(prefix / "bin/TaviroMac2") << "x";
    std::ofstream(prefix / "bin/Kelvane") << "x";
    std::ofstream(prefix / "bin/other") << "x";
    std::ofstream(perUser / "user.db") << "x";
    const std::string user = (*command)[4];
    auto run = [&](const std::string& args) {
        return std::system(("/bin/sh '" + script + "' " + args + " >/dev/null 2>&1").c_str());
    };
    EXPECT_NE(run("relative/prefix " + user + " '" + perUser.string() + "' '" + userFolder.string() + "'"), 0);
    EXPECT_NE(run("'" + prefix.string() + "'"), 0);
    EXPECT_TRUE(fs::exists(perUser));
    EXPECT_EQ(run("'" + prefix.string() + "' " + user + " '" + perUser.string() + "' '" + userFolder.string() + "'"), 0);
    EXPECT_FALSE(fs::exists(prefix / "bin/TaviroMac2"));
    EXPECT_FALSE(fs::exists(prefix / "bin/Kelvane"));
    EXPECT_FALSE(fs::exists(prefix / "share/Kelvane"));
    EXPECT_FALSE(fs::exists(perUser));
    EXPECT_FALSE(fs::exists(userFolder));
    EXPECT_TRUE(fs::exists(prefix / "bin/other"));
}

} // namespace
} // namespace kelvane
