// Runs the program Kelvane on a private X server: URLs on its command line and URLs
// handed over by a second start reach the window; the end of the session (a signal,
// the session bus gone) ends it cleanly with its last write.
#include "QtTestSupport.h"
#include "Platform/Foundation/FileLock.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"
#include "Settings/App/SettingsController.h"
#include "Settings/ConfigManager.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/SettingsWindow.h"
#include "support/BlockedLock.h"
#include "support/SessionEnd.h"
#include "support/TestHome.h"

#include <QApplication>
#include <QCheckBox>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;

bool onPath(const char* program) {
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

// The environment of this process with `overrides` ("NAME=value") put in.
std::vector<std::string> environment(const std::vector<std::string>& overrides) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const auto& o : overrides)
            if (entry.compare(0, o.find('=') + 1, o, 0, o.find('=') + 1) == 0) replaced = true;
        if (!replaced) env.push_back(entry);
    }
    env.insert(env.end(), overrides.begin(), overrides.end());
    return env;
}

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            posix_spawn_file_actions_t* actions = nullptr) {
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0].c_str(), actions, nullptr, args.data(), envp.data()) != 0) return -1;
    return pid;
}

// Exit status within `timeout`, or none (the child is then killed).
std::optional<int> waitFor(pid_t pid, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (r < 0) return std::nullopt;
        std::this_thread::sleep_for(20ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return std::nullopt;
}

void stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    if (!waitFor(pid, 5s)) kill(pid, SIGKILL);
}

class KelvaneEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!onPath("Xvfb") || !onPath("xdotool") || !onPath("dbus-daemon"))
            GTEST_SKIP() << "Xvfb, xdotool or dbus-daemon missing";
        // A display and a session bus of this test's own: other tests may hold the bus name.
        const std::string number = startReporting({"Xvfb", "-displayfd", "9", "-screen", "0", "1280x800x24",
                                                   "-nolisten", "tcp"},
                                                  xvfb_);
        ASSERT_FALSE(number.empty());
        const std::string bus = startReporting({"dbus-daemon", "--session", "--nofork", "--print-address=9"}, bus_);
        ASSERT_FALSE(bus.empty());
        env_ = environment({"DISPLAY=:" + number, "QT_QPA_PLATFORM=xcb", "DBUS_SESSION_BUS_ADDRESS=" + bus});
    }
    void TearDown() override {
        stop(first_);
        stop(bus_);
        stop(xvfb_);
    }

    // Starts a server that writes one line to descriptor 9 once it is ready; returns the line.
    static std::string startReporting(const std::vector<std::string>& argv, pid_t& pid) {
        int fds[2];
        if (pipe(fds) != 0) return {};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 9);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid = spawn(argv, environment({}), &actions);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        std::string line;
        char c;
        pollfd ready{fds[0], POLLIN, 0};
        while (pid > 0 && poll(&ready, 1, 10000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') line += c;
        close(fds[0]);
        return line;
    }

    // True once a window whose title is exactly `title` exists.
    bool windowAppears(const std::string& title, std::chrono::seconds timeout = 20s) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            posix_spawn_file_actions_t quiet;
            posix_spawn_file_actions_init(&quiet);
            posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
            const pid_t pid = spawn({"xdotool", "search", "--name", "^" + title + "$"}, env_, &quiet);
            posix_spawn_file_actions_destroy(&quiet);
            if (pid > 0 && waitFor(pid, 5s) == 0) return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }

    pid_t xvfb_ = -1, bus_ = -1, first_ = -1;
    std::vector<std::string> env_;
};

TEST_F(KelvaneEndToEndTest, ASecondStartHandsItsURLToTheFirst) {
    first_ = spawn({KELVANE_PROGRAM}, env_);
    ASSERT_GT(first_, 0);
    EXPECT_TRUE(windowAppears("偏好"));

    const pid_t second = spawn({KELVANE_PROGRAM, "taviromac2://tab/four"}, env_);
    ASSERT_GT(second, 0);
    EXPECT_EQ(waitFor(second, 15s), 0); // handed its URL over and ended
    EXPECT_TRUE(windowAppears("栾舟云"));
    EXPECT_EQ(waitpid(first_, nullptr, WNOHANG), 0); // the first still runs
}

TEST_F(KelvaneEndToEndTest, StartsOnTheURLsPageAndIgnoresAURLWhileASheetIsOpen) {
    first_ = spawn({KELVANE_PROGRAM, "taviromac2://functions/silence"}, env_);
    ASSERT_GT(first_, 0);
    EXPECT_TRUE(windowAppears("系统"));          // the settings window on the system tab
    EXPECT_TRUE(windowAppears("静默应用列表"));  // with the silence list open over it
    EXPECT_FALSE(windowAppears("偏好", 1s));

    // The silence list is a sheet: the tab under it does not change.
    const pid_t second = spawn({KELVANE_PROGRAM, "taviromac2://tab/four"}, env_);
    ASSERT_GT(second, 0);
    EXPECT_EQ(waitFor(second, 15s), 0);
    EXPECT_FALSE(windowAppears("栾舟云", 2s));
    EXPECT_TRUE(windowAppears("系统"));
    EXPECT_TRUE(windowAppears("静默应用列表"));
    EXPECT_EQ(waitpid(first_, nullptr, WNOHANG), 0);
}

#ifdef LOCK_HOLDER

using taviro::test::SessionEnd;

std::optional<bool> storedS2T() {
    auto file = plat::readPlistFile(plat::Paths::perUserFolder() / "config.plist", plat::PlistValue::Type::Dictionary);
    const plat::PlistValue* value = file ? file->find("S2T") : nullptr;
    return value ? value->getBool() : std::nullopt;
}

std::string readAll(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Where the "s2t" switch of the first tab is in the window: the same window, built here.
QPoint s2tSwitchInWindow() {
    kelvane::test::qtApp();
    kelvane::ui::registerPages();
    kelvane::ConfigManager config(taviro::test::freshDir("layout"));
    kelvane::SettingsController controller(config);
    kelvane::ui::SettingsWindow window(controller, config);
    window.show();
    QApplication::processEvents();
    auto* box = window.page(0)->findChild<QCheckBox*>("s2t");
    if (!box) return {};
    return box->mapTo(&window, QPoint(8, box->height() / 2));
}

// A settings change waits for the lock that another program holds when the session
// ends: a signal (logout, Ctrl-C, a closed terminal), the session bus or the display
// going away. Kelvane makes its last write, which gets the change into config.plist
// once the lock is let go; it ends through its normal end with status 0 (on the
// display's loss Qt ends it).
class KelvaneSessionEndTest : public KelvaneEndToEndTest, public ::testing::WithParamInterface<SessionEnd> {};

TEST_P(KelvaneSessionEndTest, TheChangeWaitingForTheLockIsWrittenAndTheEndIsClean) {
    const QPoint at = s2tSwitchInWindow();
    ASSERT_FALSE(at.isNull());
    const auto errFile = taviro::test::freshDir("kelvane-end") / "stderr.log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    first_ = spawn({KELVANE_PROGRAM}, env_, &actions);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_GT(first_, 0);
    ASSERT_TRUE(windowAppears("偏好"));
    const bool before = storedS2T().value_or(false);

    std::filesystem::create_directories(plat::Paths::perUserFolder());
    taviro::test::BlockedLock blocked(plat::configLockPath(plat::Paths::perUserFolder()),
                                      taviro::test::LockBlock::otherProcess, LOCK_HOLDER);
    ASSERT_TRUE(blocked.ready());
    const pid_t click = spawn({"xdotool", "search", "--name", "^偏好$", "mousemove", "--window", "%1",
                               std::to_string(at.x()), std::to_string(at.y()), "click", "1"},
                              env_);
    ASSERT_EQ(waitFor(click, 10s), 0);
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (readAll(errFile).find("(retrying)") == std::string::npos && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(20ms);
    ASSERT_NE(readAll(errFile).find("(retrying)"), std::string::npos) << "the click saved nothing:\n"
                                                                       << readAll(errFile);

    switch (GetParam()) {
    case SessionEnd::sigterm: kill(first_, SIGTERM); break;
    case SessionEnd::sigint: kill(first_, SIGINT); break;
    case SessionEnd::sighup: kill(first_, SIGHUP); break;
    case SessionEnd::busGone: stop(bus_); bus_ = -1; break;
    case SessionEnd::displayGone: stop(xvfb_); xvfb_ = -1; break;
    }
    std::this_thread::sleep_for(300ms);
    blocked.release();
    const auto status = waitFor(first_, 15s);
    first_ = -1;
    const std::string log = readAll(errFile);
    // Qt itself ends the process when its display goes, with status 1.
    EXPECT_EQ(status, GetParam() == SessionEnd::displayGone ? 1 : 0) << log;
    EXPECT_EQ(log.find("terminate called"), std::string::npos) << log;
    EXPECT_EQ(log.find("NOT saved"), std::string::npos) << log;
    // The next start reads the change.
    EXPECT_EQ(storedS2T(), !before) << log;
}

INSTANTIATE_TEST_SUITE_P(Ends, KelvaneSessionEndTest, ::testing::ValuesIn(taviro::test::kSessionEnds),
                         [](const auto& info) { return taviro::test::sessionEndName(info.param); });

#endif

} // namespace
