// What a key costs in the user dictionary: the pattern lookups give the rows
// of their LIKE statement without reading the whole table, the table is made
// once per connection, and a file's identity is checked once per key.
#include <gtest/gtest.h>

#include <atomic>
#include <map>

#include <sqlite3.h>

#include "SharedLib/sqlkit/SQLResultSet.h"
#include "StoreFixture.h"

namespace taviro::test {
namespace {

namespace fs = std::filesystem;

const std::string kPattern = "SELECT * FROM \"Quanpin\" WHERE Py like ? ORDER BY Weight DESC";

// The rows the plain statement gives, read with a connection of the test's own.
std::vector<std::string> plainRows(const fs::path& file, const std::string& pattern, int limit) {
    std::vector<std::string> out;
    sqlkit::SQLDatabase check(file.string());
    EXPECT_TRUE(check.open());
    auto rs = check.executeQuery(kPattern, sqlkit::SQLArguments{pattern});
    while (rs && static_cast<int>(out.size()) < limit && rs->next())
        out.push_back(rs->stringForColumnIndex(0).value_or("?") + "|" + rs->stringForColumnIndex(1).value_or("?"));
    if (rs) rs->close();
    return out;
}

std::vector<std::string> rowsOf(const std::vector<CodeTable>& records) {
    std::vector<std::string> out;
    for (const auto& r : records) out.push_back(r.code + "|" + r.table);
    return out;
}

std::string initialsPattern(const std::string& key) {
    std::string pattern;
    for (std::size_t i = 0; i < key.size(); ++i) {
        pattern += key[i];
        if (i + 1 == key.size() || (static_cast<unsigned char>(key[i + 1]) & 0xC0) != 0x80) pattern += '_';
    }
    return pattern;
}

// Pinyin-like codes from a fixed sequence, so that every run has the same table.
std::vector<std::string> pinyinCodes(std::size_t count, std::uint32_t seed) {
    static const char* const syllables[] = {"a",    "ai",   "an",  "ba",   "bei", "bu",   "chi", "da",   "de",
                                            "fa",   "ge",   "hao", "ji",   "jia", "ke",   "le",  "li",   "ma",
                                            "ni",   "pa",   "qi",  "ren",  "shi", "ta",   "wo",  "xiang", "xi",
                                            "yi",   "you",  "zai", "zhong", "zi", "guo",  "men", "kan",  "qu"};
    const std::size_t n = sizeof syllables / sizeof *syllables;
    std::vector<std::string> out;
    std::uint32_t x = seed;
    auto next = [&] {
        x = x * 1664525u + 1013904223u;
        return x >> 8;
    };
    for (std::size_t i = 0; i < count; ++i) {
        std::string code;
        const std::size_t parts = 2 + next() % 3;
        for (std::size_t k = 0; k < parts; ++k) code += syllables[next() % n];
        out.push_back(code);
    }
    return out;
}

const char* const kCreate =
    "CREATE TABLE IF NOT EXISTS \"Quanpin\" ('Py' TEXT NOT NULL ,'Word' TEXT NOT NULL ,'Weight' double NOT NULL , "
    "'New' BOOL NOT NULL DEFAULT true);\n"
    "CREATE INDEX IF NOT EXISTS \"Quanpin_index\" on \"Quanpin\" ('Py' DESC, 'Weight' DESC);\n";

class UserDictCostTest : public StoreTest {
protected:
    fs::path userDb() const { return loc_.userFolder / "user.db"; }

    // Rows as SQL values: Py, Word and Weight texts.
    void fill(const std::string& create, const std::vector<std::array<std::string, 3>>& rows) {
        std::string sql = create;
        for (const auto& r : rows)
            sql += "INSERT INTO \"Quanpin\" VALUES(" + r[0] + "," + r[1] + "," + r[2] + ",1);\n";
        execSql(userDb(), sql);
    }
};

// Codes in both cases, with apostrophes, LIKE's wildcards and its escape-less
// backslash, characters that are not ASCII, and many equal weights (the order
// of ties must stay as the statement gives it).
std::vector<std::array<std::string, 3>> awkwardRows() {
    const char* const codes[] = {
        "ab",    "abab",  "abAB",  "ABab",  "aBxy",  "AbXy",  "axby",  "aXbY",  "abc",   "abcd", "abxy",  "ab'c",
        "a'b'",  "wo'xi", "wox'i", "woxi",  "WOXI",  "wOxI",  "a%b_",  "a_b%",  "%a_b",  "_%",   "%%",    "__",
        "a\\b\\", "\\a\\b", "中文",  "中a文b", "a中b文", "ab中文", "中",    "zhangs", "zhsh",  "zh",   "z",     "",
        "12",    "1a2b",  "a1b2",  "abcde", "ab'cd", "x'i'a", "xian",  "xi'an", "XIan",  "ab\x7f",
        // A code in upper case before the same code in lower case, and one
        // where a byte below the letters comes first.
        "aXBy",  "aX'b",  "q\x01ix", "qI",    "qi",    "Qi'",
    };
    std::vector<std::array<std::string, 3>> rows;
    int i = 0;
    for (const char* code : codes)
        for (int copy = 0; copy < 3; ++copy, ++i) {
            const std::string weight = i % 7 == 0 ? "'nan'" : std::to_string(i % 3);
            rows.push_back({sqlText(code), sqlText("词" + std::to_string(i)), weight});
        }
    return rows;
}

const std::vector<std::string> kKeys = {
    "",   "a",    "A",   "ab",   "AB",  "aB",   "Ab", "abc", "w",   "wo",  "WoXi", "woxi", "wox",  "x",
    "x'", "'",    "a'",  "%",    "_",   "a%",   "a_", "%a",  "_b",  "\\",  "a\\",  "中",   "中a",  "a中",
    "z",  "zh",   "zhs", "1",    "12",  "1a",   "xi", "xia", "XI",  "abcd", "ab'", "a\x7f", "b", "q",
    "qi", "QI",   "q'",  "aXb",
};

TEST_F(UserDictCostTest, PatternLookupsGiveTheRowsOfTheirStatement) {
    struct Shape {
        const char* name;
        std::string create;
        std::vector<std::array<std::string, 3>> extra;
    };
    // The store's own table; one made elsewhere whose Py keeps numbers as
    // numbers; one whose Py ignores case (the index order is not byte order).
    const std::vector<Shape> shapes = {
        {"own table", kCreate, {}},
        {"untyped Py",
         "CREATE TABLE \"Quanpin\" (Py NOT NULL, Word TEXT NOT NULL, Weight double NOT NULL, New BOOL);\n"
         "CREATE INDEX \"Quanpin_index\" on \"Quanpin\" (Py DESC, Weight DESC);\n",
         {{"12", "'数十二'", "5"}, {"1.5", "'数一点五'", "5"}, {"x'6162'", "'二进制'", "5"}}},
        {"Py without case",
         "CREATE TABLE \"Quanpin\" (Py TEXT COLLATE NOCASE NOT NULL, Word TEXT NOT NULL, Weight double NOT NULL, "
         "New BOOL);\nCREATE INDEX \"Quanpin_index\" on \"Quanpin\" (Py DESC, Weight DESC);\n",
         {}},
    };
    for (const auto& shape : shapes) {
        SCOPED_TRACE(shape.name);
        SetUp();
        auto rows = awkwardRows();
        rows.insert(rows.end(), shape.extra.begin(), shape.extra.end());
        fill(shape.create, rows);
        auto& db = open();
        for (const auto& key : kKeys) {
            SCOPED_TRACE("key \"" + key + "\"");
            std::vector<CodeTable> initials, extending;
            db.userWordsByInitials(key, initials);
            EXPECT_EQ(rowsOf(initials), plainRows(userDb(), initialsPattern(key), 2));
            db.userWordExtendingKey(kPattern, key, extending);
            EXPECT_EQ(rowsOf(extending), plainRows(userDb(), key + "__", 1));
        }
        db_->closeAll();
    }
}

// Counts the SQLite virtual-machine steps of the user.db connection.
struct StepCounter {
    std::atomic<std::int64_t> steps{0};
    static int count(void* self) {
        ++static_cast<StepCounter*>(self)->steps;
        return 0;
    }
};

TEST_F(UserDictCostTest, APatternLookupDoesNotReadTheWholeTable) {
    const std::vector<std::string> keys = {"wo", "zhs", "xiang", "nihao", "ab"};
    // The same words that the keys may find, and `noise` more that share their
    // beginnings but are too long for any of the patterns.
    auto costWith = [&](std::size_t noise) {
        SetUp();
        std::vector<std::array<std::string, 3>> values;
        std::uint32_t i = 0;
        for (const auto& code : pinyinCodes(300, 7))
            values.push_back({sqlText(code), sqlText("词" + std::to_string(i)), std::to_string(i++ % 5)});
        for (std::uint32_t seed = 11; values.size() < 300 + noise; ++seed)
            for (const auto& code : pinyinCodes(1000, seed))
                if (code.size() >= 11 && values.size() < 300 + noise)
                    values.push_back({sqlText(code), sqlText("词" + std::to_string(i)), std::to_string(i++ % 5)});
        fill(kCreate, values);
        auto counter = std::make_shared<StepCounter>();
        hooks_.userDatabaseOpened = [counter](sqlkit::SQLDatabase* db) {
            sqlite3_progress_handler(db->sqliteHandle(), 1, &StepCounter::count, counter.get());
        };
        auto& db = open();
        std::vector<CodeTable> out;
        db.userWordsByInitials("w", out);  // the connection's first statements
        counter->steps = 0;
        for (const auto& key : keys) {
            db.userWordsByInitials(key, out);
            db.userWordExtendingKey(kPattern, key, out);
        }
        const auto steps = counter->steps.load();
        db_->closeAll();
        hooks_.userDatabaseOpened = nullptr;
        return steps;
    };
    // Reading the whole table costs a step a row at least: 38000 more rows
    // may add a small part of that, whatever the lookups cost to begin with.
    const auto small = costWith(2000), large = costWith(40000);
    EXPECT_LT(large - small, (40000 - 2000) / 15) << "2000 more rows: " << small << " steps, 40000 more: " << large;
}

// Counts the statements that begin with CREATE on the user.db connections.
struct CreateCounter {
    std::mutex m;
    std::map<std::string, int> seen;
    static int trace(unsigned, void* self, void* statement, void*) {
        const char* sql = sqlite3_sql(static_cast<sqlite3_stmt*>(statement));
        if (sql && std::string_view(sql).rfind("CREATE", 0) == 0) {
            auto* c = static_cast<CreateCounter*>(self);
            std::lock_guard lk(c->m);
            ++c->seen[sql];
        }
        return 0;
    }
    int total() {
        std::lock_guard lk(m);
        int n = 0;
        for (const auto& [sql, count] : seen) n += count;
        return n;
    }
};

TEST_F(UserDictCostTest, TheTableIsMadeOncePerConnection) {
    auto counter = std::make_shared<CreateCounter>();
    hooks_.userDatabaseOpened = [counter](sqlkit::SQLDatabase* db) {
        sqlite3_trace_v2(db->sqliteHandle(), SQLITE_TRACE_STMT, &CreateCounter::trace, counter.get());
    };
    auto& db = open();
    auto typeAKey = [&](int i) {
        db.userDictionaryByPy("ni", 100);
        db.userDictionaryByPy("nihao", 100);
        std::vector<CodeTable> out;
        db.userWordsByInitials("nh", out);
        db.userWordExtendingKey(kPattern, "ni", out);
        CodeTable word("nihao", "你好" + std::to_string(i), 1.0);
        if (i % 5 == 0) db.insertUserWord(word, true);
        if (i % 7 == 0) db.updateUserWordRow(word, false);
        db.userWordRowid(word);
    };
    for (int i = 0; i < 20; ++i) typeAKey(i);
    EXPECT_EQ(counter->total(), 2);  // the table and its index

    // Another table: made once too.
    setSettings([](Settings& s) {
        s.quanPin = false;
        s.inputPlanName = "小鹤";
    });
    for (int i = 0; i < 5; ++i) typeAKey(i);
    EXPECT_EQ(counter->total(), 4);

    // A new connection asks again.
    db.closeAll();
    db.openDatabases(Database::reloadScript());
    for (int i = 0; i < 5; ++i) typeAKey(i);
    EXPECT_EQ(counter->total(), 6);
}

// Another program drops the table the connection made: it is made again and
// nothing learnt is lost.
TEST_F(UserDictCostTest, ATableDroppedByAnotherProgramIsMadeAgain) {
    auto& db = open();
    CodeTable first("ni", "你", 1.0);
    db.insertUserWord(first, true);
    ASSERT_EQ(db.userDictionaryByPy("ni", 10).size(), 1u);
    execSql(userDb(), "DROP TABLE \"Quanpin\";");
    EXPECT_TRUE(db.userDictionaryByPy("ni", 10).empty());
    CodeTable second("hao", "好", 1.0);
    db.insertUserWord(second, true);
    execSql(userDb(), "DROP TABLE \"Quanpin\";");
    CodeTable third("ta", "他", 1.0);
    db.insertUserWord(third, true);
    EXPECT_EQ(db.pendingUserWrites(), 0u);
    EXPECT_EQ(words(db.userDictionaryByPy("ta", 10)), std::vector<std::string>{"他"});
    EXPECT_EQ(db.userWordRowid(third), 1);
}

TEST_F(UserDictCostTest, AFileIsCheckedOncePerKeyAndWritesAlwaysLook) {
    writeCodeTable(loc_.userFolder / "custom.db", {{"ni", "旧短语", 1}});
    writeDag(loc_.resourceDir / "dag.db", {{"w2", {"ni", "hao"}, "你好|9"}});
    auto now = std::make_shared<std::atomic<std::int64_t>>(0);
    hooks_.steadyClock = [now] { return std::chrono::steady_clock::time_point(std::chrono::milliseconds(now->load())); };
    auto checks = std::make_shared<std::map<std::string, int>>();
    auto checksMutex = std::make_shared<std::mutex>();
    hooks_.identityChecked = [checks, checksMutex](const std::string& path) {
        std::lock_guard lk(*checksMutex);
        ++(*checks)[fs::path(path).filename().string()];
    };
    hooks_.phraseWait = hooks_.predictionWait = std::chrono::milliseconds(5000);
    setSettings([](Settings& s) { s.mixEnglishInput = true; });
    auto& db = open();
    CodeTable learnt("nihao", "你好", 1.0);
    db.insertUserWord(learnt, true);

    auto typeAKey = [&] {
        checks->clear();
        db.userDictionaryByPy("ni", 100);
        db.userDictionaryByPy("nihao", 100);
        db.phraseWordsByPinyinColumns("nihao", 100, {{"ni"}, {"hao"}});
        db.userTableLikeAndPhrase("ni", {{"ni"}});
        db.superSPWords("nh", {{"n"}, {"h"}});
        db.customPhrases("ni");
        db.customPhrases("nih");
        db.englishWords("ni", true, 5);
        db.codeTablePrefixQuery("ni", true);
        std::lock_guard lk(*checksMutex);
        return *checks;
    };
    for (int key = 0; key < 3; ++key) {
        SCOPED_TRACE(key);
        *now += 100;
        const auto seen = typeAKey();
        EXPECT_EQ(seen.at("user.db"), 1);
        EXPECT_EQ(seen.at("custom.db"), 1);
        EXPECT_EQ(seen.at("dag.db"), 1);
        for (const auto& [file, count] : seen) EXPECT_LE(count, 1) << file;
    }

    // Replaced on disk: read from the next key on.
    writeCodeTable(base_ / "custom.new", {{"ni", "新短语", 1}});
    fs::rename(base_ / "custom.new", loc_.userFolder / "custom.db");
    *now += 100;
    EXPECT_EQ(words(db.customPhrases("ni")), std::vector<std::string>{"新短语"});

    // A write looks at once: a word is never learnt into a file replaced a
    // moment ago.
    execSql(base_ / "user.new", kCreate);
    db.userDictionaryByPy("ni", 100);
    fs::rename(base_ / "user.new", userDb());
    CodeTable word("ta", "他", 1.0);
    db.insertUserWord(word, true);
    db.closeAll();
    sqlkit::SQLDatabase check(userDb().string());
    ASSERT_TRUE(check.open());
    auto rs = check.executeQuery("SELECT Word FROM \"Quanpin\"");
    ASSERT_TRUE(rs && rs->next());
    EXPECT_EQ(rs->stringForColumnIndex(0).value_or(""), "他");
    EXPECT_FALSE(rs->next());
}

} // namespace
} // namespace taviro::test
