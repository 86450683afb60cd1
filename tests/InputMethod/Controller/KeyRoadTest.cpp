#include "ControllerFixture.h"
#include "Platform/InputMethodKit/IBusKeyMap.h"

namespace taviro::test {
namespace {

struct RoadCase {
    const char* name;
    const char* script;
    std::function<void(Settings&)> settings;
    const char* committed;
    const char* marked;
};

class KeyRoad : public ControllerTest, public ::testing::WithParamInterface<RoadCase> {};

TEST_P(KeyRoad, TypesWhatTheRoadSays) {
    const RoadCase& c = GetParam();
    if (c.settings) set(c.settings);
    start();
    ASSERT_TRUE(session->typeScript(c.script)) << c.script;
    EXPECT_EQ(committed(), c.committed) << c.script;
    EXPECT_EQ(marked(), c.marked) << c.script;
}

const RoadCase kRoadCases[] = {
    {"SpaceCommitsTheHighlight", "ni ", nullptr, "你", ""},
    {"DigitSelects", "ni2", nullptr, "尼", ""},
    {"DigitBeyondThePageJoinsTheCode", "ni9", nullptr, "", "ni9"},
    {"PageDownThenDigit", "ni{PageDown}1", nullptr, "逆", ""},
    {"PageUpOnFirstPageStays", "ni{PageUp}1", nullptr, "你", ""},
    {"PeriodPagesForward", "ni.1", nullptr, "逆", ""},
    {"CommaPagesBack", "ni.,1", nullptr, "你", ""},
    {"PeriodWithoutDjPageIsPunctuation", "ni.", [](Settings& s) { s.djPage = false; }, "你。", ""},
    {"BracketsPageWithKhPage", "ni]2", [](Settings& s) { s.khPage = true; }, "倪", ""},
    {"TabPagesWithTabPage", "ni{Tab}{S-Tab}2", [](Settings& s) { s.tabPage = true; }, "尼", ""},
    {"RightArrowMovesTheHighlight", "ni{Right}{Right} ", nullptr, "泥", ""},
    {"RightArrowAtPageEndTurnsThePage", "ni{Right}{Right}{Right}{Right}{Right} ", nullptr, "逆", ""},
    {"LeftArrowAtPageStartGoesBack", "ni{PageDown}{Left} ", nullptr, "妮", ""},
    {"PageTurnOntoAShorterPageCommitsItsFirst", "ni{Right}{Right}{Right}{PageDown} ", nullptr, "逆", ""},
    // A letter after a page turn joins the code; only after "." turned the page
    // does the "." join it first.
    {"LetterAfterPageDownJoinsTheCode", "ni{PageDown}h ", nullptr, "nih", ""},
    {"LetterAfterTabPageJoinsTheCode", "ni{Tab}h ", [](Settings& s) { s.tabPage = true; }, "nih", ""},
    {"LetterAfterBracketPageJoinsTheCode", "ni]h ", [](Settings& s) { s.khPage = true; }, "nih", ""},
    {"LetterAfterEqualsPageJoinsTheCode", "ni=h ", [](Settings& s) { s.jdPage = true; }, "nih", ""},
    {"LetterAfterArrowPageJoinsTheCode", "ni{Right}{Right}{Right}{Right}{Right}h ", nullptr, "nih", ""},
    {"LetterAfterPeriodPageJoinsWithThePeriod", "ni.h ", nullptr, "ni.h", ""},
    {"LetterAfterPeriodThenPageDownJoinsTheCode", "ni.{PageUp}{PageDown}h ", nullptr, "nih", ""},
    {"SemicolonSelectsTheSecond", "ni;", [](Settings& s) { s.quanPin = false; }, "尼", ""},
    {"ApostropheSelectsTheThird", "ni'", [](Settings& s) { s.quanPin = false; }, "泥", ""},
    {"ApostropheSeparatesSyllablesInFullPinyin", "ni'", nullptr, "", "ni'"},
    {"SemicolonWithoutSecondSelection", "ni;", [](Settings& s) { s.closeBootButtonSecond = true; }, "你；",
     ""},
    {"PunctuationCommitsThenMaps", "ni!", nullptr, "你！", ""},
    {"PunctuationAsciiWhenForced", "ni!", [](Settings& s) { s.forceEngComma = true; }, "你!", ""},
    {"PunctuationAlone", "?", nullptr, "？", ""},
    {"DigitThenPeriodStaysAscii", "2.", nullptr, "2.", ""},
    {"SecondPeriodIsMapped", "2..", nullptr, "2.。", ""},
    {"DoubleQuotesPair", "\"\"\"", nullptr, "“”“", ""},
    {"SingleQuotesPairWithoutGuideKeys", "''", [](Settings& s) { s.disableBootButton = true; }, "‘’", ""},
    {"ClosingQuoteCommitsTheWordFirst", "\"ni\"", nullptr, "“你”", ""},
    {"ClosingSingleQuoteCommitsTheWordFirst", "'ni'", [](Settings& s) { s.disableBootButton = true; }, "‘你’", ""},
    {"DigitOutputCommitsTheWordFirst", "ni{C-1}", [](Settings& s) { s.userDict = false; }, "你1", ""},
    {"DeleteRemovesTheLastKey", "ni{BS}", nullptr, "", "n"},
    {"ControlHRemovesTheLastKey", "ni{C-h}", nullptr, "", "n"},
    {"EscapeDropsTheComposition", "ni{Esc}", nullptr, "", ""},
    {"ReturnCommitsTheKeys", "ni{Return}", nullptr, "ni", ""},
    {"ReturnUpperCases", "ni{Return}", [](Settings& s) { s.lockUpperCase = true; }, "NI", ""},
    {"ReturnUpperCasesKeysWithoutCandidates", "ab{Return}", [](Settings& s) { s.lockUpperCase = true; }, "AB",
     ""},
    {"SpaceCleanDropsAnUnknownCode", "ab ", [](Settings& s) { s.spaceClean = true; }, "", ""},
    {"SpaceCommitsAnUnknownCodeRaw", "ab ", nullptr, "ab", ""},
    {"HomeIsSwallowedWhileCandidatesShow", "ni{Home} ", nullptr, "你", ""},
    {"PartialSelectionLeavesTheRest", "nihao2 ", nullptr, "你好", ""},
    {"ExtraCodeJoinsTheComposition", "ni/", [](Settings& s) { s.extraCode = "/"; }, "", "ni/"},
    {"BufferDisplayModeTwo", "nihao", [](Settings& s) { s.bufferDisplayMode = 2; }, "", "ni'ha'o"},
    {"BufferDisplayModeOne", "nihao", [](Settings& s) { s.bufferDisplayMode = 1; }, "", "<nihao>"},
    {"BufferDisplayModeUnknownShowsNothing", "nihao", [](Settings& s) { s.bufferDisplayMode = 3; }, "", ""},
};

INSTANTIATE_TEST_SUITE_P(Cases, KeyRoad, ::testing::ValuesIn(kRoadCases),
                         [](const auto& info) { return std::string(info.param.name); });

// With a "." already in the code, "." joins it instead of paging.
TEST_F(ControllerTest, PeriodJoinsACodeThatHoldsOne) {
    engine.table["ni.h"] = records("ni.h", {"a", "b", "c", "d", "e", "f", "g"});
    start();
    session->typeScript("ni.h");
    ASSERT_TRUE(window().isVisible());
    session->typeScript(".");
    EXPECT_EQ(marked(), "ni.h.");
    EXPECT_EQ(window().currentPage(), 0);
}

// A composition stops taking keys at its limit; the keys past it go nowhere, and the
// user is told once each time it fills up.
TEST_F(ControllerTest, CompositionStopsAtItsLimit) {
    start();
    const std::string full(TaviroController::kMaxCompositionKeys, 'a');
    session->typeScript(full);
    EXPECT_EQ(engine.inputBuffer(), full);
    EXPECT_TRUE(notices->posted.empty());
    session->typeScript("bcd9.");
    EXPECT_EQ(engine.inputBuffer(), full);
    EXPECT_EQ(marked(), full);
    EXPECT_EQ(committed(), "");
    ASSERT_EQ(notices->posted.size(), 1u);
    EXPECT_EQ(notices->posted[0].rfind(TaviroController::kBufferFullTitle, 0), 0u);
    session->typeScript("{BS}b");
    EXPECT_EQ(engine.inputBuffer(), full.substr(1) + "b");
    EXPECT_EQ(notices->posted.size(), 1u);
    session->typeScript("cc");  // full again
    EXPECT_EQ(notices->posted.size(), 2u);
    session->typeScript(" ");
    EXPECT_EQ(committed(), full.substr(1) + "b");
    session->typeScript("ni");
    EXPECT_EQ(notices->posted.size(), 2u);
}

TEST_F(ControllerTest, LockUpperCaseAlsoShapesTheMarkedText) {
    // With "LockUpperCase" the marked text shows upper case; Return commits it so.
    set([](Settings& s) { s.lockUpperCase = true; });
    start();
    session->typeScript("ni");
    EXPECT_EQ(marked(), "NI");
    session->typeScript("{Return}");
    EXPECT_EQ(committed(), "NI");
}

TEST_F(ControllerTest, VerticalWindowMovesWithDownAndPagesWithRight) {
    vertical = true;
    start();
    session->typeScript("ni{Down}{Down} ");
    EXPECT_EQ(committed(), "泥");
    session->typeScript("ni{Right} ");
    EXPECT_EQ(committed(), "泥逆");
}

TEST_F(ControllerTest, ControlDigitForgetsTheWord) {
    start();
    session->typeScript("ni{C-1}");
    session->typeScript("{C-0}");
    EXPECT_EQ(engine.log, (std::vector<std::string>{"forget:0", "forget:9"}));
    EXPECT_EQ(session->services().calls(), (std::vector<std::string>{"sound:Frog", "sound:Frog"}));
    EXPECT_EQ(marked(), "ni");
}

TEST_F(ControllerTest, ModifierFilterPassesShortcutsAndCapsLock) {
    start();
    session->typeScript("ni");
    struct Case {
        std::uint64_t flags;
        bool handled;
    };
    const Case cases[] = {
        {plat::ModifierFlag::command, false},
        {plat::ModifierFlag::capsLock, false},
        {plat::ModifierFlag::option, false},
        {plat::ModifierFlag::shift | plat::ModifierFlag::control, false},
    };
    for (const auto& c : cases) {
        plat::KeyTransition key{8, true, c.flags, std::string("c")};
        EXPECT_EQ(session->server().handleKey(client(), key), c.handled) << c.flags;
        EXPECT_EQ(engine.inputBuffer(), "ni") << c.flags;
    }
    // Page keys and arrows keep working whatever their flags.
    EXPECT_TRUE(session->server().handleKey(client(), {121, true, plat::ModifierFlag::function, std::nullopt}));
    EXPECT_EQ(window().currentPage(), 1);
}

TEST_F(ControllerTest, UnhandledKeyCommitsAndPasses) {
    start();
    session->typeScript("ni");
    // A key that types a control character and is not an editing key.
    EXPECT_FALSE(session->server().handleKey(client(), {117, true, 0, std::string("\x04")}));
    EXPECT_EQ(committed(), "你");
}

TEST_F(ControllerTest, EscapeWithEmptyBufferPasses) {
    start();
    const auto steps = KeyScript::parse("{Esc}");
    EXPECT_FALSE(session->type(steps->front()));
}

TEST_F(ControllerTest, KeyUpNeverReachesTheRoad) {
    start();
    EXPECT_FALSE(session->server().handleKey(client(), {0, false, 0, std::string("a")}));
    EXPECT_EQ(engine.inputBuffer(), "");
}

TEST_F(ControllerTest, KeyEventsAreCountedWhileStatisticsAreOn) {
    set([](Settings& s) { s.keyLogger = true; });
    start();
    session->typeScript("ni{Shift}");  // two key downs, a shift press and release
    EXPECT_EQ(keyLogger->keyCount(), 4);
    set([](Settings& s) { s.keyLogger = false; });
    session->typeScript("a");
    EXPECT_EQ(keyLogger->keyCount(), 4);
}

} // namespace
} // namespace taviro::test

namespace taviro::test {
namespace {

// Control shortcuts as the desktop delivers them: IBus's keyval and state
// through the key map, control pressed around the letter.
class ControlShortcuts : public ControllerTest {
protected:
    // Control down, the key, its release, control up; whether the key was consumed.
    bool controlChord(std::uint32_t evdev, const std::string& typed) {
        namespace K = plat::ibuskeys;
        auto press = [&](std::uint32_t code, std::uint32_t state, const std::string& text) {
            const auto key = K::transition(code, state, text);
            return key && session->server().handleKey(client(), *key);
        };
        press(29, 0, "");
        const bool handled = press(evdev, K::kControlMask, typed);
        press(evdev, K::kControlMask | K::kReleaseMask, typed);
        press(29, K::kControlMask | K::kReleaseMask, "");
        return handled;
    }

    struct Shortcut {
        const char* what;
        std::uint32_t evdev;
        const char* letter;
    };
    static constexpr Shortcut kShortcuts[] = {
        {"select all", 30, "a"}, {"copy", 46, "c"}, {"paste", 47, "v"}, {"cut", 45, "x"},
        {"undo", 44, "z"},       {"save", 31, "s"}, {"find", 33, "f"},
    };
};

TEST_F(ControlShortcuts, ReachTheApplicationWithNothingComposedAndDropACompositionInEveryMode) {
    for (const bool forceQwerty : {false, true}) {
        for (const bool controlSwitches : {false, true}) {
            set([&](Settings& s) {
                s.forceQwerty = forceQwerty;
                s.controlSwitchMode = controlSwitches;
            });
            start();
            for (const auto& k : kShortcuts) {
                SCOPED_TRACE(std::string(k.what) + (forceQwerty ? " qwerty" : "") +
                             (controlSwitches ? " control switches" : ""));
                // Nothing composed: the application gets the shortcut, nothing is typed.
                EXPECT_FALSE(controlChord(k.evdev, k.letter));
                EXPECT_EQ(engine.inputBuffer(), "");
                EXPECT_EQ(marked(), "");
                EXPECT_FALSE(window().isVisible());
                // While composing "ni": the composition is dropped (as Escape
                // drops it), never extended into "nic".
                ASSERT_TRUE(session->typeScript("ni"));
                EXPECT_TRUE(controlChord(k.evdev, k.letter));
                EXPECT_EQ(engine.inputBuffer(), "");
                EXPECT_EQ(marked(), "");
                EXPECT_FALSE(window().isVisible());
                EXPECT_EQ(committed(), "");
                EXPECT_FALSE(controller().englishMode());
            }
        }
    }
}

TEST_F(ControlShortcuts, ControlHAndControlDigitKeepTheirEditingMeaning) {
    start();
    ASSERT_TRUE(session->typeScript("nih"));
    EXPECT_TRUE(controlChord(35, "h"));  // removes the last key
    EXPECT_EQ(engine.inputBuffer(), "ni");
    EXPECT_TRUE(controlChord(3, "2"));  // forgets the second candidate's word
    EXPECT_EQ(engine.log.back(), "forget:1");
    EXPECT_EQ(engine.inputBuffer(), "ni");
}

} // namespace
} // namespace taviro::test
