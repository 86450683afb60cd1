// Phrase, prediction, abbreviated and word-library lookups; the phrase cache
// and the timed wait.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <future>
#include <thread>

#include "InputMethod/Core/Database/TimedGather.h"
#include "StoreFixture.h"

namespace taviro::test {
namespace {

using From = CodeTableFromType;

void writeExtended(const std::filesystem::path& file,
                   const std::vector<std::tuple<std::vector<std::string>, std::string, double>>& rows) {
    std::string sql = "CREATE TABLE CellsInfo (CellID INTEGER, Name TEXT);\n";
    for (int n = 2; n <= 10; ++n) {
        sql.append("CREATE TABLE w").append(std::to_string(n)).append(" (CellID INTEGER, ");
        for (int i = 1; i <= n; ++i) sql.append("p").append(std::to_string(i)).append(" TEXT, ");
        sql += "Word TEXT, Weight REAL);\n";
    }
    for (const auto& [syllables, word, weight] : rows) {
        sql += "INSERT INTO w" + std::to_string(syllables.size()) + " VALUES(1,";
        for (const auto& s : syllables) sql += sqlText(s) + ",";
        sql += (word == "NULL" ? std::string("NULL") : sqlText(word)) + "," + std::to_string(weight) + ");\n";
    }
    execSql(file, sql);
}

class PhraseTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        writeDag(loc_.resourceDir / "dag.db",
                 {
                     {"w2", {"zhang", "san"}, "张三|5"},
                     {"w2", {"zhang", "san"}, "战三|1"},
                     {"w2", {"zhang", "san"}, "掌伞|abc"},        // bad row: skipped alone
                     {"w2", {"zhang", "san"}, "章三|2.5|帐三|7"},  // two pairs in one row
                     {"w2", {"zhang", "san"}, "NULL"},
                     {"w2", {"zhang", "shan"}, "张山|4"},
                     {"w2", {"zang", "san"}, "藏三|6"},
                     {"w1", {"zhang"}, "张|9|章"},                // trailing word without weight
                     {"w3", {"zhang", "san", "feng"}, "张三丰|8"},
                     {"w3", {"zhang", "san", "li"}, "张三李|3"},
                     {"jw2", {"zh", "s"}, "知识|9"},
                     {"jw2", {"zh", "sh"}, "正式|5"},
                     {"jw2", {"zh", "s"}, "自私|1"},
                 });
        writeExtended(loc_.userFolder / "extended.db",
                      {{{"zhang", "san"}, "张三", 3},
                       {{"zhang", "san"}, "库三", 9},
                       {{"zhang", "san"}, "库三", 2},
                       {{"zhang", "san"}, "NULL", 1},
                       {{"zang", "san"}, "库藏", 1}});
        setSettings([](Settings& s) { s.extendedDict = true; });
    }

    void TearDown() override {
        release();
        StoreTest::TearDown();
    }

    // Makes the dag.db sub-lookup wait until release().
    void holdDagLookups() {
        *holding_ = true;
        hooks_.phraseWait = std::chrono::milliseconds(100);
        hooks_.predictionWait = std::chrono::milliseconds(100);
        // The hook owns what it waits on: a late worker may outlive the test.
        hooks_.beforeSubLookup = [holding = holding_, gate = gateOpen_](Database::SubLookup which) {
            if (which == Database::SubLookup::dagWords && *holding) gate.wait();
        };
    }
    void release() {
        if (holding_->exchange(false)) gate_.set_value();
    }

    void learn(const std::string& code, const std::string& word, double weight) {
        CodeTable r(code, word, weight);
        db_->insertUserWord(r, true);
    }

    std::shared_ptr<std::atomic<bool>> holding_ = std::make_shared<std::atomic<bool>>(false);
    std::promise<void> gate_;
    std::shared_future<void> gateOpen_ = gate_.get_future().share();
};

TEST_F(PhraseTest, ColumnConditions) {
    auto& db = open();
    struct Case {
        SyllableAlternatives syllables;
        bool z2zh;
        std::string dag;
        std::string extended;
    };
    const Case cases[] = {
        {{{"zhang"}, {"s"}}, false, " p1 in ('3982') and p2 >= '4352' and p2 < '4607' ",
         " p1 in ('zhang') and p2 >= 's' and p2 < 'szzzzzzzz' "},
        {{{"z"}, {"a"}}, false, " p1 in ('3840') and p2 in ('28') ", " p1 in ('z') and p2 in ('a') "},
        {{{"zh"}}, false, " p1 >= '3968' and p1 < '4031' ", " p1 >= 'zh' and p1 < 'zhzzzzzzzz' "},
        {{{"xx"}, {"a", "e"}}, false, " p1 in ('0') and p2 in ('28','30') ", " p1 in ('') and p2 in ('a','e') "},
        {{{}, {"a"}}, false, " p1 in ('') and p2 in ('28') ", " p1 in ('') and p2 in ('a') "},
        {{{"zhang"}}, true, " p1 in ('3982','3854') ", " p1 in ('zhang','zang') "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dag);
        setSettings([&](Settings& s) { s.z2zh = c.z2zh; });
        EXPECT_EQ(db.pinyinColumnConditions(c.syllables), c.dag);
        EXPECT_EQ(db.extendedWhereClause(c.syllables), c.extended);
    }
}

TEST_F(PhraseTest, DagRowsAreParsedOneByOne) {
    auto& db = open();
    auto records = db.dagWordsForQuery("SELECT Word FROM \"w2\" WHERE  p1 in ('" + std::to_string(syllable("zhang")) +
                                       "') and p2 in ('" + std::to_string(syllable("san")) + "') ");
    EXPECT_EQ(words(records), (std::vector<std::string>{"帐三", "张三", "章三", "战三"}));
    EXPECT_EQ(records[2].weight, 2.5);
    for (const auto& r : records) {
        EXPECT_EQ(r.from, From{});
        EXPECT_EQ(r.code, "");
    }
    EXPECT_EQ(words(db.dagWordsForQuery("SELECT Word FROM w1")), std::vector<std::string>{"张"});
    EXPECT_TRUE(db.dagWordsForQuery("SELECT Word FROM nosuchtable").empty());
}

TEST_F(PhraseTest, ExtendedLookupKeepsTheLightestRowOfAWord) {
    auto& db = open();
    auto records = db.extendedLookup({{"zhang"}, {"san"}});
    EXPECT_EQ(words(records), (std::vector<std::string>{"库三", "张三"}));
    EXPECT_EQ(records[0].weight, 2);
    EXPECT_TRUE(db.extendedLookup({{"zhang"}}).empty());
    setSettings([](Settings& s) { s.z2zh = true; });
    EXPECT_EQ(words(db.extendedLookup({{"zhang"}, {"san"}})), (std::vector<std::string>{"库藏", "库三", "张三"}));
    setSettings([](Settings& s) { s.extendedDict = false; });
    EXPECT_TRUE(db.extendedLookup({{"zhang"}, {"san"}}).empty());
}

TEST_F(PhraseTest, MergeOrderIsUserThenLibraryThenDag) {
    auto& db = open();
    learn("zhangsan", "张三", 1);
    learn("zhangsan", "战三", 0);
    auto records = db.phraseWordsByPinyinColumns("zhangsan", 100, {{"zhang"}, {"san"}});
    EXPECT_EQ(words(records), (std::vector<std::string>{"张三", "战三", "库三", "帐三", "章三"}));
    EXPECT_EQ(records[0].from, From::user);
    EXPECT_EQ(records[2].from, From{});

    // A bare last initial matches every syllable with that initial.
    EXPECT_EQ(words(db.phraseWordsByPinyinColumns("zhangs", 100, {{"zhang"}, {"s"}})),
              (std::vector<std::string>{"库三", "张三", "帐三", "张山", "章三", "战三"}));
    setSettings([](Settings& s) { s.z2zh = true; });
    EXPECT_EQ(words(db.phraseWordsByPinyinColumns("zs", 100, {{"zhang"}, {"san"}})),
              (std::vector<std::string>{"库藏", "库三", "张三", "帐三", "藏三", "章三", "战三"}));
}

TEST_F(PhraseTest, PhraseGuardsReturnNothingAndCacheNothing) {
    auto& db = open();
    const SyllableAlternatives eight(8, std::vector<std::string>{"zhang"});
    EXPECT_TRUE(db.phraseWordsByPinyinColumns("k8", 100, eight).empty());
    EXPECT_TRUE(db.phraseWordsByPinyinColumns("k1", 100, {{"zhang"}, {}}).empty());
    EXPECT_TRUE(db.phraseWordsByPinyinColumns("k2", 100, {{"zhang"}, {""}}).empty());
    // Full pinyin converts no key: nothing to look up.
    EXPECT_TRUE(db.phraseWordsByPinyinColumns("k3", 100, {}).empty());
    setSettings([](Settings& s) { s.disableDatabase = true; });
    EXPECT_TRUE(db.phraseWordsByPinyinColumns("k4", 100, {}).empty());
    EXPECT_EQ(db.cacheSize(), 0u);
}

TEST_F(PhraseTest, CacheAnswersUntilEmptied) {
    auto& db = open();
    auto first = db.phraseWordsByPinyinColumns("zhangsan", 100, {{"zhang"}, {"san"}});
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(db.cacheSize(), 1u);
    // Closed, the store still answers the same question from the cache...
    db.closeAll();
    EXPECT_EQ(words(db.phraseWordsByPinyinColumns("zhangsan", 100, {{"zhang"}, {"san"}})), words(first));
    // ...but the same key asked with other syllables or another limit is another question.
    EXPECT_TRUE(db.phraseWordsByPinyinColumns("zhangsan", 100, {{"zang"}, {"san"}}).empty());
    EXPECT_TRUE(db.phraseWordsByPinyinColumns("zhangsan", 5, {{"zhang"}, {"san"}}).empty());
    db.cleanCache();
    EXPECT_EQ(db.cacheSize(), 0u);
    EXPECT_TRUE(db.phraseWordsByPinyinColumns("zhangsan", 100, {{"zhang"}, {"san"}}).empty());
}

TEST_F(PhraseTest, SameKeyWithOtherSyllablesIsNotServedFromTheCache) {
    auto& db = open();
    // The double-pinyin road asks with no syllables (converted from the key);
    // the full-spell road asks the same key with its own syllables.
    EXPECT_TRUE(db.phraseWordsByPinyinColumns("zhangsan", 100, {{"zang"}, {"san"}}).size() > 0);
    auto zhang = db.phraseWordsByPinyinColumns("zhangsan", 100, {{"zhang"}, {"san"}});
    EXPECT_EQ(words(zhang), (std::vector<std::string>{"库三", "张三", "帐三", "章三", "战三"}));
    EXPECT_EQ(db.cacheSize(), 2u);
}

TEST_F(PhraseTest, LookupThatSpansAnEmptyingStoresNothing) {
    hooks_.beforeSubLookup = [this](Database::SubLookup which) {
        if (which == Database::SubLookup::userRows) db_->cleanCache();
    };
    auto& db = open();
    EXPECT_FALSE(db.phraseWordsByPinyinColumns("zhangsan", 100, {{"zhang"}, {"san"}}).empty());
    EXPECT_EQ(db.cacheSize(), 0u);
}

TEST_F(PhraseTest, SlowSubLookupGivesThePartialResultAndNoCacheEntry) {
    holdDagLookups();
    auto& db = open();
    learn("zhangsan", "张三", 1);
    auto partial = db.phraseWordsByPinyinColumns("zhangsan", 100, {{"zhang"}, {"san"}});
    EXPECT_EQ(words(partial), (std::vector<std::string>{"张三", "库三"}));
    EXPECT_EQ(db.cacheSize(), 0u);
    release();
    auto full = db.phraseWordsByPinyinColumns("zhangsan", 100, {{"zhang"}, {"san"}});
    EXPECT_EQ(words(full), (std::vector<std::string>{"张三", "库三", "帐三", "章三", "战三"}));
    EXPECT_EQ(db.cacheSize(), 1u);
}

TEST_F(PhraseTest, Prediction) {
    auto& db = open();
    struct Case {
        std::string key;
        SyllableAlternatives syllables;
        std::vector<std::string> words;
    };
    learn("zhangsa", "张飒", 1);
    learn("ab", "两键", 9);  // matches "__": an empty key must not reach it
    const Case cases[] = {
        {"zhangsan", {{"zhang"}, {"san"}}, {"张三丰"}},
        {"zhang", {{"zhang"}}, {"张飒"}},
        {"", {{"zhang"}}, {"帐三"}},
        {"", {{"zhang"}, {"s"}}, {}},          // bare last initial
        {"Zhang", {{"zhang"}}, {}},            // upper-case key
        {"", SyllableAlternatives(7, {"zhang"}), {}},
        {"", {{"zhang"}, {""}}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key + "/" + std::to_string(c.syllables.size()));
        EXPECT_EQ(words(db.userTableLikeAndPhrase(c.key, c.syllables)), c.words);
    }
    setSettings([](Settings& s) { s.disableDatabase = true; });
    EXPECT_TRUE(db.userTableLikeAndPhrase("zhang", {{"zhang"}}).empty());
}

TEST_F(PhraseTest, AbbreviatedLookup) {
    auto& db = open();
    // Without user words: the two heaviest.
    EXPECT_EQ(words(db.superSPWords("zs", {{"zh"}, {"s"}})), (std::vector<std::string>{"知识", "正式"}));
    // One user word: at most one dag.db word, none when it is the same word.
    learn("zhsh", "知识", 1);
    EXPECT_EQ(words(db.superSPWords("zs", {{"zh"}, {"s"}})), std::vector<std::string>{"知识"});
    learn("zisi", "自私", 0.5);
    EXPECT_EQ(words(db.superSPWords("zs", {{"zh"}, {"s"}})), (std::vector<std::string>{"知识", "自私"}));
    learn("zasa", "杂洒", 5);
    EXPECT_EQ(words(db.superSPWords("zs", {{"zh"}, {"s"}})), (std::vector<std::string>{"杂洒", "知识"}));
    db_->closeAll();
    db_->openDatabases(Database::reloadScript());
    setSettings([](Settings& s) { s.userDict = false; });
    EXPECT_EQ(words(db.superSPWords("zs", {{"zh"}, {"s"}})), (std::vector<std::string>{"知识", "正式"}));
    for (const auto& s : {SyllableAlternatives{{"zh"}}, SyllableAlternatives(6, {"zh"})})
        EXPECT_TRUE(db.superSPWords("zs", s).empty());
}

TEST_F(PhraseTest, KeysWithoutSyllablesGoThroughTheDoublePinyinScheme) {
    std::ofstream(loc_.userFolder / "spScheme.plist") << R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
<key>Version</key><string>2.0</string>
<key>Sheng</key><dict><key>v</key><string>zh</string></dict>
<key>Yun</key><dict><key>h</key><string>ang</string><key>j</key><string>an</string></dict>
<key>Special</key><dict></dict>
</dict></plist>
)";
    setSettings([](Settings& s) { s.quanPin = false; });
    auto& db = open();
    EXPECT_EQ(words(db.phraseWordsByPinyinColumns("vhsj", 100, {})),
              (std::vector<std::string>{"库三", "张三", "帐三", "章三", "战三"}));
    EXPECT_EQ(words(db.userTableLikeAndPhrase("vhsj", {})), std::vector<std::string>{"张三丰"});
    EXPECT_EQ(words(db.superSPWords("vs", {})), (std::vector<std::string>{"知识", "正式"}));
}

TEST_F(PhraseTest, PredictionWithASlowDagLookupUsesTheUserWord) {
    holdDagLookups();
    auto& db = open();
    learn("zhangsa", "张飒", 1);
    EXPECT_EQ(words(db.userTableLikeAndPhrase("zhang", {{"zhang"}})), std::vector<std::string>{"张飒"});
    EXPECT_TRUE(db.userTableLikeAndPhrase("", {{"zhang"}}).empty());
}

// Where each lookup of a gather runs and which results count.
TEST(TimedGatherTest, EveryLookupRunsOnAWorkerAndHeldOnesDrop) {
    using Clock = std::chrono::steady_clock;
    const auto here = std::this_thread::get_id();
    auto row = [](const char* word) { return std::vector<CodeTable>{CodeTable("k", word)}; };
    std::promise<void> gate;
    std::shared_future<void> open = gate.get_future().share();
    auto inPlace = std::make_shared<std::atomic<int>>(0);
    auto note = [inPlace, here] {
        if (std::this_thread::get_id() == here) ++*inPlace;
    };

    // The first lookup is held too: the caller must not run it (it would
    // wait with it) and gets the others' answers at the deadline.
    auto got = TimedGather::run(
        {
            [open, note, row] {
                note();
                open.wait();
                return row("甲");
            },
            [note, row] {
                note();
                return row("乙");
            },
            {},  // a source with nothing to give
            [open, note, row] {
                note();
                open.wait();
                return row("丁");
            },
        },
        Clock::now() + std::chrono::milliseconds(500));
    gate.set_value();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(*inPlace, 0);
    EXPECT_FALSE(got[0]);
    ASSERT_TRUE(got[1] && got[2]);
    EXPECT_EQ(got[1]->front().table, "乙");
    EXPECT_TRUE(got[2]->empty());
    EXPECT_FALSE(got[3]);

    got = TimedGather::run({[note, row] {
                               note();
                               return row("甲");
                           }},
                           Clock::now() + std::chrono::seconds(30));
    EXPECT_EQ(*inPlace, 0);
    ASSERT_TRUE(got[0]);
    EXPECT_EQ(got[0]->front().table, "甲");
}

} // namespace
} // namespace taviro::test
