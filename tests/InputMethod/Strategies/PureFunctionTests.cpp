// Functions of the strategies that need no store: the syllable split by
// frequencies, the typed spans of full-pinyin syllables and the placing of
// custom phrases.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "InputMethod/Core/Engine/EngineText.h"
#include "InputMethod/Core/Engine/FourCodeInputStrategy.h"
#include "InputMethod/Core/Engine/InputDeletage.h"
#include "InputMethod/Core/Engine/QuanpinStrategy.h"

namespace taviro {
namespace {

using Syllables = std::vector<std::string>;

struct SplitCase {
    const char* name;
    BundleTables::Frequencies table;
    std::string text;
    Syllables expected;
};

TEST(SentenceBuilder, SplitsByTheHeaviestPath) {
    const BundleTables::Frequencies base{{"xi", 0.5}, {"an", 0.4}, {"a", 0.3}, {"xia", 0.2}, {"xian", 0.1}};
    BundleTables::Frequencies xianHeavy = base;
    xianHeavy["xian"] = 0.3;
    const std::vector<SplitCase> cases = {
        {"two light syllables beat one", base, "xian", {"xi", "an"}},
        {"one heavy syllable beats two", xianHeavy, "xian", {"xian"}},
        {"single known letter", base, "a", {"a"}},
        {"single unknown letter", base, "q", {}},
        {"unknown start gives nothing", base, "qxian", {}},
        {"stray trailing letter is left out", base, "xianq", {"xi", "an"}},
        {"eight-letter syllable is never used", {{"zhuangzh", 0.9}, {"zhuang", 0.1}}, "zhuangzh", {"zhuang"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FourCodeInputStrategy::buildSentence(c.text, &c.table), c.expected) << c.name;
    EXPECT_TRUE(FourCodeInputStrategy::buildSentence("xian", nullptr).empty()) << "no table";
}

TEST(SentenceBuilder, LongTextIsLinearAndComplete) {
    const BundleTables::Frequencies table{{"ni", 0.5}, {"hao", 0.5}, {"ma", 0.5}};
    std::string text;
    Syllables expected;
    for (int i = 0; i < 200; ++i) {
        text += "nihaoma";
        expected.insert(expected.end(), {"ni", "hao", "ma"});
    }
    EXPECT_EQ(FourCodeInputStrategy::buildSentence(text, &table), expected);
}

struct SpanCase {
    std::string buffer;
    Syllables syllables;
    Syllables spans;
};

TEST(QuanpinSpans, CoverTheTypedKeys) {
    const std::vector<SpanCase> cases = {
        {"nihaoma", {"ni", "hao", "ma"}, {"ni", "nihao", "nihaoma"}},
        {"xi'an", {"xi", "an"}, {"xi'", "xi'an"}},
        {"xi'an'ren", {"xi", "an", "ren"}, {"xi'", "xi'an'", "xi'an'ren"}},
        {"'ni'hao", {"ni", "hao"}, {"'ni'", "'ni'hao"}},
        // Corrections: the typed spelling is one key longer, or differs.
        {"gueile", {"gui", "le"}, {"guei", "gueile"}},
        {"zhomgguo", {"zhong", "guo"}, {"zhomg", "zhomgguo"}},
        {"liouxue", {"liu", "xue"}, {"liou", "liouxue"}},
        {"", {}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QuanpinStrategy::syllableSpans(c.buffer, c.syllables), c.spans) << c.buffer;
}

TEST(CustomPhrasePlacement, PositionsAreClampedIntoTheList) {
    auto list = [] {
        return std::vector<CodeTable>{CodeTable("", "a"), CodeTable("", "b"), CodeTable("", "c")};
    };
    struct Case {
        double weight;
        std::vector<std::string> expected;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<Case> cases = {
        {0, {"X", "a", "b", "c"}},
        {1, {"a", "X", "b", "c"}},
        {2.9, {"a", "b", "X", "c"}},
        {3, {"a", "b", "c", "X"}},
        {100, {"a", "b", "c", "X"}},
        {-2, {"X", "a", "b", "c"}},
        {-1e300, {"X", "a", "b", "c"}},
        {std::nan(""), {"a", "b", "c", "X"}},
        {inf, {"a", "b", "c", "X"}},
        {-inf, {"a", "b", "c", "X"}},
    };
    for (const auto& c : cases) {
        auto l = list();
        placeCustomPhrases(l, {CodeTable("x", "X", c.weight)});
        std::vector<std::string> got;
        for (const auto& r : l) got.push_back(r.table);
        EXPECT_EQ(got, c.expected) << c.weight;
    }
}

TEST(CustomPhrasePlacement, LaterPhrasesSeeEarlierOnes) {
    std::vector<CodeTable> l{CodeTable("", "a")};
    placeCustomPhrases(l, {CodeTable("", "X", 0), CodeTable("", "Y", 1), CodeTable("", "X", 5)});
    std::vector<std::string> got;
    for (const auto& r : l) got.push_back(r.table);
    EXPECT_EQ(got, (std::vector<std::string>{"X", "Y", "a", "X"}));
}

TEST(EngineText, CharactersAndCapitals) {
    EXPECT_EQ(characterCount("中国ab"), 4u);
    EXPECT_EQ(characterPrefix("中国ab", 3), "中国a");
    EXPECT_EQ(dropCharacters("中国ab", 1), "国ab");
    EXPECT_EQ(dropCharacters("ab", 5), "");
    EXPECT_EQ(lastCharacter("你好"), "好");
    EXPECT_EQ(capitalized("hELLO world"), "Hello World");
    EXPECT_EQ(capitalized("o'neil"), "O'Neil");
    EXPECT_TRUE(containsUpperAscii("abC"));
    EXPECT_FALSE(startsWithUpperAscii("aBC"));
    EXPECT_TRUE(rangeOfText("abc.def", "."));
}

} // namespace
} // namespace taviro

namespace taviro {
namespace {

TEST(EngineText, TokenizeChinese) {
    const auto words = tokenizeChinese(TokenizerUnit::word, "我们 喜欢中国。");
    ASSERT_FALSE(words.empty());
    std::string joined;
    for (const auto& w : words) {
        EXPECT_EQ(w.find(' '), std::string::npos);
        EXPECT_NE(w, "。");
        joined += w;
    }
    EXPECT_EQ(joined, "我们喜欢中国");
    EXPECT_EQ(tokenizeChinese(TokenizerUnit::sentence, "你好。再见！").size(), 2u);
    EXPECT_EQ(tokenizeChinese(TokenizerUnit::paragraph, "一\n二"), (std::vector<std::string>{"一\n", "二"}));
    EXPECT_TRUE(tokenizeChinese(TokenizerUnit::word, "").empty());
}

} // namespace
} // namespace taviro
