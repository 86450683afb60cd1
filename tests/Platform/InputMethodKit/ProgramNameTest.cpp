#include "Platform/InputMethodKit/ProgramName.h"
#include "SharedLib/contract/ApplicationName.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

// The preferences application and the input method must name an
// application alike: what a desktop entry's Exec starts is what the running
// process is called.
TEST(ApplicationName, ExecLinesNameTheProgramTheyStart) {
    const struct {
        const char* exec;
        const char* program;
    } cases[] = {
        {"gedit %U", "gedit"},
        {"/usr/bin/gnome-terminal --window", "gnome-terminal"},
        {"\"/opt/My App/bin/my-app\" --flag %f", "my-app"},
        {"\"/opt/q\\\"uote/run\"", "run"},
        {"env LANG=C GTK_THEME=Adwaita:dark /usr/bin/gvim -f %F", "gvim"},
        {"/usr/bin/env -u SESSION_MANAGER code --new-window", "code"},
        {"  kate   -b %U  ", "kate"},
        {"", ""},
        {"env", ""},
        {"%U", ""},
        {"/opt/q\\ uote/run --x", "run"},
        {"'/opt/My App/bin/my-app' %f", "my-app"},
        // An interpreter runs a script: the script names the program.
        {"python3 app.py", "app.py"},
        {"/usr/bin/python3.11 -u -X dev /opt/tool/tool.py --gui", "tool.py"},
        {"python3 -m tool.gui", "tool.gui"},
        {"python3 -c 'import tool'", ""},
        {"python3", ""},
        {"perl -w /usr/bin/tool.pl", "tool.pl"},
        {"perl -e 'print 1'", ""},
        {"node --inspect -r ts-node/register server.js", "server.js"},
        {"java -Xmx1g -cp /opt/lib/a.jar -jar /opt/tool/tool.jar", "tool.jar"},
        {"gjs -m /usr/share/app/main.js", "main.js"},
        {"env -S 'python3 -u' /opt/app.py", "app.py"},
        {"env VAR=1 prog", "prog"},
        // A shell's command names the program it starts.
        {"sh -c 'exec realed'", "realed"},
        {"sh -c \"exec realed --new\"", "realed"},
        {"bash -e -lc 'cd ~/src; FOO=1 exec realed'", "realed"},
        {"sh -c 'python3 /opt/app/app.py'", "app.py"},
        {"sh /usr/local/bin/myed", "myed"},
        {"sh -c 'cd /tmp'", ""},
        {"sh -s", ""},
        {"sh", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(contract::programNameFromExec(c.exec), c.program) << c.exec;
}

TEST(ApplicationName, SilencePatternNamesOneProgramOnly) {
    const struct {
        const char* program;
        const char* pattern;
    } cases[] = {
        {"gedit", "^gedit$"},
        {"vim.basic", "^vim\\.basic$"},
        {"g++-wrapper", "^g\\+\\+-wrapper$"},
        {"a(b)[c]{d}|e?*^$\\", "^a\\(b\\)\\[c\\]\\{d\\}\\|e\\?\\*\\^\\$\\\\$"},
    };
    for (const auto& c : cases) EXPECT_EQ(contract::silencePattern(c.program), c.pattern) << c.program;
}

TEST(ApplicationName, SilencePatternOfSeveralNamesMatchesEachWhole) {
    EXPECT_EQ(contract::silencePattern(std::vector<std::string>{"myed", "Real.ed"}), "^(myed|Real\\.ed)$");
    EXPECT_EQ(contract::silencePattern(std::vector<std::string>{"gedit"}), "^gedit$");
    EXPECT_EQ(contract::silencePattern(std::vector<std::string>{}), "");
}

// The names a client goes by: the focused window's only when the client
// names no program of its own, or the window belongs to that program.
TEST(ProgramName, ClientsKeepTheirOwnNameUnlessTheFocusedWindowIsTheirs) {
    using W = plat::WindowIdentity;
    using Names = std::vector<std::string>;
    const struct {
        std::optional<W> window;
        const char* client;
        Names names;
    } cases[] = {
        {W{"realed", "realed", "Realed"}, "QIBusInputContext", {"realed", "Realed"}},
        {W{"", "xterm", "XTerm"}, "xim", {"xterm", "XTerm"}},
        {W{"taviro-e2e-field", "taviro-e2e-field", "taviro-e2e-field"}, "taviro-e2e-raw", {"taviro-e2e-raw"}},
        {W{"kate", "kate", "kate"}, "gtk3-im:gedit", {"gedit"}},
        {W{"gedit", "gedit", "Gedit"}, "gtk3-im:gedit", {"gedit", "Gedit"}},
        {W{"gnome-text-editor", "org.gnome.TextEditor", "Org.gnome.TextEditor"}, "gtk4-im:org.gnome.TextEditor",
         {"gnome-text-editor", "org.gnome.TextEditor", "Org.gnome.TextEditor", "org.gnome.texteditor"}},
        // WM_CLASS also as desktops compare it with a desktop-file id.
        {W{"", "Navigator", "Fedora Eclipse"}, "xim", {"Navigator", "Fedora Eclipse", "navigator", "fedora-eclipse"}},
        {W{"kate", "kate", "kate"}, "gtk3-im:KATE", {"kate", "KATE"}},
        {W{"app.py", "", ""}, "gtk3-im:APP.PY", {"app.py", "APP.PY"}},
        {std::nullopt, "gtk4-im:gnome-text-editor", {"gnome-text-editor"}},
        {std::nullopt, "taviro-e2e-raw", {"taviro-e2e-raw"}},
        {std::nullopt, "QIBusInputContext", {"QIBusInputContext"}},
        {W{"realed", "", ""}, "gtk3-im:", {"realed"}},
        {std::nullopt, "", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(plat::clientApplicationNames(c.window, c.client), c.names)
            << c.client << " in " << (c.window ? c.window->program : "no window");
}

TEST(ProgramName, ClientNamesOfGtkNameTheirProgram) {
    const struct {
        const char* client;
        const char* program;
    } cases[] = {
        {"gtk3-im:gedit", "gedit"}, {"gtk4-im:gnome-text-editor", "gnome-text-editor"},
        {"gtk-im:old", "old"},       {"gtk3-im:", ""},
        {"QIBusInputContext", ""},  {"xim", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(plat::programNameFromClient(c.client), c.program) << c.client;
}

// Another process, started through a link with a name of its own: its
// program name is the link's, as a desktop entry that starts the link says.
TEST(ProgramName, AProcessIsNamedAsItWasStarted) {
    const fs::path dir = taviro::test::freshDir("program");
    const fs::path link = dir / "quiet-sleeper";
    fs::create_symlink("/bin/sleep", link);
    pid_t pid = -1;
    std::string path = link.string(), seconds = "30";
    char* argv[] = {path.data(), seconds.data(), nullptr};
    ASSERT_EQ(posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ), 0);
    // Until the child has run its program it is still a copy of this one.
    std::string name;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((name = plat::programNameOfProcess(pid)) != "quiet-sleeper" && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(name, "quiet-sleeper");
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    // Gone, or never there.
    EXPECT_EQ(plat::programNameOfProcess(pid), "");
    EXPECT_EQ(plat::programNameOfProcess(0), "");
    EXPECT_EQ(plat::programNameOfProcess(-5), "");
}

// A script started by its "#!" line runs in its interpreter: the process is
// named after the script, as the desktop entry that starts the script says.
TEST(ProgramName, AScriptIsNamedAfterItselfNotItsInterpreter) {
    const fs::path dir = taviro::test::freshDir("script");
    const fs::path script = dir / "quiet-script";
    std::ofstream(script) << "#!/bin/sh\nread line\n";
    fs::permissions(script, fs::perms::owner_all);
    int in[2];
    ASSERT_EQ(::pipe(in), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    pid_t pid = -1;
    std::string path = script.string();
    char* argv[] = {path.data(), nullptr};
    ASSERT_EQ(posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    std::string name;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((name = plat::programNameOfProcess(pid)) != "quiet-script" && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(name, "quiet-script");
    EXPECT_EQ(name, contract::programNameFromExec(script.string()));
    ::close(in[1]);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

} // namespace
