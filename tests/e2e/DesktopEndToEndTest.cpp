// TaviroMac2 on a private X server and a private IBus daemon, typed into by
// the X server's keys through a real Qt text field and Qt's IBus module.
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"
#include "SharedLib/contract/ApplicationName.h"
#include "e2e/PrivateDesktop.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace taviro::e2e;
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class DesktopEndToEnd : public X11Desktop {
protected:
    void SetUp() override {
        startDesktop("e2e");
        if (IsSkipped() || HasFatalFailure()) return;

        // The text field with Qt's IBus module.
        ::setenv("QT_IM_MODULE", "ibus", 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        field_ = Child({std::string(TAVIRO_BIN_DIR) + "/taviro-e2e-field"}, "", errFile_);
        ASSERT_TRUE(field_.waitForLine([](const std::string& l) { return l == "READY"; }, 10s));
        ASSERT_TRUE(caret(10s)) << "the field never reported its caret";
        selectEngine();
    }

    void TearDown() override {
        field_.stop();
        stopDesktop();
        ::unsetenv("QT_IM_MODULE");
    }

    // The field's last text, after waiting for one that satisfies `match`.
    std::optional<std::string> waitForText(const std::function<bool(const std::string&)>& match,
                                           Clock::duration timeout = 10s) {
        auto line = field_.waitForLine(
            [&](const std::string& l) { return l.rfind("TEXT ", 0) == 0 && match(l.substr(5)); }, timeout);
        if (!line) return std::nullopt;
        return line->substr(5);
    }

    std::optional<Rect> caret(Clock::duration timeout) {
        std::optional<Rect> last;
        field_.waitForLine(
            [&](const std::string& l) {
                Rect r;
                if (std::sscanf(l.c_str(), "CARET %d %d %d %d", &r.x, &r.y, &r.w, &r.h) == 4) {
                    last = r;
                    return true;
                }
                return false;
            },
            timeout);
        return last;
    }

    // Composes "ni" and escapes until the window it shows matches (commands
    // reach the input method a little later); the last window seen.
    std::optional<Rect> windowOnceItIs(const std::function<bool(const Rect&)>& match) {
        const auto until = Clock::now() + 10s;
        std::optional<Rect> window;
        while (Clock::now() < until) {
            keys({"n", "i"});
            window = candidateWindow();
            keys({"Escape"});
            if (window && match(*window)) break;
            std::this_thread::sleep_for(200ms);
        }
        return window;
    }

    // The latest caret the field reported.
    std::optional<Rect> lastCaret() {
        field_.waitForLine([](const std::string&) { return false; }, 300ms);
        std::optional<Rect> last;
        for (const auto& l : field_.lines()) {
            Rect r;
            if (std::sscanf(l.c_str(), "CARET %d %d %d %d", &r.x, &r.y, &r.w, &r.h) == 4) last = r;
        }
        return last;
    }

    // The tallest column, and the field's left end moved to x 880 with its
    // line in the middle of the 800-pixel screen.
    void tallColumnAndTheFieldAtTheRight() {
        ASSERT_TRUE(runProgram({std::string(TAVIRO_BIN_DIR) + "/taviro-e2e-send", "switchCandidatesPanel=竖排候选栏",
                                "setFontSize=32"},
                               errFile_));
        const auto column = windowOnceItIs([](const Rect& r) { return r.h > 500; });
        ASSERT_TRUE(column && column->h > 500) << "no tall column";
        ASSERT_TRUE(windowGone());
        ASSERT_TRUE(runProgram({"xdotool", "search", "--all", "--pid", std::to_string(field_.pid()), "--name",
                                "taviro-e2e-field", "windowmove", "--sync", "880", "390"},
                               errFile_));
    }

    // Types `letters` with the caret at `start`; the window then leaves the
    // composition, from there to where the caret stands, visible, and stays
    // on the screen.
    void expectCompositionVisible(const Rect& start, const std::vector<std::string>& letters) {
        keys(letters);
        ASSERT_TRUE(candidateWindow());
        std::this_thread::sleep_for(500ms);  // the caret report after the preedit moves the window
        const auto window = candidateWindow();
        const auto end = lastCaret();
        ASSERT_TRUE(window && end);
        ASSERT_GT(end->x, start.x + 40) << "the field drew no preedit";
        const Rect composition{start.x, end->y, end->x + end->w - start.x, end->h};
        const bool apart = window->x + window->w <= composition.x || window->x >= composition.x + composition.w ||
                           window->y + window->h <= composition.y || window->y >= composition.y + composition.h;
        EXPECT_TRUE(apart) << "the window (" << window->x << "," << window->y << " " << window->w << "x"
                           << window->h << ") covers the composition from x " << composition.x << " to "
                           << composition.x + composition.w;
        EXPECT_GE(window->x, 0);
        EXPECT_LE(window->x + window->w, 1280);
        keys({"Escape"});
    }

    Child field_;
};

TEST_F(DesktopEndToEnd, PinyinTypedIntoAQtFieldLandsAsChineseWithTheCandidateWindowUnderTheCaret) {
    keys({"n", "i", "h", "a", "o"});
    auto window = candidateWindow();
    ASSERT_TRUE(window) << "no candidate window while composing";
    auto at = lastCaret();
    ASSERT_TRUE(at);
    // Just below the caret's line, its first cell's text near the caret
    // (the window's left padding lies a little left of it).
    EXPECT_GE(window->x, at->x - 40);
    EXPECT_LE(window->x, at->x + 4);
    EXPECT_GE(window->y, at->y + at->h);
    EXPECT_LE(window->y, at->y + at->h + 30);

    keys({"space"});
    EXPECT_TRUE(waitForText([](const std::string& t) { return t == "你好"; }))
        << "the field never showed 你好";
    EXPECT_FALSE(candidateWindow(300ms)) << "the window stays after the commit";
}

TEST_F(DesktopEndToEnd, CommandOverTheChannelReachesTheRunningInputMethod) {
    // The horizontal window is one row; the vertical one a row per candidate.
    keys({"n", "i"});
    auto before = candidateWindow();
    ASSERT_TRUE(before);
    EXPECT_GT(before->w, before->h);
    keys({"Escape"});

    ASSERT_TRUE(runProgram({std::string(TAVIRO_BIN_DIR) + "/taviro-e2e-send", "switchCandidatesPanel=竖排候选栏"},
                           errFile_));
    // The next composition shows the new window.
    const auto after = windowOnceItIs([&](const Rect& r) { return r.h > 3 * before->h; });
    ASSERT_TRUE(after);
    EXPECT_GT(after->h, 3 * before->h) << "the window did not switch to the vertical layout";
}

// IBus tells only the caret, which moves along the preedit: the tallest
// column, with the field at the right edge in the middle of the screen,
// fits neither above nor below nor right of the caret and stands left of
// where the composition began, so that what was typed stays visible.
TEST_F(DesktopEndToEnd, TallColumnAtTheRightEdgeLeavesTheCompositionVisible) {
    ASSERT_NO_FATAL_FAILURE(tallColumnAndTheFieldAtTheRight());
    // A space passes through and moves the caret, which Qt then reports.
    keys({"space"});
    ASSERT_TRUE(waitForText([](const std::string& t) { return t == " "; }));
    const auto start = lastCaret();
    ASSERT_TRUE(start);
    ASSERT_GT(start->x, 850);
    expectCompositionVisible(*start, {"z", "h", "o", "n", "g", "h", "u", "a", "r", "e", "n", "m", "i", "n"});
}

// Qt reports the caret only when it moves in the field, not when the field's
// window moves: the first composition after the move begins where the caret
// was heard before it. The column still leaves the composition visible.
TEST_F(DesktopEndToEnd, FirstCompositionAfterTheFieldMovedStaysVisible) {
    ASSERT_NO_FATAL_FAILURE(tallColumnAndTheFieldAtTheRight());
    // The field itself sees its caret move with the window (the input
    // method does not): there the composition begins.
    std::optional<Rect> start;
    field_.waitForLine(
        [&](const std::string& l) {
            Rect r;
            if (std::sscanf(l.c_str(), "CARET %d %d %d %d", &r.x, &r.y, &r.w, &r.h) != 4 || r.x < 850) return false;
            start = r;
            return true;
        },
        5s);
    ASSERT_TRUE(start) << "the field never moved";
    expectCompositionVisible(*start, {"z", "h", "o", "n", "g", "h", "u", "a", "r", "e", "n", "m", "i", "n", "g", "o",
                                      "n", "g", "h", "e", "g", "u", "o"});
}

TEST_F(DesktopEndToEnd, SenderKilledInTheMiddleOfADatabaseChangeReleasesTheInputMethod) {
    Child sender({std::string(TAVIRO_BIN_DIR) + "/taviro-e2e-send", "--stay", "okToUse=false", "closeDatabase"}, "",
                 errFile_);
    ASSERT_TRUE(sender.waitForLine([](const std::string& l) { return l == "SENT"; }, 10s));
    std::this_thread::sleep_for(300ms);
    // While the preferences application works, nothing is committed.
    keys({"n", "i", "h", "a", "o", "space"});
    EXPECT_FALSE(waitForText([](const std::string& t) { return t.find("你好") != std::string::npos; }, 1s));
    keys({"Escape"});

    // Killed in the middle: the input method reopens and types again.
    sender.kill(SIGKILL);
    sender.stop();
    const auto until = Clock::now() + 10s;
    bool typed = false;
    while (!typed && Clock::now() < until) {
        keys({"n", "i", "h", "a", "o", "space"});
        typed = waitForText([](const std::string& t) { return t.find("你好") != std::string::npos; }, 1500ms)
                    .has_value();
        if (!typed) keys({"Escape"});
    }
    EXPECT_TRUE(typed) << "still locked after the sender went away";
}

} // namespace

namespace {

// A guide button that types a pair of brackets and steps back into them: the
// step is a left-arrow press and release forwarded to the field.
TEST_F(DesktopEndToEnd, CaretCommandReachesTheFieldAsAForwardedArrowKey) {
    keys({"semicolon", "h"});
    ASSERT_TRUE(waitForText([](const std::string& t) { return t == "《》"; })) << "the guide button typed nothing: " << [&] {
        std::string all;
        for (const auto& l : field_.lines()) all += l + "|";
        return all;
    }();
    keys({"n", "i", "h", "a", "o", "space"});
    EXPECT_TRUE(waitForText([](const std::string& t) { return t == "《你好》"; }))
        << "the caret did not move back between the brackets";
}

} // namespace

namespace {

class DesktopClients : public DesktopEndToEnd {};

// Control shortcuts reach the field while the engine types Chinese: select
// all, copy and paste work on what was typed, and a shortcut in the middle
// of a composition drops it instead of typing its letter.
TEST_F(DesktopClients, ControlShortcutsReachTheFieldAndNeverCompose) {
    keys({"n", "i", "h", "a", "o", "space"});
    ASSERT_TRUE(waitForText([](const std::string& t) { return t == "你好"; })) << "the field never showed 你好";

    keys({"ctrl+a"});
    EXPECT_FALSE(candidateWindow(700ms)) << "Control+A opened a composition";
    keys({"ctrl+c"});
    EXPECT_FALSE(candidateWindow(300ms)) << "Control+C opened a composition";
    keys({"End", "ctrl+v"});
    EXPECT_TRUE(waitForText([](const std::string& t) { return t == "你好你好"; }))
        << "select all, copy and paste did not reach the field; its last lines: " << [&] {
               std::string all;
               for (const auto& l : field_.lines()) all += l + "|";
               return all;
           }();

    keys({"n", "i"});
    ASSERT_TRUE(candidateWindow()) << "no composition for ni";
    keys({"ctrl+c"});
    EXPECT_TRUE(windowGone()) << "Control+C joined the composition";
    keys({"h", "a", "o", "space"});
    EXPECT_TRUE(waitForText([](const std::string& t) { return t == "你好你好好"; }))
        << "the composition after Control+C was not a fresh one";
}

// Two programs under the real daemon, one of them on the silence list as the
// preferences application lists a picked program: the silenced one gets the
// letters typed, the other still composes Chinese.
TEST_F(DesktopClients, SilenceListNamesOneProgramAndNoOther) {
    const fs::path quiet = dir_ / "quiet-field";
    fs::create_symlink(std::string(TAVIRO_BIN_DIR) + "/taviro-e2e-field", quiet);
    const fs::path perUser = plat::Paths::perUserFolder();
    fs::create_directories(perUser);
    ASSERT_TRUE(plat::writePlistFile(perUser / "silence.plist",
                                     plat::stringMapToPlist({{contract::silencePattern("quiet-field"), "Quiet"}})));
    auto config = plat::readPlistFile(perUser / "config.plist").value_or(plat::PlistValue::dictionary());
    if (!config.isDictionary()) config = plat::PlistValue::dictionary();
    config.mutableDictionary()["Silence"] = plat::PlistValue(true);
    ASSERT_TRUE(plat::writePlistFile(perUser / "config.plist", config));
    ASSERT_TRUE(runProgram({std::string(TAVIRO_BIN_DIR) + "/taviro-e2e-send", "configNeedsReload"}, errFile_));

    // The silenced program takes the focus as it starts.
    Child quietField({quiet.string()}, "", errFile_);
    ASSERT_TRUE(quietField.waitForLine([](const std::string& l) { return l == "READY"; }, 10s));
    std::this_thread::sleep_for(300ms);
    keys({"n", "i", "h", "a", "o"});
    EXPECT_TRUE(quietField.waitForLine([](const std::string& l) { return l == "TEXT nihao"; }, 10s))
        << "the silenced program did not get the letters";
    EXPECT_FALSE(candidateWindow(300ms)) << "the silenced program composes";

    // Back to the first program: it composes.
    ASSERT_TRUE(runProgram({"xdotool", "search", "--all", "--pid", std::to_string(field_.pid()), "--name",
                            "taviro-e2e-field", "windowfocus", "--sync"},
                           errFile_));
    std::this_thread::sleep_for(300ms);
    keys({"n", "i", "h", "a", "o"});
    EXPECT_TRUE(candidateWindow()) << "the program that is not on the list does not compose";
    keys({"space"});
    EXPECT_TRUE(waitForText([](const std::string& t) { return t == "你好"; }))
        << "the program that is not on the list did not get Chinese";
}

} // namespace

namespace {

TEST_F(HeadlessEndToEnd, PinyinTypedWithoutADisplayIsCommittedAndItsCandidatesGoToTheLookupTable) {
    auto table = typeNihao();
    ASSERT_TRUE(table) << "no lookup table with 你好; daemon log:\n" << daemonLog();
    // The page of our window: numbered labels, the first highlighted.
    EXPECT_EQ(table->rfind("TABLE 0 1:你好", 0), 0u) << *table;
    EXPECT_NE(table->find(" 2:"), std::string::npos) << *table;
    EXPECT_TRUE(waitFor("COMMIT 你好")) << "never committed";
    EXPECT_TRUE(waitFor("HIDE-TABLE")) << "the table stays after the commit";
    const std::string log = daemonLog();
    EXPECT_NE(log.find("candidates in the desktop's IBus panel (Qt platform offscreen"), std::string::npos) << log;
}

TEST_F(HeadlessEndToEnd, IdleEngineSleeps) {
    ASSERT_TRUE(typeNihao());
    ASSERT_TRUE(waitFor("COMMIT 你好"));
    const pid_t pid = enginePid();
    ASSERT_GT(pid, 0) << "no engine process under the daemon";
    // Let the status hint and whatever the commit started settle.
    std::this_thread::sleep_for(1500ms);
    const long before = wakeUps(pid);
    std::this_thread::sleep_for(2s);
    const long woken = wakeUps(pid) - before;
    // The 2-second version check wakes it once; a polling timer would wake
    // it dozens of times.
    EXPECT_LE(woken, 5) << "the idle engine woke " << woken << " times in 2 s";
}

} // namespace
