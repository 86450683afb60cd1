// The full-pinyin and double-pinyin strategies over the generated data and
// the real SunPinyin engine.
#include <gtest/gtest.h>

#include "InputMethod/Core/Engine/QuanpinStrategy.h"
#include "InputMethod/Core/Engine/SunpyInputStrategy.h"
#include "Platform/SunPinyin/SunpinyinWrapper.h"
#include "InputMethod/Core/Double2Pinyin.h"
#include "StrategyFixture.h"

namespace taviro::test {
namespace {

class QuanpinTest : public StrategyTest {
protected:
    void SetUp() override {
        StrategyTest::SetUp();
        if (IsSkipped()) return;
        if (!plat::SunpinyinWrapper::isAvailable()) GTEST_SKIP() << "SunPinyin data missing";
        set([](Settings& s) { s.quanPin = true; });
    }

    std::unique_ptr<QuanpinStrategy> make() {
        auto strategy = std::make_unique<QuanpinStrategy>(open());
        strategy->waitForSetUp();
        return strategy;
    }
};

struct FirstCase {
    const char* buffer;
    const char* first;
    std::function<void(Settings&)> options;
};

TEST_F(QuanpinTest, BuffersGiveTheirWordFirst) {
    const std::vector<FirstCase> cases = {
        {"nihao", "你好", nullptr},
        {"zhongguoren", "中国人", nullptr},
        {"xi'an", "西安", nullptr},
        {"beijing", "北京", nullptr},
        // Fuzzy z/zh: the typed z syllable reaches the zh words.
        {"zongguo", "中国", [](Settings& s) { s.z2zh = true; }},
        // Correction: "mg" typed for "ng".
        {"zhomgguo", "中国", [](Settings& s) { s.mg2ng = true; }},
    };
    for (const auto& c : cases) {
        set([&](Settings& s) {
            s.z2zh = false;
            s.mg2ng = false;
            if (c.options) c.options(s);
        });
        auto strategy = make();
        const auto list = strategy->candidates(c.buffer, false);
        ASSERT_FALSE(list.empty()) << c.buffer;
        EXPECT_EQ(list.front().table, c.first) << c.buffer;
    }
}

TEST_F(QuanpinTest, PrefixRecordsCarryTheirTypedSpan) {
    auto strategy = make();
    const auto list = strategy->candidates("xi'anren", false);
    // Every record's code is a leading stretch of the buffer as typed.
    bool sawPrefix = false;
    for (const auto& r : list) {
        EXPECT_EQ(std::string("xi'anren").rfind(r.code, 0), 0u) << r.table << " " << r.code;
        if (r.code == "xi'an") sawPrefix = true;
    }
    EXPECT_TRUE(sawPrefix);
    const auto xi = indexOf(list, "西");
    ASSERT_GE(xi, 0);
    EXPECT_EQ(list[static_cast<std::size_t>(xi)].code, "xi'");
}

TEST_F(QuanpinTest, FuzzyVariantCharactersCoverTheTypedSyllable) {
    set([](Settings& s) { s.z2zh = true; });
    auto strategy = make();
    const auto list = strategy->candidates("zi", false);
    const auto zhi = indexOf(list, "知");
    ASSERT_GE(zhi, 0) << "characters of zhi follow those of zi";
    EXPECT_GT(zhi, indexOf(list, "字"));
    EXPECT_EQ(list[static_cast<std::size_t>(zhi)].code, "zi");
}

TEST_F(QuanpinTest, UpperCaseBufferGivesNothingAndEmptyResultKeepsThePreviousList) {
    auto strategy = make();
    const auto first = strategy->candidatesFromBuffer("nihao");
    ASSERT_FALSE(first.empty());
    EXPECT_TRUE(strategy->candidatesFromBuffer("niHao").empty());
    EXPECT_EQ(words(strategy->candidatesFromBuffer("")), words(first));
}

// Each shorter prefix brings at most five of its phrases (shishi has more).
TEST_F(QuanpinTest, ShorterPrefixesBringFivePhrasesEach) {
    auto strategy = make();
    const auto list = strategy->candidates("shishishang", false);
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.front().table, "事实上");
    EXPECT_EQ(std::count_if(list.begin(), list.end(), [](const CodeTable& r) { return r.code == "shishi"; }), 5);
}

// Inside each lookup: code-table rows, then user rows ("CodetableInUserDict"
// swaps them), then the superSP words, then the phrases.
TEST_F(QuanpinTest, OrderOfTheSourcesInsideALookup) {
    useMainTable({{"nihao", "码表词", 1}});
    struct Case {
        const char* name;
        std::function<void(Settings&)> options;
        const char* buffer;
        std::vector<std::string> head;
    };
    const std::vector<Case> cases = {
        {"code table before user rows", nullptr, "nihao", {"码表词", "用户词", "你好"}},
        {"user rows first with CodetableInUserDict", [](Settings& s) { s.codetableInUserDict = true; }, "nihao",
         {"用户词", "码表词", "你好"}},
        // Initials only: the superSP words come before the phrase lookup's.
        {"superSP words before the phrases", [](Settings& s) { s.superSP = true; }, "bjdx", {"北京大学", "半径大小"}},
        {"no superSP words when off", nullptr, "bjdx", {"北京大学", "不"}},
    };
    bool learnt = false;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        set([&](Settings& s) {
            s.codetableInUserDict = false;
            s.superSP = false;
            if (c.options) c.options(s);
        });
        auto strategy = make();
        if (!learnt) {
            CodeTable user("nihao", "用户词", 5);
            store_->insertUserWord(user, true);
            learnt = true;
        }
        store_->clearCacheNow();
        const auto list = strategy->candidates(c.buffer, false);
        ASSERT_GE(list.size(), c.head.size());
        const auto all = words(list);
        EXPECT_EQ(std::vector<std::string>(all.begin(), all.begin() + c.head.size()), c.head);
        EXPECT_EQ(list.front().code, c.buffer);
    }
}

class SunpyTest : public StrategyTest {
protected:
    std::unique_ptr<SunpyInputStrategy> make() {
        auto strategy = std::make_unique<SunpyInputStrategy>(open());
        strategy->waitForSetUp();
        return strategy;
    }
};

TEST_F(SunpyTest, DoublePinyinBuffersUnderTheScheme) {
    auto strategy = make();
    struct Case {
        const char* keys;
        const char* first;
    };
    // Xiaohe: ao=c, ong=s, uo=o, ing=k, ei=w, zh=v.
    for (const Case& c : {Case{"nihc", "你好"}, Case{"vsgo", "中国"}, Case{"bwjk", "北京"}, Case{"ni", "你"}}) {
        const auto list = strategy->candidates(c.keys);
        ASSERT_FALSE(list.empty()) << c.keys;
        EXPECT_EQ(list.front().table, c.first) << c.keys;
    }
}

TEST_F(SunpyTest, SentenceForLongInputAndNoneForUnconvertedKeys) {
    if (!plat::SunpinyinWrapper::isAvailable()) GTEST_SKIP() << "SunPinyin data missing";
    auto strategy = make();
    auto query = std::make_shared<SunpyInputStrategy::Query>();
    query->env = strategy->environmentPtr();
    query->settings = query->env->settings();
    query->d2f = strategy->d2f();
    query->wrapper = strategy->sunpinyinWrapper();
    ASSERT_TRUE(query->wrapper);
    auto sentence = SunpyInputStrategy::sentenceCandidates(*query, "womfxihrvsgo");
    ASSERT_TRUE(sentence);
    EXPECT_FALSE(sentence->table.empty());
    EXPECT_TRUE(sentence->from.isEmpty());
    // "qa" is no syllable: the keys come back unconverted and are no pinyin.
    EXPECT_FALSE(SunpyInputStrategy::sentenceCandidates(*query, "qaqa"));
    EXPECT_FALSE(SunpyInputStrategy::sentenceCandidates(*query, "ni.hc"));
    // "om" is no pair of the scheme, so "nihaoma" comes back unconverted; as
    // full pinyin the engine would make a sentence of it, but it is skipped.
    EXPECT_EQ(query->d2f->joinedPinyinRange("nihaoma", *query->settings), "nihaoma");
    EXPECT_FALSE(query->wrapper->candidateWithBuffer("nihaoma").empty());
    EXPECT_FALSE(SunpyInputStrategy::sentenceCandidates(*query, "nihaoma"));
}

TEST_F(SunpyTest, AssistCodesNarrowTheCandidates) {
    // Assist code "d" carries 你 and 泥; "kk" carries 好.
    useAssistTable({{"d", "你"}, {"d", "泥"}, {"kk", "好"}});
    auto strategy = make();
    struct Case {
        const char* keys;
        std::vector<std::string> head;  // the assisted records, in order
    };
    const std::vector<Case> cases = {
        // 2 pinyin keys + 1 assist key: characters of ni that carry the code.
        {"nid", {"你", "泥"}},
        // 4 pinyin keys + 2 assist keys: phrases of nihc holding 好.
        {"nihckk", {"你好"}},
    };
    for (const auto& c : cases) {
        const auto list = strategy->candidates(c.keys);
        ASSERT_GE(list.size(), c.head.size()) << c.keys;
        for (std::size_t i = 0; i < c.head.size(); ++i) {
            EXPECT_EQ(list[i].table, c.head[i]) << c.keys;
            EXPECT_EQ(list[i].code, c.keys);
            EXPECT_TRUE(list[i].from.contains(CodeTableFromType::assisted));
        }
    }
    // No entry for the code: no assisted record.
    for (const auto& r : strategy->candidates("nix")) EXPECT_FALSE(r.from.contains(CodeTableFromType::assisted));
}

// The assist filter also keeps words of the list shown before the assist
// key, and with "MoveBack" on lets the word shown first before step back.
TEST_F(SunpyTest, AssistFilterReadsThePreviousListAndMovesBack) {
    useAssistTable({{"k", "好"}});
    struct Case {
        const char* name;
        bool moveBack;
        std::vector<Row> custom;
        std::vector<std::string> head;  // the assisted records of "nihck", in order
    };
    const std::vector<Case> cases = {
        {"first word shown before steps back", true, {}, {"妳好", "你好"}},
        {"order kept without MoveBack", false, {}, {"你好", "妳好"}},
        // 好你 is no phrase of nihc: only the previous list offers it.
        {"previous-list word after the phrases", true, {{"nihc", "好你", 0}}, {"你好", "妳好", "好你"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        useCustomPhrases(c.custom);
        set([&](Settings& s) { s.moveBack = c.moveBack; });
        auto strategy = make();
        ASSERT_FALSE(strategy->candidates("nihc").empty());
        const auto list = strategy->candidates("nihck");
        std::vector<std::string> head;
        for (const auto& r : list)
            if (r.from.contains(CodeTableFromType::assisted)) {
                head.push_back(r.table);
                EXPECT_EQ(r.code, "nihck");
                EXPECT_EQ(r.assistedCode, "k");
            }
        EXPECT_EQ(head, c.head);
        EXPECT_EQ(words(list).front(), c.head.front());
        store_->closeAll();
        std::filesystem::remove(loc_.userFolder / "custom.db");
    }
}

// Where the double-pinyin lookup places what its options add.
TEST_F(SunpyTest, PlacesOfSuperSPFullSpellAndWordFirst) {
    struct Case {
        const char* name;
        std::function<void(Settings&)> options;
        bool assist;
        const char* keys;
        std::vector<std::string> head;
    };
    const std::vector<Case> cases = {
        // superSP words go in after the first record.
        {"superSP after the first", [](Settings& s) { s.superSP = true; }, false, "bjdx", {"版嗲", "北京大学", "半径大小", "办"}},
        {"no superSP", nullptr, false, "bjdx", {"版嗲", "办"}},
        // The z road: the first phrase, then the full-pinyin words, then the other phrases.
        {"z road after the first phrase", [](Settings& s) { s.zFullSpell = true; }, false, "zhao", {"藏獒", "好", "号"}},
        {"no z road", nullptr, false, "zhao", {"藏獒", "脏", "葬"}},
        // With an assist table, four keys and "WordFirst", the two-character word leads.
        {"word first", nullptr, true, "nihc", {"你好", "你"}},
        {"assisted character first", [](Settings& s) { s.wordFirst = false; }, true, "nihc", {"你", "你好"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (store_) store_->closeAll();
        std::filesystem::remove(loc_.userFolder / "assist.database");
        set([](Settings& s) {
            s.superSP = false;
            s.zFullSpell = false;
            s.wordFirst = true;
            s.assistPlanName = "不使用辅码";
        });
        if (c.assist) useAssistTable({{"hc", "你"}});
        if (c.options) set(c.options);
        auto strategy = make();
        const auto list = words(strategy->candidates(c.keys));
        ASSERT_GE(list.size(), c.head.size());
        EXPECT_EQ(std::vector<std::string>(list.begin(), list.begin() + c.head.size()), c.head);
    }
    // The other phrases follow every full-pinyin word.
    set([](Settings& s) { s.zFullSpell = true; });
    const auto list = words(make()->candidates("zhao"));
    const auto at = [&](const char* w) { return std::find(list.begin(), list.end(), w) - list.begin(); };
    EXPECT_GT(at("脏"), at("浩"));
    EXPECT_LT(at("脏"), static_cast<std::ptrdiff_t>(list.size()));
}

TEST_F(SunpyTest, CustomPhrasesAndUpperCase) {
    useCustomPhrases({{"nihc", "自定义", 0}, {"nihc", "你好", 50}});
    auto strategy = make();
    const auto list = strategy->candidates("nihc");
    ASSERT_GE(list.size(), 2u);
    EXPECT_EQ(list.front().table, "自定义");
    // A custom word is not repeated from the lookups and goes to its place.
    EXPECT_EQ(std::count_if(list.begin(), list.end(), [](const CodeTable& r) { return r.table == "你好"; }), 1);
    EXPECT_TRUE(strategy->candidates("niH").empty());
    EXPECT_EQ(words(strategy->candidateCache()), words(list));
}

} // namespace
} // namespace taviro::test

namespace taviro::test {
namespace {

struct EnglishCase {
    const char* name;
    bool quanPin;
    std::string buffer;
    std::function<void(const std::vector<CodeTable>&)> check;
};

bool isEnglish(const CodeTable& r) { return r.from == CodeTableFromType::english; }

TEST_F(StrategyTest, DispatcherMixesEnglishIntoPinyinLists) {
    if (!plat::SunpinyinWrapper::isAvailable()) GTEST_SKIP() << "SunPinyin data missing";
    set([](Settings& s) { s.mixEnglishInput = true; });
    auto env = open();
    const std::vector<EnglishCase> cases = {
        {"five letters with a capital: one capitalised prefix match", true, "Hello",
         [](const std::vector<CodeTable>& l) {
             ASSERT_EQ(l.size(), 1u);
             EXPECT_TRUE(isEnglish(l[0]));
             EXPECT_EQ(l[0].table, "Hello");
         }},
        {"long buffer: English prefix matches lead", true, "internationalization",
         [](const std::vector<CodeTable>& l) {
             ASSERT_FALSE(l.empty());
             EXPECT_EQ(l[0].table, "internationalization");
             EXPECT_TRUE(isEnglish(l[0]));
         }},
        {"double pinyin, three keys: exact English word after the second record", false, "the",
         [](const std::vector<CodeTable>& l) {
             ASSERT_GE(l.size(), 3u);
             EXPECT_FALSE(isEnglish(l[0]));
             EXPECT_FALSE(isEnglish(l[1]));
             EXPECT_EQ(l[2].table, "the");
             EXPECT_TRUE(isEnglish(l[2]));
         }},
        {"two keys: no English", false, "he",
         [](const std::vector<CodeTable>& l) {
             for (const auto& r : l) EXPECT_FALSE(isEnglish(r)) << r.table;
         }},
    };
    for (const auto& c : cases) {
        set([&](Settings& s) { s.quanPin = c.quanPin; });
        std::unique_ptr<InputDeletage> strategy;
        if (c.quanPin)
            strategy = std::make_unique<QuanpinStrategy>(env);
        else
            strategy = std::make_unique<SunpyInputStrategy>(env);
        strategy->waitForSetUp();
        SCOPED_TRACE(c.name);
        c.check(strategy->candidates(c.buffer, false));
    }
}

} // namespace
} // namespace taviro::test

