// The read-only connections keep their prepared statements between lookups:
// answers must follow the bound values, the file's current rows and a
// reopening, and a kept statement must not hold a lock after its lookup.
#include <gtest/gtest.h>

#include "SharedLib/sqlkit/SQLDatabase.h"
#include "StoreFixture.h"

namespace taviro::test {
namespace {

class ConnectionTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        writeCodeTable(loc_.userFolder / "mainCodeTable.database",
                       {{"ab", "甲", 3}, {"abc", "乙", 1}, {"abd", "丙", 2}, {"ac", "丁", 0}});
        writeCodeTable(loc_.userFolder / "custom.db", {{"rq", "日期", 0}, {"x", "叉", 0}});
        writeCodeTable(loc_.resourceDir / "english.db",
                       {{"hello", "hello", 2}, {"help", "help", 1}, {"helm", "helm", 3}, {"he", "he", 0}});
        setSettings([](Settings& s) { s.codeTableVersion = 0; });
    }
};

TEST_F(ConnectionTest, RepeatedLookupsFollowTheirValues) {
    auto& db = open();
    struct Case {
        const char* code;
        bool like;
        std::vector<std::string> words;
    };
    const Case mainCases[] = {
        {"ab", false, {"甲"}}, {"ab", true, {"乙", "丙"}}, {"ac", false, {"丁"}},
        {"a`", false, {"丁", "甲"}}, {"zz", false, {}},
    };
    // Twice round, so the second pass runs on kept statements.
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        for (const auto& c : mainCases) {
            SCOPED_TRACE(c.code);
            EXPECT_EQ(words(db.codeTablePrefixQuery(c.code, c.like)), c.words);
        }
        // A lookup cut short by its limit leaves no state for the next one.
        EXPECT_EQ(words(db.englishWords("hel", true, 1)), std::vector<std::string>{"help"});
        EXPECT_EQ(words(db.englishWords("he", true, 20)), (std::vector<std::string>{"he", "help", "hello", "helm"}));
        EXPECT_EQ(words(db.englishWords("he", false, 20)), std::vector<std::string>{"he"});
        EXPECT_EQ(words(db.customPhrases("rq")), std::vector<std::string>{"日期"});
        EXPECT_EQ(words(db.customPhrases("x")), std::vector<std::string>{"叉"});
        EXPECT_TRUE(db.customPhrases("none").empty());
    }
}

TEST_F(ConnectionTest, CustomPhrasesLeaveTheFileToItsWriter) {
    auto& db = open();
    EXPECT_EQ(words(db.customPhrases("rq")), std::vector<std::string>{"日期"});
    // Another program edits the phrases in place while the store is open.
    {
        sqlkit::SQLDatabase writer((loc_.userFolder / "custom.db").string());
        ASSERT_TRUE(writer.open());
        ASSERT_TRUE(writer.executeStatements(
            "BEGIN EXCLUSIVE; UPDATE CodeTable SET \"Table\"='新日期' WHERE Code='rq'; COMMIT;"));
        writer.close();
    }
    EXPECT_EQ(words(db.customPhrases("rq")), std::vector<std::string>{"新日期"});
}

TEST_F(ConnectionTest, ReopeningReadsReplacedFiles) {
    auto& db = open();
    EXPECT_EQ(words(db.codeTablePrefixQuery("ab", false)), std::vector<std::string>{"甲"});
    EXPECT_EQ(words(db.customPhrases("rq")), std::vector<std::string>{"日期"});
    EXPECT_EQ(words(db.englishWords("he", false, 20)), std::vector<std::string>{"he"});

    std::filesystem::remove(loc_.userFolder / "mainCodeTable.database");
    writeCodeTable(loc_.userFolder / "mainCodeTable.database", {{"ab", "新甲", 0}});
    std::filesystem::remove(loc_.userFolder / "custom.db");
    writeCodeTable(loc_.userFolder / "custom.db", {{"rq", "新日期", 0}});
    std::filesystem::remove(loc_.resourceDir / "english.db");
    writeCodeTable(loc_.resourceDir / "english.db", {{"he", "He", 0}});
    db.reloadDBLink().wait();

    EXPECT_EQ(words(db.codeTablePrefixQuery("ab", false)), std::vector<std::string>{"新甲"});
    EXPECT_EQ(words(db.customPhrases("rq")), std::vector<std::string>{"新日期"});
    EXPECT_EQ(words(db.englishWords("he", false, 20)), std::vector<std::string>{"He"});
}

} // namespace
} // namespace taviro::test
