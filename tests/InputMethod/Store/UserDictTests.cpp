// The learning user dictionary: table names, learning, reinforcement,
// forgetting and the pattern lookups.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "SharedLib/sqlkit/SQLResultSet.h"
#include "StoreFixture.h"

namespace taviro::test {
namespace {

using From = CodeTableFromType;

struct StoredRow {
    std::string py, word;
    std::string weight;  // as SQLite holds it: number text or the stored text
    int isNew;
    bool operator==(const StoredRow&) const = default;
};

class UserDictTest : public StoreTest {
protected:
    std::vector<StoredRow> rows(const std::string& table) {
        std::vector<StoredRow> out;
        db_->closeAll();
        {
            sqlkit::SQLDatabase check((loc_.userFolder / "user.db").string());
            EXPECT_TRUE(check.open());
            std::string quoted = "\"";
            for (char c : table) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
            quoted += "\"";
            auto rs = check.executeQuery("SELECT Py, Word, CASE typeof(Weight) WHEN 'real' THEN printf('%.1f', Weight) "
                                         "ELSE Weight END, New FROM " + quoted + " ORDER BY rowid");
            while (rs && rs->next())
                out.push_back({rs->stringForColumnIndex(0).value_or("?"), rs->stringForColumnIndex(1).value_or("?"),
                               rs->stringForColumnIndex(2).value_or("?"), rs->intForColumnIndex(3)});
        }
        db_->openDatabases(Database::reloadScript());
        return out;
    }
};

TEST_F(UserDictTest, TableNameFromTheSettings) {
    auto& db = open();
    struct Case {
        bool quanPin, disableDatabase;
        const char* codeTable;
        const char* plan;
        const char* name;
    };
    const Case cases[] = {
        {true, false, "不使用主码表", "智能ABC", "Quanpin"},
        {true, true, "不使用主码表", "智能ABC", "Quanpin"},
        {true, false, "五笔", "智能ABC", "五笔Quanpin"},
        {false, false, "不使用主码表", "智能ABC", "智能ABC"},
        {false, true, "不使用主码表", "智能ABC", "不使用主码表智能ABC"},
        {false, false, "五笔", "小鹤", "五笔小鹤"},
        {false, true, "五笔", "小鹤", "五笔小鹤"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setSettings([&](Settings& s) {
            s.quanPin = c.quanPin;
            s.disableDatabase = c.disableDatabase;
            s.codeTableName = c.codeTable;
            s.inputPlanName = c.plan;
        });
        EXPECT_EQ(db.userDictTableName(), c.name);
    }
}

TEST_F(UserDictTest, LearnRaiseAndForget) {
    auto& db = open();
    // The first lookup creates the default table.
    EXPECT_TRUE(db.userDictionaryByPy("nihao", 100).empty());

    CodeTable learnt("nihao", "你好", 1.0);
    db.insertUserWord(learnt, true);
    CodeTable reinforced("nihao", "拟好", 0.0);
    db.updateUserWordRow(reinforced, false);  // missing: stored with weight 0, New 0
    EXPECT_EQ(rows("Quanpin"), (std::vector<StoredRow>{{"nihao", "你好", "1.0", 1}, {"nihao", "拟好", "0.0", 0}}));

    db.updateUserWordRow(reinforced, false);
    db.updateUserWordRow(reinforced, false);
    auto found = db.userDictionaryByPy("nihao", 100);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].table, "拟好");
    EXPECT_EQ(found[0].weight, 2.0);
    EXPECT_EQ(found[0].from, From::user);
    EXPECT_EQ(found[0].code, "nihao");
    EXPECT_EQ(found[1].table, "你好");

    EXPECT_GE(db.userWordRowid(learnt), 1);
    db.updateUserWordRow(learnt, true);
    EXPECT_EQ(db.userWordRowid(learnt), -1);
    db.updateUserWordRow(learnt, true);  // forgetting a missing word changes nothing
    EXPECT_EQ(words(db.userDictionaryByPy("nihao", 100)), std::vector<std::string>{"拟好"});
}

TEST_F(UserDictTest, DuplicatesAreForgottenOneAtATime) {
    auto& db = open();
    CodeTable phrase("ab", "词", 1.0);
    db.insertUserWord(phrase, true);
    db.insertUserWord(phrase, true);
    EXPECT_EQ(db.userDictionaryByPy("ab", 100).size(), 2u);
    db.updateUserWordRow(phrase, true);
    EXPECT_EQ(db.userDictionaryByPy("ab", 100).size(), 1u);
    db.updateUserWordRow(phrase, true);
    EXPECT_TRUE(db.userDictionaryByPy("ab", 100).empty());
}

TEST_F(UserDictTest, FullPinyinStoresTheCodeWithoutApostrophesToo) {
    auto& db = open();
    CodeTable phrase("ni'hao", "你好", 1.0);
    db.insertUserWord(phrase, true);
    EXPECT_EQ(phrase.code, "nihao");
    CodeTable again("ni'hao", "你好", 0);
    db.updateUserWordRow(again, false);
    EXPECT_EQ(rows("Quanpin"), (std::vector<StoredRow>{{"ni'hao", "你好", "2.0", 1}, {"nihao", "你好", "2.0", 1}}));

    // Off full pinyin the code stays as typed.
    setSettings([](Settings& s) { s.quanPin = false; });
    CodeTable typed("ni'hao", "你好", 1.0);
    db.insertUserWord(typed, true);
    EXPECT_EQ(typed.code, "ni'hao");
    EXPECT_EQ(rows("智能ABC").size(), 1u);
}

TEST_F(UserDictTest, ValuesAreBoundNotSpliced) {
    setSettings([](Settings& s) {
        s.quanPin = false;
        s.codeTableName = "a\"b";
        s.inputPlanName = "\"; DROP TABLE x; --";
    });
    auto& db = open();
    const std::string table = db.userDictTableName();
    CodeTable odd("q\"'", "\"); DELETE FROM \"Quanpin\"; --", 1.0);
    db.insertUserWord(odd, true);
    CodeTable nan("n", "非数", std::numeric_limits<double>::quiet_NaN());
    db.insertUserWord(nan, false);
    CodeTable inf("i", "无穷", -std::numeric_limits<double>::infinity());
    db.insertUserWord(inf, false);
    EXPECT_EQ(rows(table), (std::vector<StoredRow>{{"q\"'", "\"); DELETE FROM \"Quanpin\"; --", "1.0", 1},
                                                   {"n", "非数", "nan", 0},
                                                   {"i", "无穷", "-inf", 0}}));
    auto found = db.userDictionaryByPy("q\"'", 10);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].table, odd.table);
    db.updateUserWordRow(odd, false);
    EXPECT_EQ(db.userDictionaryByPy("q\"'", 10)[0].weight, 2.0);
}

TEST_F(UserDictTest, RowidsBeyondThirtyTwoBits) {
    execSql(loc_.userFolder / "user.db",
            "CREATE TABLE \"Quanpin\" ('Py' TEXT NOT NULL ,'Word' TEXT NOT NULL ,'Weight' double NOT NULL , "
            "'New' BOOL NOT NULL DEFAULT true);"
            "INSERT INTO \"Quanpin\" (rowid, Py, Word, Weight, New) VALUES (5000000000, 'da', '大', 1, 1);");
    auto& db = open();
    CodeTable big("da", "大", 0);
    EXPECT_EQ(db.userWordRowid(big), 5000000000);
    db.updateUserWordRow(big, false);
    EXPECT_EQ(db.userDictionaryByPy("da", 10).at(0).weight, 2.0);
    db.updateUserWordRow(big, true);
    EXPECT_TRUE(db.userDictionaryByPy("da", 10).empty());
}

TEST_F(UserDictTest, ExactLookupLimit) {
    auto& db = open();
    for (int i = 0; i < 5; ++i) {
        CodeTable r("k", "词" + std::to_string(i), i);
        db.insertUserWord(r, true);
    }
    struct Case {
        int limit;
        std::size_t count;
    };
    for (auto c : {Case{-1, 0}, Case{0, 0}, Case{1, 1}, Case{3, 3}, Case{100, 5}}) {
        SCOPED_TRACE(c.limit);
        auto found = db.userDictionaryByPy("k", c.limit);
        EXPECT_EQ(found.size(), c.count);
        for (std::size_t i = 1; i < found.size(); ++i) EXPECT_GE(found[i - 1].weight, found[i].weight);
    }
}

TEST_F(UserDictTest, OffMeansNothingIsRead) {
    auto& db = open();
    CodeTable r("ab", "词", 1.0);
    db.insertUserWord(r, true);
    setSettings([](Settings& s) { s.userDict = false; });
    EXPECT_TRUE(db.userDictionaryByPy("ab", 100).empty());
    std::vector<CodeTable> out;
    db.userWordsByInitials("a", out);
    db.userWordExtendingKey("SELECT * FROM \"Quanpin\" WHERE Py like ? ORDER BY Weight DESC", "", out);
    EXPECT_TRUE(out.empty());
}

TEST_F(UserDictTest, PatternLookups) {
    auto& db = open();
    struct Word {
        const char* py;
        const char* word;
        double weight;
    };
    for (auto w : {Word{"abcd", "甲", 1}, Word{"abxy", "乙", 3}, Word{"abc", "丙", 9}, Word{"abcde", "丁", 9},
                   Word{"axby", "戊", 2}, Word{"aabb", "己", 5}, Word{"ab", "庚", 7}}) {
        CodeTable r(w.py, w.word, w.weight);
        db.insertUserWord(r, true);
    }
    const std::string sql = "SELECT * FROM \"Quanpin\" WHERE Py like ? ORDER BY Weight DESC";
    std::vector<CodeTable> out;
    // Exactly two more characters, heaviest first, one row.
    db.userWordExtendingKey(sql, "ab", out);
    EXPECT_EQ(words(out), std::vector<std::string>{"乙"});

    // One wildcard after every key character, at most two rows.
    out.clear();
    db.userWordsByInitials("ab", out);
    EXPECT_EQ(words(out), (std::vector<std::string>{"己", "戊"}));
    out = {CodeTable("", "先有")};
    db.userWordsByInitials("a", out);
    EXPECT_EQ(words(out), (std::vector<std::string>{"先有", "庚"}));
}

} // namespace
} // namespace taviro::test
