// The shape-code strategy on a small main table, and the dispatcher's English
// and emoji merging on top of it.
#include <gtest/gtest.h>

#include "InputMethod/Core/Engine/FourCodeInputStrategy.h"
#include "StrategyFixture.h"

namespace taviro::test {
namespace {

class ShapeCodeTest : public StrategyTest {
protected:
    void SetUp() override {
        StrategyTest::SetUp();
        if (IsSkipped()) return;
        set([](Settings& s) { s.fourCode = 1; });
        useMainTable({{"aaaa", "工", 1},
                      {"aaab", "式", 2},
                      {"aaac", "戒", 3},
                      {"abcd", "甲", 1},
                      {"kdxb", "开心", 1},
                      {"kdxb", "凯欣", 2},
                      {"rq", "日期", 1}});
    }

    std::unique_ptr<FourCodeInputStrategy> make() { return std::make_unique<FourCodeInputStrategy>(open()); }
};

struct ShapeCase {
    const char* name;
    std::function<void(Settings&)> options;
    std::string buffer;
    bool probe;
    std::vector<std::string> expected;
};

TEST_F(ShapeCodeTest, LookupsByOptions) {
    useCustomPhrases({{"aaaa", "自定", 0}, {"aaaa", "工", 1}, {"abcd", "末尾", 9}});
    auto strategy = make();
    const std::vector<ShapeCase> cases = {
        {"exact code, custom first", nullptr, "aaaa", false, {"自定", "工"}},
        {"no exact match, first completion", nullptr, "aaa", false, {"工"}},
        {"no exact match, no completion offered", [](Settings& s) { s.emptySlide = false; }, "aaa", false, {}},
        {"completions shown", [](Settings& s) { s.revealCode = true; }, "aa", false, {"工", "式", "戒"}},
        {"custom past the end is appended", nullptr, "abcd", false, {"甲", "末尾"}},
        {"upper case gives nothing", nullptr, "aaAa", false, {}},
        {"empty buffer gives nothing", nullptr, "", false, {}},
    };
    for (const auto& c : cases) {
        set([&](Settings& s) {
            s.emptySlide = true;
            s.revealCode = false;
            if (c.options) c.options(s);
        });
        EXPECT_EQ(words(strategy->candidates(c.buffer, c.probe)), c.expected) << c.name;
    }
}

TEST_F(ShapeCodeTest, RevealCodeCompletionsAreCappedForTheProbe) {
    std::vector<Row> rows;
    for (int i = 0; i < 30; ++i) rows.push_back({"xx" + std::string(1, char('a' + i % 26)) + std::to_string(i), "字" + std::to_string(i), double(i)});
    useMainTable(rows);
    set([](Settings& s) { s.revealCode = true; });
    auto strategy = make();
    EXPECT_EQ(strategy->candidates("xx", true).size(), 10u);
    EXPECT_EQ(strategy->candidates("xx", false).size(), 30u);
}

TEST_F(ShapeCodeTest, UserWordsMergeByOption) {
    auto strategy = make();
    CodeTable user("aaaa", "用户词", 5);
    store_->insertUserWord(user, true);
    CodeTable dup("aaaa", "工", 5);
    store_->insertUserWord(dup, true);
    store_->clearCacheNow();
    EXPECT_EQ(words(strategy->candidates("aaaa", false)), (std::vector<std::string>{"工", "用户词"}));
    set([](Settings& s) { s.codetableInUserDict = true; });
    const auto list = words(strategy->candidates("aaaa", false));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(std::count(list.begin(), list.end(), "工"), 1);
}

TEST_F(ShapeCodeTest, FullPinyinAfterZ) {
    set([](Settings& s) { s.zFullSpell = true; });
    auto strategy = make();
    EXPECT_TRUE(strategy->candidates("z", false).empty());
    const auto list = strategy->candidates("zhao", false);
    EXPECT_GE(indexOf(list, "好"), 0);
    const auto sentence = strategy->candidates("znihao", false);
    EXPECT_GE(indexOf(sentence, "你好"), 0);
}

struct MergeCase {
    const char* name;
    std::function<void(Settings&)> options;
    std::string buffer;
    std::function<void(const std::vector<CodeTable>&)> check;
};

TEST_F(ShapeCodeTest, DispatcherAddsEnglishAndEmoji) {
    auto strategy = make();
    const std::vector<MergeCase> cases = {
        {"emoji of kai'xin after the first two records", [](Settings& s) { s.fourCode = 2; }, "kdxb",
         [](const std::vector<CodeTable>& l) {
             ASSERT_GE(l.size(), 4u);
             EXPECT_EQ(l[0].table, "开心");
             EXPECT_EQ(l[1].table, "凯欣");
             EXPECT_EQ(l[2].table, "😁");
             EXPECT_EQ(l[2].from, CodeTableFromType::emoji);
             EXPECT_EQ(l[3].from, CodeTableFromType::emoji);
         }},
        {"no emoji with FourCode 1", [](Settings& s) { s.fourCode = 1; }, "kdxb",
         [](const std::vector<CodeTable>& l) { EXPECT_EQ(words(l), (std::vector<std::string>{"开心", "凯欣"})); }},
        {"no emoji with NoEmoji", [](Settings& s) { s.noEmoji = true; }, "kdxb",
         [](const std::vector<CodeTable>& l) { EXPECT_EQ(l.size(), 2u); }},
        {"English prefix words for an unknown long code", [](Settings& s) { s.mixEnglishInput = true; }, "hello",
         [](const std::vector<CodeTable>& l) {
             ASSERT_FALSE(l.empty());
             EXPECT_EQ(l.front().table, "hello");
             EXPECT_LE(l.size(), 20u);
             for (const auto& r : l) EXPECT_EQ(r.from, CodeTableFromType::english);
         }},
        {"English capitalised after an upper-case first letter", [](Settings& s) { s.mixEnglishInput = true; },
         "Hello",
         [](const std::vector<CodeTable>& l) {
             ASSERT_FALSE(l.empty());
             for (const auto& r : l) EXPECT_TRUE(r.table[0] >= 'A' && r.table[0] <= 'Z') << r.table;
         }},
        {"no English while the code table found something", [](Settings& s) { s.mixEnglishInput = true; }, "kdxb",
         [](const std::vector<CodeTable>& l) { EXPECT_EQ(l.size(), 2u); }},
    };
    for (const auto& c : cases) {
        set([&](Settings& s) {
            s.fourCode = 1;
            s.noEmoji = false;
            s.mixEnglishInput = false;
            if (c.options) c.options(s);
        });
        SCOPED_TRACE(c.name);
        c.check(strategy->InputDeletage::candidates(c.buffer, false));
    }
}

} // namespace
} // namespace taviro::test
