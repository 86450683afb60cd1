// The controller over the real engine, store and bundle data.
#include "InputMethod/CandidateWindowHolder.h"
#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Engine/InputDeletage.h"
#include "InputMethod/Core/Engine/TaviroIMEngine.h"
#include "InputMethod/PagedCandidateWindow.h"
#include "InputMethod/TaviroEngineAdapter.h"
#include "InputMethod/TextOutput.h"
#include "InputMethod/TypingSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace taviro::test {
namespace {

class RealEngine : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("TAVIRO_RESOURCES", TAVIRO_RESOURCE_DIR, 1);
        TaviroIMEngine::shared().waitForStartUp();
        if (auto strategy = TaviroIMEngine::shared().inputDelegate()) strategy->waitForSetUp();
    }

    void SetUp() override {
        ConfigManager::shared().update([](Settings& s) { s = Settings{}; });
        TaviroController::pendingCommitText().clear();
        TaviroIMEngine::shared().reloadInputDelegate();
        TaviroIMEngine::shared().inputDelegate()->waitForSetUp();
        ControllerEnvironment env;
        env.engine = &adapter;
        env.windows = &windows;
        session = std::make_unique<TypingSession>(env);
    }
    void TearDown() override { session.reset(); }

    std::string committed() { return session->client().committedText(); }
    PagedCandidateWindow& window() { return static_cast<PagedCandidateWindow&>(windows.window()); }

    TaviroEngineAdapter adapter{TaviroIMEngine::shared()};
    CandidateWindowHolder windows;
    std::unique_ptr<TypingSession> session;
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

} // namespace
} // namespace taviro::test
