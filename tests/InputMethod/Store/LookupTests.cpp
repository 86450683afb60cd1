// Code-table, English, assist-code, custom-phrase, text-replacement and
// key-statistics lookups on small fixture files.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "SharedLib/sqlkit/SQLDatabaseQueue.h"
#include "SharedLib/sqlkit/SQLResultSet.h"
#include "StoreFixture.h"

namespace taviro::test {
namespace {

using From = CodeTableFromType;

class LookupTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        // The main code table when none is chosen is dag.db's CodeTable.
        writeCodeTable(loc_.resourceDir / "dag.db",
                       {{"ab", "甲", 3}, {"abc", "乙", 1}, {"abd", "丙", 2}, {"ab" + std::string(10, 'z'), "丁", 0},
                        {"ab{", "戊", 0}, {"ac", "己", 0}, {"a", "庚", 0}, {"abzz", "辛", 5}});
        writeCodeTable(loc_.resourceDir / "english.db",
                       {{"hello", "hello", 2}, {"help", "help", 1}, {"helm", "helm", 3}, {"hero", "hero", 4},
                        {"he", "he", 0}});
    }
};

TEST_F(LookupTest, MainCodeTableForms) {
    auto& db = open();
    struct Case {
        const char* code;
        bool like;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"ab", false, {"甲"}},
        // Longer codes only, by ascending weight; ab + ten z and "ab{" lie outside.
        {"ab", true, {"乙", "丙", "辛"}},
        // A grave accent is a one-character wildcard and always the exact form.
        {"ab`", true, {"戊", "乙", "丙"}},
        {"ab`", false, {"戊", "乙", "丙"}},
        {"a`", false, {"己", "甲"}},
        {"zz", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.code) + (c.like ? " like" : ""));
        auto records = db.codeTablePrefixQuery(c.code, c.like);
        EXPECT_EQ(words(records), c.words);
        for (const auto& r : records) EXPECT_EQ(r.from, From::mainCodeTable);
    }
}

TEST_F(LookupTest, ChosenMainCodeTableIsReadWhenPresent) {
    writeCodeTable(loc_.userFolder / "mainCodeTable.database", {{"ab", "用户表", 0}});
    setSettings([](Settings& s) { s.codeTableVersion = 0; });
    EXPECT_EQ(words(open().codeTablePrefixQuery("ab", false)), std::vector<std::string>{"用户表"});
    // Without a version the file is ignored and dag.db answers.
    setSettings([](Settings& s) { s.codeTableVersion = -1; });
    EXPECT_EQ(words(open().codeTablePrefixQuery("ab", false)), std::vector<std::string>{"甲"});
}

TEST_F(LookupTest, EnglishWords) {
    auto& db = open();
    struct Case {
        const char* text;
        bool prefix;
        int limit;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"HEL", true, 20, {"help", "hello", "helm"}},
        {"hel", true, 2, {"help", "hello"}},
        {"he", true, 1, {"he"}},
        {"he", false, 20, {"he"}},
        {"hello", false, 20, {"hello"}},
        {"he`", true, 20, {}},
        {"hel", true, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto records = db.englishWords(c.text, c.prefix, c.limit);
        EXPECT_EQ(words(records), c.words);
        for (const auto& r : records) {
            EXPECT_EQ(r.from, From::english);
            EXPECT_EQ(r.code, r.table);
        }
    }
    setSettings([](Settings& s) { s.mixEnglishInput = false; });
    EXPECT_TRUE(db.englishWords("hel", true, 20).empty());
}

TEST_F(LookupTest, CustomPhrasesExpandTemplatesOnTheGivenClock) {
    writeCodeTable(loc_.userFolder / "custom.db",
                   {{"rq", "#yyyy年", 1}, {"rq", "今天", 2}, {"jh", "##", 0}, {"x", "plain", 7}});
    const auto fixed = std::chrono::system_clock::from_time_t(1796000000);
    std::vector<std::string> expanded;
    hooks_.clock = [fixed] { return fixed; };
    hooks_.expandTemplate = [&](const std::string& text, std::chrono::system_clock::time_point when) {
        EXPECT_EQ(when, fixed);
        expanded.push_back(text);
        return text == "##" ? std::string("#") : "<" + text + ">";
    };
    auto& db = open();

    auto rq = db.customPhrases("rq");
    EXPECT_EQ(words(rq), (std::vector<std::string>{"<#yyyy年>", "今天"}));
    for (const auto& r : rq) {
        EXPECT_EQ(r.from, From::custom);
        EXPECT_EQ(r.code, "rq");
    }
    EXPECT_EQ(rq[1].weight, 2);
    EXPECT_EQ(words(db.customPhrases("jh")), std::vector<std::string>{"#"});
    EXPECT_EQ(words(db.customPhrases("x")), std::vector<std::string>{"plain"});
    EXPECT_TRUE(db.customPhrases("none").empty());
    // Only texts holding "#" go through the template.
    EXPECT_EQ(expanded, (std::vector<std::string>{"#yyyy年", "##"}));
}

TEST_F(LookupTest, CustomPhrasesUseThePhraseTemplates) {
    writeCodeTable(loc_.userFolder / "custom.db",
                   {{"rq", "#yyyy年#M月#d日", 0}, {"rq", "#date", 1}, {"jh", "##", 0}, {"jh", "a##yyyy", 1}});
    // Noon UTC: 7 December 2026 in every time zone within eleven hours of UTC.
    const auto noon = std::chrono::system_clock::from_time_t(1796644800);
    hooks_.clock = [noon] { return noon; };
    auto& db = open();
    EXPECT_EQ(words(db.customPhrases("rq")), (std::vector<std::string>{"2026年12月7日", "2026年12月7日"}));
    EXPECT_EQ(words(db.customPhrases("jh")), (std::vector<std::string>{"#", "a#yyyy"}));
}

TEST_F(LookupTest, CustomPhrasesWithoutFileAreEmpty) {
    auto& db = open();
    EXPECT_TRUE(db.customPhrases("rq").empty());
    EXPECT_FALSE(std::filesystem::exists(loc_.userFolder / "custom.db"));
}

TEST_F(LookupTest, AssistCodesJoinInRowOrder) {
    execSql(loc_.userFolder / "assist.database",
            "CREATE TABLE CodeTable (Code TEXT, \"Table\" TEXT);"
            "CREATE TABLE TableCode (\"Table\" TEXT, Code TEXT);"
            "INSERT INTO CodeTable VALUES('a','甲'),('a','乙'),('b','丙');"
            "INSERT INTO TableCode VALUES('甲','a'),('甲','x'),('乙','a');");
    auto& db = open();
    EXPECT_EQ(db.assistWords("a"), "甲乙");
    EXPECT_EQ(db.assistWords("z"), "");
    std::string codes = "stale";
    EXPECT_TRUE(db.inAssistDatabase([&](sqlkit::SQLDatabase* conn) { Database::codesForWord(conn, "甲", codes); }));
    EXPECT_EQ(codes, "ax");
    EXPECT_TRUE(db.inAssistDatabase([&](sqlkit::SQLDatabase* conn) { Database::codesForWord(conn, "无", codes); }));
    EXPECT_EQ(codes, "");
    db.closeAll();
    codes = "kept";
    EXPECT_FALSE(db.inAssistDatabase([&](sqlkit::SQLDatabase* conn) { Database::codesForWord(conn, "甲", codes); }));
    EXPECT_EQ(codes, "kept");
}

TEST_F(LookupTest, TextReplacementsNeedTheSystemStore) {
    {
        auto& db = open();
        EXPECT_TRUE(db.textReplacementPhrases("omw").empty());
        EXPECT_FALSE(std::filesystem::exists(db.textReplacementDBPath()));
    }
    const auto store = loc_.libraryDir / "KeyboardServices/TextReplacements.db";
    std::filesystem::create_directories(store.parent_path());
    execSql(store,
            "CREATE TABLE ZTEXTREPLACEMENTENTRY (ZSHORTCUT TEXT, ZPHRASE TEXT);"
            "INSERT INTO ZTEXTREPLACEMENTENTRY VALUES('omw','on my way'),('omw','在路上'),('omw',''),"
            "('omw',NULL),('om','short');");
    auto& db = open();
    auto records = db.textReplacementPhrases("omw");
    EXPECT_EQ(words(records), (std::vector<std::string>{"on my way", "在路上"}));
    for (const auto& r : records) {
        EXPECT_EQ(r.code, "omw");
        EXPECT_EQ(r.from, From::textReplacement);
    }
    EXPECT_TRUE(db.textReplacementPhrases("o").empty());
    // The store is read-only and keeps the system's journal mode.
    sqlkit::SQLDatabase check(store.string());
    ASSERT_TRUE(check.open());
    EXPECT_TRUE(check.executeUpdate("INSERT INTO ZTEXTREPLACEMENTENTRY VALUES('x','y')"));
    check.close();
    EXPECT_EQ(words(db.textReplacementPhrases("x")), std::vector<std::string>{"y"});
}

std::chrono::system_clock::time_point localDate(int y, int m, int d, int hour) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = m - 1;
    tm.tm_mday = d;
    tm.tm_hour = hour;
    tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

TEST_F(LookupTest, KeyStatisticsAddToTheDayRow) {
    auto& db = open();
    db.keyLog(localDate(2026, 12, 7, 9), 15, true);
    db.keyLog(localDate(2026, 12, 7, 23), 5, true);
    db.keyLog(localDate(2026, 12, 7, 9), 0, false);
    db.keyLog(localDate(2026, 12, 8, 0), 3, false);
    db.closeAll();

    struct Row {
        int y, m, d;
        std::int64_t count;
        bool operator==(const Row&) const = default;
    };
    auto rows = [&](const char* table) {
        std::vector<Row> out;
        sqlkit::SQLDatabase check((loc_.userFolder / "keys.db").string());
        EXPECT_TRUE(check.open());
        auto rs = check.executeQuery(std::string("SELECT year,month,day,count FROM ") + table +
                                     " ORDER BY year,month,day");
        while (rs && rs->next())
            out.push_back({rs->intForColumnIndex(0), rs->intForColumnIndex(1), rs->intForColumnIndex(2),
                           rs->longForColumnIndex(3)});
        return out;
    };
    EXPECT_EQ(rows("Char"), (std::vector<Row>{{2026, 12, 7, 20}}));
    EXPECT_EQ(rows("Key"), (std::vector<Row>{{2026, 12, 7, 0}, {2026, 12, 8, 3}}));
}

} // namespace
} // namespace taviro::test
