// Runs the program Kelvane on a private X server: URLs on its command line and URLs
// handed over by a second start reach the window.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
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

} // namespace
