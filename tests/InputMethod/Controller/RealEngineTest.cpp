// The controller over the real engine, store and bundle data.
#include "RealEngineFixture.h"

#include "InputMethod/CandidateWindowHolder.h"
#include "InputMethod/CommandHandler.h"
#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Engine/InputDeletage.h"
#include "InputMethod/Core/Engine/LastCommittedText.h"
#include "InputMethod/Core/Engine/TaviroIMEngine.h"
#include "InputMethod/KeyLogger.h"
#include "InputMethod/TaviroEngineAdapter.h"
#include "InputMethod/TextOutput.h"
#include "InputMethod/TypingSession.h"
#include "Platform/Notifications/CommandChannelNames.h"
#include "SharedLib/sqlkit/SQLDatabase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <vector>

namespace taviro::test {
namespace {

// "okToUse" as the input method's command handler takes it.
class ReadyFlag {
public:
    ReadyFlag(CompositionEngine& engine, CandidateWindowHolder& windows)
        : targets_(Database::shared(), ConfigManager::shared(), engine, windows) {}
    void operator()(bool ok) {
        plat::Command c = plat::Command::plain(plat::command::kOkToUse);
        c.userInfo[plat::command::kOkToUseKey] = ok;
        handler_.dealWithNotifications(c);
    }

private:
    DefaultCommandTargets targets_;
    CommandHandler handler_{targets_};
};

TEST_F(RealEngine, TypesAndCommitsAWord) {
    ASSERT_TRUE(session->typeScript("nihao"));
    EXPECT_EQ(session->client().markedText(), "nihao");
    ASSERT_TRUE(window().isVisible());
    EXPECT_EQ(window().visibleCandidates().front(), "你好");
    session->typeScript(" ");
    EXPECT_EQ(committed(), "你好");
    EXPECT_EQ(TaviroIMEngine::shared().inputBuffer(), "");
}

// lüe and nüe, typed "ue" or "ve", find their words.
TEST_F(RealEngine, LueAndNueFindTheirWords) {
    struct Case {
        const char* keys;
        const char* word;
    } cases[] = {
        {"lue", "略"}, {"nue", "虐"}, {"lve", "略"}, {"nve", "虐"}, {"celue", "策略"}, {"nuedai", "虐待"},
    };
    for (const auto& c : cases) {
        session->client().setText("");
        ASSERT_TRUE(session->typeScript(c.keys));
        ASSERT_TRUE(window().isVisible()) << c.keys;
        EXPECT_EQ(window().visibleCandidates().front(), c.word) << c.keys;
        session->typeScript("{Esc}");
    }
}

TEST_F(RealEngine, TraditionalOutput) {
    ConfigManager::shared().update([](Settings& s) {
        s.s2t = true;
        s.s2tType = 3;
    });
    session->typeScript("zhongguo ");
    EXPECT_EQ(committed(), "中國");
    EXPECT_EQ(TextOutput::lastCommittedText(), "中國");
}

TEST_F(RealEngine, WordByWordSelectionLearnsThePhrase) {
    session->typeScript("nihao");
    const auto page = window().visibleCandidates();
    const auto it = std::find(page.begin(), page.end(), "你");
    ASSERT_NE(it, page.end()) << "你 is not on the first page";
    const char digit = static_cast<char>('1' + (it - page.begin()));
    session->typeScript(std::string(1, digit));
    EXPECT_EQ(committed(), "你");
    EXPECT_EQ(session->client().markedText(), "hao");
    ASSERT_TRUE(window().isVisible());
    ASSERT_EQ(window().visibleCandidates().front(), "好");
    session->typeScript(" ");
    EXPECT_EQ(committed(), "你好");
    EXPECT_FALSE(TaviroIMEngine::shared().learning());
    EXPECT_GE(Database::shared().userWordRowid(CodeTable("nihao", "你好")), 0);
}

// The "nothing found: show the previous list" rule holds within one
// composition; keys without candidates after a commit are typed as they are.
TEST_F(RealEngine, TheNextCompositionNeverOffersTheLastOnesWords) {
    struct Case {
        const char* keys;
        const char* committed;
    } cases[] = {
        {"nihao vvv ", "你好vvv"},
        {"zhongguo vvv ", "中国vvv"},
    };
    for (const auto& c : cases) {
        session->client().setText("");
        session->typeScript(c.keys);
        EXPECT_EQ(committed(), c.committed) << c.keys;
    }
}

TEST_F(RealEngine, TheRepeatWordOffersWhatWasCommitted) {
    ConfigManager::shared().update([](Settings& s) { s.zRepeat = true; });
    session->typeScript("nihao ");
    ASSERT_EQ(committed(), "你好");
    EXPECT_EQ(lastCommittedText(), "你好");
    session->typeScript("z");
    ASSERT_TRUE(window().isVisible());
    const auto page = window().visibleCandidates();
    EXPECT_NE(std::find(page.begin(), page.end(), "你好"), page.end()) << renderCandidateText(window());
}

// Keys typed while "okToUse" false holds the store back are handled as typed once
// "okToUse" true comes: a space among them commits its word then, on its own, and
// not together with the next word.
TEST_F(RealEngine, KeysTypedWhileTheStoreIsNotReadyAreHandledOnceItIs) {
    ReadyFlag okToUse(adapter, windows);
    struct Case {
        const char* before;  // typed while ready
        const char* inside;  // typed while not ready
        const char* atOnce;  // committed once it is ready
        const char* after;   // typed then
        const char* committed;
    };
    const Case cases[] = {
        {"women", " ", "我们", "shijie ", "我们世界"},
        {"wo", "men shi", "我们", "jie ", "我们世界"},
        {"women", " shijie ", "我们世界", "", "我们世界"},
        {"nihao", "{Return}", "nihao", "", "nihao"},
        {"ni", "hao!", "你好！", "", "你好！"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.before) + "|" + c.inside + "|" + c.after);
        session->client().setText("");
        session->typeScript(c.before);
        okToUse(false);
        session->typeScript(c.inside, std::chrono::milliseconds(10));
        EXPECT_EQ(committed(), "");
        okToUse(true);
        session->driver().advance(std::chrono::milliseconds(10));
        EXPECT_EQ(committed(), c.atOnce);
        session->typeScript(c.after);
        EXPECT_EQ(committed(), c.committed);
        session->typeScript("{Esc}");
    }
}

// More keys than a composition holds, typed while "okToUse" false holds the store
// back: once it is ready, the full composition commits at the next space and the
// words typed after it are committed as usual, whether the keys came all at once or
// one by one past the time keys are held.
TEST_F(RealEngine, AFullCompositionTypedWhileTheStoreWasNotReadyCommitsOnceItIs) {
    ReadyFlag okToUse(adapter, windows);
    struct Case {
        int keys;
        int apartMs;  // between keys
    };
    const Case cases[] = {{684, 10}, {870, 10}, {870, 0}, {1200, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.keys) + " keys " + std::to_string(c.apartMs) + " ms apart");
        session->client().setText("");
        session->typeScript("ni");
        okToUse(false);
        std::string keys;
        for (int i = 0; static_cast<int>(keys.size()) < c.keys; ++i) keys += i % 2 ? "shijie " : "women ";
        keys.resize(static_cast<std::size_t>(c.keys));
        session->typeScript(keys, std::chrono::milliseconds(c.apartMs));
        okToUse(true);
        session->driver().advance(std::chrono::milliseconds(200));
        session->typeScript(" ");
        EXPECT_EQ(TaviroIMEngine::shared().inputBuffer(), "");
        EXPECT_NE(committed(), "");
        session->client().setText("");
        session->typeScript("nihao shijie ");
        EXPECT_EQ(committed(), "你好世界");
        EXPECT_EQ(session->client().markedText(), "");
    }
}

// Once the store is ready again, a list made while it was not gives way to the real
// one on every road that picks from it, a key or not.
TEST_F(RealEngine, TheWaitingListGivesWayToTheRealOneOnceTheStoreIsReady) {
    session->typeScript("ni");
    const auto real = window().visibleCandidates();
    ASSERT_GE(real.size(), 2u);
    session->typeScript("{Esc}");
    struct Case {
        const char* name;
        std::function<void(TypingSession&)> pick;
        std::string committed;
    };
    const std::vector<Case> cases = {
        {"space", [](TypingSession& t) { t.typeScript(" "); }, real[0]},
        {"digit", [](TypingSession& t) { t.typeScript("2"); }, real[1]},
        {"click",
         [](TypingSession& t) { t.controller().candidateSelected(TaviroIMEngine::kWaitingText); }, real[0]},
        {"shift tap",
         [](TypingSession& t) {
             ConfigManager::shared().update([](Settings& s) { s.shiftToBoot = true; });
             t.typeScript("{Shift}");
         },
         real[1]},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        session->client().setText("");
        TaviroIMEngine::setReady(false);
        session->typeScript("ni");
        ASSERT_EQ(window().visibleCandidates(), std::vector<std::string>{TaviroIMEngine::kWaitingText});
        TaviroIMEngine::setReady(true);
        c.pick(*session);
        EXPECT_EQ(committed(), c.committed);
        EXPECT_EQ(TaviroIMEngine::shared().inputBuffer(), "");
        ConfigManager::shared().update([](Settings& s) { s.shiftToBoot = false; });
    }
}

// Until the store is ready the only candidate is the waiting text, which no
// road may insert into the client.
class WaitingEngine : public RealEngine {
protected:
    void SetUp() override {
        RealEngine::SetUp();
        TaviroIMEngine::setReady(false);
    }
    void TearDown() override {
        RealEngine::TearDown();
        TaviroIMEngine::setReady(true);
    }
};

TEST_F(WaitingEngine, NoCommitRoadInsertsTheWaitingText) {
    struct Case {
        const char* name;
        std::function<void(TypingSession&)> act;
        const char* committed;
        const char* marked;  // nullptr: not looked at
    };
    const std::vector<Case> cases = {
        {"digit", [](TypingSession& t) { t.typeScript("1"); }, "", "ni"},
        {"space", [](TypingSession& t) { t.typeScript(" "); }, "", "ni"},
        {"click",
         [](TypingSession& t) { t.controller().candidateSelected(TaviroIMEngine::kWaitingText); }, "", "ni"},
        {"guide key", [](TypingSession& t) { t.typeScript(";"); }, "", "ni"},
        {"punctuation", [](TypingSession& t) { t.typeScript("!"); }, "！", nullptr},
        {"return", [](TypingSession& t) { t.typeScript("{Return}"); }, "ni", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        session->replaceClient(std::string("org.example.scripted"));
        TaviroController::pendingCommitText().clear();
        session->typeScript("ni");
        ASSERT_TRUE(window().isVisible());
        ASSERT_EQ(window().visibleCandidates(), std::vector<std::string>{TaviroIMEngine::kWaitingText});
        c.act(*session);
        EXPECT_EQ(committed(), c.committed);
        if (c.marked) {
            EXPECT_EQ(session->client().markedText(), c.marked);
        }
        EXPECT_EQ(committed().find(TaviroIMEngine::kWaitingText), std::string::npos);
        EXPECT_NE(lastCommittedText(), TaviroIMEngine::kWaitingText);
        TaviroIMEngine::shared().clean();
    }
}

TEST_F(RealEngine, ACommitCountsItsCharactersOnceAndEachKeyOnce) {
    ConfigManager::shared().update([](Settings& s) { s.keyLogger = true; });
    KeyLogger logger([](KeyLogger::Clock::time_point, std::int64_t, bool) { return true; },
                     [] { return ConfigManager::shared().settings()->keyLogger; });
    // The engine's own counter wired to the same statistics must not add a second count.
    TaviroIMEngine::shared().setCharacterCounter(
        [&](std::int64_t n) { logger.countCharacters(std::string(static_cast<std::size_t>(n), 'x')); });
    session.reset();
    TaviroEngineAdapter counted(TaviroIMEngine::shared());
    ControllerEnvironment env;
    env.engine = &counted;
    env.windows = &windows;
    env.keyLogger = &logger;
    session = std::make_unique<TypingSession>(env);

    session->typeScript("nihao ");
    EXPECT_EQ(committed(), "你好");
    EXPECT_EQ(logger.charCount(), 2);
    EXPECT_EQ(logger.keyCount(), 6);
    session.reset();
}

TEST_F(RealEngine, StatisticsKeepTheirCountsWhenTheWriteFails) {
    Database& store = Database::shared();
    const auto keysFile = store.locations().userFolder / "keys.db";
    auto replaceKeysFile = [&](const std::string& sql) {
        store.closeAll();
        std::filesystem::remove(keysFile);
        if (!sql.empty()) {
            sqlkit::SQLDatabase db(keysFile.string());
            ASSERT_TRUE(db.open());
            ASSERT_TRUE(db.executeStatements(sql));
            db.close();
        }
        store.reloadDBLink().wait();
        ASSERT_TRUE(store.isOpen());
    };
    // Tables of another shape: the store is open but every write fails.
    replaceKeysFile("CREATE TABLE \"Key\" (x INT); CREATE TABLE \"Char\" (x INT);");
    ConfigManager::shared().update([](Settings& s) { s.keyLogger = true; });
    KeyLogger& logger = KeyLogger::shared();
    logger.flush();
    logger.countKey();
    logger.countCharacters("你好");
    const std::int64_t keys = logger.keyCount();
    const std::int64_t chars = logger.charCount();
    ASSERT_GT(keys, 0);
    logger.flush();
    EXPECT_EQ(logger.keyCount(), keys);
    EXPECT_EQ(logger.charCount(), chars);

    replaceKeysFile("");
    logger.flush();
    EXPECT_EQ(logger.keyCount(), 0);
    EXPECT_EQ(logger.charCount(), 0);
}

} // namespace
} // namespace taviro::test
