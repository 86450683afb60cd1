#include "ControllerFixture.h"

#include "InputMethod/SharedFunctions.h"
#include "Platform/InputMethodKit/KeyEvent.h"
#include "Platform/InputMethodKit/UsKeyboard.h"

namespace taviro::test {
namespace {

using namespace std::chrono_literals;
namespace Flag = plat::ModifierFlag;
namespace Key = plat::KeyCode;

// One thing that happens during a tap: a transition, or time passing.
struct Move {
    std::optional<plat::KeyTransition> key;
    std::chrono::milliseconds wait{0};
};
Move press(std::uint16_t code, std::uint64_t flags) { return {plat::KeyTransition{code, true, flags, std::nullopt}, 0ms}; }
Move release(std::uint16_t code, std::uint64_t flags = 0) {
    return {plat::KeyTransition{code, false, flags, std::nullopt}, 0ms};
}
Move wait(std::chrono::milliseconds ms) { return {std::nullopt, ms}; }
Move letter(char c, std::uint64_t flags) {
    return {plat::KeyTransition{plat::UsKeyboard::strokeFor(c)->keyCode, true, flags, std::string(1, c)}, 0ms};
}

struct TapCase {
    const char* name;
    std::function<void(Settings&)> settings;
    std::vector<Move> moves;
    bool toggles;
};

class ModeTaps : public ControllerTest, public ::testing::WithParamInterface<TapCase> {};

TEST_P(ModeTaps, ToggleOnlyOnAShortLoneTap) {
    const TapCase& c = GetParam();
    if (c.settings) set(c.settings);
    start();
    for (const auto& m : c.moves) {
        if (m.key) session->send(*m.key);
        if (m.wait.count()) session->driver().advance(m.wait);
    }
    EXPECT_EQ(controller().englishMode(), c.toggles);
}

const TapCase kTapCases[] = {
    {"ShiftTap", nullptr, {press(Key::shift, Flag::shift), wait(100ms), release(Key::shift)}, true},
    {"ShiftTapAtTheLimit", nullptr, {press(Key::shift, Flag::shift), wait(250ms), release(Key::shift)}, true},
    {"ShiftHeldTooLong", nullptr, {press(Key::shift, Flag::shift), wait(350ms), release(Key::shift)}, false},
    {"ShiftWithALetter",
     nullptr,
     {press(Key::shift, Flag::shift), letter('A', Flag::shift), release(Key::shift)},
     false},
    {"ShiftThenControl",
     nullptr,
     {press(Key::shift, Flag::shift), press(Key::control, Flag::shift | Flag::control),
      release(Key::control, Flag::shift), release(Key::shift)},
     false},
    {"ControlTapWhenControlSwitches",
     [](Settings& s) {
         s.controlSwitchMode = true;
         s.shiftSwitchMode = false;
     },
     {press(Key::control, Flag::control), release(Key::control)},
     true},
    {"ShiftTapWhenOnlyControlSwitches",
     [](Settings& s) {
         s.controlSwitchMode = true;
         s.shiftSwitchMode = false;
     },
     {press(Key::shift, Flag::shift), release(Key::shift)},
     false},
    {"ControlTapWhenOnlyShiftSwitches", nullptr, {press(Key::control, Flag::control), release(Key::control)}, false},
    {"NoModeKeys",
     [](Settings& s) { s.shiftSwitchMode = false; },
     {press(Key::shift, Flag::shift), release(Key::shift)},
     false},
    {"TapAfterACommandShortcut",
     nullptr,
     {letter('c', Flag::command), press(Key::shift, Flag::shift), release(Key::shift)},
     true},
    {"TapRightAfterAPassedShortcutKey",
     nullptr,
     {letter('c', Flag::command | Flag::option), press(Key::shift, Flag::shift), release(Key::shift)},
     false},
};

INSTANTIATE_TEST_SUITE_P(Cases, ModeTaps, ::testing::ValuesIn(kTapCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControllerTest, ShiftTapThatExtendsASelectionDoesNotToggle) {
    start();
    client().setText("abc");
    session->send({Key::shift, true, Flag::shift, std::nullopt});
    client().select(1, 2);  // shift-click grew the selection
    session->send({Key::shift, false, 0, std::nullopt});
    EXPECT_FALSE(controller().englishMode());
}

TEST_F(ControllerTest, ToggleCommitsTheLettersAndPassesKeysInEnglish) {
    set([](Settings& s) {
        s.persistedEnMode = true;
        s.shiftToBoot = false;
    });
    start();
    session->typeScript("nihao{Shift}");
    EXPECT_TRUE(controller().englishMode());
    EXPECT_EQ(committed(), "nihao");
    EXPECT_EQ(marked(), "");
    EXPECT_FALSE(window().isVisible());
    EXPECT_TRUE(defaults.boolForKey("EnMode"));
    EXPECT_EQ(controller().statusHint().imageName(), "en_light");
    // English mode: every key goes to the field.
    session->typeScript("ab.");
    EXPECT_EQ(committed(), "nihaoab.");
    session->typeScript("{Shift}");
    EXPECT_FALSE(controller().englishMode());
    EXPECT_FALSE(defaults.boolForKey("EnMode"));
}

TEST_F(ControllerTest, ShiftTapWithCandidatesSelectsTheSecond) {
    start();
    session->typeScript("ni{Shift}");
    EXPECT_EQ(committed(), "尼");
    EXPECT_FALSE(controller().englishMode());
    // With a single candidate the tap commits that one.
    engine.table["nin"] = records("nin", {"您"});
    session->typeScript("nin{Shift}");
    EXPECT_EQ(committed(), "尼您");
}

TEST_F(ControllerTest, StatusHintStaysUntilASecondAfterTheLastSwitch) {
    set([](Settings& s) { s.shiftToBoot = false; });
    start();
    client().setLineRect({300, 400, 1, 18});
    session->typeScript("{Shift}", 0ms);
    EXPECT_EQ(controller().statusHint().alpha(), 1.0);
    EXPECT_EQ(controller().statusHint().frame().y, 375);
    session->driver().advance(500ms);
    session->typeScript("{Shift}", 0ms);
    EXPECT_EQ(controller().statusHint().imageName(), "zhong_light");
    session->driver().advance(900ms);
    EXPECT_EQ(controller().statusHint().alpha(), 1.0);  // 1.4 s after the first
    session->driver().advance(200ms);
    EXPECT_EQ(controller().statusHint().alpha(), 0.0);
    EXPECT_EQ(controller().statusHint().shiftCount(), 0);
}

TEST(StatusHintModel, PlacementAndImages) {
    plat::MainQueue queue;
    plat::ManualDriver driver(queue);
    StatusHint::Environment env;
    env.queue = &queue;
    env.screens = [] { return std::vector<plat::TextRect>{{0, 0, 1000, 800}, {1000, 0, 1000, 800}}; };
    env.mouseLocation = [] { return plat::TextRect{50, 60, 0, 0}; };
    struct Case {
        const char* text;
        plat::TextRect caret;
        bool dark;
        const char* image;
        double x, y;
    };
    const Case cases[] = {
        {"En", {300, 400, 1, 18}, false, "en_light", 300, 375},
        {"中", {300, 400, 1, 18}, true, "zhong_dark", 300, 375},
        {"繁", {1200, 10, 1, 18}, false, "fan_light", 1200, 35},  // near the bottom: moved up
        {"简", {0, 0, 0, 0}, true, "jian_dark", 50, 23},           // no caret: follows the pointer
        {"??", {300, 400, 1, 18}, true, "jian_dark", 300, 375},    // unknown text keeps the image
    };
    StatusHint hint(env);
    plat::ScriptedClient client;
    for (const auto& c : cases) {
        client.setLineRect(c.caret);
        hint.show(c.text, &client, c.dark, false);
        EXPECT_EQ(hint.imageName(), c.image) << c.text;
        EXPECT_EQ(hint.frame().x, c.x) << c.text;
        EXPECT_EQ(hint.frame().y, c.y) << c.text;
    }
}

// The view learns of each change from the model and no timer is left once
// the hint has faded: an idle input method does not wake.
TEST(StatusHintModel, TellsEachChangeAndLeavesNoTimerBehind) {
    plat::MainQueue queue;
    plat::ManualDriver driver(queue);
    std::vector<double> told;
    StatusHint::Environment env;
    env.queue = &queue;
    env.changed = [&](const StatusHint& h) { told.push_back(h.alpha()); };
    StatusHint hint(env);
    plat::ScriptedClient client;
    client.setLineRect({300, 400, 1, 18});

    EXPECT_FALSE(queue.nextDeadline());
    hint.show("En", &client, false, false);
    EXPECT_EQ(told, (std::vector<double>{1.0}));
    driver.advance(500ms);
    hint.show("中", &client, false, false);
    driver.advance(999ms);
    EXPECT_EQ(told, (std::vector<double>{1.0, 1.0})) << "hidden before a second after the last show";
    driver.advance(1ms);
    EXPECT_EQ(told, (std::vector<double>{1.0, 1.0, 0.0}));
    EXPECT_FALSE(queue.nextDeadline()) << "a timer still runs after the hint faded";

    // Hiding what is hidden tells nothing; hiding a shown hint tells at once.
    hint.hideNow();
    EXPECT_EQ(told.size(), 3u);
    hint.show("En", &client, false, false);
    hint.hideNow();
    EXPECT_EQ(told, (std::vector<double>{1.0, 1.0, 0.0, 1.0, 0.0}));
    driver.advance(1s);
    EXPECT_EQ(told.size(), 5u);
    EXPECT_FALSE(queue.nextDeadline());
}

TEST_F(ControllerTest, VoiceOverSoundsOnlyForModeHints) {
    start();
    setVoiceOverOn(true);
    controller().showStatusHint("En");
    controller().showStatusHint("繁");
    controller().showStatusHint("中");
    setVoiceOverOn(false);
    controller().showStatusHint("En");
    EXPECT_EQ(session->services().calls(), (std::vector<std::string>{"sound:case-closed", "sound:open-ended"}));
}

} // namespace
} // namespace taviro::test
