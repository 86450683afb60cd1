#include "Platform/InputMethodKit/ProgramName.h"
#include "SharedLib/contract/ApplicationName.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
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

} // namespace
