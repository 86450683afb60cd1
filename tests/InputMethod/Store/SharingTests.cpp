// user.db shared with other connections and processes: locks, files replaced
// or damaged under the store, and paths that are not regular files.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <future>
#include <thread>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Platform/Foundation/Log.h"
#include "SharedLib/sqlkit/SQLKitLog.h"
#include "StoreFixture.h"

namespace taviro::test {
namespace {

namespace fs = std::filesystem;

// Holds a write lock on a database through a connection of its own, as
// another program would.
class ForeignLock {
public:
    explicit ForeignLock(const fs::path& file) {
        if (sqlite3_open(file.c_str(), &db_) != SQLITE_OK) ADD_FAILURE() << "cannot open " << file;
        // Written, so that the lock is exclusive until released.
        const char* sql = "BEGIN EXCLUSIVE; CREATE TABLE IF NOT EXISTS foreign_lock (x); INSERT INTO foreign_lock VALUES (1);";
        char* error = nullptr;
        if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) ADD_FAILURE() << (error ? error : "?");
        sqlite3_free(error);
    }
    ~ForeignLock() { release(); }
    void release() {
        if (!db_) return;
        sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db_);
        db_ = nullptr;
    }

private:
    sqlite3* db_ = nullptr;
};

// The words of a user table, read with a connection of the test's own.
std::vector<std::string> storedWords(const fs::path& file, const std::string& table = "Quanpin") {
    std::vector<std::string> out;
    sqlkit::SQLDatabase check(file.string());
    if (!check.open()) return out;
    auto rs = check.executeQuery("SELECT Word FROM \"" + table + "\" ORDER BY rowid");
    while (rs && rs->next()) out.push_back(rs->stringForColumnIndex(0).value_or("?"));
    check.close();
    return out;
}

bool contains(const std::vector<std::string>& list, const std::string& word) {
    return std::find(list.begin(), list.end(), word) != list.end();
}

class SharingTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        writeDag(loc_.resourceDir / "dag.db", {{"w2", {"zhang", "san"}, "帐三|9|张三|5"},
                                                 {"w3", {"zhang", "san", "feng"}, "张三丰|4"},
                                                 {"jw2", {"zh", "s"}, "知识|8"}});
        // Long enough for the dag.db part on a busy machine.
        hooks_.phraseWait = std::chrono::milliseconds(1500);
        hooks_.predictionWait = std::chrono::milliseconds(1500);
    }

    fs::path userDb() const { return loc_.userFolder / "user.db"; }

    void learn(Database& db, const std::string& code, const std::string& word) {
        CodeTable r(code, word, 1.0);
        db.insertUserWord(r, true);
    }

    static auto soon() { return std::chrono::steady_clock::now() + std::chrono::seconds(20); }
};

// The user-dictionary part of each timed lookup is held until the lookup has
// returned: every lookup must give up on it at its deadline.
TEST_F(SharingTest, ASlowUserPartEndsAtTheDeadline) {
    struct Case {
        const char* name;
        std::function<std::vector<CodeTable>(Database&)> lookup;
        std::vector<std::string> words;  // the dag.db part alone
    };
    const std::vector<Case> cases = {
        {"phrase", [](Database& db) { return db.phraseWordsByPinyinColumns("zhangsan", 100, {{"zhang"}, {"san"}}); },
         {"帐三", "张三"}},
        {"prediction", [](Database& db) { return db.userTableLikeAndPhrase("zhangsan", {{"zhang"}, {"san"}}); },
         {"张三丰"}},
        {"abbreviation", [](Database& db) { return db.superSPWords("zs", {{"zh"}, {"s"}}); }, {"知识"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto gate = std::make_shared<std::promise<void>>();
        auto released = gate->get_future().share();
        auto gaveUp = std::make_shared<std::atomic<bool>>(false);
        auto finished = std::make_shared<std::promise<void>>();
        auto done = finished->get_future().share();
        hooks_.beforeSubLookup = [released, gaveUp, finished](Database::SubLookup which) {
            if (which != Database::SubLookup::userRows) return;
            // Bounded, so that a lookup that waits for this part cannot hang the test.
            if (released.wait_for(std::chrono::seconds(10)) != std::future_status::ready) *gaveUp = true;
            finished->set_value();
        };
        auto& db = open();
        learn(db, "zhangsan", "张三");
        EXPECT_EQ(words(c.lookup(db)), c.words);
        gate->set_value();
        ASSERT_EQ(done.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        EXPECT_FALSE(*gaveUp) << "the lookup waited for its user-dictionary part";
        EXPECT_EQ(db.cacheSize(), 0u);
        db.closeAll();
    }
}

TEST_F(SharingTest, ALockedUserDictionaryGivesAPartialAnswerAndKeepsTheWrites) {
    auto& db = open();
    learn(db, "zhangsan", "张三");
    learn(db, "zhangsan", "章三");
    {
        ForeignLock lock(userDb());
        // Lookups go on without the user rows and remember nothing.
        EXPECT_EQ(words(db.phraseWordsByPinyinColumns("zhangsan", 100, {{"zhang"}, {"san"}})),
                  (std::vector<std::string>{"帐三", "张三"}));
        EXPECT_EQ(db.cacheSize(), 0u);
        EXPECT_TRUE(db.userDictionaryByPy("zhangsan", 100).empty());
        EXPECT_EQ(words(db.userTableLikeAndPhrase("zhangsan", {{"zhang"}, {"san"}})),
                  std::vector<std::string>{"张三丰"});

        // Learning and forgetting wait for the lock.
        learn(db, "lisi", "李四");
        CodeTable forget("zhangsan", "章三", 0);
        db.updateUserWordRow(forget, true);
        EXPECT_EQ(db.pendingUserWrites(), 2u);
        EXPECT_FALSE(db.flushPendingUserWrites(std::chrono::steady_clock::now()));
        // Closing does not wait for the lock either.
        db.closeAll();
        db.openDatabases(Database::reloadScript());
    }
    EXPECT_TRUE(db.flushPendingUserWrites(soon()));
    EXPECT_EQ(db.pendingUserWrites(), 0u);
    EXPECT_EQ(db.lostUserWrites(), 0u);
    EXPECT_EQ(words(db.userDictionaryByPy("lisi", 100)), std::vector<std::string>{"李四"});
    EXPECT_EQ(words(db.userDictionaryByPy("zhangsan", 100)), std::vector<std::string>{"张三"});
    EXPECT_EQ(words(db.phraseWordsByPinyinColumns("zhangsan", 100, {{"zhang"}, {"san"}})),
              (std::vector<std::string>{"张三", "帐三"}));
}

TEST_F(SharingTest, TwoStoresOnOneFolderBothLearn) {
    auto& first = open();
    auto second = Database::create(loc_);
    second->setHooks(storeHooks());
    second->openDatabases(Database::reloadScript());
    const std::vector<std::pair<Database*, std::string>> steps = {
        {&first, "甲"}, {second.get(), "乙"}, {&first, "丙"}, {second.get(), "丁"}};
    for (const auto& [store, word] : steps) learn(*store, "jia", word);
    EXPECT_TRUE(first.flushPendingUserWrites(soon()));
    EXPECT_TRUE(second->flushPendingUserWrites(soon()));
    for (Database* store : {&first, second.get()})
        EXPECT_EQ(words(store->userDictionaryByPy("jia", 100)).size(), 4u);
    second->closeAll();
    EXPECT_EQ(storedWords(userDb()), (std::vector<std::string>{"甲", "乙", "丙", "丁"}));
}

TEST_F(SharingTest, WritesBeyondTheQueueAreReported) {
    auto notice = std::make_shared<RecordingNotice>();
    auto& db = open();
    db.setUserNotice(notice);
    plat::LogCapture log;
    {
        ForeignLock lock(userDb());
        for (std::size_t i = 0; i < Database::kMaxPendingUserWrites + 2; ++i) learn(db, "k", "字" + std::to_string(i));
        EXPECT_EQ(db.pendingUserWrites(), Database::kMaxPendingUserWrites);
        EXPECT_EQ(db.lostUserWrites(), 2u);
    }
    EXPECT_TRUE(log.contains("字512 was not learnt"));
    EXPECT_TRUE(log.contains("字513 was not learnt"));
    EXPECT_EQ(notice->count(), 1u);  // once, not once a word
    EXPECT_TRUE(db.flushPendingUserWrites(soon()));
    EXPECT_EQ(db.userDictionaryByPy("k", 1000).size(), Database::kMaxPendingUserWrites);
}

// A full disk, made with SQLite's own limit on the file's size: when user.db
// is opened with a room of n, it may grow by n pages at most.
class FullDiskTest : public SharingTest {
protected:
    static constexpr int kNoLimit = -1;

    void SetUp() override {
        SharingTest::SetUp();
        room_ = std::make_shared<std::atomic<int>>(kNoLimit);
        hooks_.userDatabaseOpened = [room = room_](sqlkit::SQLDatabase* db) {
            if (*room == kNoLimit) return;
            auto rs = db->executeQuery("PRAGMA page_count");
            ASSERT_TRUE(rs && rs->next());
            const auto pages = rs->longForColumnIndex(0);
            rs->close();
            ASSERT_TRUE(db->executeStatements("PRAGMA max_page_count = " + std::to_string(pages + *room)));
        };
    }

    // Reopens the store's files with that much room.
    void reopen(Database& db, int room) {
        *room_ = room;
        db.closeAll();
        db.openDatabases(Database::reloadScript());
    }

    std::shared_ptr<std::atomic<int>> room_;
};

std::size_t linesWith(const plat::LogCapture& log, const std::string& text) {
    const auto lines = log.lines();
    return static_cast<std::size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; }));
}

TEST_F(FullDiskTest, WordsLearntOnAFullDiskWaitAndAreWrittenInOrder) {
    struct Case {
        const char* name;
        bool twin;  // codes with apostrophes: each word has a second row without them
        // How the words that fill the file are written.
        std::function<void(Database&, CodeTable&)> write;
    };
    const std::vector<Case> cases = {
        {"learn", false, [](Database& db, CodeTable& r) { db.insertUserWord(r, true); }},
        {"learn with twin codes", true, [](Database& db, CodeTable& r) { db.insertUserWord(r, true); }},
        {"raise a missing word", false, [](Database& db, CodeTable& r) { db.updateUserWordRow(r, false); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        auto notice = std::make_shared<RecordingNotice>();
        auto& db = open();
        db.setUserNotice(notice);
        plat::LogCapture log;
        auto code = [&](std::size_t i) { return std::string("k") + (c.twin ? "'" : "") + "n" + std::to_string(i); };
        auto word = [](std::size_t i) { return "词" + std::to_string(i) + std::string(300, 'x'); };
        auto write = [&](std::size_t i) {
            CodeTable r(code(i), word(i), 1.0);
            c.write(db, r);
        };
        auto forget = [&](std::size_t i) {
            CodeTable r(code(i), word(i), 0);
            db.updateUserWordRow(r, true);
        };
        // The table exists before the limit.
        write(0);
        reopen(db, 0);

        std::size_t full = 1;
        for (; full < 2000 && db.pendingUserWrites() == 0; ++full) write(full);
        ASSERT_EQ(db.pendingUserWrites(), 1u) << "the file never filled";
        const std::size_t firstWaiting = full - 1;
        // Behind the waiting word, in order: two more words, a stored word and
        // the waiting one forgotten, a stored word raised.
        write(firstWaiting + 1);
        write(firstWaiting + 2);
        forget(0);
        forget(firstWaiting);
        CodeTable raised(code(1), word(1), 0);
        db.updateUserWordRow(raised, false);
        EXPECT_EQ(db.pendingUserWrites(), 6u);
        EXPECT_EQ(db.lostUserWrites(), 0u);

        // Nothing half-written; lookups still read the file.
        std::vector<std::string> before, after;
        auto rowsOf = [&](std::vector<std::string>& out, std::size_t i) {
            out.push_back(word(i));
            if (c.twin) out.push_back(word(i));
        };
        for (std::size_t i = 0; i < firstWaiting; ++i) rowsOf(before, i);
        EXPECT_EQ(storedWords(userDb()), before);
        EXPECT_EQ(words(db.userDictionaryByPy(code(1), 10)).size(), 1u);

        // Still full: the retry writes nothing and says nothing more.
        EXPECT_FALSE(db.flushPendingUserWrites(std::chrono::steady_clock::now()));
        EXPECT_EQ(db.pendingUserWrites(), 6u);

        // Room again.
        reopen(db, kNoLimit);
        ASSERT_TRUE(db.flushPendingUserWrites(soon()));
        EXPECT_EQ(db.lostUserWrites(), 0u);
        for (std::size_t i = 1; i < firstWaiting; ++i) rowsOf(after, i);
        rowsOf(after, firstWaiting + 1);
        rowsOf(after, firstWaiting + 2);
        EXPECT_EQ(storedWords(userDb()), after);
        const auto one = db.userDictionaryByPy(c.twin ? "kn1" : code(1), 10);
        ASSERT_EQ(one.size(), 1u);
        EXPECT_EQ(one[0].weight, 2.0);

        ASSERT_EQ(notice->count(), 1u);
        EXPECT_EQ(notice->posts()[0], "磁盘空间不足: 磁盘已满，新学的词暂存在内存中，腾出空间后会自动写入。");
        EXPECT_EQ(linesWith(log, "the disk is full"), 1u);
        EXPECT_TRUE(log.contains("user.db can be written again"));
        EXPECT_FALSE(log.contains("locked"));
        db.closeAll();
    }
}

// A little room takes some of the waiting words, one by one, in order.
TEST_F(FullDiskTest, ALittleRoomTakesTheFirstWaitingWords) {
    auto& db = open();
    auto word = [](std::size_t i) { return "字" + std::to_string(i) + std::string(300, 'x'); };
    learn(db, "k", word(0));
    reopen(db, 0);
    std::size_t i = 1;
    for (; i < 2000 && db.pendingUserWrites() == 0; ++i) learn(db, "k", word(i));
    ASSERT_EQ(db.pendingUserWrites(), 1u);
    const std::size_t firstWaiting = i - 1;
    for (std::size_t n = 0; n < 99; ++n) learn(db, "k", word(i++));
    ASSERT_EQ(db.pendingUserWrites(), 100u);
    const auto stored = storedWords(userDb());

    reopen(db, 2);
    EXPECT_FALSE(db.flushPendingUserWrites(std::chrono::steady_clock::now()));
    const std::size_t taken = 100 - db.pendingUserWrites();
    EXPECT_GT(taken, 0u);
    auto expected = stored;
    for (std::size_t n = 0; n < taken; ++n) expected.push_back(word(firstWaiting + n));
    EXPECT_EQ(storedWords(userDb()), expected);

    reopen(db, kNoLimit);
    ASSERT_TRUE(db.flushPendingUserWrites(soon()));
    for (std::size_t n = taken; n < 100; ++n) expected.push_back(word(firstWaiting + n));
    EXPECT_EQ(storedWords(userDb()), expected);
}

TEST_F(FullDiskTest, WritesBeyondTheQueueAreReportedAsLostToTheFullDisk) {
    auto notice = std::make_shared<RecordingNotice>();
    auto& db = open();
    db.setUserNotice(notice);
    learn(db, "k", "起");
    reopen(db, 0);
    plat::LogCapture log;
    std::size_t i = 0;
    for (; i < 2000 && db.pendingUserWrites() == 0; ++i) learn(db, "k", "字" + std::to_string(i) + std::string(300, 'x'));
    ASSERT_EQ(db.pendingUserWrites(), 1u);
    const std::size_t firstLost = i - 1 + Database::kMaxPendingUserWrites;
    for (std::size_t n = 1; n < Database::kMaxPendingUserWrites + 2; ++n) learn(db, "k", "字" + std::to_string(i++));
    EXPECT_EQ(db.pendingUserWrites(), Database::kMaxPendingUserWrites);
    EXPECT_EQ(db.lostUserWrites(), 2u);
    EXPECT_TRUE(log.contains("the disk stayed full: the word 字" + std::to_string(firstLost) + " was not learnt"));
    EXPECT_TRUE(log.contains("the disk stayed full: the word 字" + std::to_string(firstLost + 1) + " was not learnt"));
    // Once for the full disk, once for the lost words.
    EXPECT_EQ(notice->count(), 2u);
    reopen(db, kNoLimit);
    EXPECT_TRUE(db.flushPendingUserWrites(soon()));
    EXPECT_EQ(db.pendingUserWrites(), 0u);
}

// A disk that fills again each time a little room was made is one episode:
// told and logged once, not once a word.
TEST_F(FullDiskTest, ADiskFullAgainAndAgainIsLoggedOncePerEpisode) {
    auto notice = std::make_shared<RecordingNotice>();
    auto& db = open();
    db.setUserNotice(notice);
    learn(db, "k", "起");
    std::mutex m;
    std::size_t sqlLines = 0;
    auto previous = sqlkit::setLogSink([&](std::string_view) {
        std::lock_guard lk(m);
        ++sqlLines;
    });
    plat::LogCapture log;
    std::size_t word = 0, linesAfterFirst = 0, sqlLinesAfterFirst = 0;
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        reopen(db, 0);
        for (std::size_t n = 0; n < 2000 && db.pendingUserWrites() == 0; ++n)
            learn(db, "k", "字" + std::to_string(word++) + std::string(300, 'x'));
        ASSERT_EQ(db.pendingUserWrites(), 1u);
        reopen(db, kNoLimit);
        ASSERT_TRUE(db.flushPendingUserWrites(soon()));
        if (round == 0) {
            linesAfterFirst = log.lines().size();
            std::lock_guard lk(m);
            sqlLinesAfterFirst = sqlLines;
        }
    }
    sqlkit::setLogSink(std::move(previous));
    EXPECT_EQ(linesWith(log, "the disk is full"), 1u);
    EXPECT_EQ(linesWith(log, "can be written again"), 1u);
    EXPECT_EQ(log.lines().size(), linesAfterFirst);
    EXPECT_EQ(sqlLines, sqlLinesAfterFirst);
    EXPECT_EQ(notice->count(), 1u);
    EXPECT_EQ(db.lostUserWrites(), 0u);
    EXPECT_EQ(storedWords(userDb()).size(), word + 1);
}

// Another program renames a new file over one the store holds.
TEST_F(SharingTest, AReplacedFileIsReopened) {
    writeCodeTable(loc_.userFolder / "custom.db", {{"xin", "旧短语", 1}});
    // Lookups take a file as checked a moment ago: the reads below come a key later.
    auto now = std::make_shared<std::atomic<std::int64_t>>(0);
    hooks_.steadyClock = [now] { return std::chrono::steady_clock::time_point(std::chrono::milliseconds(now->load())); };
    auto& db = open();
    EXPECT_EQ(words(db.customPhrases("xin")), std::vector<std::string>{"旧短语"});
    learn(db, "jiu", "旧");
    ASSERT_TRUE(db.keyLog(std::chrono::system_clock::now(), 1, false));

    const fs::path fresh = loc_.userFolder / "import.tmp";
    execSql(fresh, "CREATE TABLE \"Quanpin\" ('Py' TEXT NOT NULL ,'Word' TEXT NOT NULL ,'Weight' double NOT NULL , "
                   "'New' BOOL NOT NULL DEFAULT true); INSERT INTO \"Quanpin\" VALUES('dao','导',1,1);");
    fs::rename(fresh, userDb());
    execSql(fresh, "CREATE TABLE \"Key\" ('year' INT NOT NULL ,'month' INT NOT NULL ,'day' INT NOT NULL ,"
                   "'count' INT NOT NULL );");
    fs::rename(fresh, loc_.userFolder / "keys.db");
    writeCodeTable(fresh, {{"xin", "新短语", 1}});
    fs::rename(fresh, loc_.userFolder / "custom.db");

    *now += 1000;
    learn(db, "xin", "新");
    EXPECT_EQ(db.pendingUserWrites(), 0u);
    EXPECT_EQ(words(db.userDictionaryByPy("dao", 100)), std::vector<std::string>{"导"});
    EXPECT_EQ(words(db.customPhrases("xin")), std::vector<std::string>{"新短语"});
    ASSERT_TRUE(db.keyLog(std::chrono::system_clock::now(), 5, false));
    db.closeAll();
    EXPECT_EQ(storedWords(userDb()), (std::vector<std::string>{"导", "新"}));
    sqlkit::SQLDatabase keys((loc_.userFolder / "keys.db").string());
    ASSERT_TRUE(keys.open());
    auto rs = keys.executeQuery("SELECT sum(count) FROM \"Key\"");
    ASSERT_TRUE(rs && rs->next());
    EXPECT_EQ(rs->intForColumnIndex(0), 5);
}

// SQLite blocks for ever opening a FIFO: the store must not try.
TEST_F(SharingTest, NonRegularFilesAtDatabasePathsAreNotOpened) {
    struct Case {
        const char* where;  // "user" or "bundle"
        const char* name;
    };
    const Case cases[] = {
        {"user", "custom.db"},     {"user", "user.db-journal"}, {"user", "user.db"},   {"user", "keys.db"},
        {"user", "extended.db"},   {"user", "assist.database"}, {"user", "think.db-journal"},
        {"bundle", "dag.db"},      {"bundle", "english.db"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();  // fresh folders for each case
        setSettings([](Settings& s) {
            s.extendedDict = true;
            s.mixEnglishInput = true;
        });
        // A user dictionary with rows: SQLite looks for its journal on each read.
        execSql(userDb(), "CREATE TABLE \"Quanpin\" ('Py' TEXT NOT NULL ,'Word' TEXT NOT NULL ,'Weight' double "
                          "NOT NULL , 'New' BOOL NOT NULL DEFAULT true); INSERT INTO \"Quanpin\" "
                          "VALUES('ni','你',1,1);");
        const fs::path fifo = (std::string(c.where) == "user" ? loc_.userFolder : loc_.resourceDir) / c.name;
        fs::remove(fifo);
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

        fresh();
        auto keep = db_;
        auto result = std::make_shared<std::promise<std::vector<std::string>>>();
        auto got = result->get_future();
        // On a thread of its own: a hang is reported, not waited out.
        std::thread([keep, result] {
            keep->openDatabases(Database::reloadScript());
            std::vector<std::string> seen;
            for (const auto& r : keep->userDictionaryByPy("ni", 10)) seen.push_back(r.table);
            for (const auto& r : keep->customPhrases("a")) seen.push_back(r.table);
            for (const auto& r : keep->englishWords("ab", true, 5)) seen.push_back(r.table);
            CodeTable word("hao", "好", 1.0);
            keep->insertUserWord(word, true);
            result->set_value(seen);
        }).detach();
        ASSERT_EQ(got.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "hung on " << fifo;
        const auto seen = got.get();
        EXPECT_EQ(contains(seen, "你"), std::string(c.name).rfind("user.db", 0) != 0) << c.name;
        struct stat st{};
        ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
        db_->closeAll();
    }
}

TEST_F(SharingTest, ADamagedUserDictionaryIsMovedAsideAndStartedAfresh) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> damage;
    };
    const std::string schema =
        "CREATE TABLE \"Quanpin\" ('Py' TEXT NOT NULL ,'Word' TEXT NOT NULL ,'Weight' double NOT NULL , 'New' BOOL "
        "NOT NULL DEFAULT true); CREATE INDEX \"Quanpin_index\" on \"Quanpin\" ('Py' DESC, 'Weight' DESC);";
    const std::vector<Case> cases = {
        {"text file", [](const fs::path& file) { std::ofstream(file) << "ni\t你\nhao\t好\n"; }},
        {"garbage header", [&](const fs::path& file) { overwriteWithJunk(file, 0, 100); }},
        {"garbage pages", [&](const fs::path& file) { overwriteWithJunk(file, 4096, 8192); }},
        {"truncated", [](const fs::path& file) { fs::resize_file(file, 4096 + 100); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        std::string rows;
        for (int i = 0; i < 300; ++i)
            rows += "INSERT INTO \"Quanpin\" VALUES('k" + std::to_string(i) + "','" + std::string(60, 'x') + "',1,1);";
        execSql(userDb(), schema + rows);
        c.damage(userDb());
        const auto damagedSize = fs::file_size(userDb());

        auto notice = std::make_shared<RecordingNotice>();
        plat::LogCapture log;
        hooks_.wallClock = [] { return std::chrono::system_clock::time_point(std::chrono::hours(24 * 365 * 50)); };
        auto& db = fresh();
        db.setUserNotice(notice);
        db.openDatabases(Database::reloadScript());
        learn(db, "xin", "新");
        EXPECT_EQ(words(db.userDictionaryByPy("xin", 10)), std::vector<std::string>{"新"});
        db.closeAll();

        std::vector<fs::path> aside;
        for (const auto& e : fs::directory_iterator(loc_.userFolder)) {
            const std::string name = e.path().filename().string();
            if (name.rfind("user.db.corrupt-", 0) == 0 && name.find("-journal") == std::string::npos)
                aside.push_back(e.path());
        }
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(fs::file_size(aside[0]), damagedSize);
        EXPECT_EQ(storedWords(userDb()), std::vector<std::string>{"新"});
        EXPECT_EQ(notice->count(), 1u);
        EXPECT_TRUE(log.contains("is damaged"));
    }
}

// A learnt word that cannot be written waits, and the log and the user are
// told the real reason.
TEST_F(SharingTest, AnUnwritableUserDictionaryNamesItsCause) {
    struct Case {
        const char* name;
        std::function<void(const fs::path& folder)> before;  // before opening
        std::function<void(const fs::path& folder)> after;   // after opening
        const char* cause;
        bool needsNoRoot;
    };
    auto noWrite = [](const fs::path& folder) {
        fs::permissions(folder, fs::perms::owner_write, fs::perm_options::remove);
    };
    std::unique_ptr<ForeignLock> lock;
    const std::vector<Case> cases = {
        {"a directory in its place", [](const fs::path& folder) { fs::create_directories(folder / "user.db"); }, {},
         "is a directory", false},
        {"a directory in its journal's place", [](const fs::path& folder) { fs::create_directories(folder / "user.db-journal"); },
         {}, "user.db-journal is a directory", false},
        {"a directory in its log's place", {},
         [](const fs::path& folder) {
             fs::remove(folder / "user.db-wal");
             fs::create_directories(folder / "user.db-wal");
         },
         "user.db-wal is a directory", false},
        {"a FIFO in its journal's place", [](const fs::path& folder) { ::mkfifo((folder / "user.db-journal").c_str(), 0600); },
         {}, "user.db-journal is not a regular file", false},
        {"a folder without write permission", {}, noWrite, "no write permission", true},
        {"locked by another program", {}, [&](const fs::path& folder) { lock = std::make_unique<ForeignLock>(folder / "user.db"); },
         "in use by another program", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsNoRoot && ::geteuid() == 0) continue;
        SetUp();
        if (c.before) c.before(loc_.userFolder);
        plat::LogCapture log;
        auto& db = open();
        learn(db, "xin", "心");  // the file is made and written once
        if (c.after) c.after(loc_.userFolder);
        learn(db, "xin", "新");
        EXPECT_GE(db.pendingUserWrites(), 1u);
        EXPECT_NE(db.userDatabaseTrouble().text.find(c.cause), std::string::npos) << db.userDatabaseTrouble().text;
        EXPECT_TRUE(log.contains(c.cause)) << ::testing::PrintToString(log.lines());
        EXPECT_FALSE(log.contains("disk is full"));
        lock.reset();
        fs::permissions(loc_.userFolder, fs::perms::owner_all, fs::perm_options::add);
        db.closeAll();
    }
}

} // namespace
} // namespace taviro::test
