// Every commit ends the composition a field draws. A GTK 3 field keeps the
// preedit it was last sent until it is told otherwise (Qt drops it by itself
// on a commit): both fields side by side on a private X server, typed into
// through their toolkits' IBus modules, and a bare IBus client without one.
#include "e2e/PrivateDesktop.h"

#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace {

using namespace taviro::e2e;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A candidate: no letter of the pinyin. Equal-weight candidates may come in
// either order, so which one a digit or a shift tap picks is not pinned.
const char* const kCandidate = "[^a-zA-Z]+";

// A field program and what it last said it holds and draws.
struct Field {
    Child process;
    std::string title;
    std::string text, preedit;
    bool focused = false;

    // Reads the field's lines until `done` holds for what it then shows.
    bool waitUntil(const std::function<bool(const Field&)>& done, Clock::duration timeout = 5s) {
        if (done(*this)) return true;
        return process
            .waitForLine(
                [&](const std::string& line) {
                    if (line.rfind("TEXT ", 0) == 0) text = line.substr(5);
                    else if (line.rfind("PREEDIT ", 0) == 0) preedit = line.substr(8);
                    else if (line == "FOCUS in") focused = true;
                    else if (line == "FOCUS out") focused = false;
                    return done(*this);
                },
                timeout)
            .has_value();
    }

    // Takes in what the field has said so far (for a short while).
    void catchUp() {
        waitUntil([](const Field&) { return false; }, 200ms);
    }

    std::string shows() const {
        std::string said;
        for (const auto& line : process.lines()) said += line + "|";
        return "text \"" + text + "\", preedit \"" + preedit + "\" (it said: " + said + ")";
    }
};

struct FieldKind {
    const char* name;
    const char* program;
};

void PrintTo(const FieldKind& kind, std::ostream* out) { *out << kind.name; }

// The Qt field and the GTK field on one display; the parameter says which
// one is typed into first.
class FieldsSideBySide : public X11Desktop, public ::testing::WithParamInterface<FieldKind> {
protected:
    void SetUp() override {
        startDesktop("e2e-preedit");
        if (IsSkipped() || HasFatalFailure()) return;
        ::setenv("QT_IM_MODULE", "ibus", 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        ::setenv("GTK_IM_MODULE", "ibus", 1);
        // The GTK field first: the Qt field takes the focus as it starts.
        const bool gtkTyped = GetParam().program == std::string("taviro-e2e-gtk-field");
        Field& gtk = gtkTyped ? typed_ : other_;
        Field& qt = gtkTyped ? other_ : typed_;
        start(gtk, "taviro-e2e-gtk-field");
        start(qt, "taviro-e2e-field");
        ASSERT_TRUE(qt.waitUntil([](const Field& f) { return f.focused; }, 10s)) << "the Qt field never took the focus";
        focus(typed_);
        selectEngine();
    }

    void start(Field& field, const std::string& program) {
        field.title = program;
        field.process = Child({std::string(TAVIRO_BIN_DIR) + "/" + program}, "", errFile_);
        ASSERT_TRUE(field.process.waitForLine([](const std::string& l) { return l == "READY"; }, 10s))
            << program << " did not start";
    }

    void TearDown() override {
        typed_.process.stop();
        other_.process.stop();
        stopDesktop();
        for (const char* v : {"QT_IM_MODULE", "GTK_IM_MODULE"}) ::unsetenv(v);
    }

    void focus(Field& field) {
        field.catchUp();
        // Only the window on screen: GTK's hidden leader window has the same name.
        ASSERT_TRUE(runProgram({"xdotool", "search", "--all", "--onlyvisible", "--pid",
                                std::to_string(field.process.pid()), "--name", field.title, "windowfocus", "--sync"},
                               errFile_));
        ASSERT_TRUE(field.waitUntil([](const Field& f) { return f.focused; })) << field.title << " never got the focus";
    }

    Field typed_, other_;
};

struct CommitStep {
    const char* how;
    std::vector<std::string> keys;
    const char* added;  // what the commit adds to the field, a pattern
};

TEST_P(FieldsSideBySide, EveryCommitLeavesTheCommittedTextAndNoPreedit) {
    const std::vector<CommitStep> steps{
        {"space", {"w", "o", "m", "e", "n", "space"}, "我们"},
        {"digit", {"s", "h", "i", "3"}, kCandidate},
        {"punctuation", {"n", "i", "h", "a", "o", "exclam"}, "你好！"},
        {"return", {"h", "a", "o", "Return"}, "hao"},
        {"shift tap", {"n", "i", "Shift_L"}, kCandidate},
        {"guide key", {"n", "i", "h", "a", "o", "semicolon"}, kCandidate},
    };
    for (const auto& step : steps) {
        const std::string before = typed_.text;
        const std::regex added(step.added);
        keys(step.keys);
        const bool committed = typed_.waitUntil([&](const Field& f) {
            return f.preedit.empty() && f.text.size() > before.size() && f.text.rfind(before, 0) == 0 &&
                   std::regex_match(f.text.substr(before.size()), added);
        });
        EXPECT_TRUE(committed) << "after a commit by " << step.how << " the " << GetParam().name
                               << " field holds and draws " << typed_.shows();

        // The letters that may look left over are gone: Backspace takes the
        // last committed character and nothing else.
        if (step.how == std::string("space")) {
            const std::string committed = typed_.text;
            keys({"BackSpace"});
            EXPECT_TRUE(typed_.waitUntil([&](const Field& f) { return f.text == "我" && f.preedit.empty(); }))
                << "Backspace after " << committed << " left " << typed_.shows();
        }
    }

    // A focus change ends the composition too: nothing of it stays drawn in
    // the field it left, and the field it went to starts clean.
    const std::string committed = typed_.text;
    keys({"n", "i"});
    ASSERT_TRUE(typed_.waitUntil([](const Field& f) { return f.preedit == "ni"; })) << typed_.shows();
    focus(other_);
    EXPECT_TRUE(typed_.waitUntil([](const Field& f) { return f.preedit.empty(); }))
        << "the field left behind still draws " << typed_.shows();
    keys({"n", "i", "h", "a", "o", "space"});
    EXPECT_TRUE(other_.waitUntil([](const Field& f) { return f.text == "你好" && f.preedit.empty(); }))
        << "the other field holds and draws " << other_.shows();
    EXPECT_EQ(typed_.text, committed);
}

INSTANTIATE_TEST_SUITE_P(Toolkits, FieldsSideBySide,
                         ::testing::Values(FieldKind{"GTK 3", "taviro-e2e-gtk-field"},
                                           FieldKind{"Qt", "taviro-e2e-field"}),
                         [](const auto& info) { return std::string(info.param.name) == "Qt" ? "Qt" : "Gtk3"; });

// A bare client keeps what it was sent, as GTK does: after every commit the
// preedit it holds is empty.
TEST_F(HeadlessEndToEnd, EveryCommitLeavesTheClientWithoutAPreedit) {
    ASSERT_TRUE(typeNihao()) << "no lookup table with 你好; daemon log:\n" << daemonLog();
    struct Step {
        const char* how;
        std::vector<std::pair<std::string, int>> keys;
        const char* commit;  // a pattern
    };
    const std::vector<Step> steps{
        {"space", {}, "你好"},
        {"digit", {{"s", 31}, {"h", 35}, {"i", 23}, {"3", 4}}, kCandidate},
        {"return", {{"h", 35}, {"a", 30}, {"o", 24}, {"Return", 28}}, "hao"},
    };
    for (const auto& step : steps) {
        ASSERT_TRUE(keys(step.keys));
        // The lines of the last key, up to its answer.
        const auto& lines = client_.lines();
        std::optional<std::string> commit, preedit;
        for (const auto& line : lines) {
            if (line.rfind("COMMIT ", 0) == 0) commit = line.substr(7);
            if (line.rfind("PREEDIT ", 0) == 0) preedit = line.substr(8);
        }
        EXPECT_TRUE(commit && std::regex_match(*commit, std::regex(step.commit)))
            << step.how << " committed " << commit.value_or("nothing");
        EXPECT_EQ(preedit, "") << "after a commit by " << step.how << " the client still holds that preedit";
    }
}

} // namespace
