// The silence list on the desktop: entries as the preferences application
// stores them for a picked desktop entry, matched against what the engine
// learns of a client (the focused window's process and WM_CLASS, the IBus
// client name).
#include "ControllerFixture.h"
#include "Platform/InputMethodKit/ProgramName.h"
#include "SharedLib/contract/ApplicationName.h"

namespace taviro::test {
namespace {

// A client whose application goes by these names takes the focus.
void focusApplication(TypingSession& session, const std::vector<std::string>& names) {
    auto& client = session.client();
    session.server().focusOut(client);
    client.setBundleIdentifier(names.empty() ? std::string() : names.front());
    client.setApplicationNames(names);
    session.server().focusIn(client);
}

struct Entry {
    Entry(std::string e, std::string w, std::string k = {}, std::string f = {})
        : exec(std::move(e)), startupWMClass(std::move(w)), key(std::move(k)), file(std::move(f)) {}
    std::string exec, startupWMClass;
    std::string key;   // an entry written by hand or by an earlier version
    std::string file;  // the entry's desktop-file id ("realed.desktop")
};

std::string keyOf(const Entry& e) {
    return e.key.empty() ? contract::silencePattern(contract::desktopEntryNames(e.exec, e.startupWMClass, e.file))
                         : e.key;
}

struct MatchCase {
    const char* name;
    Entry entry;
    std::vector<std::string> process;  // command line of the window's process; empty: unreadable
    std::string wmInstance, wmClass;   // the window's WM_CLASS; all three empty: no window
    std::string client;                // IBus client name
    bool silenced;
};

void PrintTo(const MatchCase& c, std::ostream* os) { *os << c.name; }

class SilenceListMatch : public ControllerTest, public ::testing::WithParamInterface<MatchCase> {};

TEST_P(SilenceListMatch, EntryOfAPickedApplicationSilencesItAndNoOther) {
    const MatchCase& c = GetParam();
    set([&](Settings& s) {
        s.silence = true;
        s.silenceDict = {{keyOf(c.entry), "Picked"}};
    });
    std::optional<plat::WindowIdentity> window;
    const std::string program = contract::programNameOfCommand(c.process);
    if (!program.empty() || !c.wmInstance.empty() || !c.wmClass.empty())
        window = plat::WindowIdentity{program, c.wmInstance, c.wmClass};
    start(std::nullopt);
    focusApplication(*session, plat::clientApplicationNames(window, c.client));
    EXPECT_EQ(controller().englishMode(), c.silenced) << "stored " << keyOf(c.entry);
}

const MatchCase kMatchCases[] = {
    {"PlainProgram", {"gedit %U", ""}, {"/usr/bin/gedit", "--new-window"}, "gedit", "Gedit", "gtk3-im:gedit", true},
    {"PlainProgramNotAnother", {"gedit %U", ""}, {"/usr/bin/kate"}, "kate", "kate", "QIBusInputContext", false},
    {"OldEntryKeepsMatching", {"", "", "^gedit$"}, {"/usr/bin/gedit"}, "gedit", "Gedit", "QIBusInputContext", true},
    // "myed" is a script that execs "realed": the entry's StartupWMClass names its windows.
    {"WrapperByItsWindowClass", {"myed %F", "realed"}, {"/opt/realed/bin/realed"}, "realed", "Realed", "xim", true},
    {"WrapperClassAlone", {"code --unity-launch %F", "Code"}, {"/usr/share/code/electron"}, "", "Code",
     "QIBusInputContext", true},
    {"WrapperClassNotAnother", {"myed %F", "realed"}, {"/usr/bin/kate"}, "kate", "kate", "QIBusInputContext", false},
    // An interpreter: the script is the program, never the interpreter.
    {"Script", {"python3 /opt/app/app.py", ""}, {"/usr/bin/python3", "-u", "/opt/app/app.py"}, "", "",
     "QIBusInputContext", true},
    {"ScriptNotAnotherScript", {"python3 /opt/app/app.py", ""}, {"python3", "/opt/other/other.py"}, "", "",
     "QIBusInputContext", false},
    {"ScriptStartedByItsShebang", {"/opt/app/app.py", ""}, {"python3", "/opt/app/app.py"}, "", "",
     "QIBusInputContext", true},
    {"OldInterpreterEntryNoLongerSilencesEveryScript", {"", "", "^python3$"}, {"python3", "/opt/other/other.py"}, "",
     "", "QIBusInputContext", false},
    {"ShellCommand", {"sh -c 'exec realed --x'", ""}, {"realed", "--x"}, "", "", "QIBusInputContext", true},
    {"ShellCommandNotAnotherShellScript", {"sh -c 'exec realed'", ""}, {"/bin/sh", "/usr/bin/other"}, "", "",
     "QIBusInputContext", false},
    {"EnvSettings", {"env GDK_BACKEND=x11 prog %U", ""}, {"/usr/bin/prog"}, "", "", "QIBusInputContext", true},
    {"FlatpakCommand", {"/usr/bin/flatpak run --branch=stable --command=gimp-2.10 org.gimp.GIMP @@u %U @@", ""}, {},
     "gimp-2.10", "Gimp-2.10", "xim", true},
    {"FlatpakApplicationId", {"flatpak run org.gnome.TextEditor %U", ""}, {}, "org.gnome.TextEditor",
     "Org.gnome.TextEditor", "gtk4-im:org.gnome.TextEditor", true},
    // What the client says of itself, when the focused window is not its own.
    {"WindowlessClientNotNamedAfterTheFocusedWindow", {"taviro-e2e-field", ""}, {"/opt/bin/taviro-e2e-field"},
     "taviro-e2e-field", "taviro-e2e-field", "taviro-e2e-raw", false},
    {"WindowlessClientByItsOwnName", {"taviro-e2e-raw", ""}, {"/opt/bin/taviro-e2e-field"}, "taviro-e2e-field",
     "taviro-e2e-field", "taviro-e2e-raw", true},
    {"GtkClientNotNamedAfterAnotherWindow", {"kate", ""}, {"/usr/bin/kate"}, "kate", "kate", "gtk3-im:gedit", false},
    {"GtkClientByItsProgramName", {"gedit", ""}, {"/usr/bin/kate"}, "kate", "kate", "gtk3-im:gedit", true},
    {"GtkClientInItsOwnWindowByItsWindowClass", {"gnome-text-editor", "org.gnome.TextEditor"},
     {"/usr/bin/gnome-text-editor"}, "org.gnome.TextEditor", "Org.gnome.TextEditor",
     "gtk4-im:org.gnome.TextEditor", true},
    {"QtClientByTheFocusedWindow", {"taviro-e2e-field", ""}, {"/opt/bin/taviro-e2e-field"}, "taviro-e2e-field",
     "taviro-e2e-field", "QIBusInputContext", true},
    // A wrapper without StartupWMClass: the entry's id names its windows, as
    // desktops compare it with WM_CLASS: the instance or the class, as it
    // stands or in ASCII lower case with blanks as '-'.
    {"WrapperByItsDesktopIdAsInstance", {"myed %F", "", "", "realed.desktop"}, {"/opt/bin/other-name"}, "realed",
     "Other-name", "xim", true},
    {"WrapperByItsDesktopIdAsClass", {"myed %F", "", "", "realed.desktop"}, {}, "main", "realed",
     "QIBusInputContext", true},
    {"WrapperByItsDesktopIdInAnotherCase", {"myed %F", "", "", "realed.desktop"}, {}, "Navigator", "Realed",
     "QIBusInputContext", true},
    {"WrapperByItsDesktopIdWithBlanks", {"myed %F", "", "", "real-ed.desktop"}, {}, "Real Ed", "Real Ed",
     "QIBusInputContext", true},
    {"DesktopIdWithCapitalsAsItStands", {"myed", "", "", "org.example.Realed.desktop"}, {}, "org.example.Realed",
     "Org.example.Realed", "xim", true},
    {"DesktopIdWithCapitalsNotInAnotherCase", {"myed", "", "", "org.example.Realed.desktop"}, {},
     "org.example.realed", "Org.example.realed", "xim", false},
    {"DesktopIdDotIsNoWildcard", {"myed", "", "", "org.example.ed.desktop"}, {}, "orgXexampleXed", "OrgXexampleXed",
     "xim", false},
    {"DesktopIdNotAnother", {"myed %F", "", "", "realed.desktop"}, {"/usr/bin/kate"}, "kate", "kate", "xim", false},
    {"DesktopIdWholeNotAPart", {"myed %F", "", "", "realed.desktop"}, {}, "realed-helper", "Realed-helper", "xim",
     false},
    {"DesktopIdNamesAGtkClientInAnotherWindow", {"myed %F", "", "", "realed.desktop"}, {"/usr/bin/kate"}, "kate",
     "kate", "gtk3-im:realed", true},
    {"DesktopIdNotAWindowlessClientsOwnWindow", {"myed %F", "", "", "realed.desktop"}, {"/opt/bin/realed"}, "realed",
     "Realed", "taviro-e2e-raw", false},
    // What earlier versions stored keeps matching as it did.
    {"OldWrapperEntryByItsClass", {"", "", "^(myed|Realed)$"}, {}, "realed", "Realed", "xim", true},
    {"OldWrapperEntryStillMissesItsId", {"", "", "^myed$"}, {}, "realed", "Realed", "xim", false},
};

INSTANTIATE_TEST_SUITE_P(Cases, SilenceListMatch, ::testing::ValuesIn(kMatchCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- the mode after the list lets a program go -------------------------------

struct ReturnCase {
    const char* name;
    bool englishBefore;          // the mode the user had chosen before the program was listed
    bool toggledWhileSilenced;   // a shift tap in the silenced program
    bool silenceSwitchedOff;     // the whole list turned off instead of the entry removed
    bool englishAfter;
};

void PrintTo(const ReturnCase& c, std::ostream* os) { *os << c.name; }

class SilenceListReturn : public ControllerTest, public ::testing::WithParamInterface<ReturnCase> {};

TEST_P(SilenceListReturn, ProgramTakenOffTheListGetsItsModeBack) {
    const ReturnCase& c = GetParam();
    start(std::string("gedit"));
    if (c.englishBefore) session->typeScript("{Shift}");
    ASSERT_EQ(controller().englishMode(), c.englishBefore);

    set([](Settings& s) {
        s.silence = true;
        s.silenceDict = {{contract::silencePattern("gedit"), "Text Editor"}};
    });
    focusApplication(*session, {"gedit"});
    ASSERT_TRUE(controller().englishMode()) << "not silenced";
    if (c.toggledWhileSilenced) session->typeScript("{Shift}");
    // Still listed at the next activation: English again.
    focusApplication(*session, {"gedit"});
    ASSERT_TRUE(controller().englishMode()) << "silence did not hold";

    set([&](Settings& s) {
        if (c.silenceSwitchedOff) s.silence = false;
        else s.silenceDict.clear();
    });
    focusApplication(*session, {"gedit"});
    EXPECT_EQ(controller().englishMode(), c.englishAfter);
}

const ReturnCase kReturnCases[] = {
    {"ChineseComesBack", false, false, false, false},
    {"ChineseComesBackWhenSilenceIsOff", false, false, true, false},
    {"EnglishStays", true, false, false, true},
    // The user's own pick in the silenced program counts: Chinese by the tap.
    {"AToggleWhileSilencedIsTheUsersChoice", true, true, false, false},
};

INSTANTIATE_TEST_SUITE_P(Cases, SilenceListReturn, ::testing::ValuesIn(kReturnCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace taviro::test
