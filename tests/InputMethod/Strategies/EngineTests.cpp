// The conversion engine: the ready flag, the raw-buffer and command-word
// candidates, display strings, commit with phrase learning, strategy choice.
#include <gtest/gtest.h>

#include <thread>

#include "InputMethod/Core/Engine/FourCodeInputStrategy.h"
#include "InputMethod/Core/Engine/LastCommittedText.h"
#include "InputMethod/Core/Engine/QuanpinStrategy.h"
#include "InputMethod/Core/Engine/SunpyInputStrategy.h"
#include "InputMethod/Core/Engine/TaviroIMEngine.h"
#include "Platform/SunPinyin/SunpinyinWrapper.h"
#include "StrategyFixture.h"

namespace taviro::test {
namespace {

using Clock = std::chrono::system_clock;

// 2026-01-09 (a Friday) 15:05:09 UTC.
Clock::time_point fixedMoment() { return Clock::from_time_t(1767971109); }

class EngineTest : public StrategyTest {
protected:
    void SetUp() override {
        StrategyTest::SetUp();
        if (IsSkipped()) return;
        TaviroIMEngine::setReady(true);
    }

    // An engine over the fixture store with a strategy chosen and a fixed clock.
    std::unique_ptr<TaviroIMEngine> make() {
        TaviroIMEngine::Options o;
        o.environment = open();
        o.clock = fixedMoment;
        o.dateTimeZone = "UTC";
        o.dateLocale = "en_US";
        o.startUp = false;
        auto engine = std::make_unique<TaviroIMEngine>(o);
        engine->reloadInputDelegate();
        if (auto d = engine->inputDelegate()) d->waitForSetUp();
        return engine;
    }

    void useShapeTable() {
        set([](Settings& s) { s.fourCode = 1; });
        useMainTable({{"rq", "日期", 1}, {"abcd", "甲", 1}, {"ab", "乙", 1}, {"hi", "嗨", 1}});
    }

    bool userRowExists(const std::string& code, const std::string& word) {
        return store_->userWordRowid(CodeTable(code, word)) >= 0;
    }
};

TEST_F(EngineTest, TheReadyFlagRisesOnlyWhenTheFirstKeysCanBeAnswered) {
    TaviroIMEngine::setReady(false);
    TaviroIMEngine::Options o;
    o.environment = open();
    store_->closeAll();  // as at process start: nothing open yet
    TaviroIMEngine engine(o);
    while (!TaviroIMEngine::isReady()) std::this_thread::yield();
    // The moment the flag is up, the store is open and a lookup answers.
    EXPECT_TRUE(store_->isOpen());
    engine.getCandidates("nihcvsgo");
    EXPECT_GE(indexOf(engine.candidates(), "你好中国"), 0);
    engine.waitForStartUp();
}

TEST_F(EngineTest, WaitingCandidateUntilReadyOrWithoutStrategy) {
    TaviroIMEngine::Options o;
    o.environment = open();
    o.startUp = false;
    TaviroIMEngine engine(o);
    // Ready but no strategy chosen yet: the waiting candidate, not a crash.
    EXPECT_EQ(engine.getCandidates("n"), "n");
    ASSERT_EQ(engine.candidates().size(), 1u);
    EXPECT_EQ(engine.candidates()[0].table, TaviroIMEngine::kWaitingText);
    // It is no text: committing it keeps the buffer and learns nothing.
    EXPECT_EQ(engine.commitSelection(TaviroIMEngine::kWaitingText), "n");
    EXPECT_FALSE(engine.learning());

    engine.reloadInputDelegate();
    TaviroIMEngine::setReady(false);
    engine.clean();
    EXPECT_EQ(engine.getCandidates(""), "");
    EXPECT_TRUE(engine.candidates().empty());
    EXPECT_EQ(engine.getCandidates("ni"), "ni");
    ASSERT_EQ(engine.candidates().size(), 1u);
    EXPECT_TRUE(TaviroIMEngine::isWaitingCandidate(engine.candidates()[0].table));
    TaviroIMEngine::setReady(true);
}

TEST_F(EngineTest, StartUpCopiesCustomDatabaseAndRaisesTheFlag) {
    TaviroIMEngine::setReady(false);
    TaviroIMEngine::Options o;
    o.environment = open();
    TaviroIMEngine engine(o);
    engine.waitForStartUp();
    EXPECT_TRUE(TaviroIMEngine::isReady());
    EXPECT_TRUE(std::filesystem::exists(loc_.userFolder / "custom.db"));
    EXPECT_TRUE(dynamic_cast<SunpyInputStrategy*>(engine.inputDelegate().get()));
}

TEST_F(EngineTest, StrategyChoice) {
    struct Case {
        bool quanPin;
        std::int64_t fourCode;
        const char* expected;
    };
    auto engine = make();
    for (const Case& c : {Case{true, 4, "quanpin"}, Case{false, 2, "shape"}, Case{false, 0, "sunpy"},
                          Case{false, -1, "sunpy"}}) {
        set([&](Settings& s) {
            s.quanPin = c.quanPin;
            s.fourCode = c.fourCode;
        });
        auto before = engine->inputDelegate();
        engine->reloadInputDelegate();
        auto* d = engine->inputDelegate().get();
        EXPECT_NE(d, before.get()) << "a new object every time";
        const std::string kind = dynamic_cast<QuanpinStrategy*>(d)       ? "quanpin"
                                 : dynamic_cast<FourCodeInputStrategy*>(d) ? "shape"
                                 : dynamic_cast<SunpyInputStrategy*>(d)    ? "sunpy"
                                                                           : "?";
        EXPECT_EQ(kind, c.expected) << c.quanPin << " " << c.fourCode;
    }
}

struct CommandCase {
    const char* name;
    std::function<void(Settings&)> options;
    std::string buffer;
    std::vector<std::string> expected;
};

TEST_F(EngineTest, CommandWordsOnAFixedClock) {
    useShapeTable();
    setLastCommittedText("");
    auto engine = make();
    const std::vector<CommandCase> cases = {
        {"dates alone", nullptr, "xq", {"星期五", "五"}},
        {"times", nullptr, "sj", {"03点05分", "15:05", "15:05:09"}},
        {"dates after the strategy's first", nullptr, "rq",
         {"日期", "09号", "01月09日", "2026年01月09日", "二〇二六年一月九日"}},
        {"dates first with ZRepeat", [](Settings& s) { s.zRepeat = true; }, "rq",
         {"09号", "01月09日", "2026年01月09日", "二〇二六年一月九日", "日期"}},
        {"date words off", [](Settings& s) { s.sjrqxq = false; }, "rq", {"日期"}},
        {"z before any commit", [](Settings& s) { s.zRepeat = true; }, "z", {}},
        {"address rule wins over command words", nullptr, "rq.", {"rq."}},
    };
    for (const auto& c : cases) {
        set([&](Settings& s) {
            s.zRepeat = false;
            s.sjrqxq = true;
            if (c.options) c.options(s);
        });
        engine->clean();
        engine->getCandidates(c.buffer);
        EXPECT_EQ(words(engine->candidates()), c.expected) << c.name;
    }
    setLastCommittedText("上一次");
    set([](Settings& s) { s.zRepeat = true; });
    engine->clean();
    engine->getCandidates("z");
    EXPECT_EQ(words(engine->candidates()), (std::vector<std::string>{"上一次"}));
    setLastCommittedText("");
}

TEST_F(EngineTest, CommandTextsConsumeTheBufferAndAreNotLearnt) {
    useShapeTable();
    auto engine = make();
    engine->getCandidates("rq");
    EXPECT_EQ(engine->commitSelection("09号"), "");
    EXPECT_FALSE(engine->learning());
    EXPECT_FALSE(userRowExists("rq", "09号"));
    EXPECT_FALSE(userRowExists("", "09号"));
}

TEST_F(EngineTest, DisplayStrings) {
    useShapeTable();
    auto engine = make();
    struct Case {
        std::function<void(Settings&)> options;
        std::string buffer;
        std::vector<std::string> expected;
    };
    const std::string sep = TaviroIMEngine::kHintSeparator;
    const std::vector<Case> cases = {
        {nullptr, "ab", {"乙"}},
        {[](Settings& s) { s.revealCode = true; }, "ab", {"乙" + sep, "甲" + sep + "cd"}},
        {[](Settings& s) { s.revealCode = true; s.quanPin = true; }, "ab", {"乙", "甲"}},
        {nullptr, "a`cd", {"甲" + sep + "abcd"}},
    };
    for (const auto& c : cases) {
        set([&](Settings& s) {
            s.revealCode = false;
            s.quanPin = false;
            if (c.options) c.options(s);
        });
        engine->clean();
        engine->getCandidates(c.buffer);
        EXPECT_EQ(engine->candidateStrings(), c.expected) << c.buffer;
    }
}

TEST_F(EngineTest, RawBufferAndEnglishCommitsClearWithoutLearning) {
    useShapeTable();
    auto engine = make();
    engine->getCandidates("a@b.c");
    ASSERT_FALSE(engine->candidates().empty());
    EXPECT_EQ(engine->candidates()[0].table, "a@b.c");
    EXPECT_EQ(engine->commitSelection("a@b.c"), "");
    EXPECT_FALSE(userRowExists("a@b.c", "a@b.c"));
}

TEST_F(EngineTest, ZFullSpellCommitClears) {
    useShapeTable();
    set([](Settings& s) { s.zFullSpell = true; });
    auto engine = make();
    engine->getCandidates("zhao");
    ASSERT_FALSE(engine->candidates().empty());
    EXPECT_EQ(engine->commitSelection(engine->candidates()[0].table), "");
    EXPECT_FALSE(engine->learning());
}

TEST_F(EngineTest, DoublePinyinSentenceWordByWordLearnsOnePhrase) {
    set([](Settings& s) { s.keyLogger = true; });
    auto engine = make();
    std::int64_t counted = 0;
    engine->setCharacterCounter([&](std::int64_t n) { counted += n; });
    engine->getCandidates("nihcvsgo");
    ASSERT_GE(indexOf(engine->candidates(), "你好"), 0);
    // Two characters of a double-pinyin word consume four keys.
    EXPECT_EQ(engine->commitSelection("你好"), "vsgo");
    EXPECT_TRUE(engine->learning());
    EXPECT_EQ(engine->learningInputBuffer(), "nihcvsgo");
    ASSERT_GE(indexOf(engine->candidates(), "中国"), 0);
    EXPECT_EQ(engine->commitSelection("中国"), "");
    EXPECT_FALSE(engine->learning());
    EXPECT_FALSE(engine->learntCodeTable());
    EXPECT_TRUE(userRowExists("nihcvsgo", "你好中国"));
    // The last word's frequency is raised under the keys left for it.
    engine->waitForBackgroundWrites();
    EXPECT_TRUE(userRowExists("vsgo", "中国"));
    EXPECT_FALSE(userRowExists("nihcvsgo", "中国"));
    EXPECT_EQ(counted, 4);
}

TEST_F(EngineTest, CleanDiscardsAnOpenPhrase) {
    auto engine = make();
    engine->getCandidates("nihcvsgo");
    EXPECT_EQ(engine->commitSelection("你好"), "vsgo");
    engine->clean();
    EXPECT_FALSE(engine->learning());
    engine->getCandidates("vsgo");
    EXPECT_EQ(engine->commitSelection("中国"), "");
    EXPECT_FALSE(userRowExists("nihcvsgo", "你好中国"));
}

TEST_F(EngineTest, FullPinyinPrefixSelectionConsumesTheTypedKeys) {
    if (!plat::SunpinyinWrapper::isAvailable()) GTEST_SKIP() << "SunPinyin data missing";
    set([](Settings& s) { s.quanPin = true; });
    auto engine = make();
    struct Case {
        std::string buffer;
        std::string word;
        std::string rest;
    };
    for (const Case& c : {Case{"xi'anren", "西安", "ren"}, Case{"nihaoma", "你好", "ma"}, Case{"xi'anren", "西", "anren"}}) {
        engine->clean();
        engine->getCandidates(c.buffer);
        ASSERT_GE(indexOf(engine->candidates(), c.word), 0) << c.buffer << " " << c.word;
        EXPECT_EQ(engine->commitSelection(c.word), c.rest) << c.buffer << " " << c.word;
        EXPECT_EQ(engine->learningInputBuffer(), c.buffer);
    }
    engine->clean();
    engine->getCandidates("nihaoma");
    EXPECT_EQ(engine->commitSelection("你好"), "ma");
    ASSERT_GE(indexOf(engine->candidates(), "吗"), 0);
    EXPECT_EQ(engine->commitSelection("吗"), "");
    EXPECT_TRUE(userRowExists("nihaoma", "你好吗"));
}

TEST_F(EngineTest, ForgetWordRemovesTheUserRow) {
    useShapeTable();
    auto engine = make();
    CodeTable word("hi", "用户嗨", 3);
    store_->insertUserWord(word, true);
    store_->clearCacheNow();
    engine->getCandidates("hi");
    const auto at = indexOf(engine->candidates(), "用户嗨");
    ASSERT_GE(at, 0);
    engine->forgetWord(99);  // out of range: nothing
    EXPECT_TRUE(userRowExists("hi", "用户嗨"));
    engine->forgetWord(at);
    EXPECT_FALSE(userRowExists("hi", "用户嗨"));
}

} // namespace
} // namespace taviro::test

namespace taviro::test {
namespace {

TEST_F(EngineTest, RevealAssistShowsTheLastCharactersAssistCode) {
    useAssistTable({{"kk", "好"}, {"dd", "你"}});
    set([](Settings& s) { s.revealAssist = true; });
    auto engine = make();
    engine->getCandidates("nihc");
    const auto strings = engine->candidateStrings();
    ASSERT_FALSE(strings.empty());
    EXPECT_EQ(strings.front(), std::string("你好") + TaviroIMEngine::kHintSeparator + "kk");
    // Odd buffers get no hint lookup.
    engine->clean();
    engine->getCandidates("nih");
    for (const auto& r : engine->candidates()) EXPECT_TRUE(r.preAssistedCode.empty()) << r.table;
}

} // namespace
} // namespace taviro::test
