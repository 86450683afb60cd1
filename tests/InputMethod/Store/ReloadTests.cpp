// Opening, closing, reloading and the bundled-file copy; lookups running
// while the store reloads.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <thread>
#include <unistd.h>
#include <sys/stat.h>

#include "SharedLib/sqlkit/SQLDatabaseQueue.h"
#include "SharedLib/sqlkit/SQLTestSupport.h"
#include "SharedLib/sqlkit/SQLResultSet.h"
#include "InputMethod/Core/Engine/InputDeletage.h"
#include "StoreFixture.h"

namespace taviro::test {
namespace {

namespace fs = std::filesystem;

// Open descriptors of this process on the file.
int openDescriptors(const fs::path& file) {
    int n = 0;
    std::error_code ec;
    const auto target = fs::weakly_canonical(file, ec);
    for (const auto& entry : fs::directory_iterator("/proc/self/fd", ec)) {
        std::error_code e;
        auto link = fs::read_symlink(entry.path(), e);
        if (!e && link == target) ++n;
    }
    return n;
}

class ReloadTest : public StoreTest {
protected:
    fs::path userDb() const { return loc_.userFolder / "user.db"; }
};

TEST_F(ReloadTest, CreationOpensNothingAndReloadCreatesTheReadWriteFiles) {
    fs::remove_all(loc_.userFolder);
    auto& db = fresh();
    EXPECT_FALSE(db.isOpen());
    EXPECT_TRUE(db.codeTablePrefixQuery("a", false).empty());
    EXPECT_FALSE(fs::exists(loc_.userFolder));

    db.reloadDBLink().wait();
    EXPECT_TRUE(db.isOpen());
    for (const char* name : {"user.db", "keys.db", "think.db"}) EXPECT_TRUE(fs::exists(loc_.userFolder / name)) << name;
    for (const char* name : {"custom.db", "extended.db", "assist.database", "mainCodeTable.database"})
        EXPECT_FALSE(fs::exists(loc_.userFolder / name)) << name;
    EXPECT_EQ(openDescriptors(userDb()), 1);
}

TEST_F(ReloadTest, QuickReloadsLeaveOneConnectionPerFile) {
    auto& db = fresh();
    auto a = db.reloadDBLink();
    auto b = db.reloadDBLink();
    auto c = db.reloadDBLink();
    a.wait();
    b.wait();
    c.wait();
    EXPECT_TRUE(db.isOpen());
    for (const char* name : {"user.db", "keys.db", "think.db"})
        EXPECT_EQ(openDescriptors(loc_.userFolder / name), 1) << name;
    EXPECT_EQ(openDescriptors(loc_.resourceDir / "dag.db"), 1);
}

TEST_F(ReloadTest, CloseDuringAReloadLeavesNothingOpen) {
    auto& db = fresh();
    for (int i = 0; i < 20; ++i) {
        auto pending = db.reloadDBLink();
        db.closeAll();
        pending.wait();
        EXPECT_FALSE(db.isOpen());
        EXPECT_EQ(openDescriptors(userDb()), 0);
    }
}

TEST_F(ReloadTest, ClosedStoreAnswersNothingAndReopensNothing) {
    auto& db = open();
    CodeTable word("ab", "词", 1.0);
    db.insertUserWord(word, true);
    ASSERT_EQ(db.userDictionaryByPy("ab", 10).size(), 1u);

    db.closeAll();
    EXPECT_EQ(openDescriptors(userDb()), 0);
    CodeTable other("cd", "字", 1.0);
    db.insertUserWord(other, true);
    db.updateUserWordRow(word, false);
    EXPECT_FALSE(db.keyLog(std::chrono::system_clock::now(), 3, false));
    EXPECT_TRUE(db.userDictionaryByPy("ab", 10).empty());
    EXPECT_EQ(db.userWordRowid(word), -1);
    EXPECT_FALSE(db.inAssistDatabase([](sqlkit::SQLDatabase*) { ADD_FAILURE() << "ran while closed"; }));
    EXPECT_EQ(openDescriptors(userDb()), 0);

    EXPECT_EQ(db.pendingUserWrites(), 2u);

    // What was learnt while closed waited and is written once it is open.
    db.reloadDBLink().wait();
    EXPECT_TRUE(db.flushPendingUserWrites(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
    auto found = db.userDictionaryByPy("ab", 10);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].weight, 2.0);
    EXPECT_EQ(db.userDictionaryByPy("cd", 10).size(), 1u);
}

TEST_F(ReloadTest, ReloadEmptiesTheCache) {
    auto& db = open();
    db.phraseWordsByPinyinColumns("k", 100, {{"a"}});
    EXPECT_EQ(db.cacheSize(), 1u);
    db.reloadDBLink().wait();
    EXPECT_EQ(db.cacheSize(), 0u);
}

std::string pragmaValue(sqlkit::SQLDatabase* db, const std::string& pragma) {
    std::string value;
    auto rs = db->executeQuery("PRAGMA " + pragma);
    if (rs && rs->next()) value = rs->stringForColumnIndex(0).value_or("");
    if (rs) rs->close();
    return value;
}

std::string pragmaValue(sqlkit::SQLDatabaseQueue& q, const std::string& pragma) {
    std::string value;
    q.inDatabase([&](sqlkit::SQLDatabase* db) { value = pragmaValue(db, pragma); });
    return value;
}

TEST_F(ReloadTest, ReadOnlyFilesGetTheReadOnlyPragmas) {
    execSql(loc_.userFolder / "assist.database", "CREATE TABLE CodeTable (Code TEXT, \"Table\" TEXT);");
    auto& db = open();
    std::vector<std::string> values;
    ASSERT_TRUE(db.inAssistDatabase([&](sqlkit::SQLDatabase* conn) {
        for (const char* pragma : {"query_only", "locking_mode", "synchronous", "temp_store"})
            values.push_back(pragmaValue(conn, pragma));
    }));
    // A file of the per-user folder keeps the normal locking mode: the
    // preferences application writes it.
    EXPECT_EQ(values, (std::vector<std::string>{"1", "normal", "0", "2"}));

    std::shared_ptr<sqlkit::SQLDatabaseQueue> other(
        sqlkit::SQLDatabaseQueue::databaseQueueWithPath((loc_.userFolder / "other.db").string()));
    ASSERT_TRUE(other);
    Database::applyReadOnlyPragmas(other);
    EXPECT_EQ(pragmaValue(*other, "query_only"), "1");
    EXPECT_EQ(pragmaValue(*other, "locking_mode"), "exclusive");
    Database::applyReadOnlyPragmas(nullptr);
}

// The preferences application keeps some files in WAL mode; a read-only
// connection cannot change that and must not try.
TEST_F(ReloadTest, ReadOnlyPragmasKeepAFileInWalMode) {
    struct Case {
        const char* mode;
        const char* after;  // the journal mode once the pragmas ran
    };
    const Case cases[] = {{"WAL", "wal"}, {"DELETE", "off"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        const fs::path file = loc_.userFolder / (std::string(c.mode) + ".db");
        {
            sqlkit::SQLDatabase writer(file.string());
            ASSERT_TRUE(writer.open());
            ASSERT_TRUE(writer.executeStatements(std::string("PRAGMA journal_mode = ") + c.mode +
                                                 "; CREATE TABLE t (x); INSERT INTO t VALUES (7);"));
            writer.close();
        }
        sqlkit::test::LogCapture log;
        std::shared_ptr<sqlkit::SQLDatabaseQueue> q(
            sqlkit::SQLDatabaseQueue::databaseQueueWithPath(file.string(), sqlkit::SQLDatabase::kOpenReadOnly));
        ASSERT_TRUE(q);
        Database::applyReadOnlyPragmas(q);
        EXPECT_EQ(pragmaValue(*q, "journal_mode"), c.after);
        EXPECT_EQ(pragmaValue(*q, "query_only"), "1");
        std::string x;
        q->inDatabase([&](sqlkit::SQLDatabase* db) {
            auto rs = db->executeQuery("SELECT x FROM t");
            if (rs && rs->next()) x = rs->stringForColumnIndex(0).value_or("");
            if (rs) rs->close();
        });
        EXPECT_EQ(x, "7");
        q->close();
        EXPECT_TRUE(log.lines().empty()) << log.lines().front();
    }

    // extended.db in WAL mode opens without an error.
    {
        sqlkit::SQLDatabase writer((loc_.userFolder / "extended.db").string());
        ASSERT_TRUE(writer.open());
        ASSERT_TRUE(writer.executeStatements("PRAGMA journal_mode = WAL; CREATE TABLE t (x);"));
        writer.close();
    }
    sqlkit::test::LogCapture log;
    open();
    EXPECT_EQ(log.count("disk I/O error"), 0);
    // The preferences application still writes it while the store holds it.
    sqlkit::SQLDatabase writer((loc_.userFolder / "extended.db").string());
    ASSERT_TRUE(writer.open());
    writer.setMaxBusyRetryTimeInterval(0);
    EXPECT_TRUE(writer.executeUpdate("INSERT INTO t VALUES (1)"));
    writer.close();
}

TEST_F(ReloadTest, KeyStatisticsStayReadableByOthers) {
    auto& db = open();
    db.keyLog(std::chrono::system_clock::now(), 4, true);
    // Another program (the preferences application) reads and resets the file
    // while the store holds it open.
    sqlkit::SQLDatabase other((loc_.userFolder / "keys.db").string());
    ASSERT_TRUE(other.open());
    other.setMaxBusyRetryTimeInterval(0);
    auto rs = other.executeQuery("SELECT count FROM Char");
    ASSERT_TRUE(rs);
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->intForColumnIndex(0), 4);
    rs->close();
    EXPECT_TRUE(other.executeUpdate("DELETE FROM Char"));
    other.close();
}

// user.db, keys.db and think.db hold what the user typed: under umask 022
// they and the journals SQLite makes beside them are the user's alone, also
// when an earlier version left them open to others.
TEST_F(ReloadTest, FilesOfWhatTheUserTypedAreTheUsersAlone) {
    const mode_t oldMask = ::umask(022);
    const char* const files[] = {"user.db", "keys.db", "think.db"};
    struct Case {
        const char* name;
        bool earlier;
    } cases[] = {{"new files", false}, {"files an earlier version left open to others", true}};
    for (const auto& c : cases) {
        fs::remove_all(loc_.userFolder);
        fs::create_directories(loc_.userFolder);
        if (c.earlier) {
            for (const char* name : files) execSql(loc_.userFolder / name, "CREATE TABLE IF NOT EXISTS t (x INT);");
            for (const char* name : {"keys.db-wal", "keys.db-shm", "user.db-journal"})
                std::ofstream(loc_.userFolder / name);
            for (const auto& entry : fs::directory_iterator(loc_.userFolder))
                fs::permissions(entry.path(), fs::perms(0644));
        }
        auto& db = open();
        ASSERT_TRUE(db.keyLog(std::chrono::system_clock::now(), 1, true)) << c.name;
        for (const char* name : files) EXPECT_TRUE(fs::exists(loc_.userFolder / name)) << c.name << ": " << name;
        // keys.db is in WAL mode: its log and shared memory stay while the store holds it.
        for (const char* name : {"keys.db-wal", "keys.db-shm"})
            EXPECT_TRUE(fs::exists(loc_.userFolder / name)) << c.name << ": " << name;
        for (const auto& entry : fs::directory_iterator(loc_.userFolder))
            EXPECT_EQ(static_cast<unsigned>(fs::status(entry.path()).permissions() & fs::perms::all), 0600u)
                << c.name << ": " << entry.path().filename();
        db.closeAll();
    }
    ::umask(oldMask);
}

TEST_F(ReloadTest, KeyLogTellsWhetherTheCountWasWritten) {
    // A "Key" table of another shape: the update statement fails.
    execSql(loc_.userFolder / "keys.db", "CREATE TABLE \"Key\" (x INT);");
    auto& db = open();
    const auto now = std::chrono::system_clock::now();
    EXPECT_TRUE(db.keyLog(now, 2, true));
    EXPECT_FALSE(db.keyLog(now, 2, false));
    db.closeAll();
    EXPECT_FALSE(db.keyLog(now, 2, true));
}

TEST_F(ReloadTest, AssistHintsNeverReopenAClosedStore) {
    const fs::path assistFile = loc_.userFolder / "assist.database";
    execSql(assistFile,
            "CREATE TABLE TableCode (\"Table\" TEXT, Code TEXT);"
            "INSERT INTO TableCode VALUES('好','hk');");
    setSettings([](Settings& s) {
        s.revealAssist = true;
        s.assistPlanName = "plan";
    });
    auto& db = open();
    const Settings settings = *db.currentSettings();
    std::vector<CodeTable> records{CodeTable("hc", "好")};
    InputDeletage::loadAssistCache(records, "hc", settings, db, nullptr);
    EXPECT_EQ(records[0].preAssistedCode, "hk");

    // The preferences application may be replacing the file now.
    db.closeAll();
    records[0].preAssistedCode.clear();
    InputDeletage::loadAssistCache(records, "hc", settings, db, nullptr);
    EXPECT_EQ(records[0].preAssistedCode, "");
    EXPECT_EQ(openDescriptors(assistFile), 0);
}

TEST_F(ReloadTest, CopyBundledDatabase) {
    auto& db = fresh();
    writeCodeTable(loc_.resourceDir / "custom.db", {{"rq", "模板", 0}});
    const fs::path dest = loc_.userFolder / "custom.db";

    // Missing folder: created.
    fs::remove_all(loc_.userFolder);
    db.copyBundledDatabase("custom.db", dest.string());
    ASSERT_TRUE(fs::exists(dest));

    // Over an existing file with a stale journal: replaced, journal gone.
    writeCodeTable(dest, {{"old", "旧", 0}});
    std::ofstream(dest.string() + "-journal") << "stale";
    db.copyBundledDatabase("custom.db", dest.string());
    EXPECT_FALSE(fs::exists(dest.string() + "-journal"));
    db.reloadDBLink().wait();
    EXPECT_EQ(words(db.customPhrases("rq")), std::vector<std::string>{"模板"});
    EXPECT_TRUE(db.customPhrases("old").empty());

    // A missing resource leaves the destination as it was.
    db.copyBundledDatabase("nothing.db", dest.string());
    db.copyBundledDatabase("../user/custom.db", dest.string());
    EXPECT_TRUE(fs::exists(dest));
    for (const auto& e : fs::directory_iterator(loc_.userFolder))
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
}

TEST_F(ReloadTest, LookupsRunWhileTheStoreReloads) {
    writeDag(loc_.resourceDir / "dag.db", {{"w2", {"zhang", "san"}, "张三|5"}});
    writeCodeTable(loc_.resourceDir / "dag.db", {{"ab", "甲", 0}});
    auto& db = fresh();
    db.reloadDBLink().wait();

    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([&, t] {
            int i = 0;
            while (!stop) {
                auto main = db.codeTablePrefixQuery("ab", false);
                if (!main.empty()) {
                    EXPECT_EQ(main[0].table, "甲");
                    ++answered;
                }
                auto phrase = db.phraseWordsByPinyinColumns("k" + std::to_string(t) + "-" + std::to_string(i++), 100,
                                                            {{"zhang"}, {"san"}});
                if (!phrase.empty()) {
                    EXPECT_EQ(phrase[0].table, "张三");
                }
                CodeTable w("ab", "词", 0);
                db.updateUserWordRow(w, false);
                db.keyLog(std::chrono::system_clock::now(), 1, t % 2 == 0);
            }
        });
    for (int i = 0; i < 15; ++i) {
        auto f = db.reloadDBLink();
        if (i % 3 == 0) db.closeAll();
        if (i % 5 == 0) db.cleanCache();
        f.wait();
    }
    db.reloadDBLink().wait();
    // Let the workers meet the reopened store before they stop.
    const int before = answered;
    for (int spins = 0; answered == before && spins < 10'000'000; ++spins) std::this_thread::yield();
    stop = true;
    for (auto& w : workers) w.join();

    EXPECT_TRUE(db.isOpen());
    EXPECT_GT(answered.load(), 0);
    EXPECT_EQ(words(db.codeTablePrefixQuery("ab", false)), std::vector<std::string>{"甲"});
    EXPECT_EQ(openDescriptors(userDb()), 1);
    EXPECT_EQ(openDescriptors(loc_.resourceDir / "dag.db"), 1);
}

TEST(StoreBundleData, GeneratedFilesAnswer) {
    const fs::path resources = TAVIRO_RESOURCE_DIR;
    if (!fs::exists(resources / "dag.db") || !fs::exists(resources / "english.db"))
        GTEST_SKIP() << "no generated bundle data in " << resources;
    const auto base = freshDir("bundle-data");
    auto db = Database::create({base / "user", resources, base / "library"});
    Database::Hooks h;
    h.settings = [] { return std::make_shared<const Settings>(); };
    db->setHooks(h);
    if (fs::exists(resources / "custom.db")) db->copyBundledDatabase("custom.db", db->customDBLocalPath());
    db->reloadDBLink().wait();
    EXPECT_TRUE(db->customPhrases("rq").empty());

    auto english = db->englishWords("hel", true, 20);
    EXPECT_FALSE(english.empty());
    EXPECT_LE(english.size(), 20u);
    for (const auto& r : english) EXPECT_EQ(r.code.rfind("hel", 0), 0u) << r.code;

    auto phrase = db->phraseWordsByPinyinColumns("zhongguo", 100, {{"zhong"}, {"guo"}});
    ASSERT_FALSE(phrase.empty());
    for (std::size_t i = 1; i < phrase.size(); ++i) EXPECT_GE(phrase[i - 1].weight, phrase[i].weight);
    EXPECT_NE(std::find(phrase.begin(), phrase.end(), CodeTable("", "中国")), phrase.end());
    auto abbreviated = db->superSPWords("zg", {{"zh"}, {"g"}});
    EXPECT_FALSE(abbreviated.empty());
    EXPECT_LE(abbreviated.size(), 2u);
    EXPECT_EQ(words(db->userTableLikeAndPhrase("", {{"zhong"}, {"hua"}, {"ren"}, {"min"}, {"gong"}, {"he"}})).size(),
              1u);
    db->closeAll();
}

} // namespace
} // namespace taviro::test
