// TaviroMac2 on a private X server and a private IBus daemon, typed into by
// the X server's keys through a real Qt text field and Qt's IBus module.
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"
#include "SharedLib/contract/ApplicationName.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (::access((fs::path(dir) / program).c_str(), X_OK) == 0) return true;
    return false;
}

// A child process; stopped (TERM, then KILL) when the object goes.
class Child {
public:
    Child() = default;
    // With `input`, the child's standard input is a pipe that send() writes.
    Child(const std::vector<std::string>& argv, const std::string& stdoutFile, const std::string& stderrFile,
          bool input = false) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int inFds[2] = {-1, -1};
        if (input && ::pipe2(inFds, O_CLOEXEC) == 0) posix_spawn_file_actions_adddup2(&actions, inFds[0], 0);
        int pipeFds[2] = {-1, -1};
        if (stdoutFile.empty()) {
            if (::pipe2(pipeFds, O_CLOEXEC) == 0) posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
        } else {
            posix_spawn_file_actions_addopen(&actions, 1, stdoutFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        }
        posix_spawn_file_actions_addopen(&actions, 2, stderrFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        if (pipeFds[1] >= 0) ::close(pipeFds[1]);
        out_ = pipeFds[0];
        if (inFds[0] >= 0) ::close(inFds[0]);
        in_ = inFds[1];
    }
    Child(Child&& o) noexcept { *this = std::move(o); }
    Child& operator=(Child&& o) noexcept {
        stop();
        std::swap(pid_, o.pid_);
        std::swap(out_, o.out_);
        std::swap(in_, o.in_);
        buffer_ = std::move(o.buffer_);
        return *this;
    }
    ~Child() { stop(); }

    // Waits (bounded) for the child to end; false when it still runs.
    bool waitExit(Clock::duration timeout) {
        const auto until = Clock::now() + timeout;
        while (pid_ > 0) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return true;
            }
            if (Clock::now() >= until) return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }
    pid_t pid() const { return pid_; }

    void kill(int sig) {
        if (pid_ > 0) ::kill(pid_, sig);
    }

    // Writes one line to the child's standard input.
    bool send(const std::string& line) {
        const std::string text = line + "\n";
        return in_ >= 0 && ::write(in_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }

    void stop() {
        if (in_ >= 0) ::close(in_);
        in_ = -1;
        if (out_ >= 0) ::close(out_);
        out_ = -1;
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        const auto until = Clock::now() + 3s;
        while (Clock::now() < until && ::waitpid(pid_, nullptr, WNOHANG) == 0) std::this_thread::sleep_for(10ms);
        if (::waitpid(pid_, nullptr, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

    // Reads standard output lines until one satisfies `match` or time runs out.
    std::optional<std::string> waitForLine(const std::function<bool(const std::string&)>& match,
                                           Clock::duration timeout) {
        const auto until = Clock::now() + timeout;
        while (true) {
            std::size_t nl;
            while ((nl = buffer_.find('\n')) != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                lines_.push_back(line);
                if (match(line)) return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            if (left <= 0 || out_ < 0) return std::nullopt;
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            char buf[4096];
            const ssize_t n = ::read(out_, buf, sizeof buf);
            if (n <= 0) {
                ::close(out_);
                out_ = -1;
                continue;
            }
            buffer_.append(buf, static_cast<std::size_t>(n));
        }
    }
    const std::vector<std::string>& lines() const { return lines_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int in_ = -1;
    std::string buffer_;
    std::vector<std::string> lines_;
};

// Runs a program to its end (bounded); its standard output.
std::optional<std::string> runProgram(const std::vector<std::string>& argv, const std::string& errFile,
                                      Clock::duration timeout = 10s) {
    Child child(argv, "", errFile);
    std::string out;
    const auto until = Clock::now() + timeout;
    while (true) {
        auto line = child.waitForLine([](const std::string&) { return true; }, until - Clock::now());
        if (!line) break;
        out += *line + "\n";
    }
    if (!child.waitExit(until - Clock::now())) return std::nullopt;
    return out;
}

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
};

// A folder of the test's own with a private session bus, the component the
// daemon starts TaviroMac2 from, as installed, and a private ibus-daemon.
class PrivateIBusTest : public ::testing::Test {
protected:
    // The folder, the session bus (commands sent there reach only this test's
    // input method) and the component; false when the bus did not start.
    bool startBusAndComponent(const std::string& hint) {
        dir_ = taviro::test::freshDir(hint);
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::replace);
        errFile_ = (dir_ / "stderr.log").string();

        bus_ = Child({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, "", errFile_);
        auto busAddress = bus_.waitForLine([](const std::string& l) { return !l.empty(); }, 10s);
        if (!busAddress) return false;
        ::setenv("DBUS_SESSION_BUS_ADDRESS", busAddress->c_str(), 1);

        const fs::path components = dir_ / "component";
        fs::create_directories(components);
        std::ifstream in(TAVIRO_COMPONENT_TEMPLATE);
        std::stringstream xml;
        xml << in.rdbuf();
        std::ofstream(components / "taviromac2.xml")
            << std::regex_replace(xml.str(), std::regex("@TAVIROMAC2_EXEC@"), std::string(TAVIRO_BIN_DIR) + "/TaviroMac2");
        ::setenv("IBUS_COMPONENT_PATH", components.c_str(), 1);
        ::setenv("IBUS_ADDRESS_FILE", (dir_ / "ibus-address").c_str(), 1);
        ::unsetenv("IBUS_ADDRESS");
        return true;
    }

    // The daemon, which lives as long as this test (it ends with its parent);
    // false when it did not start. `verbose`: the engine's log lines reach the
    // daemon's log.
    bool startDaemon(bool verbose) {
        std::vector<std::string> argv{"ibus-daemon", "--panel=disable", "--emoji-extension=disable",
                                      "--config=disable", "--cache=none", "--timeout=2000"};
        if (verbose) argv.push_back("--verbose");
        argv.push_back("--address=unix:path=" + (dir_ / "ibus.sock").string());
        daemon_ = Child(argv, (dir_ / "daemon.out").string(), (dir_ / "daemon.log").string());
        const auto until = Clock::now() + 10s;
        std::string address;
        while (address.empty() && Clock::now() < until) {
            std::ifstream f(dir_ / "ibus-address");
            for (std::string line; std::getline(f, line);)
                if (line.rfind("IBUS_ADDRESS=", 0) == 0) address = line.substr(13);
            if (address.empty()) std::this_thread::sleep_for(20ms);
        }
        if (address.empty()) return false;
        ::setenv("IBUS_ADDRESS", address.c_str(), 1);
        return true;
    }

    std::string daemonLog() const {
        std::ifstream f(dir_ / "daemon.log");
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

    fs::path dir_;
    std::string errFile_;
    Child bus_, daemon_;
};

class DesktopEndToEnd : public PrivateIBusTest {
protected:
    void SetUp() override {
        for (const char* p : {"Xvfb", "ibus-daemon", "ibus", "xdotool", "xwininfo", "dbus-daemon"})
            if (!onPath(p)) GTEST_SKIP() << p << " is not installed (scripts/install-deps.sh installs it)";
        ASSERT_TRUE(startBusAndComponent("e2e")) << "dbus-daemon did not start";

        // A private X server on the first free display.
        int displayPipe[2];
        ASSERT_EQ(::pipe(displayPipe), 0);
        xvfb_ = Child({"Xvfb", "-displayfd", std::to_string(displayPipe[1]), "-screen", "0", "1280x800x24",
                       "-nolisten", "tcp"},
                      (dir_ / "xvfb.out").string(), errFile_);
        ::close(displayPipe[1]);
        std::string display;
        pollfd p{displayPipe[0], POLLIN, 0};
        if (::poll(&p, 1, 10000) > 0) {
            char buf[32] = {};
            const ssize_t n = ::read(displayPipe[0], buf, sizeof buf - 1);
            if (n > 0) display = std::string(buf, static_cast<std::size_t>(n));
        }
        ::close(displayPipe[0]);
        while (!display.empty() && (display.back() == '\n' || display.back() == ' ')) display.pop_back();
        ASSERT_FALSE(display.empty()) << "Xvfb did not start";
        ::setenv("DISPLAY", (":" + display).c_str(), 1);

        ASSERT_TRUE(startDaemon(false)) << "ibus-daemon did not start";

        // The text field with Qt's IBus module.
        ::setenv("QT_IM_MODULE", "ibus", 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        field_ = Child({std::string(TAVIRO_BIN_DIR) + "/taviro-e2e-field"}, "", errFile_);
        ASSERT_TRUE(field_.waitForLine([](const std::string& l) { return l == "READY"; }, 10s));
        ASSERT_TRUE(caret(10s)) << "the field never reported its caret";

        // Select the engine: the daemon starts TaviroMac2 from the component.
        ASSERT_TRUE(runProgram({"ibus", "engine", "taviromac2"}, errFile_));
        // The engine takes over the focused field; wait until a key reaches it.
        ASSERT_TRUE(waitForEngine()) << "TaviroMac2 never took the field's keys; daemon log:\n" << daemonLog();
    }

    void TearDown() override {
        field_.stop();
        daemon_.stop();
        xvfb_.stop();
        bus_.stop();
        ::unsetenv("IBUS_ADDRESS");
        ::unsetenv("QT_IM_MODULE");
    }

    void keys(const std::vector<std::string>& names) {
        std::vector<std::string> argv{"xdotool", "key", "--delay", "30"};
        argv.insert(argv.end(), names.begin(), names.end());
        ASSERT_TRUE(runProgram(argv, errFile_));
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

    // The candidate window's frame when it is on screen.
    std::optional<Rect> candidateWindow(Clock::duration timeout = 5s) {
        const auto until = Clock::now() + timeout;
        while (Clock::now() < until) {
            auto out = runProgram({"xwininfo", "-name", "Candidates"}, errFile_);
            if (out && out->find("IsViewable") != std::string::npos) {
                Rect r;
                std::smatch m;
                auto field = [&](const char* name) {
                    std::regex re(std::string(name) + R"(:\s+(-?\d+))");
                    return std::regex_search(*out, m, re) ? std::stoi(m[1]) : -1;
                };
                r.x = field("Absolute upper-left X");
                r.y = field("Absolute upper-left Y");
                r.w = field("Width");
                r.h = field("Height");
                return r;
            }
            std::this_thread::sleep_for(50ms);
        }
        return std::nullopt;
    }

    // Types "a" until it shows as marked text (the caret moves), then clears it.
    bool waitForEngine() {
        const auto until = Clock::now() + 15s;
        while (Clock::now() < until) {
            keys({"a"});
            if (candidateWindow(700ms)) {
                keys({"Escape"});
                return true;
            }
            keys({"BackSpace"});
        }
        return false;
    }

    Child xvfb_, field_;
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
    const auto until = Clock::now() + 10s;
    std::optional<Rect> after;
    while (Clock::now() < until) {
        keys({"n", "i"});
        after = candidateWindow();
        keys({"Escape"});
        if (after && after->h > 3 * before->h) break;
        std::this_thread::sleep_for(200ms);
    }
    ASSERT_TRUE(after);
    EXPECT_GT(after->h, 3 * before->h) << "the window did not switch to the vertical layout";
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

class DesktopClients : public DesktopEndToEnd {
protected:
    bool windowGone(Clock::duration timeout = 3s) {
        const auto until = Clock::now() + timeout;
        while (Clock::now() < until) {
            auto out = runProgram({"xwininfo", "-name", "Candidates"}, errFile_);
            if (!out || out->find("IsViewable") == std::string::npos) return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }
};

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

// TaviroMac2 where no window can be shown: no X server, no Wayland. The
// daemon starts it as usual; a bare IBus client types into it and receives
// the candidates as IBus's lookup table (the desktop's panel would draw it).
class HeadlessEndToEnd : public PrivateIBusTest {
protected:
    void SetUp() override {
        for (const char* p : {"ibus-daemon", "dbus-daemon"})
            if (!onPath(p)) GTEST_SKIP() << p << " is not installed (scripts/install-deps.sh installs it)";
        for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "IBUS_ADDRESS"}) ::unsetenv(v);
        ASSERT_TRUE(startBusAndComponent("e2e-headless")) << "dbus-daemon did not start";
        ASSERT_TRUE(startDaemon(true)) << "ibus-daemon did not start";

        // The client selects the engine: the daemon starts TaviroMac2.
        client_ = Child({std::string(TAVIRO_BIN_DIR) + "/taviro-e2e-raw", "taviromac2"}, "", errFile_, true);
        auto ready = client_.waitForLine([](const std::string& l) { return l == "READY" || l.rfind("FAILED", 0) == 0; },
                                         15s);
        ASSERT_TRUE(ready && *ready == "READY") << (ready ? *ready : "no answer") << "; daemon log:\n" << daemonLog();
    }

    void TearDown() override {
        client_.stop();
        daemon_.stop();
        bus_.stop();
        ::unsetenv("IBUS_ADDRESS");
    }

    // Presses and releases each key (keysym name and evdev code); true when
    // the engine answered every one.
    bool keys(const std::vector<std::pair<std::string, int>>& list) {
        for (const auto& [name, code] : list) {
            if (!client_.send("KEY " + name + " " + std::to_string(code))) return false;
            if (!client_.waitForLine([](const std::string& l) { return l.rfind("HANDLED", 0) == 0; }, 5s))
                return false;
        }
        return true;
    }

    std::optional<std::string> waitFor(const std::string& prefix, Clock::duration timeout = 3s) {
        return client_.waitForLine([&](const std::string& l) { return l.rfind(prefix, 0) == 0; }, timeout);
    }

    // Types "nihao" until the lookup table offers 你好 (the engine may still
    // be opening its dictionaries), then commits it with the space bar.
    // Returns the table line that was shown.
    std::optional<std::string> typeNihao() {
        const std::vector<std::pair<std::string, int>> nihao{{"n", 49}, {"i", 23}, {"h", 35}, {"a", 30}, {"o", 24}};
        const auto until = Clock::now() + 20s;
        while (Clock::now() < until) {
            if (!keys(nihao)) return std::nullopt;
            auto table = client_.waitForLine(
                [](const std::string& l) { return l.rfind("TABLE ", 0) == 0 && l.find(":你好") != std::string::npos; },
                2s);
            if (table) {
                if (!keys({{"space", 57}})) return std::nullopt;
                return table;
            }
            keys({{"Escape", 1}});
        }
        return std::nullopt;
    }

    // The engine process: the daemon's child.
    pid_t enginePid() const {
        for (const auto& entry : fs::directory_iterator("/proc")) {
            std::ifstream stat(entry.path() / "stat");
            std::string line;
            if (!std::getline(stat, line)) continue;
            const auto close = line.rfind(')');
            const auto open = line.find('(');
            if (open == std::string::npos || close == std::string::npos) continue;
            if (line.substr(open + 1, close - open - 1) != "TaviroMac2") continue;
            std::istringstream rest(line.substr(close + 2));
            char state;
            pid_t parent = 0;
            rest >> state >> parent;
            if (parent == daemon_.pid()) return static_cast<pid_t>(std::stoi(entry.path().filename().string()));
        }
        return -1;
    }

    // How often the engine's main thread has gone to sleep and been woken.
    static long wakeUps(pid_t pid) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        long total = 0;
        for (std::string line; std::getline(status, line);)
            if (line.find("ctxt_switches:") != std::string::npos) total += std::stol(line.substr(line.find(':') + 1));
        return total;
    }

    Child client_;
};

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
