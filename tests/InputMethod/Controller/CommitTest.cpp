#include "ControllerFixture.h"
#include "SharedLib/contract/ApplicationName.h"

namespace taviro::test {
namespace {

using namespace std::chrono_literals;

TEST_F(ControllerTest, PartialCommitShowsTheRestAfterTheDeferredRefresh) {
    start();
    session->typeScript("nihao");
    session->typeScript("2", 0ms);  // 你 covers "ni"
    EXPECT_EQ(committed(), "你");
    EXPECT_EQ(marked(), "hao");
    EXPECT_EQ(TaviroController::pendingCommitText(), "");
    session->driver().advance(5ms);
    EXPECT_TRUE(window().isVisible());
    EXPECT_EQ(window().visibleCandidates(), (std::vector<std::string>{"好", "号"}));
    EXPECT_EQ(TaviroController::pendingCommitText(), "好");
}

TEST_F(ControllerTest, KeyBeforeTheDeferredRefreshCommitsTheRestNotTheSameWordAgain) {
    start();
    session->typeScript("nihao");
    session->typeScript("2", 0ms);
    session->typeScript(" ", 0ms);  // before the 1 ms refresh has run
    EXPECT_EQ(committed(), "你好");
    EXPECT_EQ(engine.commits(), (std::vector<std::string>{"你", "好"}));
}

// After a partial commit, a key before the refresh when the rest has no
// candidates commits the rest as typed and leaves no marked text.
TEST_F(ControllerTest, KeyBeforeTheDeferredRefreshCommitsARestWithoutCandidatesAsTyped) {
    engine.table["nixyz"] = records("ni", {"你"});
    const char* keys[] = {" ", "{Return}", "!"};
    for (const char* key : keys) {
        start();
        session->typeScript("nixyz");
        session->typeScript("1", 0ms);
        EXPECT_EQ(marked(), "xyz") << key;
        session->typeScript(key, 0ms);
        EXPECT_EQ(committed().substr(0, std::string("你xyz").size()), "你xyz") << key;
        EXPECT_EQ(marked(), "") << key;
        EXPECT_EQ(engine.inputBuffer(), "") << key;
        session->driver().advance(5ms);
        EXPECT_FALSE(window().isVisible()) << key;
    }
}

TEST_F(ControllerTest, CommitWithTheWindowHiddenCommitsTheKeysAndLearnsNothing) {
    start();
    session->typeScript("ni");          // highlights 你
    engine.table.erase("nix");
    session->typeScript("x");           // no candidates: the window closes, the highlight stays pending
    EXPECT_FALSE(window().isVisible());
    session->typeScript("!");
    EXPECT_EQ(committed(), "nix！");
    EXPECT_TRUE(engine.commits().empty());
}

TEST_F(ControllerTest, ControllerCountsCommittedCharacters) {
    set([](Settings& s) { s.keyLogger = true; });
    engine.table["xiao"] = records("xiao", {"😀"});
    start();
    session->typeScript("nihao1");  // 你好: two characters
    session->typeScript("xiao ");   // one emoji, several code units
    EXPECT_EQ(keyLogger->charCount(), 3);
}

struct ShapeCase {
    const char* name;
    int fourCode;
    bool emptyClean;
    bool zFullSpell;
    const char* script;
    const char* committed;
    const char* marked;
};

class ShapeCodeCommits : public ControllerTest, public ::testing::WithParamInterface<ShapeCase> {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        engine.table["a"] = records("a", {"工"});
        engine.table["aa"] = records("aa", {"式", "工工"});
        engine.table["aaa"] = records("aaa", {"工期"});
        engine.table["aaaa"] = {CodeTable("aaaa", "工"), CodeTable("aaaa", "戈")};
        engine.table["b"] = records("b", {"子"});
        engine.table["bb"] = records("bb", {"孙"});
        engine.table["bbbb"] = records("bbbb", {"孑"});
        engine.table["zz"] = records("zz", {"在"});
        engine.table["zzzz"] = records("zzzz", {"這"});
        engine.table["c"] = records("c", {"又"});
        engine.longerCodes = {"a", "aa", "aaa", "b"};
    }
};

TEST_P(ShapeCodeCommits, CommitByMode) {
    const ShapeCase& c = GetParam();
    set([&](Settings& s) {
        s.fourCode = c.fourCode;
        s.quanPin = false;
        s.emptyClean = c.emptyClean;
        s.zFullSpell = c.zFullSpell;
    });
    start();
    session->typeScript(c.script);
    EXPECT_EQ(committed(), c.committed) << c.script;
    EXPECT_EQ(marked(), c.marked) << c.script;
}

const ShapeCase kShapeCases[] = {
    {"FifthKeyCommitsThePreviousCode", 2, false, false, "aaaab", "工", "b"},
    {"FourKeysWithOneCandidateCommitAtOnce", 1, false, false, "bbbb", "孑", ""},
    {"FourKeysWithTwoCandidatesWait", 1, false, false, "aaaa", "", "aaaa"},
    {"EmptyCodeCommitsThePreviousFirst", 3, false, false, "aab", "式", "b"},
    {"UniqueCandidateWithoutLongerCodeCommits", 4, false, false, "c", "又", ""},
    {"UniqueCandidateWithLongerCodeWaits", 4, false, false, "b", "", "b"},
    {"LeadingZIsNeverCommitted", 1, false, true, "zzzz", "", "zzzz"},
    {"FourKeysWithoutCandidatesAreCleared", 1, true, false, "dddd", "", ""},
    {"OverlongCodeWithoutCandidatesIsCleared", 2, true, false, "ddddd", "", ""},
    {"OverlongCodeWithoutCandidatesStaysWithoutEmptyClean", 2, false, false, "ddddd", "", "ddddd"},
};

INSTANTIATE_TEST_SUITE_P(Cases, ShapeCodeCommits, ::testing::ValuesIn(kShapeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- lifecycle -------------------------------------------------------------

struct SilenceCase {
    const char* name;
    std::optional<std::string> bundle;
    std::map<std::string, std::string> silenceDict;
    bool silence;
    bool english;
};

class Activation : public ControllerTest, public ::testing::WithParamInterface<SilenceCase> {};

TEST_P(Activation, SilencedApplicationsOpenInEnglish) {
    const SilenceCase& c = GetParam();
    set([&](Settings& s) {
        s.silence = c.silence;
        s.silenceDict = c.silenceDict;
    });
    start(c.bundle);
    EXPECT_EQ(controller().englishMode(), c.english);
}

const SilenceCase kSilenceCases[] = {
    {"PasswordPrompt", "com.apple.SecurityAgent", {}, true, true},
    {"PasswordPromptWithSilenceOff", "com.apple.SecurityAgent", {}, false, false},
    {"ListedExactly", "org.gnome.Terminal", {{"org.gnome.Terminal", "Terminal"}}, true, true},
    {"ListedByPattern", "com.apple.Notes", {{"^com\\.apple\\..*", "Apple"}}, true, true},
    {"PatternDoesNotMatch", "org.example.editor", {{"^com\\.apple\\..*", "Apple"}}, true, false},
    {"InvalidPatternMatchesNothing", "org.example.editor", {{"([", "broken"}}, true, false},
    {"RunawayPatternGivesUp", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab",
     {{"^(a+)+$", "slow"}}, true, false},
    {"NoBundleIdentifier", std::nullopt, {{".*", "all"}}, true, false},
    // Desktop programs, listed as the preferences application lists a picked one.
    {"PickedProgram", "gedit", {{contract::silencePattern("gedit"), "Text Editor"}}, true, true},
    {"PickedProgramNotOneWithALongerName", "gedit-beta", {{contract::silencePattern("gedit"), "Text Editor"}},
     true, false},
    {"PickedProgramNotOneThatEndsWithIt", "xgedit", {{contract::silencePattern("gedit"), "Text Editor"}}, true,
     false},
    {"PickedProgramWithADot", "vim.basic", {{contract::silencePattern("vim.basic"), "Vim"}}, true, true},
    {"PickedProgramWithADotNotAnyCharacter", "vimxbasic", {{contract::silencePattern("vim.basic"), "Vim"}}, true,
     false},
    {"OldToolkitEntryMatchesNoProgram", "taviro-e2e-field", {{"QIBusInputContext", "Qt"}}, true, false},
};

INSTANTIATE_TEST_SUITE_P(Cases, Activation, ::testing::ValuesIn(kSilenceCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControllerTest, PersistedModeOverridesTheSilenceList) {
    set([](Settings& s) {
        s.persistedEnMode = true;
        s.silence = true;
    });
    defaults.setBool("EnMode", false);
    start(std::string("com.apple.SecurityAgent"));
    EXPECT_FALSE(controller().englishMode());
    defaults.setBool("EnMode", true);
    session->replaceClient(std::string("org.example.other"));
    EXPECT_TRUE(controller().englishMode());
}

TEST_F(ControllerTest, DeactivationDropsTheCompositionAndFlushesStatistics) {
    set([](Settings& s) { s.keyLogger = true; });
    start();
    session->typeScript("nihao");
    auto& c = client();
    session->server().focusOut(c);
    EXPECT_EQ(c.committedText(), "");
    EXPECT_EQ(c.markedText(), "");
    EXPECT_EQ(engine.inputBuffer(), "");
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(statsWrites, (std::vector<std::string>{"Char+0", "Key+5"}));
}

TEST_F(ControllerTest, TheLastActivatedControllerFeedsTheWindow) {
    start(std::string("org.example.one"));
    auto second = std::make_unique<plat::ScriptedClient>(std::string("org.example.two"));
    session->server().focusIn(*second);
    EXPECT_EQ(window().delegate(),
              dynamic_cast<CandidateWindowDelegate*>(&session->server().controllerFor(*second)));
    session->server().removeClient(*second);
    EXPECT_EQ(window().delegate(), nullptr);  // a freed controller is never asked
    session->server().focusIn(client());
    EXPECT_EQ(window().delegate(), &controller());
}

} // namespace
} // namespace taviro::test
